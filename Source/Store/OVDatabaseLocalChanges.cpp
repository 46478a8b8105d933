// OVDatabase: the changes the drive and the Finder channel make to nodes.
//
// Every change leaves the node in a pending state for the upload queue. A
// synchronized node first keeps its server-confirmed state as a shadow row
// where the journal event could not be described without it (a content,
// deletion or lock change, a move to a save name). Editors that save by
// writing a new file and moving the old one aside are folded back into one
// node with the old identity, so the server sees a new version of the
// document rather than a new document.
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVCacheEraser.h"
#include "Store/OVDatabase.h"

#include <fmt/format.h>

#include <array>
#include <random>

namespace orvex {
namespace {

constexpr std::uint64_t kFolderAttributes = 16;
constexpr std::uint64_t kFileAttributes = 128;
constexpr const char* kBlockMarker = "block";

// A locally created node's identity: a random (version 4) UUID in lower case,
// without its dashes. The server takes it as the item's id.
std::string newInternalName() {
  std::random_device random;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t word = random();
    for (std::size_t j = 0; j < 4; ++j) {
      bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40); // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += fmt::format("{:02x}", byte);
  }
  return text;
}

// A signed share tick widened as stored ticks are: -1 (never caught up) becomes "unknown".
std::uint64_t widenedTick(std::int32_t tick) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(tick));
}

// The temporary folders a document framework creates while it saves.
bool hasSavingMarker(std::string_view name) {
  return name.find(kDocumentSavedBy) != std::string_view::npos;
}

// Names that stay on this computer: the drive's ignore rule and save folders.
bool isLocalOnlyName(const std::string& name, bool isFolder) {
  return OVFuseUtils::isPathIgnored(name, isFolder) || hasSavingMarker(name);
}

OVFile newNode(const std::string& name, const ManagedShare& share, const std::string& parentId, bool isDir,
               const Clock& clock, std::string user) {
  OVFile file(clock);
  file.publicName = name;
  file.shareId = share.ShareId.value_or("");
  file.internalName = newInternalName();
  file.parentId = parentId;
  file.parentShareId = share.ParentShareId.value_or("");
  file.user = std::move(user);
  file.tick = kUnknownTick;
  file.shareTick = file.updateTick = file.createTick = widenedTick(share.LastApplyedJournalTick);
  file.attributes = isDir ? kFolderAttributes : kFileAttributes;
  file.isFile = !isDir;
  file.deleted = false;
  file.permissions = isDir ? kDefaultFolderPermissions : kDefaultFilePermissions;
  return file;
}

} // namespace

// ---- Collaborators ------------------------------------------------------------

void OVDatabase::setUploadTracker(OVUploadTracker* tracker) {
  uploadTracker_ = tracker != nullptr ? tracker : &noUploadQueue_;
}

void OVDatabase::setDownloadTracker(OVDownloadTracker* tracker) {
  downloadTracker_ = tracker != nullptr ? tracker : &noDownloadQueue_;
}

void OVDatabase::setOpenFileBookkeeping(OVOpenFileBookkeeping* bookkeeping) {
  openFiles_ = bookkeeping != nullptr ? bookkeeping : &noOpenFiles_;
}

void OVDatabase::setFinderRefresher(OVFinderRefresher* refresher) {
  finderRefresher_ = refresher != nullptr ? refresher : &noFinderChannel_;
}

void OVDatabase::setPathChangeListener(OVPathChangeListener* listener) {
  pathChangeListener_ = listener != nullptr ? listener : &noMountedDrive_;
}

void OVDatabase::setUserEmail(UserEmail userEmail) {
  std::lock_guard lock(userEmailMutex_);
  userEmail_ = std::move(userEmail);
}

std::string OVDatabase::userEmail() const {
  UserEmail source;
  {
    std::lock_guard lock(userEmailMutex_);
    source = userEmail_;
  }
  return source ? source() : std::string();
}

// ---- Helpers --------------------------------------------------------------------

OVFile OVDatabase::storedFile(const OVFile& file) {
  return fileWithId(file.internalName, false).value_or(file);
}

