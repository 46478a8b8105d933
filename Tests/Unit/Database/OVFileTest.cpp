// The file record: its defaults and the conversions from and to the service's
// remote node record.
#include "Store/OVFile.h"
#include "Sync/OVVirtualFile.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

OVVirtualFile remoteFile() {
  OVVirtualFile remote;
  remote.ShareId = "S1";
  remote.InternalName = "n1";
  remote.ParrentId = "S1";
  remote.PublicName = "report.txt";
  remote.IsFile = true;
  remote.EndOfFile = 100;
  return remote;
}

TEST(OVFileTest, FreshRecordHasUnknownTicksAndIsANewFileStampedNow) {
  ManualClock clock;
  OVFile file(clock);
  EXPECT_EQ(file.tick, kUnknownTick);
  EXPECT_EQ(file.createTick, kUnknownTick);
  EXPECT_EQ(file.status, kFileStatusNew);
  EXPECT_TRUE(file.isFile);
  EXPECT_EQ(file.permissions, 0u);
  EXPECT_EQ(file.createTime, OVDate{clock.wallNow()});
  EXPECT_EQ(file.modifyTime, OVDate{clock.wallNow()});
}

TEST(OVFileTest, RemoteRecordBecomesSynchronizedNode) {
  auto remote = remoteFile();
  remote.FilehHash = "h";
  remote.Tick = -1;
  remote.ShareTick = 7;
  OVFile file(remote);
  EXPECT_EQ(file.status, kFileStatusSynchronized);
  EXPECT_EQ(file.fileHash, "h");
  EXPECT_EQ(file.parentId, "S1");
  EXPECT_EQ(file.tick, kUnknownTick);
  EXPECT_EQ(file.shareTick, 7u);
  EXPECT_EQ(file.fileSize, 100u);
}

TEST(OVFileTest, AllocationSizeWinsWhenLargerAsUnsignedValue) {
  auto remote = remoteFile();
  remote.AllocationSize = 4096;
  EXPECT_EQ(OVFile(remote).fileSize, 4096u);
  remote.AllocationSize = 10;
  EXPECT_EQ(OVFile(remote).fileSize, 100u);
  remote.AllocationSize = -1; // all bits set: larger than anything
  EXPECT_EQ(OVFile(remote).fileSize, ~std::uint64_t{0});
}

TEST(OVFileTest, NamesAreStoredDecomposed) {
  auto composed = remoteFile();
  composed.PublicName = "Caf\xC3\xA9";
  auto decomposed = remoteFile();
  decomposed.PublicName = "Cafe\xCC\x81";
  EXPECT_EQ(OVFile(composed).publicName, "Cafe\xCC\x81");
  EXPECT_EQ(OVFile(composed).publicName, OVFile(decomposed).publicName);
  auto nameless = remoteFile();
  nameless.PublicName.reset();
  EXPECT_EQ(OVFile(nameless).publicName, "");
}

TEST(OVFileTest, InvalidUtf8NameIsKeptAsItCame) {
  EXPECT_EQ(decomposedName("a\xFF"), "a\xFF");
}

TEST(OVFileTest, MissingPermissionsDependOnKind) {
  auto folder = remoteFile();
  folder.IsFile = false;
  EXPECT_EQ(OVFile(folder).permissions, 0700u);
  EXPECT_EQ(OVFile(remoteFile()).permissions, 0600u);
  auto withMode = remoteFile();
  withMode.POSIXPermissions = 0644;
  EXPECT_EQ(OVFile(withMode).permissions, 0644u);
}

TEST(OVFileTest, LockFieldsComeFromFileLockOrStayEmpty) {
  OVFile unlocked(remoteFile());
  EXPECT_FALSE(unlocked.isLocked);
  EXPECT_EQ(unlocked.lockDeviceId, "");
  EXPECT_EQ(unlocked.lockTick, 0u);

  auto remote = remoteFile();
  FileLock lock;
  lock.IsLocked = 1;
  lock.DeviceId = "dev";
  lock.LockTime = 42;
  remote.FileLock = lock;
  OVFile locked(remote);
  EXPECT_TRUE(locked.isLocked);
  EXPECT_EQ(locked.lockDeviceId, "dev");
  EXPECT_EQ(locked.lockTick, 42u);
  EXPECT_EQ(locked.lockedBy, "");
}

TEST(OVFileTest, VirtualFileCarriesSizeTwiceAndAlwaysALock) {
  ManualClock clock;
  OVFile file(clock);
  file.internalName = "n1";
  file.fileSize = 12;
  file.permissions = 0600;
  file.tick = kUnknownTick;
  auto remote = file.virtualFile();
  ASSERT_TRUE(remote.EndOfFile && remote.AllocationSize);
  EXPECT_EQ(remote.EndOfFile->asInt64(), 12);
  EXPECT_EQ(remote.AllocationSize->asInt64(), 12);
  EXPECT_EQ(remote.Tick, -1);
  ASSERT_TRUE(remote.FileLock.has_value());
  EXPECT_EQ(remote.FileLock->IsLocked->asInt64(), 0);
  OVFile back(remote);
  EXPECT_EQ(back.internalName, "n1");
  EXPECT_EQ(back.fileSize, 12u);
  EXPECT_EQ(back.modifyTime, file.modifyTime);
}

TEST(OVFileTest, DescriptionNamesTheNode) {
  OVFile file(remoteFile());
  EXPECT_EQ(file.description(),
            "Name: report.txt\n isFile: 1\n size: 100\n status: 0\n internalName: n1\n parentId: S1\n share: S1\n");
}

} // namespace
} // namespace orvex
