#include "Store/OVFile.h"

#include "Store/OVSqlite.h"
#include "Sync/OVVirtualFile.h"

#include <fmt/format.h>
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace orvex {

namespace {

// Column order of the `files` table.
enum Column : int {
  kPublicName,
  kShareId,
  kUploadName,
  kInternalName,
  kParentId,
  kUser,
  kHash,
  kTick,
  kShareTick,
  kUpdateTick,
  kCreateTick,
  kFileSize,
  kCreateTime,
  kAccessTime,
  kModifyTime,
  kAttributes,
  kPermissions,
  kDeleted,
  kIsFile,
  kStatus,
  kIsLocked,
  kLockDeviceId,
  kLockTick,
  kLockedBy,
  kParentShareId,
};

// A signed 32-bit value widened as a C assignment would: -1 becomes all bits set.
std::uint64_t widened(std::int32_t value) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
}

} // namespace

std::string decomposedName(const std::string& name) {
  utf8proc_uint8_t* result = nullptr;
  auto length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()), static_cast<utf8proc_ssize_t>(name.size()),
                   &result, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
  if (length < 0) {
    return name; // not valid UTF-8: keep the bytes we were given
  }
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(result, &std::free);
  return {reinterpret_cast<const char*>(result), static_cast<std::size_t>(length)};
}

OVFile::OVFile(const Clock& clock) {
  const OVDate now{clock.wallNow()};
  createTime = now;
  accessTime = now;
  modifyTime = now;
}

OVFile OVFile::fromRow(const SqliteStatement& row) {
  OVFile file{RowTag{}};
  file.publicName = row.text(kPublicName);
  file.shareId = row.text(kShareId);
  file.uploadName = row.text(kUploadName);
  file.internalName = row.text(kInternalName);
  file.parentId = row.text(kParentId);
  file.user = row.text(kUser);
  file.fileHash = row.text(kHash);
  file.tick = static_cast<std::uint64_t>(row.int64(kTick));
  file.shareTick = static_cast<std::uint64_t>(row.int64(kShareTick));
  file.updateTick = static_cast<std::uint64_t>(row.int64(kUpdateTick));
  file.createTick = static_cast<std::uint64_t>(row.int64(kCreateTick));
  file.fileSize = static_cast<std::uint64_t>(row.int64(kFileSize));
  file.createTime = row.date(kCreateTime);
  file.accessTime = row.date(kAccessTime);
  file.modifyTime = row.date(kModifyTime);
  // These three are read back as 32-bit values.
  file.attributes = widened(row.int32(kAttributes));
  file.permissions = static_cast<std::uint64_t>(row.int64(kPermissions));
  file.deleted = row.int64(kDeleted) != 0;
  file.isFile = row.int64(kIsFile) != 0;
  file.status = widened(row.int32(kStatus));
  file.isLocked = row.int64(kIsLocked) != 0;
  file.lockDeviceId = row.text(kLockDeviceId);
  file.lockTick = widened(row.int32(kLockTick));
  file.lockedBy = row.text(kLockedBy);
  file.parentShareId = row.text(kParentShareId);
  return file;
}

OVFile::OVFile(const OVVirtualFile& remote) {
  publicName = remote.PublicName ? decomposedName(*remote.PublicName) : std::string();
  shareId = remote.ShareId.value_or("");
  uploadName = remote.UploadName.value_or("");
  internalName = remote.InternalName.value_or("");
  parentId = remote.ParrentId.value_or("");
  user = remote.User.value_or("");
  fileHash = remote.FilehHash.value_or("");
  parentShareId = remote.ParentShareId.value_or("");
  tick = widened(remote.Tick);
  shareTick = widened(remote.ShareTick);
  updateTick = widened(remote.UpdateTick);
  createTick = widened(remote.CreateTick);
  fileSize = remote.EndOfFile ? remote.EndOfFile->asUInt64() : 0;
  if (remote.AllocationSize && remote.AllocationSize->asUInt64() > fileSize) {
    fileSize = remote.AllocationSize->asUInt64();
  }
  createTime = remote.CreationTime;
  accessTime = remote.LastAccessTime;
  modifyTime = remote.LastWriteTime;
  attributes = remote.Attributes ? remote.Attributes->asUInt64() : 0;
  isFile = remote.IsFile;
  if (remote.POSIXPermissions) {
    permissions = remote.POSIXPermissions->asUInt64();
  } else {
    permissions = isFile ? kDefaultFilePermissions : kDefaultFolderPermissions;
  }
  deleted = remote.Deleted;
  status = kFileStatusSynchronized;
  if (remote.FileLock) {
    const auto& lock = *remote.FileLock;
    isLocked = lock.IsLocked && lock.IsLocked->asInt64() != 0;
    lockDeviceId = lock.DeviceId.value_or("");
    lockTick = lock.LockTime ? lock.LockTime->asUInt64() : 0;
    lockedBy = lock.LockedBy.value_or("");
  }
}

OVVirtualFile OVFile::virtualFile() const {
  OVVirtualFile remote;
  remote.PublicName = publicName;
  remote.ShareId = shareId;
  remote.UploadName = uploadName;
  remote.InternalName = internalName;
  remote.ParrentId = parentId;
  remote.User = user;
  remote.FilehHash = fileHash;
  remote.ParentShareId = parentShareId;
  remote.Tick = static_cast<std::int32_t>(tick);
  remote.ShareTick = static_cast<std::int32_t>(shareTick);
  remote.UpdateTick = static_cast<std::int32_t>(updateTick);
  remote.CreateTick = static_cast<std::int32_t>(createTick);
  remote.EndOfFile = fileSize;
  remote.AllocationSize = fileSize;
  remote.CreationTime = createTime;
  remote.LastAccessTime = accessTime;
  remote.LastWriteTime = modifyTime;
  remote.Attributes = attributes;
  remote.POSIXPermissions = permissions;
  remote.Deleted = deleted;
  remote.IsFile = isFile;
  FileLock lock;
  lock.IsLocked = isLocked ? 1 : 0;
  lock.DeviceId = lockDeviceId;
  lock.LockTime = lockTick;
  lock.LockedBy = lockedBy;
  remote.FileLock = lock;
  return remote;
}

std::string OVFile::description() const {
  return fmt::format("Name: {}\n isFile: {}\n size: {}\n status: {}\n internalName: {}\n parentId: {}\n share: {}\n",
                     publicName, isFile ? 1 : 0, static_cast<std::int64_t>(fileSize), status, internalName, parentId,
                     shareId);
}

} // namespace orvex
