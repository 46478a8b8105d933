// Changing files on the mounted drive: what creating, writing, truncating,
// allocating and closing leave in the store and the cache, and the writes the
// drive refuses because the content they would change is on the server only.
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>

namespace orvex::test {
namespace {

class WriteTest : public ::testing::Test {
 protected:
  WriteTest() : harness(DriveHarness::servedBy(content)) { content.setCache(harness.store.fileCache); }
  void SetUp() override {
    harness.addShare("S1", "Docs");
    ManagedShare readOnly = DriveHarness::share("S2", "Shown");
    readOnly.ShareAcl = ShareACL{};
    readOnly.ShareAcl->AclType = 0;
    harness.addShare(readOnly);
  }

  OVFile file(const std::string& id, std::uint64_t size) { return harness.addNode("S1", id, "S1", id, true, size); }
  // Makes the node's content whole in the cache, as a finished download does.
  void download(const OVFile& node) {
    const std::string bytes = FakeContent::contentOf(node.internalName, 0, node.fileSize);
    harness.store.fileCache.addChunk({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, 0,
                                     node.fileSize, node);
  }
  int openAt(const std::string& volumePath, int flags) {
    return ::open(harness.at(volumePath).c_str(), flags | O_CLOEXEC, 0644);
  }
  std::string cached(const OVFile& node) { return readFile(*harness.store.fileCache.pathForFileCache(node)); }

  FakeContent content;
  DriveHarness harness;
};

TEST_F(WriteTest, CreateWriteTruncateAndCloseLeaveANewRecordOfTheRightSize) {
  ASSERT_TRUE(harness.mount());
  const int fd = openAt("/Docs/new.txt", O_CREAT | O_WRONLY | O_EXCL);
  ASSERT_NE(fd, -1) << errno;
  const std::string text(10000, 'x');
  ASSERT_EQ(::write(fd, text.data(), text.size()), 10000);
  ASSERT_EQ(::ftruncate(fd, 6000), 0) << errno;
  ASSERT_EQ(::close(fd), 0);

  const auto stored = harness.db().fileWithPath("/Docs/new.txt");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->status, kFileStatusNew);
  EXPECT_EQ(stored->fileSize, 6000u);
  EXPECT_EQ(cached(*stored), text.substr(0, 6000));
  struct stat attributes {};
  ASSERT_EQ(::stat(harness.at("/Docs/new.txt").c_str(), &attributes), 0);
  EXPECT_EQ(attributes.st_size, 6000);
}

TEST_F(WriteTest, WritingASynchronizedFileKeepsItsConfirmedStateAsShadow) {
  const OVFile original = file("SYNC", 3000);
  download(original);
  ASSERT_TRUE(harness.mount());

  const int fd = openAt("/Docs/SYNC", O_WRONLY);
  ASSERT_NE(fd, -1) << errno;
  ASSERT_EQ(::pwrite(fd, "tail", 4, 5000), 4);
  ASSERT_EQ(::close(fd), 0);

  const auto stored = harness.db().fileWithId("SYNC", false);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->status, kFileStatusModified);
  EXPECT_EQ(stored->fileSize, 5004u);
  const auto shadow = harness.db().fileWithId("SYNC", true);
  ASSERT_TRUE(shadow);
  EXPECT_EQ(shadow->status, kFileStatusShadow);
  EXPECT_EQ(shadow->fileSize, 3000u);
  // The bytes between the old end and the write read as zeros, the rest as before.
  EXPECT_EQ(cached(*stored), FakeContent::contentOf("SYNC", 0, 3000) + std::string(2000, '\0') + "tail");
}

TEST_F(WriteTest, AWriteIntoContentNotInTheCacheBringsItWholeFirstOrFailsWithEIO) {
  file("COLD", 100000);
  file("GONE", 100000);
  ASSERT_TRUE(harness.mount());

  // At offset 0 as in the middle: the rest of the content is kept.
  for (const std::uint64_t offset : {0, 4096}) {
    const std::string id = offset == 0 ? "GONE" : "COLD";
    const int fd = openAt("/Docs/" + id, O_WRONLY);
    ASSERT_NE(fd, -1) << errno;
    EXPECT_EQ(::pwrite(fd, "x", 1, static_cast<off_t>(offset)), 1) << errno;
    ::close(fd);
    const auto stored = harness.db().fileWithId(id, false);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, kFileStatusModified);
    EXPECT_EQ(stored->fileSize, 100000u);
    EXPECT_TRUE(cached(*stored) == FakeContent::contentOf(id, 0, offset) + "x" +
                                       FakeContent::contentOf(id, offset + 1, 100000 - offset - 1))
        << id;
  }
}

TEST_F(WriteTest, AWriteWhoseContentCannotBeFetchedFailsWithEIOAndChangesNothing) {
  file("COLD", 100000);
  ASSERT_TRUE(harness.mount());
  content.failing = true;
  const int fd = openAt("/Docs/COLD", O_WRONLY);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::pwrite(fd, "x", 1, 0), -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);
  const auto stored = harness.db().fileWithId("COLD", false);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->status, kFileStatusSynchronized);
  EXPECT_EQ(stored->fileSize, 100000u);
  const auto cachePath = harness.store.fileCache.pathForFileCache(*stored);
  ASSERT_TRUE(cachePath);
  EXPECT_FALSE(std::filesystem::exists(*cachePath));
}

