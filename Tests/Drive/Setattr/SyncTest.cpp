// fsync(2) and fdatasync(2) on the mounted drive. Until its upload, the cache
// file is the only copy of what a program wrote, so a program that asks for
// its data on disk must get the cache file flushed, not a bare success.
#include "Drive/Support/DriveHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orvex::test {
namespace {

// Pages of a file that the kernel holds but has not yet written to the disk,
// as cachestat(2) counts them (Linux 6.5 and later); nothing on older kernels.
std::optional<std::uint64_t> unwrittenPages(const std::string& path) {
  struct Range {
    std::uint64_t offset;
    std::uint64_t length; // 0: to the end
  };
  struct Counts {
    std::uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
  };
  constexpr long kCachestat = 451; // the same number on every architecture
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(fd, -1) << path << ": error " << errno;
  Range range{0, 0};
  Counts counts{};
  const long result = ::syscall(kCachestat, fd, &range, &counts, 0);
  ::close(fd);
  if (result != 0)
    return std::nullopt;
  return counts.dirty + counts.writeback;
}

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override { harness.addShare("S1", "Docs"); }

  std::uint64_t syncs() const { return harness.drive->requestCounts().contentSyncs.load(); }
  // Whether the cache file of `volumePath` has pages not yet on the disk
  // (false when the kernel cannot tell).
  bool unwritten(const std::string& volumePath) {
    const auto stored = harness.db().fileWithPath(volumePath);
    EXPECT_TRUE(stored) << volumePath;
    return stored && unwrittenPages(harness.store.fileCache.pathForFileCache(*stored)->string()).value_or(0) > 0;
  }

  DriveHarness harness;
};

TEST_F(SyncTest, FsyncAndFdatasyncOfWrittenContentFlushTheCacheFile) {
  ASSERT_TRUE(harness.mount());
  const int fd = ::open(harness.at("/Docs/new.txt").c_str(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_NE(fd, -1) << errno;
  // Each sync follows writes of its own, so that each has pages to flush.
  const std::string text(100000, 'w');
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  const std::uint64_t before = syncs();
  EXPECT_EQ(::fsync(fd), 0) << errno;
  EXPECT_EQ(syncs(), before + 1);
  EXPECT_FALSE(unwritten("/Docs/new.txt"));

  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  EXPECT_EQ(::fdatasync(fd), 0) << errno;
  EXPECT_EQ(syncs(), before + 2);
  EXPECT_FALSE(unwritten("/Docs/new.txt"));

  // Written through a handle that is closed now: a later, read-only handle
  // still reaches the same cache file.
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(::close(fd), 0);
  const int reader = ::open(harness.at("/Docs/new.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(reader, -1) << errno;
  EXPECT_EQ(::fdatasync(reader), 0) << errno;
  EXPECT_EQ(syncs(), before + 3);
  EXPECT_FALSE(unwritten("/Docs/new.txt"));
  ::close(reader);

  const auto stored = harness.db().fileWithPath("/Docs/new.txt");
  ASSERT_TRUE(stored);
  EXPECT_EQ(readFile(*harness.store.fileCache.pathForFileCache(*stored)), text + text + text);
}

TEST_F(SyncTest, FsyncOfContentOnlyTheServerHoldsSucceedsWithNothingToFlush) {
  const OVFile cold = harness.addNode("S1", "COLD", "S1", "cold.bin", true, 4096);
  ASSERT_TRUE(harness.mount());
  const int fd = ::open(harness.at("/Docs/cold.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::fsync(fd), 0) << errno;
  EXPECT_EQ(syncs(), 0u);
  ::close(fd);
  // No empty cache file was made on the way, which would pass for the content.
  EXPECT_FALSE(std::filesystem::exists(*harness.store.fileCache.pathForFileCache(cold)));
}

} // namespace
} // namespace orvex::test
