// One realistic sample per record kind, as the service sends it or as the
// client sends it: it must read, show the right members, and write back to
// the same JSON object.
#include "Sync/CatchUpRecords.h"
#include "Sync/JournalRecords.h"
#include "Sync/ManagedShare.h"
#include "Sync/ProfileRecords.h"
#include "Sync/PublicLinkRecords.h"
#include "Sync/RealTimeRecords.h"
#include "Sync/WireDateFormat.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using nlohmann::json;

// Reads `sample` both from text and from a parsed object, and checks that
// writing gives the sample back, as an object and through text.
template <class Record>
Record roundTrip(const std::string& sample) {
  auto fromText = Record::fromJSONText(sample);
  EXPECT_TRUE(fromText.ok()) << fromText.error();
  if (!fromText.ok())
    return Record();
  const json object = json::parse(sample);
  EXPECT_EQ(fromText->toJSONObject(), object);
  auto fromObject = Record::fromJSONObject(object);
  EXPECT_TRUE(fromObject.ok() && *fromObject == *fromText);
  auto reread = Record::fromJSONText(fromText->toJSONText());
  EXPECT_TRUE(reread.ok() && *reread == *fromText);
  return *fromText;
}

const std::string kNode = R"({
  "ShareId": "4f1c2a9e", "UploadUrl": "https://fc1.example.com/upload/77", "UploadName": "u-77",
  "ArchivedFullName": "/Projects/Plan.pdf", "InternalName": "a3d5c1e2f4b6a8c0d2e4f6a8b0c2d4e6",
  "ParrentId": "9e8d7c6b", "ParentShareId": "parent-share", "PublicName": "Plan.pdf", "User": "ann@example.com",
  "LastUploadName": "u-76", "FilehHash": "d41d8cd98f00b204e9800998ecf8427e",
  "Tick": 1042, "ShareTick": 1042, "UpdateTick": 1040, "CreateTick": 17,
  "EndOfFile": 48213, "AllocationSize": 49152,
  "CreationTime": "2023-05-04T10:11:12.345Z", "LastAccessTime": "2023-06-01T08:00:00.000Z",
  "LastWriteTime": "2023-06-01T07:59:58.500Z",
  "Attributes": 128, "POSIXPermissions": 420,
  "FileLock": {"IsLocked": 1, "DeviceId": "C02XK0AAJG5H", "LockTime": 638213045000000000, "LockedBy": "bob"},
  "Local": false, "Deleted": false, "IsFile": true})";

TEST(RecordSamples, OVVirtualFile) {
  const OVVirtualFile node = roundTrip<OVVirtualFile>(kNode);
  EXPECT_EQ(node.ParrentId, "9e8d7c6b");
  EXPECT_EQ(node.FilehHash, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(node.Tick, 1042);
  EXPECT_EQ(node.AllocationSize->asInt64(), 49152);
  EXPECT_EQ(JSONObjectFromNSDate(node.LastWriteTime), "2023-06-01T07:59:58.500Z");
  ASSERT_TRUE(node.FileLock.has_value());
  EXPECT_EQ(node.FileLock->LockTime->asInt64(), 638213045000000000);
  EXPECT_TRUE(node.IsFile);
}

TEST(RecordSamples, RealTimeRecords) {
  const ClientInfo info = roundTrip<ClientInfo>(R"({
    "ClientName": "7d1f", "ClientType": 2, "ConnectionId": "", "TransportMethod": "",
    "ShareList": ["4f1c2a9e", "parent-share"], "GroupList": [], "RemainingSize": 0, "ReservedSize": 0,
    "LargestSize": 0, "ConnectionUrl": "https://gw.example.com/", "UserId": "7d1f",
    "DomainFilecaches": {"example.com": {"CurrentFilecache": "", "LastUsedTick": 638213045001230000,
                                         "FilecacheList": ["https://fc1.example.com/", "https://fc2.example.com/"]}}})");
  EXPECT_EQ(info.DomainFilecaches->at("example.com").FilecacheList->at(1), "https://fc2.example.com/");

  const Envelope envelope = roundTrip<Envelope>(json{
      {"MessageType", 2},
      {"RnaReciver", ""},
      {"RnaSender", "7d1f"},
      {"SendTime", "2023-06-01T08:00:00.000Z"},
      {"ReSendTime", "2023-06-01T08:00:00.000Z"},
      {"ReSendInterval", 0},
      {"ReSendCount", 0},
      {"Message", info.toJSONText()},
      {"Origin", 0},
      {"ChannelId", ""}}.dump());
  EXPECT_EQ(envelope.MessageType, static_cast<std::int32_t>(MessageType::MOnline));
  EXPECT_EQ(*ClientInfo::fromJSONText(envelope.Message), info);

  const ClientJournalEvent event = roundTrip<ClientJournalEvent>(
      R"({"TransmitId": "0f8fad5b-d9cb-469f-a165-70867728950e", "UserOrigin": "bob", "clientJournalEventType": 3,
          "VShare": "v", "ShareId": "4f1c2a9e", "ShareTick": 1042, "TransmitCounter": 1,
          "TransmitTimeout": "2023-06-01T08:05:00.000Z", "CreateTick": 17, "OvVirtualFile": )" +
      kNode + "}");
  EXPECT_EQ(event.clientJournalEventType->asInt64(), 3);
  EXPECT_EQ(event.OvVirtualFile->PublicName, "Plan.pdf");

  const DomainEvent domain =
      roundTrip<DomainEvent>(R"({"DomainEventType": 8, "Update": "u", "Company": "c", "Delete": "d", "New": "n"})");
  EXPECT_EQ(domain.DomainEventType, 8);
}

