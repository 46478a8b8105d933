// Attributes on the mounted drive, as stat(2) and statfs(2) see them.
#include "Drive/OVMountController.h"
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVDatabaseConstants.h"
#include "Sync/OVVirtualFile.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

struct stat statOf(const std::string& path) {
  struct stat attributes {};
  EXPECT_EQ(::stat(path.c_str(), &attributes), 0) << path << ": error " << errno;
  return attributes;
}

class AttributesTest : public ::testing::Test {
 protected:
  void SetUp() override { harness.addShare("S1", "Projects"); }

  OVFile file(const std::string& id, const std::string& name, std::uint64_t size) {
    return harness.addNode("S1", id, "S1", name, true, size);
  }

  DriveHarness harness;
};

TEST_F(AttributesTest, LockFileAndRefreshMarkersAreHiddenEmptyFilesWithoutRecords) {
  harness.addNode("S1", "D1", "S1", "sub", false);
  ASSERT_TRUE(harness.mount());

  for (const char* path : {"/.fuselock", "/Projects/sub/.ovrefresh", "/.ovrefresh"}) {
    const struct stat marker = statOf(harness.at(path));
    EXPECT_TRUE(S_ISREG(marker.st_mode)) << path;
    EXPECT_EQ(marker.st_mode & 07777, 0700u) << path;
    EXPECT_EQ(marker.st_size, 0) << path;
    EXPECT_EQ(marker.st_blocks, 0) << path;
    EXPECT_EQ(marker.st_uid, ::geteuid()) << path;
  }
  EXPECT_THAT(listFolder(harness.at("/Projects/sub")), ElementsAre());
}

