// The share store: every share of every domain the user belongs to, each with
// a folder name at the root of the drive that no other share has (ignoring
// case and Unicode composition), persisted in "shares.db" in the metadata
// folder, with one cache folder per share.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/MainQueue.h"
#include "Dispatch/SerialQueue.h"
#include "Dispatch/TimerHandle.h"
#include "Store/OVShareStore.h"
#include "Sync/ManagedShare.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class OVFileCache;
struct ClientLoginResponse;
struct SharingCompany;
struct OVShareStoreFileContent;

// Threads: every member may be called from any thread. Profile merges arrive
// on several threads at once, lookups come from the drive's threads.
// Locks, in the order they may be taken: storageLock_ (recursive, because a
// merge calls lookups and createFolderForShare while holding it; guards both
// maps and the flags below it), then saveTimerMutex_ (the pending delayed
// save). Neither is held while the two handlers are called. The cache folder
// of a deleted share is renamed aside at once and removed on cleanupQueue_.
// The delayed save runs on the main queue; the store must be destroyed on the
// main thread or after the main queue has stopped running jobs.
class OVMetadataStorage final : public OVShareStore {
 public:
  // A burst of changes within this time is written once.
  static constexpr std::chrono::seconds kSaveDelay{5};

  // The file is "shares.db" in the cache's metadata folder. Nothing is read
  // until load().
  OVMetadataStorage(OVFileCache& fileCache, MainQueue& mainQueue, Clock& clock = Clock::system());
  ~OVMetadataStorage() override;

  // Both are set while wiring the application, before the store is shared.
  // Called after every profile merge: the file manager should re-read the drive's root.
  void setRootFolderChangedHandler(std::function<void()> handler);
  // The download queue's re-check of automatic downloads.
  void setAutomaticDownloadsCheck(std::function<void()> check);

  // The path key: `path` in Unicode canonical decomposition, then lower case.
  static std::string keyFromPath(std::string_view path);
  const std::filesystem::path& storeFilePath() const { return storeFile_; }

  // Makes the share's cache folder unless it is there; failures are logged.
  void createFolderForShare(const ManagedShare& share) const;
  // Waits until the removals of cache folders started so far have finished.
  void finishFolderRemovals();

  // OVShareStore.
  void load() override;
  void save() override;
  void saveDelayed() override;
  void saveDelayedAndRecheckAutomaticDownloadsWhenDone() override;
  void clear() override;
  bool storageEmpty() const override;

  std::vector<ManagedSharePtr> shares() const override;
  ManagedSharePtr shareWithId(std::string_view shareId) const override;
  ManagedSharePtr shareWithPath(std::string_view path) const override;
  ManagedSharePtr shareWithFilePath(std::string_view path) const override;
  ManagedSharePtr shareWithInternalName(std::string_view internalName) const override;
  std::vector<ManagedSharePtr> subfolderSharesForShareId(std::string_view shareId) const override;

  void updateSharesForDomain(const ClientLoginResponse& profile, const std::string& domain) override;
  bool renameShare(const ManagedShare& share, const std::string& newName) override;
  void deleteShareData(const ManagedShare& share) override;
  void deleteDomainShares(const std::vector<std::string>& domains) override;
  bool setLastApplyedJournalTick(std::string_view shareId, std::int32_t tick) override;
  bool setModificationDate(std::string_view shareId, OVDate date) override;

  std::string globalLoginResponce() const override;
  void setGlobalLoginResponce(const std::string& value) override;

 private:
  using Lock = std::lock_guard<std::recursive_mutex>;
  using ShareMap = std::map<std::string, ManagedSharePtr, std::less<>>;

  // Every function named ...Locked expects storageLock_ held by the caller.

  // The two maps change only through these two, so they always hold the same shares.
  void registerShareLocked(ManagedSharePtr share);
  ManagedSharePtr unregisterShareLocked(std::string_view shareId);
  // Replaces a known share by a changed copy; false when it is not known.
  bool changeShareLocked(std::string_view shareId, const std::function<void(ManagedShare&)>& change);
  // True when a share's folder is named `name` (or the temporary-files share's folder would be).
  bool nameTakenLocked(std::string_view name) const;
  // `wanted`, or "<wanted> (2)", "<wanted> (3)", ... whichever is free first.
  std::string freeNameLocked(const std::string& wanted) const;
  void recreateTempShareLocked();
  void deleteShareDataLocked(const ManagedShare& share);
  void mergeShareLocked(const ManagedShare& received, const std::vector<SharingCompany>& companies,
                        const std::string& domain, ShareMap& stale);
  std::string renamedRemotelyLocked(const ManagedShare& old, const ManagedShare& received) const;
  // Reads the file into the maps; answers whether it held shares at all.
  bool readStoreFileLocked();
  // False when the entry was not kept because it was unusable.
  bool loadShareLocked(const std::string& json);
  void keepStoreFileAsideLocked(bool copy, const std::string& why);
  OVShareStoreFileContent fileContentLocked() const;
  // Moves the share's cache folder out of the way now and removes it on cleanupQueue_.
  void removeShareFolder(const ManagedShare& share);
  OVDate now() const;

  // Constant after construction (the handlers once set while wiring).
  OVFileCache& fileCache_;
  MainQueue& mainQueue_;
  Clock& clock_;
  const std::filesystem::path storeFile_;
  std::function<void()> rootFolderChanged_;
  std::function<void()> automaticDownloadsCheck_;

  mutable std::recursive_mutex storageLock_;
  ShareMap shares_;                        // guarded by storageLock_; by ShareId
  ShareMap sharesByPath_;                  // guarded by storageLock_; by keyFromPath("/" + DisplayName)
  bool storageEmpty_ = true;               // guarded by storageLock_
  std::string globalLoginResponce_;        // guarded by storageLock_
  bool recheckAutomaticDownloads_ = false; // guarded by storageLock_
  // Set when "shares.db" could neither be read nor kept aside: writing would
  // destroy the only copy of what it holds. Guarded by storageLock_.
  bool writeBlocked_ = false;

  std::mutex saveTimerMutex_;
  TimerHandle pendingSave_; // guarded by saveTimerMutex_

  // Last: destroyed first, finishing the removals it was given.
  SerialQueue cleanupQueue_;
};

} // namespace orvex
