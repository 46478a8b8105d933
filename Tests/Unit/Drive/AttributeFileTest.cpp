// The side-file store of ordinary attributes, and the cache's answer whether
// content is present while no download queue runs.
#include "Drive/OVAttributeFile.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Store/OVFile.h"
#include "Store/OVFileCache.h"
#include "Support/TempDir.h"

#include <gmock/gmock.h>

#include <cerrno>
#include <filesystem>
#include <thread>

namespace orvex {
namespace {

using test::TempDir;
using ::testing::ElementsAre;

TEST(AttributeFileTest, EncodingRoundTripsAnyBytesAndRejectsDamage) {
  const std::map<std::string, std::string> entries = {{"user.a", std::string("\0\xff", 2)}, {"b", ""}};
  const std::string encoded = encodeAttributes(entries);
  EXPECT_EQ(decodeAttributes(encoded), entries);
  EXPECT_EQ(encodeAttributes({}), "");
  EXPECT_EQ(decodeAttributes(""), (std::map<std::string, std::string>{}));
  for (std::size_t cut = 1; cut < encoded.size(); ++cut)
    EXPECT_EQ(decodeAttributes(encoded.substr(0, cut)), std::nullopt) << cut;
  EXPECT_EQ(decodeAttributes(encoded + "x"), std::nullopt);
  const std::string emptyName("OVXATTR1\1\0\0\0\0\0\0\0\0\0\0\0", 20);
  EXPECT_EQ(decodeAttributes(emptyName), std::nullopt);
}

TEST(AttributeFileTest, FileSemanticsFollowTheAttributeCalls) {
  TempDir dir;
  const auto file = dir / "node.attrs";
  OVAttributeFiles files;
  std::string value;
  std::vector<std::string> names;
  EXPECT_EQ(files.get(file, "user.a", value), ENODATA);
  EXPECT_EQ(files.list(file, names), 0);
  EXPECT_EQ(files.remove(file, "user.a"), 0);

  using Mode = OVAttributeFiles::SetMode;
  EXPECT_EQ(files.set(file, "user.a", "1", Mode::replaceOnly), ENODATA);
  EXPECT_EQ(files.set(file, "user.a", "1", Mode::createOnly), 0);
  EXPECT_EQ(files.set(file, "user.a", "2", Mode::createOnly), EEXIST);
  EXPECT_EQ(files.set(file, "user.b", "3", Mode::createOrReplace), 0);
  EXPECT_EQ(files.get(file, "user.a", value), 0);
  EXPECT_EQ(value, "1");
  EXPECT_EQ(files.list(file, names), 0);
  EXPECT_THAT(names, ElementsAre("user.a", "user.b"));
  EXPECT_EQ(files.remove(file, "user.a"), 0);
  EXPECT_EQ(files.remove(file, "user.a"), ENODATA);

  // One item cannot grow its side file without bound.
  const std::string big(64 * 1024, 'x');
  int error = 0;
  for (int i = 0; i < 8 && error == 0; ++i)
    error = files.set(file, "user.big" + std::to_string(i), big, Mode::createOrReplace);
  EXPECT_EQ(error, ENOSPC);
  EXPECT_LE(std::filesystem::file_size(file), OVAttributeFiles::kMaxFileBytes);
}

TEST(AttributeFileTest, ConcurrentWritersLoseNothing) {
  TempDir dir;
  const auto file = dir / "node.attrs";
  OVAttributeFiles files;
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 10; ++i)
        files.set(file, "user." + std::to_string(w) + "." + std::to_string(i), "v",
                  OVAttributeFiles::SetMode::createOrReplace);
    });
  }
  for (auto& writer : writers)
    writer.join();
  std::vector<std::string> names;
  EXPECT_EQ(files.list(file, names), 0);
  EXPECT_EQ(names.size(), 40u);
}

TEST(AttributeFileTest, WithoutDownloadQueueContentIsPresentWhenCached) {
  TempDir dir;
  OVFileCache cache(dir / "Orvex");
  OVNoDriveDownloads downloads(cache);
  OVFile file;
  file.shareId = "S1";
  file.internalName = "F1";
  file.publicName = "a.txt";
  file.fileSize = 10;
  EXPECT_FALSE(downloads.isFileDownloaded(file));
  cache.createCacheFile(file);
  EXPECT_TRUE(downloads.isFileDownloaded(file));

  file.internalName = "F2";
  file.fileSize = 0;
  EXPECT_TRUE(downloads.isFileDownloaded(file)); // nothing to download
  file.fileSize = 10;
  file.publicName = "~lock.tmp";
  EXPECT_TRUE(downloads.isFileDownloaded(file)); // ignored names never are
  EXPECT_FALSE(downloads.isFileInQueue(file));
}

} // namespace
} // namespace orvex
