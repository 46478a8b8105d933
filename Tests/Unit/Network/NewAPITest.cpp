// The endpoint builders: the exact method, URL, headers and body of every
// request the client sends to the service, and the values they refuse.
#include "Network/OVNewAPI.h"

#include "Support/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

using ::testing::HasSubstr;

ManagedShare shareIn(const std::string& domain, const std::string& shareId = "share-1") {
  ManagedShare share;
  share.ShareId = shareId;
  share.GateWayUrl = domain;
  return share;
}

OVNewAPIJournalEvent eventOfType(ClientJournalEventType type, const std::string& internalName = "node-7") {
  OVNewAPIJournalEvent event;
  event.TransmitId = "2f1c0a52-5d1e-4a8e-9a59-0a3c2b1d4e5f";
  event.ClientJournalEventType = static_cast<std::int32_t>(type);
  event.DeviceId = "DEVICE";
  OVVirtualFile node;
  node.InternalName = internalName;
  event.OvVirtualFile = node;
  return event;
}

class NewAPITest : public ::testing::Test {
 protected:
  OVNewAPI api{Deployment{}}; // gateway / files labels under any domain
};

TEST_F(NewAPITest, GeneralBuilderSetsContentTypeOnlyWithABody) {
  HttpRequest bare = OVNewAPI::newApiRequestForURL("https://gateway.example.com/x", "GET");
  EXPECT_EQ(bare.method, "GET");
  EXPECT_EQ(bare.timeout, std::chrono::seconds(10));
  EXPECT_FALSE(bare.body.has_value());
  EXPECT_TRUE(bare.headers.empty());

  OVNewAPICreatePublicLink link;
  link.ShareId = "s";
  HttpRequest withBody = OVNewAPI::newApiRequestForURL("https://gateway.example.com/x", "POST", link);
  EXPECT_EQ(withBody.headers.get("Content-Type"), "application/json");
  EXPECT_EQ(withBody.body, link.toJSONText());
  EXPECT_EQ(withBody.timeout, std::chrono::seconds(10));
}

TEST_F(NewAPITest, DownloadRequestNamesOnePastTheLastByte) {
  OVFile file;
  file.uploadName = "upload-abc";
  file.fileSize = 500;
  auto request = api.newApiDownloadRequestForFile(file, ByteRange{0, 100}, shareIn("example.com"));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "GET");
  EXPECT_EQ(request->url, "https://files.example.com/api/shares/share-1/files/upload-abc");
  EXPECT_EQ(request->headers.get("Content-Range"), "bytes 0-100/500");
  EXPECT_FALSE(request->headers.contains("Range"));
  EXPECT_FALSE(request->headers.contains("Content-Type"));
  EXPECT_FALSE(request->body);
  EXPECT_EQ(request->timeout, std::chrono::seconds(10));

  // A whole-file download: 0, the size, the size.
  auto whole = api.newApiDownloadRequestForFile(file, ByteRange{0, 500}, shareIn("example.com"));
  EXPECT_EQ(whole->headers.get("Content-Range"), "bytes 0-500/500");
}

TEST_F(NewAPITest, JournalEventsChooseMethodAndPathByType) {
  const ManagedShare share = shareIn("example.com");
  const std::string files = "https://files.example.com/api/shares/share-1/files";

  auto create = api.newApiUploadRequestForEvent(eventOfType(ClientJournalEventType::Create), share);
  ASSERT_TRUE(create);
  EXPECT_EQ(create->method, "POST");
  EXPECT_EQ(create->url, files); // no trailing internal name

  auto remove = api.newApiUploadRequestForEvent(eventOfType(ClientJournalEventType::Delete), share);
  ASSERT_TRUE(remove);
  EXPECT_EQ(remove->method, "DELETE");
  EXPECT_EQ(remove->url, files + "/node-7");
  EXPECT_EQ(remove->headers.get("Content-Type"), "application/json");
  EXPECT_EQ(remove->body, eventOfType(ClientJournalEventType::Delete).toJSONText());

  for (auto type : {ClientJournalEventType::Rename, ClientJournalEventType::Update, ClientJournalEventType::Lock,
                    ClientJournalEventType::Unlock}) {
    auto request = api.newApiUploadRequestForEvent(eventOfType(type), share);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "PUT") << static_cast<int>(type);
    EXPECT_EQ(request->url, files + "/node-7");
    EXPECT_EQ(request->body, eventOfType(type).toJSONText());
    EXPECT_EQ(request->headers.get("Content-Type"), "application/json");
  }
}