void OVDatabase::saveShadow(const OVFile& file) {
  // A node has one shadow. When a node already waiting for the server's
  // confirmation (4) changes again, its row is the newest state the server
  // was sent, and it replaces the older shadow instead of joining it.
  deleteFileShadow(file.internalName);
  addFile(file, kFileStatusShadow);
}

OVFile OVDatabase::replaceWithSafeSave(const OVFile& oldFile, OVFile& newFile) {
  openFiles().fileWasModified(oldFile);
  openFiles().fileWasModified(newFile);
  exchangeOldFile(oldFile, newFile);
  openFiles().exchangeFileId(oldFile.internalName, newFile.internalName);
  return storedFile(oldFile);
}

std::optional<OVFile> OVDatabase::safeSaveTarget(const std::string& id, const OVFile& created) {
  const bool hasShadow = fileWithId(id, true).has_value();
  auto previous = fileWithId(id, false);
  if (hasShadow && previous && previous->isFile == created.isFile && !previous->deleted) {
    return previous;
  }
  if (hasShadow) {
    OVLog(kLogMain, "Warning! Found previd {}, but there is no file with this id.", id);
  } else {
    OVLog(kLogMain, "Warning! Found previd {}, but there is no shadow with this id.", id);
  }
  return std::nullopt;
}

// ---- Creating ---------------------------------------------------------------------

std::optional<OVFile> OVDatabase::createFile(const std::string& name, const std::string& shareId,
                                             const std::string& parentId) {
  return createFileItem(name, shareId, parentId, false);
}

std::optional<OVFile> OVDatabase::createFolder(const std::string& name, const std::string& shareId,
                                               const std::string& parentId) {
  return createFileItem(name, shareId, parentId, true);
}

std::optional<OVFile> OVDatabase::createFileItem(const std::string& name, const std::string& shareId,
                                                 const std::string& parentId, bool isDir) {
  ManagedSharePtr share = shareWithId(shareId);
  if (!share) {
    OVLog(kLogMain, "Warning! Got request to create new file/folder but no share with id {} is found.", shareId);
    return std::nullopt;
  }
  OVFile file = newNode(name, *share, parentId, isDir, clock_, userEmail());
  auto parent = fileWithId(parentId, false);
  const bool localOnly = isLocalOnlyName(name, isDir) || (parent && isLocalOnlyName(parent->publicName, isDir));
  file.status = localOnly ? kFileStatusIgnored : kFileStatusNew;
  if (file.isFile) {
    cacheEraser_.createCacheFile(file);
  }

  // An editor moved the document aside (keeping its confirmed state as a
  // shadow under this name) and now writes the new version under the name:
  // the old node takes the new content and keeps its identity.
  if (!hasSavingMarker(name)) {
    if (auto previousId = idOfFileNamed(name, parentId, true)) {
      if (auto previous = safeSaveTarget(*previousId, file)) {
        return replaceWithSafeSave(*previous, file);
      }
    }
  }

  openFiles().fileWasModified(file);
  addFile(file, file.status);
  refreshFile(file);
  return file;
}

// ---- Renaming and moving ------------------------------------------------------------

