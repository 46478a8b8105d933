// The mapping rules every record follows, exercised through real records:
// required and optional members, errors that name the key, writing rules,
// nesting, numbers, and hostile input.
#include "Support/LogCapture.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/JournalRecords.h"
#include "Sync/ManagedShare.h"
#include "Sync/ProfileRecords.h"
#include "Sync/RealTimeRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace orvex {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

// The smallest node the service may send: every required member, nothing else.
json minimalNode() {
  return json::parse(R"({"Tick":7,"ShareTick":8,"UpdateTick":9,"CreateTick":6,"Local":false,"Deleted":false,
      "IsFile":true,"CreationTime":"2020-01-02T03:04:05.000Z","LastAccessTime":"2020-01-02T03:04:05.000Z",
      "LastWriteTime":"2020-01-02T03:04:05.000Z"})");
}

json minimalShare() {
  return json::parse(R"({"ShareId":"s1","AssociationType":0,"Status":0,"ShareChanged":false,"Online":true,
      "TransmitCounter":0,"LastApplyedJournalTick":-1})");
}

TEST(WireMapping, AMissingOrNullRequiredMemberFailsEveryEnclosingRecord) {
  json page = {{"ShareTick", 1}, {"LargestTick", 2}, {"OvVirtualFiles", {minimalNode(), minimalNode()}}};
  page["OvVirtualFiles"][1].erase("Tick");
  auto parsed = OSXCatchUpResponse::fromJSONObject(page);
  ASSERT_FALSE(parsed.ok());
  EXPECT_THAT(parsed.error(), HasSubstr("OSXCatchUpResponse"));
  EXPECT_THAT(parsed.error(), HasSubstr("\"OvVirtualFiles[1].Tick\""));

  json profile = {{"Data", {{"ManagedShares", {minimalShare()}}}}};
  profile["Data"]["ManagedShares"][0]["LastApplyedJournalTick"] = nullptr;
  auto full = FullProfileData::fromJSONObject(profile);
  ASSERT_FALSE(full.ok());
  EXPECT_THAT(full.error(), HasSubstr("missing required key \"Data.ManagedShares[0].LastApplyedJournalTick\""));

  json event = {{"ShareTick", 3}, {"TransmitCounter", 0}, {"CreateTick", 0}, {"OvVirtualFile", minimalNode()}};
  event["OvVirtualFile"].erase("IsFile");
  EXPECT_THAT(ClientJournalEvent::fromJSONObject(event).error(), HasSubstr("\"OvVirtualFile.IsFile\""));
}

TEST(WireMapping, EveryProblemOfARecordIsNamed) {
  json node = minimalNode();
  node.erase("Tick");
  node.erase("LastWriteTime");
  node["Local"] = 0;
  node["FileLock"] = {{"LockedBy", 12}};
  const std::string error = OVVirtualFile::fromJSONObject(node).error();
  EXPECT_THAT(error, HasSubstr("missing required key \"Tick\""));
  EXPECT_THAT(error, HasSubstr("missing required key \"LastWriteTime\""));
  EXPECT_THAT(error, HasSubstr("key \"Local\" has the wrong type"));
  EXPECT_THAT(error, HasSubstr("key \"FileLock.LockedBy\" has the wrong type"));
}

TEST(WireMapping, MistypedAndOutOfRangeValuesAreNamedNotConverted) {
  const std::pair<const char*, json> cases[] = {
      {"Tick", "7"},
      {"Tick", 7.5},
      {"Tick", 2147483648LL},
      {"Tick", -2147483649LL},
      {"Tick", std::numeric_limits<std::uint64_t>::max()},
      {"Tick", true},
      {"Local", 1},
      {"Deleted", "false"},
      {"PublicName", 5},
      {"EndOfFile", "12"},
      {"EndOfFile", false},
      {"FileLock", json::array()},
      {"CreationTime", json::object()},
  };
  for (const auto& [key, value] : cases) {
    json node = minimalNode();
    node[key] = value;
    auto parsed = OVVirtualFile::fromJSONObject(node);
    ASSERT_FALSE(parsed.ok()) << key << " = " << value.dump();
    EXPECT_THAT(parsed.error(), HasSubstr(std::string("key \"") + key + "\" has the wrong type")) << value.dump();
  }
  json node = minimalNode();
  node["Tick"] = 2147483647;
  node["ShareTick"] = -2147483648LL;
  auto limits = OVVirtualFile::fromJSONObject(node);
  ASSERT_TRUE(limits.ok()) << limits.error();
  EXPECT_EQ(limits->ShareTick, std::numeric_limits<std::int32_t>::min());
}

