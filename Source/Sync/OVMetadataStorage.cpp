// The share store's maps, lookups, the user's rename, deletions and cache
// folders. The profile merge is in OVMetadataStorageMerge.cpp, the file in
// OVMetadataStorageFile.cpp.
#include "Sync/OVMetadataStorage.h"

#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Platform/SafePathComponent.h"
#include "Store/OVDatabaseConstants.h"
#include "Store/OVFileCache.h"
#include "Sync/ShareNameText.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <string>
#include <system_error>
#include <utility>

namespace orvex {
namespace {

constexpr const char* kStoreFileName = "shares.db";

std::string rootPathOf(const ManagedShare& share) {
  return "/" + share.DisplayName.value_or("");
}

} // namespace

OVMetadataStorage::OVMetadataStorage(OVFileCache& fileCache, MainQueue& mainQueue, Clock& clock)
    : fileCache_(fileCache),
      mainQueue_(mainQueue),
      clock_(clock),
      storeFile_(fileCache.metadataPath() / kStoreFileName),
      cleanupQueue_("com.orvex.clouddrive-osx.shareCleanup", clock) {}

OVMetadataStorage::~OVMetadataStorage() {
  std::lock_guard lock(saveTimerMutex_);
  pendingSave_.cancel();
}

void OVMetadataStorage::setRootFolderChangedHandler(std::function<void()> handler) {
  rootFolderChanged_ = std::move(handler);
}

void OVMetadataStorage::setAutomaticDownloadsCheck(std::function<void()> check) {
  automaticDownloadsCheck_ = std::move(check);
}

std::string OVMetadataStorage::keyFromPath(std::string_view path) {
  return caseAndCompositionKey(path);
}

OVDate OVMetadataStorage::now() const {
  return OVDate{clock_.wallNow()};
}

// ---- Lookups ---------------------------------------------------------------

bool OVMetadataStorage::storageEmpty() const {
  Lock lock(storageLock_);
  return storageEmpty_;
}

std::vector<ManagedSharePtr> OVMetadataStorage::shares() const {
  Lock lock(storageLock_);
  std::vector<ManagedSharePtr> result;
  result.reserve(shares_.size());
  for (const auto& [id, share] : shares_)
    result.push_back(share);
  return result;
}

ManagedSharePtr OVMetadataStorage::shareWithId(std::string_view shareId) const {
  Lock lock(storageLock_);
  auto found = shares_.find(shareId);
  return found == shares_.end() ? nullptr : found->second;
}

ManagedSharePtr OVMetadataStorage::shareWithPath(std::string_view path) const {
  std::string key = keyFromPath(path); // outside the lock: the slow part
  Lock lock(storageLock_);
  auto found = sharesByPath_.find(key);
  return found == sharesByPath_.end() ? nullptr : found->second;
}

ManagedSharePtr OVMetadataStorage::shareWithFilePath(std::string_view path) const {
  if (path.empty())
    return nullptr;
  // The first component with its leading "/": "/Docs/a/b" -> "/Docs".
  return shareWithPath(path.substr(0, path.find('/', 1)));
}

ManagedSharePtr OVMetadataStorage::shareWithInternalName(std::string_view internalName) const {
  Lock lock(storageLock_);
  for (const auto& [id, share] : shares_) {
    if (share->InternalName == internalName)
      return share;
  }
  return nullptr;
}

std::vector<ManagedSharePtr> OVMetadataStorage::subfolderSharesForShareId(std::string_view shareId) const {
  Lock lock(storageLock_);
  std::vector<ManagedSharePtr> result;
  for (const auto& [id, share] : shares_) {
    if (share->isSubfolderShare() && share->ParentShareId == shareId)
      result.push_back(share);
  }
  return result;
}

std::string OVMetadataStorage::globalLoginResponce() const {
  Lock lock(storageLock_);
  return globalLoginResponce_;
}

void OVMetadataStorage::setGlobalLoginResponce(const std::string& value) {
  Lock lock(storageLock_);
  globalLoginResponce_ = value;
}

// ---- The two maps ----------------------------------------------------------

void OVMetadataStorage::registerShareLocked(ManagedSharePtr share) {
  assert(share && share->ShareId);
  unregisterShareLocked(*share->ShareId); // a share is registered once
  sharesByPath_[keyFromPath(rootPathOf(*share))] = share;
  shares_[*share->ShareId] = std::move(share);
}

ManagedSharePtr OVMetadataStorage::unregisterShareLocked(std::string_view shareId) {
  auto found = shares_.find(shareId);
  if (found == shares_.end())
    return nullptr;
  ManagedSharePtr share = found->second;
  shares_.erase(found);
  // Only its own entry: another share may hold the key if the maps were ever inconsistent.
  auto byPath = sharesByPath_.find(keyFromPath(rootPathOf(*share)));
  if (byPath != sharesByPath_.end() && byPath->second == share)
    sharesByPath_.erase(byPath);
  return share;
}

bool OVMetadataStorage::changeShareLocked(std::string_view shareId, const std::function<void(ManagedShare&)>& change) {
  ManagedSharePtr old = unregisterShareLocked(shareId);
  if (!old)
    return false;
  auto changed = std::make_shared<ManagedShare>(*old);
  change(*changed);
  registerShareLocked(std::move(changed));
  return true;
}

bool OVMetadataStorage::setLastApplyedJournalTick(std::string_view shareId, std::int32_t tick) {
  Lock lock(storageLock_);
  return changeShareLocked(shareId, [tick](ManagedShare& share) { share.LastApplyedJournalTick = tick; });
}

bool OVMetadataStorage::setModificationDate(std::string_view shareId, OVDate date) {
  Lock lock(storageLock_);
  return changeShareLocked(shareId, [date](ManagedShare& share) { share.ModificationDate = date; });
}

void OVMetadataStorage::recreateTempShareLocked() {
  auto temp = std::make_shared<ManagedShare>();
  temp->ShareId = std::string(kTempShareId);
  temp->ShareName = std::string(kTempFolder);
  temp->DisplayName = std::string(kTempFolder);
  temp->TransmitCounter = 0;
  temp->CreationDate = now();
  temp->ModificationDate = temp->CreationDate;
  registerShareLocked(std::move(temp));
}

// ---- The user's rename -----------------------------------------------------

bool OVMetadataStorage::renameShare(const ManagedShare& share, const std::string& newName) {
  Lock lock(storageLock_);
  ManagedSharePtr current = share.ShareId ? shareWithId(*share.ShareId) : nullptr;
  if (!current) {
    OVLog(kLogMain, "Warning! Cannot rename share {}: it is not known.", share.DisplayName.value_or(""));
    return false;
  }
  if (newName == current->DisplayName)
    return true;
  if (isBlank(newName))
    return false;
  if (!isSafePathComponent(newName)) {
    OVLog(kLogMain, "Warning! Cannot rename share {} to \"{}\": not a folder name.", current->DisplayName.value_or(""),
          newName);
    return false;
  }
  // Unique among the other shares' names, ignoring case and composition.
  auto takenByOther = [&](const std::string& candidate) {
    std::string key = keyFromPath(candidate);
    for (const auto& [id, other] : shares_) {
      if (other != current && keyFromPath(other->DisplayName.value_or("")) == key)
        return true;
    }
    return false;
  };
  std::string unique = newName;
  for (int suffix = 1; takenByOther(unique); ++suffix)
    unique = newName + std::to_string(suffix);

  const bool sameKey = keyFromPath(unique) == keyFromPath(current->DisplayName.value_or(""));
  if (!sameKey && sharesByPath_.count(keyFromPath("/" + unique)) != 0)
    return false;
  changeShareLocked(*current->ShareId, [&unique](ManagedShare& renamed) { renamed.DisplayName = unique; });
  return true;
}

// ---- Deletions and cache folders ---------------------------------------------

void OVMetadataStorage::deleteShareData(const ManagedShare& share) {
  {
    Lock lock(storageLock_);
    deleteShareDataLocked(share);
  }
  saveDelayed();
}

void OVMetadataStorage::deleteShareDataLocked(const ManagedShare& share) {
  // The stored copy, not the caller's: its folder name may have changed since.
  ManagedSharePtr stored = share.ShareId ? unregisterShareLocked(*share.ShareId) : nullptr;
  removeShareFolder(stored ? *stored : share);
}

void OVMetadataStorage::deleteDomainShares(const std::vector<std::string>& domains) {
  bool deleted = false;
  {
    Lock lock(storageLock_);
    const ShareMap copy = shares_;
    for (const auto& [id, share] : copy) {
      const bool known =
          share->GateWayUrl && std::find(domains.begin(), domains.end(), *share->GateWayUrl) != domains.end();
      if (known || id == kTempShareId)
        continue;
      OVLog(kLogMain, "Deleting share {} data since it is not in user domains anymore.",
            share->DisplayName.value_or(""));
      deleteShareDataLocked(*share);
      deleted = true;
    }
  }
  if (deleted)
    saveDelayed();
}

void OVMetadataStorage::createFolderForShare(const ManagedShare& share) const {
  std::optional<std::filesystem::path> folder = fileCache_.pathForShareCache(share.ShareId.value_or(""));
  if (!folder)
    return; // an id that cannot name a folder; the cache has said so
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::symlink_status(*folder, error);
  if (std::filesystem::exists(status)) {
    if (!std::filesystem::is_directory(status))
      OVLog(kLogMain,
            "Warning! Cannot create cache folder for share {} : file with the same name already exists there.",
            share.DisplayName.value_or(""));
    return;
  }
  std::filesystem::create_directories(*folder, error);
  if (error)
    OVLog(kLogMain, "Warning! Cannot create cache folder for share {} : error {}", share.DisplayName.value_or(""),
          error.message());
}

// The folder is first renamed to a name no share uses, so that a share deleted
// and received again at once gets a fresh folder that the removal cannot touch.
void OVMetadataStorage::removeShareFolder(const ManagedShare& share) {
  std::optional<std::filesystem::path> folder = fileCache_.pathForShareCache(share.ShareId.value_or(""));
  if (!folder)
    return;
  static std::atomic<unsigned> removals{0};
  std::filesystem::path doomed = folder->string() + ".removing-" + std::to_string(++removals);
  if (::renameat2(AT_FDCWD, folder->c_str(), AT_FDCWD, doomed.c_str(), RENAME_NOREPLACE) != 0)
    doomed = *folder; // nothing there, or no rename possible: remove in place
  cleanupQueue_.async([doomed] {
    std::error_code ignored; // the removal's errors are of no consequence
    std::filesystem::remove_all(doomed, ignored);
  });
}

void OVMetadataStorage::finishFolderRemovals() {
  cleanupQueue_.sync([] {});
}

} // namespace orvex