OVFile OVDatabase::renameFile(const OVFile& file, const std::string& newName,
                              const std::optional<std::string>& newParent) {
  clearAllPathCaches(file);
  const std::string parentId = newParent.value_or(file.parentId);
  if (newName == file.publicName && parentId == file.parentId) {
    return file;
  }

  // Moving onto a node of the same kind is a save that replaces it. The name
  // may also be the node's own shadow (moved to a save name and back): that
  // is a plain rename, since exchanging a node with itself would delete its content.
  if (auto targetId = idOfFileNamed(newName, parentId, true); targetId && *targetId != file.internalName) {
    auto target = fileWithId(*targetId, false);
    if (target && target->isFile == file.isFile) {
      OVFile moved = file;
      if (moved.status == kFileStatusIgnored) {
        moved.status = kFileStatusNew;
      }
      moved.publicName = newName;
      moved.parentId = parentId;
      return replaceWithSafeSave(*target, moved);
    }
  }

  const bool ignored = OVFuseUtils::isPathIgnored(newName, !file.isFile);
  std::uint64_t status = file.status;
  if (file.status == kFileStatusNew && ignored) {
    status = kFileStatusIgnored;
  } else if (file.status == kFileStatusIgnored && !ignored) {
    status = kFileStatusNew;
  } else if (file.status == kFileStatusSynchronized || file.status == kFileStatusUploaded) {
    status = kFileStatusChanged;
    // Under a save name the node is about to be replaced; the shadow keeps
    // the name and place a new file must take over to become this node again.
    if (OVFuseUtils::isTempFile(newName) || OVFuseUtils::isHiddenFile(newName)) {
      saveShadow(file);
    }
  }

  if (status == file.status) {
    doUpdateQuery("UPDATE files SET publicName = ?, parentId = ?, shareId = ? WHERE internalName = ? AND status = ?",
                  {newName, parentId, file.shareId, file.internalName, file.status});
  } else {
    doUpdateQuery(
        "UPDATE files SET publicName = ?, parentId = ?, shareId = ?, status = ? WHERE internalName = ? AND status = ?",
        {newName, parentId, file.shareId, status, file.internalName, file.status});
  }
  OVFile renamed = file;
  renamed.publicName = newName;
  renamed.parentId = parentId;
  renamed.status = status;
  openFiles().fileWasModified(renamed);
  refreshFile(renamed);
  if (parentId != file.parentId) {
    finderRefresher().refreshFinderFolders({file.parentId}); // the folder it left
  }
  return storedFile(renamed);
}

void OVDatabase::exchangeOldFile(const OVFile& oldFile, OVFile& newFile) {
  if (oldFile.internalName == newFile.internalName) {
    OVLog(kLogMain, "Error! Cannot exchange file {} with itself.", oldFile.internalName);
    return;
  }
  OVFile old = oldFile;
  const OVFile created = newFile;
  if (old.isFile || created.isFile) {
    cacheEraser_.exchangeFileCaches(old, created);
  }
  doUpdateQuery("DELETE FROM files WHERE (internalName = ? OR internalName = ?) AND status != 5",
                {old.internalName, created.internalName});

  old.publicName = created.publicName;
  old.uploadName = created.uploadName;
  old.parentId = created.parentId;
  old.user = created.user;
  old.fileHash = created.fileHash;
  old.fileSize = created.fileSize;
  old.createTime = created.createTime;
  old.accessTime = created.accessTime;
  old.modifyTime = created.modifyTime;
  old.attributes = created.attributes;
  old.permissions = created.permissions;
  old.deleted = created.deleted;
  old.isFile = created.isFile;
  old.status = old.isFile ? kFileStatusModified : kFileStatusChanged;

  newFile.publicName = oldFile.publicName;
  newFile.parentId = oldFile.parentId;
  newFile.fileHash = oldFile.fileHash;
  newFile.fileSize = oldFile.fileSize;
  newFile.deleted = oldFile.deleted;
  newFile.isFile = oldFile.isFile;
  newFile.uploadName.clear();

  clearCacheForId(old.internalName);
  clearCacheForId(created.internalName);
  addFile(old, old.status);
  if (!created.isFile) {
    // The replacing folder's content stays with it: without this its
    // children would hang below an id that no longer exists and vanish.
    doUpdateQuery("UPDATE files SET parentId = ? WHERE parentId = ? AND status != 5",
                  {old.internalName, created.internalName});
  }
}

// ---- Removing -------------------------------------------------------------------------

void OVDatabase::removeFile(const OVFile& file, bool andCache, bool forceDelete) {
  clearAllPathCaches(file);
  if (forceDelete || file.status == kFileStatusNew || file.status == kFileStatusIgnored) {
    deleteFile(file.internalName); // never sent, or dropped outright by the caller
  } else {
    if (file.status == kFileStatusSynchronized) {
      saveShadow(file);
    }
    doUpdateQuery("UPDATE files SET deleted = 1, status = 3 WHERE internalName = ? AND status != 5",
                  {file.internalName});
  }
  if (file.isFile) {
    deleteFileDownload(file);
    if (andCache) {
      cacheEraser_.deleteFileCache(file);
    }
  }
  OVFile removed = file;
  removed.deleted = true;
  refreshFile(removed);
  if (!forceDelete) {
    uploadTracker().cancelUpload(removed);
    openFiles().fileWasModified(removed);
    uploadTracker().uploadsAdded(); // so that the deletion is sent
  }
}

