// The four reserved attributes the file-manager plug-in reads, on the mounted drive.
#include "Drive/OVStatusQueries.h"
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"

#include <gmock/gmock.h>
#include <sys/xattr.h>

namespace orvex::test {
namespace {

using ::testing::HasSubstr;

class StatusAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ManagedShare readOnly = DriveHarness::share("RO", "ReadOnly");
    readOnly.ShareAcl = ShareACL{};
    readOnly.ShareAcl->AclType = 0;
    harness.addShare(readOnly);
    harness.addShare("S1", "Projects");
    harness.addNode("RO", "R1", "RO", "look.txt", true, 3);
  }

  // Each path's overlay badge is the expected one.
  void expectOverlays(const std::vector<std::pair<std::string, int>>& expected) {
    for (const auto& [path, overlay] : expected)
      EXPECT_EQ(byteOf(path, kOverlayIconAttribute), overlay) << path;
  }
  // The one byte of a reserved attribute; -1 when it cannot be read.
  int byteOf(const std::string& volumePath, std::string_view name) {
    char value = 0;
    const ssize_t got = ::getxattr(harness.at(volumePath).c_str(), std::string(name).c_str(), &value, 1);
    return got == 1 ? static_cast<unsigned char>(value) : -1;
  }
  OVFile add(const std::string& id, const std::string& name, std::uint64_t size, bool isFile = true) {
    return harness.addNode("S1", id, "S1", name, isFile, size);
  }
  OVFile locked(const std::string& id, const std::string& shareId, const std::string& by) {
    OVFile file = harness.addNode(shareId, id + "-base", shareId, id + "-base");
    file.internalName = id;
    file.publicName = id + ".doc";
    file.isLocked = true;
    file.lockedBy = by;
    harness.write(file);
    return file;
  }

  DriveHarness harness;
};

TEST_F(StatusAttributesTest, FileOverlayFollowsDownloadsAndQueues) {
  add("F1", "downloaded.txt", 10);
  add("F2", "remote.txt", 10);
  add("F3", "queued.txt", 10);
  add("F4", "uploading.txt", 10);
  add("F5", "empty.txt", 0);
  add("F6", "waiting.txt", 10);
  harness.downloads.downloaded.add("F1");
  harness.downloads.queued.add("F3");
  harness.downloads.downloaded.add("F4");
  harness.uploads.queued.add("F4");
  harness.uploads.queued.add("F6");
  ASSERT_TRUE(harness.mount());

  expectOverlays({
      {"/Projects/downloaded.txt", kSyncStateDownloaded},
      {"/Projects/remote.txt", kSyncStateNotDownloaded},
      {"/Projects/queued.txt", kSyncStateSyncing},
      {"/Projects/uploading.txt", kSyncStateSyncing},
      {"/Projects/empty.txt", kSyncStateDownloaded}, // never downloaded, but nothing to download
      {"/Projects/waiting.txt", kSyncStateSyncing},
  });
}

TEST_F(StatusAttributesTest, FolderOverlayFollowsOfflineFoldersAndTransfersBelow) {
  add("D1", "plain", 0, false);
  add("D2", "offline", 0, false);
  add("D3", "busy", 0, false);
  add("D4", "offlineBusy", 0, false);
  harness.downloads.synchronized.add("/Projects/offline");
  harness.downloads.synchronized.add("/Projects/offlineBusy");
  harness.downloads.withDownloads.add("/Projects/offlineBusy");
  harness.uploads.withUploads.add("/Projects/busy");
  harness.uploads.withUploads.add("/Projects");
  ASSERT_TRUE(harness.mount());

  expectOverlays({
      {"/Projects/plain", kSyncStateNone},
      {"/Projects/busy", kSyncStateSyncing},
      {"/Projects", kSyncStateSyncing},
      {"/Projects/offlineBusy", kSyncStateSyncedFolderPending},
      {"/Projects/offline", kSyncStateNone}, // shown as kept offline only once the store lists one
  });
  harness.db().markItemSynchronized("D2", true);
  EXPECT_EQ(byteOf("/Projects/offline", kOverlayIconAttribute), kSyncStateSyncedFolder);
}

