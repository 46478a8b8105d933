// OVDatabase: the single-statement changes of the `files` table that the local
// changes, the merge and the upload queue are built from.
#include "Store/OVDatabase.h"

namespace orvex {

bool OVDatabase::addFile(const OVFile& file, std::uint64_t status) {
  return doUpdateQuery(
      "INSERT INTO files (publicName, shareId, uploadName, internalName, parentId, user, hash, tick, shareTick, "
      "updateTick, createTick, fileSize, createTime, accessTime, modifyTime, attributes, permissions, deleted, isFile, "
      "status, isLocked, lockDeviceId, lockTick, lockedBy, parentShareId)VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
      "?, "
      "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {file.publicName, file.shareId,      file.uploadName, file.internalName, file.parentId,
       file.user,       file.fileHash,     file.tick,       file.shareTick,    file.updateTick,
       file.createTick, file.fileSize,     file.createTime, file.accessTime,   file.modifyTime,
       file.attributes, file.permissions,  file.deleted,    file.isFile,       status,
       file.isLocked,   file.lockDeviceId, file.lockTick,   file.lockedBy,     file.parentShareId});
}

bool OVDatabase::deleteFile(const std::string& internalName) {
  return doUpdateQuery("DELETE FROM files WHERE internalName = ?", {internalName});
}

bool OVDatabase::deleteFile(const std::string& internalName, std::uint64_t tick) {
  return doUpdateQuery("DELETE FROM files WHERE internalName = ? AND tick = ?", {internalName, tick});
}

bool OVDatabase::deleteFileShadow(const std::string& internalName) {
  return doUpdateQuery("DELETE FROM files WHERE internalName = ? AND status = 5", {internalName});
}

bool OVDatabase::deleteFileRecord(const OVFile& file) {
  if (auto path = fullFilePath(file)) {
    clearCacheForPathSingle(*path);
  }
  return deleteFile(file.internalName);
}

bool OVDatabase::markFileUploaded(const OVFile& file) {
  return doUpdateQuery("UPDATE files SET status = 4 WHERE internalName = ? AND status != 5 AND status != 0",
                       {file.internalName});
}

bool OVDatabase::updateParentShareId(const OVFile& file) {
  return doUpdateQuery("UPDATE files SET parentShareId = ? WHERE internalName = ?",
                       {file.parentShareId, file.internalName});
}

bool OVDatabase::updateFileAttributes(const OVFile& file) {
  return doUpdateQuery(
      "UPDATE files SET permissions = ?, modifyTime = ?, accessTime = ? WHERE internalName = ? AND status != 5",
      {file.permissions, file.modifyTime, file.accessTime, file.internalName});
}

bool OVDatabase::updateFileLockStatusAndStatusUnChanged(const OVFile& file) {
  return doUpdateQuery(
      "UPDATE files SET isLocked = ?, lockDeviceId = ?, lockTick = ?, lockedBy = ? WHERE internalName = ? AND "
      "status = ?",
      {file.isLocked, file.lockDeviceId, file.lockTick, file.lockedBy, file.internalName, file.status});
}

bool OVDatabase::updateFileWithId(const std::string& internalName, const std::string& newShareId,
                                  const std::string& newParentShareId) {
  return doUpdateQuery("UPDATE files SET shareId = ?, parentShareId = ? WHERE internalName = ?",
                       {newShareId, newParentShareId, internalName});
}

bool OVDatabase::updateFileWithId(const std::string& internalName, const std::string& newShareId,
                                  std::uint64_t status) {
  return doUpdateQuery("UPDATE files SET shareId = ?, status = ? WHERE internalName = ?",
                       {newShareId, status, internalName});
}

} // namespace orvex