void OVDatabase::removeFolderRecursive(const OVFile& folder) {
  std::set<std::string> visited;
  removeFolderRecursive(folder, visited);
}

void OVDatabase::removeFolderRecursive(const OVFile& folder, std::set<std::string>& visited) {
  if (!visited.insert(folder.internalName).second) {
    return;
  }
  for (const std::string& childId : fileIdsWithParent(folder.internalName)) {
    auto child = fileWithId(childId, false);
    if (!child) {
      continue;
    }
    if (child->isFile) {
      removeFile(*child, true);
    } else {
      removeFolderRecursive(*child, visited);
    }
  }
  removeFile(folder, true);
}

// ---- Content and lock changes ------------------------------------------------------------

void OVDatabase::markFileUpdated(const OVFile& file) {
  const SqlValues values{file.fileSize, file.modifyTime, file.deleted, file.internalName, file.status};
  switch (file.status) {
    case kFileStatusSynchronized:
      if (auto stored = fileWithId(file.internalName, false)) {
        saveShadow(*stored);
      }
      [[fallthrough]];
    case kFileStatusChanged:
    case kFileStatusUploaded:
      doUpdateQuery(
          "UPDATE files SET fileSize = ?, modifyTime = ?, deleted = ?, status = 2 WHERE internalName = ? AND status = "
          "?",
          values);
      break;
    default:
      doUpdateQuery("UPDATE files SET fileSize = ?, modifyTime = ?, deleted = ? WHERE internalName = ? AND status = ?",
                    values);
  }
}

void OVDatabase::updateFileLockStatus(const OVFile& file) {
  if (file.status != kFileStatusSynchronized && file.status != kFileStatusUploaded) {
    updateFileLockStatusAndStatusUnChanged(file);
    return;
  }
  if (auto stored = fileWithId(file.internalName, false)) {
    saveShadow(*stored);
  }
  doUpdateQuery(
      "UPDATE files SET isLocked = ?, lockDeviceId = ?, lockTick = ?, lockedBy = ?, status=3 WHERE internalName = ? "
      "AND "
      "status = ?",
      {file.isLocked, file.lockDeviceId, file.lockTick, file.lockedBy, file.internalName, file.status});
}

// ---- Moving a folder to another share ---------------------------------------------------------

void OVDatabase::changeFilesShareIdInFolderRecursive(const OVFile& folder, const std::string& newShareId) {
  std::set<std::string> visited;
  changeFilesShareIdInFolderRecursive(folder, newShareId, visited);
}

void OVDatabase::changeFilesShareIdInFolderRecursive(const OVFile& folder, const std::string& newShareId,
                                                     std::set<std::string>& visited) {
  if (!visited.insert(folder.internalName).second) {
    return;
  }
  // Keeps the temp area's clean-up away from the folder while it moves.
  blockMap().set(folder.internalName, kBlockMarker);
  updateFileWithId(folder.internalName, newShareId, std::string());
  OVFile moved = folder;
  moved.status = kFileStatusNew;
  moved.shareId = newShareId;
  uploadTracker().upload(moved);

  for (const std::string& childId : fileIdsWithParent(folder.internalName)) {
    auto child = fileWithId(childId, false);
    if (!child) {
      continue;
    }
    if (!child->isFile) {
      changeFilesShareIdInFolderRecursive(*child, newShareId, visited);
      continue;
    }
    updateFileWithId(child->internalName, newShareId, std::uint64_t{kFileStatusNew});
    cacheEraser_.moveFileCacheWithId(child->internalName, child->shareId, newShareId);
    child->status = kFileStatusNew;
    child->shareId = newShareId;
    uploadTracker().upload(*child);
  }
}

void OVDatabase::refreshFile(const OVFile& file) {
  if (file.status != kFileStatusIgnored) {
    // A folder holds the nodes of one share: it takes the share of what was put into it.
    updateFileWithId(file.parentId, file.shareId, file.parentShareId);
  }
  finderRefresher().refreshFinderFolders({file.parentId});
}

} // namespace orvex