TEST_F(StatusAttributesTest, SlowFolderAnswerIsLogged) {
  add("D1", "slow", 0, false);
  harness.downloads.onPathHasDownloads([this] { harness.store.clock.advance(std::chrono::milliseconds(250)); });
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(byteOf("/Projects/slow", kOverlayIconAttribute), kSyncStateNone);
  EXPECT_THAT(harness.log.find(kLogMain, "check sync status for path"),
              HasSubstr("check sync status for path /Projects/slow took -> 0.250000"));
}

TEST_F(StatusAttributesTest, WriteAccessAndFileStatus) {
  add("F1", "~$draft.docx", 1);
  add("F2", "kept.txt", 1);
  ASSERT_TRUE(harness.mount());

  // The share folder lies in the root, which is no share: it may be written.
  EXPECT_EQ(byteOf("/ReadOnly", kWriteAccessAttribute), '1');
  EXPECT_EQ(byteOf("/ReadOnly/look.txt", kWriteAccessAttribute), '0');
  EXPECT_EQ(byteOf("/Projects/kept.txt", kWriteAccessAttribute), '1');

  EXPECT_EQ(byteOf("/Projects/~$draft.docx", kFileStatusAttribute), 0);
  EXPECT_EQ(byteOf("/Projects/kept.txt", kFileStatusAttribute), 1);
  EXPECT_EQ(byteOf("/.fuselock", kFileStatusAttribute), 0);
}

TEST_F(StatusAttributesTest, LockStatusNamesWhoHoldsTheLock) {
  harness.account.setEmail("me@orvex.example");
  ManagedShare owned = DriveHarness::share("OWN", "Owned");
  owned.AssociationType = 2;
  harness.addShare(owned);
  harness.addShare("NOLOCK", "NoLocking");
  harness.account.sharesWithoutLocking.add("NOLOCK");
  add("F1", "free.doc", 1);
  locked("MINE", "S1", "me@orvex.example");
  locked("THEIRS", "S1", "ann@orvex.example");
  locked("OWNED", "OWN", "ann@orvex.example");
  locked("NOLOCK1", "NOLOCK", "ann@orvex.example");
  ASSERT_TRUE(harness.mount());

  EXPECT_EQ(byteOf("/Projects/free.doc", kLockStatusAttribute), kLockStateUnlocked);
  EXPECT_EQ(byteOf("/Projects/MINE.doc", kLockStatusAttribute), kLockStateLockedByMe);
  EXPECT_EQ(byteOf("/Projects/THEIRS.doc", kLockStatusAttribute), kLockStateLockedByOther);
  EXPECT_EQ(byteOf("/Owned/OWNED.doc", kLockStatusAttribute), kLockStateLockedByMe);
  EXPECT_EQ(byteOf("/NoLocking/NOLOCK1.doc", kLockStatusAttribute), kLockStateLockingUnavailable);
  // A share folder has no record: the name is an ordinary attribute there.
  EXPECT_EQ(::getxattr(harness.at("/Projects").c_str(), std::string(kLockStatusAttribute).c_str(), nullptr, 0), -1);
  EXPECT_EQ(errno, ENODATA);
}

TEST_F(StatusAttributesTest, ReservedValuesAreOneByteForEveryReader) {
  add("F1", "a.txt", 0);
  ASSERT_TRUE(harness.mount());
  const std::string path = harness.at("/Projects/a.txt");
  const std::string name(kOverlayIconAttribute);

  // Asking for the length first, as getfattr does.
  EXPECT_EQ(::getxattr(path.c_str(), name.c_str(), nullptr, 0), 1);
  EXPECT_EQ(::getxattr(harness.at("/").c_str(), name.c_str(), nullptr, 0), -1);
  EXPECT_EQ(errno, ENODATA);
  const CommandResult tool =
      run("getfattr --absolute-names --only-values -n " + std::string(kWriteAccessAttribute) + " " + path);
  EXPECT_EQ(tool.status, 0) << tool.output;
  EXPECT_EQ(tool.output, "1");
}

} // namespace
} // namespace orvex::test
