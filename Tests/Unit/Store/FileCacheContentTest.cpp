// Node contents in the file cache: chunked downloads, promotion to the cache
// file, idle descriptors, and moving or replacing cached files.
#include "Dispatch/Clock.h"
#include "Store/OVFileCache.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;
using test::readFile;
using test::TempDir;
using test::writeFile;
namespace fs = std::filesystem;

// The access mode of this process's descriptor open on `path`, if any.
std::optional<int> openModeOf(const fs::path& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == path) {
      return ::fcntl(std::stoi(entry.path().filename().string()), F_GETFL) & O_ACCMODE;
    }
  }
  return std::nullopt;
}

class FileCacheContent : public ::testing::Test {
 protected:
  OVFile node(std::uint64_t size, std::string internalName = "node1") {
    OVFile file(clock);
    file.publicName = "Report.txt";
    file.shareId = "share1";
    file.internalName = std::move(internalName);
    file.fileSize = size;
    return file;
  }
  void add(std::string_view text, std::uint64_t location, const OVFile& file) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    cache.addChunk({bytes, text.size()}, location, text.size(), file);
  }
  std::optional<std::string> read(std::uint64_t offset, std::uint64_t length, const OVFile& file) {
    auto bytes = cache.getChunk(offset, length, file);
    return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
  }
  fs::path cachePath(const std::string& name = "node1", const std::string& share = "share1") {
    return cache.filesCachePath() / share / name;
  }
  fs::path downloadPath(const std::string& name = "node1") { return cache.downloadsCachePath() / name; }
  static void put(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    writeFile(path, text);
  }

  TempDir dir;
  ManualClock clock;
  OVFileCache cache{dir / "Orvex", clock};
};

TEST_F(FileCacheContent, OnlyChunksExtendingThePrefixAreWritten) {
  const auto file = node(10);
  add("abc", 0, file);
  add("xyz", 5, file); // leaves a gap
  EXPECT_EQ(cache.availableDataForFile(file), 3U);
  add("ab", 0, file); // nothing new
  add("XXDEF", 1, file);
  EXPECT_EQ(cache.availableDataForFile(file), 6U);
  EXPECT_EQ(readFile(downloadPath()), "abcDEF");
  EXPECT_FALSE(fs::exists(cachePath()));
}

TEST_F(FileCacheContent, BytesBeyondTheFileSizeAreNotStored) {
  const auto file = node(4);
  add("abcdef", 0, file);
  EXPECT_EQ(readFile(cachePath()), "abcd");
}

TEST_F(FileCacheContent, ReadsOnlyRangesThatAreWhollyCached) {
  const auto file = node(10);
  add("abcdef", 0, file);
  EXPECT_EQ(read(4, 2, file), "ef");
  EXPECT_EQ(read(4, 3, file), std::nullopt);
  EXPECT_EQ(read(~std::uint64_t{0}, 2, file), std::nullopt);
}

TEST_F(FileCacheContent, TheLastChunkPromotesTheDownloadToAReadOnlyCacheFile) {
  std::vector<std::string> refreshed;
  cache.setRefreshFileInFinder([&](const OVFile& file) { refreshed.push_back(file.internalName); });
  const auto file = node(6);
  add("abc", 0, file);
  EXPECT_EQ(openModeOf(downloadPath()), O_RDWR);
  add("def", 3, file);

  EXPECT_FALSE(fs::exists(downloadPath()));
  EXPECT_EQ(readFile(cachePath()), "abcdef");
  EXPECT_EQ(refreshed, std::vector<std::string>{"node1"});
  EXPECT_EQ(read(2, 4, file), "cdef");
  EXPECT_EQ(openModeOf(cachePath()), O_RDONLY);
  add("zzzzzz", 0, file); // complete: nothing more is written
  EXPECT_EQ(readFile(cachePath()), "abcdef");
  EXPECT_EQ(refreshed.size(), 1U);
}

TEST_F(FileCacheContent, AnEmptyCacheFileForANewFileCountsAsDownloaded) {
  const auto file = node(0);
  cache.createCacheFile(file);
  EXPECT_EQ(cache.availableDataForFile(file), 0U);
  EXPECT_EQ(read(0, 0, file), "");
  EXPECT_EQ(openModeOf(cachePath()), O_RDONLY);
  EXPECT_FALSE(fs::exists(downloadPath()));
}

TEST_F(FileCacheContent, AnIdleDescriptorIsClosedAndReopenedWithTheSamePrefix) {
  const auto file = node(10);
  add("abc", 0, file);
  clock.advance(4s);
  EXPECT_EQ(read(0, 1, file), "a"); // a read counts as use
  clock.advance(5s);
  cache.checkExpiredCaches();
  EXPECT_EQ(cache.openItemCount(), 1U);

  clock.advance(1ms);
  cache.checkExpiredCaches();
  EXPECT_EQ(cache.openItemCount(), 0U);
  EXPECT_EQ(openModeOf(downloadPath()), std::nullopt);

  EXPECT_EQ(read(0, 3, file), "abc");
  EXPECT_EQ(cache.availableDataForFile(file), 3U);
  add("def", 3, file);
  EXPECT_EQ(readFile(downloadPath()), "abcdef");
}