TEST_F(WriteTest, AWriteThatReplacesTheWholeContentFetchesNothing) {
  file("SMALL", 10);
  ASSERT_TRUE(harness.mount());
  content.failing = true;
  const int fd = openAt("/Docs/SMALL", O_WRONLY);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::pwrite(fd, "0123456789ab", 12, 0), 12) << errno;
  ::close(fd);
  EXPECT_EQ(content.calls, 0);
  EXPECT_EQ(cached(*harness.db().fileWithId("SMALL", false)), "0123456789ab");
}

TEST_F(WriteTest, TruncatingSetsTheModificationTimeEvenToTheSameSize) {
  OVFile node = file("TIMED", 3000);
  download(node);
  node.modifyTime = dateFromSecondsSince1970(1700000000);
  harness.write(node);
  ASSERT_TRUE(harness.mount());
  harness.store.clock.setWall(std::chrono::system_clock::from_time_t(1800000000));

  ASSERT_EQ(::truncate(harness.at("/Docs/TIMED").c_str(), 3000), 0) << errno;
  EXPECT_EQ(secondsSince1970(harness.db().fileWithId("TIMED", false)->modifyTime), 1800000000.0);
  harness.store.clock.setWall(std::chrono::system_clock::from_time_t(1800000100));
  ASSERT_EQ(::truncate(harness.at("/Docs/TIMED").c_str(), 100), 0) << errno;
  EXPECT_EQ(secondsSince1970(harness.db().fileWithId("TIMED", false)->modifyTime), 1800000100.0);
  struct stat attributes {};
  ASSERT_EQ(::stat(harness.at("/Docs/TIMED").c_str(), &attributes), 0);
  EXPECT_EQ(attributes.st_mtime, 1800000100);
}

TEST_F(WriteTest, TruncatingContentNotDownloadedWorksOnlyToZero) {
  file("EMPTIED", 5000);
  file("KEPT", 5000);
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(::truncate(harness.at("/Docs/KEPT").c_str(), 10), -1);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_NE(harness.log.find(kLogMain, "Attempt to truncate file /Docs/KEPT, which is not yet downloaded."), "");
  EXPECT_EQ(harness.db().fileWithId("KEPT", false)->fileSize, 5000u);

  ASSERT_EQ(::truncate(harness.at("/Docs/EMPTIED").c_str(), 0), 0) << errno;
  const auto emptied = harness.db().fileWithId("EMPTIED", false);
  EXPECT_EQ(emptied->status, kFileStatusModified);
  EXPECT_EQ(emptied->fileSize, 0u);
  // Emptied, the content is whole: a write anywhere now extends it.
  const int fd = openAt("/Docs/EMPTIED", O_WRONLY);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::pwrite(fd, "x", 1, 4096), 1) << errno;
  ::close(fd);
  EXPECT_EQ(harness.db().fileWithId("EMPTIED", false)->fileSize, 4097u);
}

TEST_F(WriteTest, AllocationGrowsTheFileUnlessToldToKeepItsSize) {
  ASSERT_TRUE(harness.mount());
  const int fd = openAt("/Docs/space.bin", O_CREAT | O_RDWR);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20), 0) << errno;
  EXPECT_EQ(harness.db().fileWithPath("/Docs/space.bin")->fileSize, 0u);
  EXPECT_EQ(::fallocate(fd, 0, 0, 1 << 20), 0) << errno;
  EXPECT_EQ(harness.db().fileWithPath("/Docs/space.bin")->fileSize, 1u << 20);
  EXPECT_EQ(::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 4096), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  ::close(fd);
}

TEST_F(WriteTest, ReadOnlySharesAndTheRootRefuseNewContent) {
  harness.addNode("S2", "RO", "S2", "report.txt", true, 10);
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(openAt("/Shown/report.txt", O_WRONLY), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(openAt("/Shown/new.txt", O_CREAT | O_WRONLY), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(openAt("/loose.txt", O_CREAT | O_WRONLY), -1);
  EXPECT_EQ(errno, EIO);
  // Namespace changes are not made yet.
  EXPECT_EQ(::unlink(harness.at("/Shown/report.txt").c_str()), -1);
  EXPECT_EQ(errno, EROFS);
}

TEST_F(WriteTest, TheOpenFileListNamesTheOpeningProcessAndTheQuietRuleFollowsTheLastWrite) {
  const OVFile node = file("OPEN", 10);
  download(node);
  ASSERT_TRUE(harness.mount());

  const int fd = openAt("/Docs/OPEN", O_WRONLY);
  ASSERT_NE(fd, -1) << errno;
  const auto opened = harness.drive->openFiles().openedFiles();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].fileId, "OPEN");
  EXPECT_EQ(opened[0].openProcess, ::getpid());
  ASSERT_EQ(::pwrite(fd, "abc", 3, 0), 3);
  ASSERT_EQ(::close(fd), 0);
  // The kernel sends the release after close(2) has returned.
  EXPECT_TRUE(eventually([&] { return harness.drive->openFiles().openedFiles().empty(); }));

  harness.store.clock.advance(std::chrono::seconds(3));
  EXPECT_FALSE(harness.drive->openFiles().canUploadFile(node));
  harness.store.clock.advance(std::chrono::seconds(3));
  EXPECT_TRUE(harness.drive->openFiles().canUploadFile(node));
}

} // namespace
} // namespace orvex::test