TEST(RecordSamples, FullProfileData) {
  const FullProfileData profile = roundTrip<FullProfileData>(R"({"Data": {
    "User": {"UserId": "7d1f", "Email": "ann@example.com", "AltMail": "", "Alias": "ann", "Name": "Ann",
             "ResellerId": "r1", "CreateTime": 638000000000000000, "LastLoginTime": 638213045000000000, "Status": 1},
    "ManagedShares": [{
      "VshareId": "v1", "ShareId": "4f1c2a9e", "CompanyId": "c1", "VshareName": "Projects", "ShareName": "Projects",
      "TransmitId": "t1", "AliasName": "", "DisplayName": "Projects", "ParentShareId": "parent-share",
      "InternalName": "9e8d7c6b", "ShareType": 1, "AssociationType": 2, "Status": 0, "ShareChanged": false,
      "Online": true, "TransmitCounter": 0, "LastApplyedJournalTick": -1, "LastUpdate": 638213045000000000,
      "LastBufferEntry": "2023-06-01T08:00:00.000Z", "ConflicTnternalId": ["x", {"y": 1}],
      "ShareAcl": {"ShareId": "4f1c2a9e", "AclType": 0, "ShareShareRights": "r", "FileShareRights": "rw",
                   "AclToken": "tok-123"},
      "GateWayUrl": "example.com", "NextCathUp": "2023-06-01T08:10:00.000Z",
      "CreationDate": "2023-06-01T08:00:00.000Z", "ModificationDate": "2023-06-01T08:00:01.000Z",
      "CompanyName": "Example Ltd", "Synchronize": 1}],
    "LoginToken": "lt", "Cookie": "A1B2C3", "FilecacheUrls": ["https://fc1.example.com/"],
    "SharingCompanies": [{"CompanyId": "c1", "AssociationType": 2}]}})");
  ASSERT_TRUE(profile.Data.has_value());
  const ManagedShare& share = profile.Data->ManagedShares->at(0);
  EXPECT_EQ(share.LastApplyedJournalTick, -1);
  EXPECT_EQ(share.ShareAcl->AclToken, "tok-123");
  EXPECT_TRUE(share.isSubfolderShare());
  EXPECT_TRUE(share.isReadOnly());
  EXPECT_TRUE(share.isOwned());
  EXPECT_EQ(profile.Data->User->Status, 1);
  EXPECT_EQ(profile.Data->SharingCompanies->at(0).AssociationType, 2);
}

TEST(RecordSamples, CatchUpPage) {
  const OSXCatchUpResponse page = roundTrip<OSXCatchUpResponse>(
      R"({"ShareTick": 1050, "LargestTick": 1042, "OvVirtualFiles": [)" + kNode + "," + kNode + "]}");
  EXPECT_EQ(page.OvVirtualFiles->size(), 2u);
  EXPECT_EQ(page.LargestTick, 1042);
  EXPECT_EQ(roundTrip<OSXCatchUpResponse>(R"({"ShareTick": 5, "LargestTick": 5})").OvVirtualFiles, std::nullopt);
}

TEST(RecordSamples, JournalEventAndReply) {
  const std::string event = R"({"TransmitId": "0f8fad5b-d9cb-469f-a165-70867728950e", "ClientJournalEventType": 0,
      "OvVirtualFile": )" + kNode +
                            R"(, "DeviceId": "C02XK0AAJG5H", "ShareTick": 0, "TransmitCounter": 0,
      "CreateTick": 0})";
  EXPECT_EQ(roundTrip<OVNewAPIJournalEvent>(event).DeviceId, "C02XK0AAJG5H");

  const OVNewAPIResponce reply = roundTrip<OVNewAPIResponce>(R"({"Code": 0, "Message": "OK", "Data": {
      "ClientJournalEvent": {"TransmitId": "0f8fad5b-d9cb-469f-a165-70867728950e", "UserOrigin": "ann",
        "ClientJournalEventType": 0, "DeviceId": "C02XK0AAJG5H", "ShareId": "4f1c2a9e", "ShareTick": 1043,
        "TransmitCounter": 0, "TransmitTimeout": "2023-06-01T08:05:00.000Z", "CreateTick": 0,
        "OvVirtualFile": )" + kNode + R"(},
      "Url": "https://fc1.example.com/chunks/77", "CurrentPosition": 1048576, "ExpectedLength": 48213}})");
  EXPECT_EQ(reply.Data->ClientJournalEvent->ShareTick, 1043);
  EXPECT_EQ(reply.Data->CurrentPosition->asInt64(), 1048576);
  EXPECT_EQ(reply.Code->asInt64(), 0);
}

TEST(RecordSamples, PublicLinkRequestAndReply) {
  const auto request = roundTrip<OVNewAPICreatePublicLink>(
      R"({"ShareId": "4f1c2a9e", "InternalName": "a3d5", "DaysToExpire": 0, "MaxUse": 0, "Message": "",
          "EnablePassword": false, "Password": ""})");
  EXPECT_FALSE(request.EnablePassword);
  const auto reply = roundTrip<OVNewAPICreatePublicLinkResponce>(
      R"({"Data": {"FullLink": "https://share.example.com/l/Xy12"}, "Message": "OK"})");
  EXPECT_EQ(reply.Data->FullLink, "https://share.example.com/l/Xy12");
}

} // namespace
} // namespace orvex