TEST(WireMapping, ListAndMapElementsAreCheckedOneByOne) {
  json info = {{"ClientName", "u"}, {"ClientType", 2}, {"ConnectionUrl", "https://gw/"}, {"UserId", "u"}};
  info["ShareList"] = {"a", 2, "c"};
  info["DomainFilecaches"] = {{"example.com", {{"FilecacheList", {"https://fc/", nullptr}}}}};
  const std::string error = ClientInfo::fromJSONObject(info).error();
  EXPECT_THAT(error, HasSubstr("\"ShareList[1]\""));
  EXPECT_THAT(error, HasSubstr("\"DomainFilecaches[\"example.com\"].FilecacheList[1]\""));
  EXPECT_THAT(error, Not(HasSubstr("ShareList[0]")));
}

TEST(WireMapping, AbsentValuesAreLeftOutWhileIntsBoolsAndRequiredMembersAreWritten) {
  const json written = OVVirtualFile().toJSONObject();
  std::vector<std::string> keys;
  for (const auto& item : written.items())
    keys.push_back(item.key());
  EXPECT_THAT(keys, ::testing::UnorderedElementsAre("Tick", "ShareTick", "UpdateTick", "CreateTick", "CreationTime",
                                                    "LastAccessTime", "LastWriteTime", "Local", "Deleted", "IsFile"));
  EXPECT_EQ(written["Tick"], 0);
  EXPECT_EQ(written["IsFile"], false);

  OVNewAPIJournalEvent event;
  event.TransmitId = "0f8fad5b-d9cb-469f-a165-70867728950e";
  event.ClientJournalEventType = static_cast<std::int32_t>(ClientJournalEventType::Rename);
  event.OvVirtualFile = OVVirtualFile();
  event.DeviceId = "device";
  const json sent = event.toJSONObject();
  EXPECT_EQ(sent.size(), 7u) << sent.dump();
  EXPECT_EQ(sent["ClientJournalEventType"], 2);
  for (const char* zero : {"ShareTick", "TransmitCounter", "CreateTick"})
    EXPECT_EQ(sent[zero], 0) << zero;
  for (const char* left : {"ShareId", "UserOrigin", "TransmitTimeout"})
    EXPECT_FALSE(sent.contains(left)) << left;
}

TEST(WireMapping, NullOptionalsHaveNoValueAndEmptyTextsAreKept) {
  json node = minimalNode();
  node["PublicName"] = nullptr;
  node["FileLock"] = nullptr;
  node["ShareId"] = "";
  auto parsed = OVVirtualFile::fromJSONObject(node);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_FALSE(parsed->PublicName.has_value());
  EXPECT_FALSE(parsed->FileLock.has_value());
  EXPECT_EQ(parsed->ShareId, "");
  EXPECT_FALSE(parsed->toJSONObject().contains("PublicName"));
  EXPECT_EQ(parsed->toJSONObject()["ShareId"], "");
}

TEST(WireMapping, KeysAreExactAndUnknownOnesIgnored) {
  json node = minimalNode();
  node["Unexpected"] = {{"deep", {1, 2, 3}}};
  node["publicname"] = "wrong case";
  node["ParentId"] = "not the member's spelling";
  auto parsed = OVVirtualFile::fromJSONObject(node);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_FALSE(parsed->PublicName.has_value());
  EXPECT_FALSE(parsed->ParrentId.has_value());
  EXPECT_EQ(parsed->toJSONObject(), minimalNode());

  node["tick"] = node["Tick"];
  node.erase("Tick");
  EXPECT_THAT(OVVirtualFile::fromJSONObject(node).error(), HasSubstr("\"Tick\""));

  // The real-time event spells its event type with a lower-case letter; the other spelling is not it.
  json event = {{"ShareTick", 1}, {"TransmitCounter", 0}, {"CreateTick", 0}, {"ClientJournalEventType", 3}};
  EXPECT_FALSE(ClientJournalEvent::fromJSONObject(event)->clientJournalEventType.has_value());
}