TEST_F(NewAPITest, PublicLinkGoesToTheClientGateway) {
  OVNewAPICreatePublicLink link;
  link.ShareId = "share-1";
  link.InternalName = "node-7";
  link.DaysToExpire = 7;
  auto request = api.newApiCreateLinkRequest(link, "example.com");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "POST");
  EXPECT_EQ(request->url, "https://gateway.example.com/api/publiclinks");
  EXPECT_EQ(request->body, link.toJSONText());
  EXPECT_EQ(request->headers.get("Content-Type"), "application/json");
}

TEST_F(NewAPITest, ProfileAndCatchUpQueries) {
  auto profile = api.fullProfileRequest("example.com");
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->url, "https://gateway.example.com/api/client/fullprofile?tick=1&api=1&associationRequired=true");
  EXPECT_EQ(profile->method, "GET");
  EXPECT_FALSE(profile->timeout); // the client's default, not the builders' 10 seconds
  EXPECT_TRUE(profile->headers.empty());

  // The token goes in raw, "+" "/" "=" and all.
  auto catchUp = api.catchUpRequest("example.com", "tok+en/==", "share-1", -1);
  ASSERT_TRUE(catchUp);
  EXPECT_EQ(catchUp->url,
            "https://gateway.example.com/api/client/catchup?token=tok+en/==&shareId=share-1"
            "&tickfrom=-1&tickstart=-1&ticktake=10000");
  EXPECT_FALSE(catchUp->timeout);
  EXPECT_EQ(api.catchUpURL("example.com", "t", "s", 2147483647),
            "https://gateway.example.com/api/client/catchup?token=t&shareId=s&tickfrom=2147483647"
            "&tickstart=2147483647&ticktake=10000");
}

TEST_F(NewAPITest, ValuesThatWouldReshapeTheURLAreRefused) {
  test::LogCapture log;
  OVFile file;
  file.fileSize = 1;
  for (const char* name : {"", "..", "a/b", "a?b", "a#b", "a b", "a%2Fb"}) {
    file.uploadName = name;
    EXPECT_FALSE(api.newApiDownloadRequestForFile(file, ByteRange{0, 1}, shareIn("example.com"))) << name;
  }
  file.uploadName = "fine";
  for (const char* domain : {"", "evil.com/x", "user@evil.com", "evil.com:444", "a..b", "evil.com#"})
    EXPECT_FALSE(api.newApiDownloadRequestForFile(file, ByteRange{0, 1}, shareIn(domain))) << domain;
  ManagedShare noDomain = shareIn("example.com");
  noDomain.GateWayUrl.reset();
  EXPECT_FALSE(api.newApiDownloadRequestForFile(file, ByteRange{0, 1}, noDomain));

  OVNewAPIJournalEvent noNode = eventOfType(ClientJournalEventType::Update);
  noNode.OvVirtualFile.reset();
  EXPECT_FALSE(api.newApiUploadRequestForEvent(noNode, shareIn("example.com")));
  EXPECT_FALSE(api.catchUpURL("example.com", "a&admin=1", "s", 0));
  EXPECT_FALSE(api.catchUpURL("example.com", "t", "", 0));
  EXPECT_THAT(log.find(0, "Error! Cannot build the request"), HasSubstr("does not fit a URL"));
}

} // namespace
} // namespace orvex