TEST_F(AttributesTest, SizesCountWhole512ByteBlocks) {
  file("F0", "zero", 0);
  file("F1", "one", 1);
  file("F512", "full", 512);
  file("F513", "over", 513);
  file("FBIG", "big", 5'000'000'000);
  harness.addNode("S1", "D1", "S1", "folder", false, 4096);
  ASSERT_TRUE(harness.mount());

  const std::pair<const char*, blkcnt_t> expected[] = {
      {"zero", 0}, {"one", 1}, {"full", 1}, {"over", 2}, {"big", 9765625}};
  for (const auto& [name, blocks] : expected)
    EXPECT_EQ(statOf(harness.at("/Projects/") + name).st_blocks, blocks) << name;
  EXPECT_EQ(statOf(harness.at("/Projects/big")).st_size, 5'000'000'000);
  // A folder has no size of its own, whatever the store says.
  const struct stat folder = statOf(harness.at("/Projects/folder"));
  EXPECT_TRUE(S_ISDIR(folder.st_mode));
  EXPECT_EQ(folder.st_size, 0);
  EXPECT_EQ(folder.st_blocks, 0);
}

TEST_F(AttributesTest, ModesComeFromTheStoreAndRemoteLocksTakeWriteAway) {
  OVFile flagged = file("F1", "default.txt", 10);
  flagged.internalName = "F2";
  flagged.publicName = "locked.txt";
  flagged.permissions = (1u << 19) | 0644; // a flag bit above the mode
  flagged.isLocked = true;
  harness.write(flagged);
  flagged.internalName = "F3";
  flagged.publicName = "plain.txt";
  flagged.isLocked = false;
  harness.write(flagged);
  OVFile folder = harness.addNode("S1", "D1", "S1", "folder", false);
  folder.internalName = "D2";
  folder.publicName = "shared";
  folder.permissions = 0750;
  harness.write(folder);
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(statOf(harness.at("/Projects/plain.txt")).st_mode, S_IFREG | 0644u);
  EXPECT_EQ(statOf(harness.at("/Projects/locked.txt")).st_mode, S_IFREG | 0444u);
  EXPECT_EQ(statOf(harness.at("/Projects/shared")).st_mode, S_IFDIR | 0750u);
  EXPECT_EQ(statOf(harness.at("/Projects/default.txt")).st_mode, S_IFREG | 0600u);
}

TEST_F(AttributesTest, TimesOfRecordsSharesAndRoot) {
  OVFile timed = file("F1", "timed.txt", 1);
  timed.internalName = "F2";
  timed.publicName = "old.txt";
  timed.modifyTime = dateFromSecondsSince1970(1700000000.25);
  timed.createTime = dateFromSecondsSince1970(1600000000.5);
  timed.accessTime = dateFromSecondsSince1970(-1.5); // before 1970: no negative nanoseconds
  harness.write(timed);
  ManagedShare dated = DriveHarness::share("S2", "Dated");
  dated.ModificationDate = dateFromSecondsSince1970(1650000000);
  dated.CreationDate = dateFromSecondsSince1970(1550000000);
  harness.addShare(dated);
  ASSERT_TRUE(harness.mount());

  const struct stat old = statOf(harness.at("/Projects/old.txt"));
  EXPECT_EQ(old.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(old.st_mtim.tv_nsec, 250000000);
  EXPECT_EQ(old.st_ctim.tv_sec, 1600000000);
  EXPECT_EQ(old.st_atim.tv_sec, -1);
  EXPECT_EQ(old.st_atim.tv_nsec, 0);

  const struct stat share = statOf(harness.at("/Dated"));
  EXPECT_EQ(share.st_mode, S_IFDIR | 0700u);
  EXPECT_EQ(share.st_mtim.tv_sec, 1650000000);
  EXPECT_EQ(share.st_atim.tv_sec, 1650000000);
  EXPECT_EQ(share.st_ctim.tv_sec, 1550000000);

  // The root is the cache's files folder as it is on disk.
  struct stat files {};
  ASSERT_EQ(::lstat(harness.store.fileCache.filesCachePath().c_str(), &files), 0);
  const struct stat root = statOf(harness.at("/"));
  EXPECT_EQ(root.st_mode, files.st_mode);
  EXPECT_EQ(root.st_mtim.tv_sec, files.st_mtim.tv_sec);
}

TEST_F(AttributesTest, SaveFolderRedirectedIntoTheTempShareIsFoundUnderItsOldPath) {
  harness.addShare("tmp", ".TempFiles");
  harness.addNode("S1", "D1", "S1", "Docs", false);
  harness.addNode(std::string(kTempShareId), "T1", "tmp", "Report.docx.sb-5a3e", false);
  harness.addNode(std::string(kTempShareId), "T2", "T1", "inner", true, 77);
  harness.db().archiveMap().set("Report.docx.sb-5a3e", "/.TempFiles/Report.docx.sb-5a3e");
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(statOf(harness.at("/Projects/Docs/Report.docx.sb-5a3e/inner")).st_size, 77);
  EXPECT_TRUE(S_ISDIR(statOf(harness.at("/Projects/Docs/Report.docx.sb-5a3e")).st_mode));
  // The temp share itself is reachable but never listed.
  EXPECT_THAT(listFolder(harness.at("/.TempFiles/Report.docx.sb-5a3e")), ElementsAre("inner"));
  EXPECT_THAT(listFolder(harness.at("/")), ElementsAre("Projects"));
}

TEST_F(AttributesTest, StatfsAddsTheStoreSizeToTheCacheDisk) {
  struct statvfs disk {};
  ASSERT_EQ(::statvfs(harness.store.fileCache.rootCachePath().c_str(), &disk), 0);
  // 2,000 blocks of the cache disk's fragment size, in two files and a part block.
  file("F1", "a", 1500 * disk.f_frsize);
  file("F2", "b", 500 * disk.f_frsize + disk.f_frsize / 2);
  ASSERT_TRUE(harness.mount());

  struct statvfs drive {};
  ASSERT_EQ(::statvfs(harness.at("/").c_str(), &drive), 0);
  EXPECT_EQ(drive.f_frsize, disk.f_frsize);
  // Free blocks and the block count come from one look at the disk: the
  // difference is exactly the store's size in whole fragments.
  EXPECT_EQ(drive.f_blocks - drive.f_bfree, 2000u);
}

OVVirtualFile remoteRecord(const std::string& id, const std::string& name, std::int64_t size) {
  OVVirtualFile record;
  record.ShareId = "S1";
  record.InternalName = id;
  record.ParrentId = "S1";
  record.PublicName = name;
  record.IsFile = true;
  record.EndOfFile = static_cast<std::uint64_t>(size);
  record.POSIXPermissions = 0644;
  record.Tick = 9;
  record.LastWriteTime = dateFromSecondsSince1970(1.7e9 + static_cast<double>(size));
  return record;
}

TEST_F(AttributesTest, MergedChangesShowAtOnceThoughTheKernelKeepsAttributesLong) {
  file("F1", "report.txt", 10);
  file("F3", "old name.txt", 1);
  ASSERT_TRUE(harness.mount());
  const std::string report = harness.at("/Projects/report.txt");
  // Now in the kernel's caches, which keep names and attributes for a minute.
  ASSERT_EQ(statOf(report).st_size, 10);
  ASSERT_EQ(statOf(harness.at("/Projects/old name.txt")).st_size, 1);
  ASSERT_THAT(listFolder(harness.at("/Projects")), UnorderedElementsAre("report.txt", "old name.txt"));

  // A catch-up page: new content, a rename and a new file.
  harness.db().updateFilesInShare(
      {remoteRecord("F1", "report.txt", 20), remoteRecord("F3", "new name.txt", 1), remoteRecord("F2", "new.txt", 5)},
      *harness.db().shareWithId("S1"));
  harness.controller->invalidator().waitUntilDone();

  EXPECT_EQ(statOf(report).st_size, 20);
  struct stat gone {};
  EXPECT_EQ(::stat(harness.at("/Projects/old name.txt").c_str(), &gone), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(statOf(harness.at("/Projects/new name.txt")).st_size, 1);
  EXPECT_THAT(listFolder(harness.at("/Projects")), UnorderedElementsAre("report.txt", "new name.txt", "new.txt"));
}

} // namespace
} // namespace orvex::test