TEST(WireMapping, AllBitsSetTicksTravelAsMinusOne) {
  json node = minimalNode();
  node["Tick"] = -1;
  node["FileLock"] = {{"IsLocked", 1}, {"LockTime", -1}};
  node["EndOfFile"] = std::numeric_limits<std::uint64_t>::max();
  auto parsed = OVVirtualFile::fromJSONObject(node);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_EQ(parsed->Tick, -1);
  EXPECT_EQ(parsed->FileLock->LockTime->asUInt64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(parsed->EndOfFile->asInt64(), -1);
  const json written = parsed->toJSONObject();
  EXPECT_EQ(written["Tick"].dump(), "-1");
  EXPECT_EQ(written["FileLock"]["LockTime"].dump(), "-1");
  EXPECT_EQ(written["EndOfFile"].dump(), "-1");

  OVVirtualFile local;
  local.FileLock = FileLock();
  local.FileLock->LockTime = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(local.toJSONObject()["FileLock"]["LockTime"].dump(), "-1");
}

TEST(WireMapping, NumbersKeepTheirKindAndHugeOnesSaturate) {
  json node = minimalNode();
  node["EndOfFile"] = 1.5;
  node["AllocationSize"] = 1e300;
  node["Attributes"] = 16;
  auto parsed = OVVirtualFile::fromJSONObject(node);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_FALSE(parsed->EndOfFile->isInteger());
  EXPECT_EQ(parsed->EndOfFile->asInt64(), 1);
  EXPECT_EQ(parsed->AllocationSize->asInt64(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(WireNumber(-1e300).asInt64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(WireNumber(std::nan("")).asInt64(), 0);
  EXPECT_EQ(parsed->toJSONObject()["EndOfFile"].dump(), "1.5");
  EXPECT_EQ(parsed->toJSONObject()["Attributes"].dump(), "16");

  // Integers too long for 64 bits arrive as reals and must not fail or wrap.
  auto longNumber =
      OVVirtualFile::fromJSONText(minimalNode().dump().insert(1, R"("EndOfFile":123456789012345678901234567890,)"));
  ASSERT_TRUE(longNumber.ok()) << longNumber.error();
  EXPECT_EQ(longNumber->EndOfFile->asInt64(), std::numeric_limits<std::int64_t>::max());
}

TEST(WireMapping, HostileTextYieldsAnErrorNeverAThrow) {
  const std::string texts[] = {
      "",
      "not json",
      "[1,2]",
      "null",
      "\"text\"",
      R"({"Tick":1)",
      std::string("{\"PublicName\":\"\xff\xfe\"}"),
      std::string(100000, '['),
  };
  for (const std::string& text : texts) {
    auto parsed = OVVirtualFile::fromJSONText(text);
    EXPECT_FALSE(parsed.ok()) << text.substr(0, 20);
    EXPECT_THAT(parsed.error(), HasSubstr("OVVirtualFile: ")) << text.substr(0, 20);
  }
}

TEST(WireMapping, DeeplyNestedValuesAreRefusedWhereTheyWouldBeKept) {
  std::string deep = std::string(5000, '[') + std::string(5000, ']');
  const std::string info =
      R"({"ClientName":"u","ClientType":2,"ConnectionUrl":"https://gw/","UserId":"u","GroupList":)";
  auto parsed = ClientInfo::fromJSONText(info + deep + "}");
  ASSERT_FALSE(parsed.ok());
  EXPECT_THAT(parsed.error(), HasSubstr("\"GroupList[0]\""));
  // Under a key no member names, the same value is simply ignored.
  auto ignored = ClientInfo::fromJSONText(info + "[], \"Other\":" + deep + "}");
  EXPECT_TRUE(ignored.ok()) << ignored.error();
}

TEST(WireMapping, ErrorsOfAHugePageStayShort) {
  json node = minimalNode();
  node.erase("Tick");
  json page = {{"ShareTick", 1}, {"LargestTick", 2}, {"OvVirtualFiles", json::array()}};
  for (int i = 0; i < 10000; ++i)
    page["OvVirtualFiles"].push_back(node);
  const std::string error = OSXCatchUpResponse::fromJSONObject(page).error();
  EXPECT_LT(error.size(), 2000u);
  EXPECT_THAT(error, HasSubstr("and 9980 more"));
}

TEST(WireMapping, TextThatIsNotUTF8IsWrittenWithoutThrowing) {
  OVVirtualFile file;
  file.PublicName = "bad \xc3\x28 name";
  const std::string text = file.toJSONText();
  auto reread = OVVirtualFile::fromJSONText(text);
  ASSERT_TRUE(reread.ok()) << reread.error();
  EXPECT_EQ(reread->PublicName, "bad \xef\xbf\xbd( name");
}

TEST(WireMapping, CopyLeavesTheLockBehind) {
  OVVirtualFile file = *OVVirtualFile::fromJSONObject(minimalNode());
  file.PublicName = "a.txt";
  file.FileLock = FileLock();
  file.FileLock->IsLocked = 1;
  const OVVirtualFile copied = file.copy();
  EXPECT_FALSE(copied.FileLock.has_value());
  file.FileLock.reset();
  EXPECT_EQ(copied, file);
}

TEST(ManagedShareProperties, SubfolderReadOnlyAndOwned) {
  ManagedShare share = *ManagedShare::fromJSONObject(minimalShare());
  EXPECT_FALSE(share.isSubfolderShare());
  EXPECT_FALSE(share.isReadOnly());
  EXPECT_FALSE(share.isOwned());
  share.ShareType = 1;
  EXPECT_TRUE(share.isSubfolderShare());
  share.ShareType = 2;
  EXPECT_FALSE(share.isSubfolderShare());

  share.ShareAcl = ShareACL();
  EXPECT_FALSE(share.isReadOnly()); // no AclType: not read-only
  share.ShareAcl->AclType = 0;
  EXPECT_TRUE(share.isReadOnly());
  share.AssociationType = 2;
  EXPECT_TRUE(share.isOwned());
  share.AssociationType = 0;
  share.ShareAcl->AclType = 2;
  EXPECT_TRUE(share.isOwned());
  EXPECT_FALSE(share.isReadOnly());
}

} // namespace
} // namespace orvex