TEST_F(FileCacheContent, AFolderInTheWayIsLeftAloneWithAWarning) {
  LogCapture log;
  const auto file = node(0);
  fs::create_directories(cachePath());
  fs::create_directories(cachePath().string() + ".attrs");
  cache.createCacheFile(file);
  cache.createExAttrsForFile(file);

  EXPECT_TRUE(fs::is_directory(cachePath()));
  EXPECT_NE(log.find(0,
                     "Warning! Cannot create cache file for file Report.txt : file with the same name already "
                     "exists there."),
            "");
  EXPECT_NE(log.find(0, "Warning! Cannot create ext attrs file for file Report.txt : file with the same name"), "");
}

TEST_F(FileCacheContent, AFailedPromotionKeepsTheCompleteDownloadReadable) {
  LogCapture log;
  int refreshes = 0;
  cache.setRefreshFileInFinder([&](const OVFile&) { ++refreshes; });
  fs::create_directories(cachePath() / "blocker");
  const auto file = node(6);
  add("abcdef", 0, file);

  EXPECT_NE(log.find(0, "Warning! Failed to rename fully downloaded cache file node1. Error "), "");
  EXPECT_EQ(refreshes, 0);
  EXPECT_EQ(readFile(downloadPath()), "abcdef");
  EXPECT_EQ(read(0, 6, file), "abcdef");

  clock.advance(6s);
  cache.checkExpiredCaches();
  EXPECT_EQ(cache.availableDataForFile(file), 6U);
  EXPECT_EQ(read(3, 3, file), "def");
}

TEST_F(FileCacheContent, ExchangeAndMoveCarryBothFiles) {
  const auto oldFile = node(3, "old");
  const auto newFile = node(3, "new");
  put(cachePath("old"), "one");
  put(cachePath("old").string() + ".attrs", "oa");
  put(cachePath("new"), "two");
  put(cachePath("new").string() + ".attrs", "na");
  EXPECT_EQ(read(0, 3, oldFile), "one"); // keeps a descriptor on the replaced file

  cache.exchangeFileCaches(oldFile, newFile);
  EXPECT_EQ(readFile(cachePath("old")), "two");
  EXPECT_EQ(readFile(cachePath("old").string() + ".attrs"), "na");
  EXPECT_FALSE(fs::exists(cachePath("new")));
  EXPECT_FALSE(fs::exists(cachePath("new").string() + ".attrs"));
  EXPECT_EQ(read(0, 3, oldFile), "two");

  cache.moveFileCacheWithId("old", "share1", "share2");
  EXPECT_EQ(readFile(cachePath("old", "share2")), "two");
  EXPECT_EQ(readFile(cachePath("old", "share2").string() + ".attrs"), "na");
  cache.moveFileCacheWithId("old", "renamed", "share2", "share3");
  EXPECT_EQ(readFile(cachePath("renamed", "share3")), "two");
  EXPECT_EQ(readFile(cachePath("renamed", "share3").string() + ".attrs"), "na");
  EXPECT_FALSE(fs::exists(cachePath("old", "share2")));

  cache.moveFileCacheWithId("renamed", "../escaped", "share3", "share1");
  EXPECT_TRUE(fs::exists(cachePath("renamed", "share3")));
}

TEST_F(FileCacheContent, DeletingForgetsTheOpenDescriptor) {
  const auto file = node(10);
  put(cachePath(), "0123456789");
  put(cachePath().string() + ".attrs", "x");
  EXPECT_EQ(read(0, 2, file), "01");
  cache.deleteFileCache(file);
  EXPECT_FALSE(fs::exists(cachePath()));
  EXPECT_FALSE(fs::exists(cachePath().string() + ".attrs"));
  EXPECT_EQ(read(0, 2, file), std::nullopt);

  add("abc", 0, file);
  cache.deleteFileDownload(file);
  EXPECT_EQ(cache.availableDataForFile(file), 0U);
}

TEST_F(FileCacheContent, UnsafeNamesNeverReachTheDisk) {
  auto file = node(3, "../../escape");
  add("abc", 0, file);
  EXPECT_EQ(read(0, 0, file), std::nullopt);
  EXPECT_FALSE(fs::exists(cache.filesCachePath() / "escape"));
  EXPECT_FALSE(fs::exists(cache.rootCachePath() / "escape"));
}

} // namespace
} // namespace orvex
