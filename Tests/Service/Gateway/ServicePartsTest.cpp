// The small pieces that read untrusted input on their own: range headers,
// Host headers, blob ids, file names in headers.
#include "Api/FrontEnd.h"
#include "Api/Replies.h"
#include "Server/HostMap.h"
#include "State/BlobStore.h"

#include <gtest/gtest.h>

namespace orvex::service {
namespace {

TEST(ServicePartsTest, ContentRangeHeadersAreReadStrictly) {
  auto range = parseContentRange("bytes 0-262143/1048576");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 0);
  EXPECT_EQ(range->second, 262143);
  EXPECT_EQ(range->total, 1048576);
  EXPECT_EQ(parseContentRange("bytes 5-5/5")->second, 5);
  for (const char* bad : {"", "bytes", "bytes=0-1/2", "bytes 0-1", "bytes 0-1/", "bytes -1-2/3", "bytes 1--2/3",
                          "bytes 0-1/2 ", " bytes 0-1/2", "bytes 0-1/2/3", "bytes 0x1-2/3", "bytes */10",
                          "bytes 99999999999999999999-1/2", "BYTES 0-1/2"}) {
    EXPECT_FALSE(parseContentRange(bad)) << bad;
  }
}

TEST(ServicePartsTest, HostHeadersMatchWithoutPortOrCase) {
  ServiceConfig config = ServiceConfig::fromJson(
      {{"Domains", {"a.example"}},
       {"Users", {{{"Email", "a@a.example"}, {"Password", "pw"}, {"PrimaryDomain", "a.example"}}}},
       {"Deployment", {{"FileCacheHostLabel", "cache"}, {"DefaultDomain", "home.example"}}}},
      "test");
  HostMap hosts = HostMap::fromConfig(config);
  EXPECT_EQ(hosts.find("Cache.A.Example:443")->kind, HostKind::FileCache);
  EXPECT_EQ(hosts.find("cache.a.example")->domain, "a.example");
  EXPECT_EQ(hosts.find("login.home.example")->kind, HostKind::Issuer);
  EXPECT_EQ(hosts.find("www.home.example")->domain, "home.example"); // the front end used while logged out
  EXPECT_FALSE(hosts.find("files.a.example"));
  EXPECT_FALSE(hosts.find("cache.a.example.evil.example"));
  EXPECT_FALSE(hosts.find(""));
  EXPECT_EQ(normalizedHost("[::1]:8443"), "[::1]");
}

TEST(ServicePartsTest, OnlyTheServicesOwnIdsNameBlobFiles) {
  auto blobs = BlobStore::temporary();
  const std::filesystem::path outside = blobs->folder().parent_path() / "victim";
  for (const char* id : {"../victim", "/etc/passwd", "", "ABCDEF0123456789ABCDEF0123456789"}) {
    std::string error;
    EXPECT_FALSE(blobs->write(id, 0, "x", error)) << id;
    EXPECT_FALSE(blobs->open(BlobInfo{id, 1, std::nullopt, ""})) << id;
    blobs->remove(id);
  }
  EXPECT_FALSE(std::filesystem::exists(outside));
  std::string error;
  std::optional<std::string> made = blobs->create(error);
  ASSERT_TRUE(made) << error;
  EXPECT_TRUE(blobs->write(*made, 3, "abc", error)) << error;
  std::string bytes(6, '?');
  ASSERT_TRUE(blobs->open(BlobInfo{*made, 6, std::nullopt, ""})->read(0, bytes.data(), 6));
  EXPECT_EQ(bytes, std::string("\0\0\0abc", 6));
  EXPECT_FALSE(blobs->open(BlobInfo{*made, 7, std::nullopt, ""})->read(0, bytes.data(), 7)); // shorter than said
}

TEST(ServicePartsTest, DownloadNamesAreEncodedForTheHeader) {
  EXPECT_EQ(attachmentDisposition("Report 2026.pdf"), "attachment; filename*=UTF-8''Report%202026.pdf");
  EXPECT_EQ(attachmentDisposition("a\"b\r\nc;\xC3\xA9"), "attachment; filename*=UTF-8''a%22b%0D%0Ac%3B%C3%A9");
}

} // namespace
} // namespace orvex::service
