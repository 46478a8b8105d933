// Folders and shares: downloading a subtree, keeping folders and shares
// available offline, the synced paths of the badges, and the expiry of
// downloaded contents.
#include "OVLogger.h"
#include "OVSettings.h"
#include "Store/OVDatabase.h"
#include "Transfers/OVDownloadQueue.h"

namespace orvex {

namespace {

using Seconds = std::chrono::duration<double>;
constexpr Seconds kSlowWalk{0.1};
// With the setting 0, downloads stay this many hours.
constexpr std::int64_t kShortestKeepHours = 4;

// Logs `what` with its duration when the walk since `start` was slow.
void logIfSlow(const Clock& clock, Clock::SteadyTime start, const char* what) {
  const Seconds took = clock.steadyNow() - start;
  if (took > kSlowWalk) {
    OVLog(kLogMain, "{} took -> {:f}", what, took.count());
  }
}

// The folder id whose subtree a share stands for.
std::string rootIdOfShare(const ManagedShare& share) {
  if (share.isSubfolderShare() && share.InternalName) {
    return *share.InternalName;
  }
  return share.ShareId.value_or(std::string());
}

} // namespace

std::set<std::string> OVDownloadQueue::folderWithSubfolders(const std::string& folderId) {
  std::set<std::string> ids{folderId};
  for (auto& id : parts_.database.allSubfolderIds(folderId)) {
    ids.insert(std::move(id));
  }
  return ids;
}

void OVDownloadQueue::downloadFolder(const OVFile& folder) {
  downloadFilesUnderParent(folder.internalName, true);
}

void OVDownloadQueue::downloadShare(const ManagedShare& share) {
  downloadFilesUnderParent(rootIdOfShare(share), true);
}

void OVDownloadQueue::downloadFilesUnderParent(const std::string& folderId, bool manually) {
  downloadFolders(folderWithSubfolders(folderId), manually);
}

void OVDownloadQueue::downloadFolders(const std::set<std::string>& folderIds, bool manually) {
  const auto start = parts_.clock.steadyNow();
  for (const auto& folderId : folderIds) {
    for (const auto& child : parts_.database.filesWithParent(folderId)) {
      if (child.isFile && !isFileDownloaded(child)) {
        downloadFile(child, manually);
      }
    }
  }
  logIfSlow(parts_.clock, start, "download started for folders");
}

void OVDownloadQueue::cancelDownloadForFolders(const std::set<std::string>& folderIds) {
  const auto start = parts_.clock.steadyNow();
  std::vector<OVFile> files;
  for (const auto& folderId : folderIds) {
    parts_.database.markItemSynchronized(folderId, false);
    auto children = parts_.database.filesWithParent(folderId);
    files.insert(files.end(), children.begin(), children.end());
  }
  cancelFilesDownload(files);
  logIfSlow(parts_.clock, start, "canceling file downloads");
}

void OVDownloadQueue::checkAutomaticDownloads() {
  updateSyncedPathes();
  automaticQueue_.async([this] { runAutomaticDownloads(); });
}

void OVDownloadQueue::runAutomaticDownloads() {
  const std::lock_guard lock(automaticMutex_);
  const auto start = parts_.clock.steadyNow();
  std::set<std::string> ids;
  for (auto id : parts_.database.syncedFolders()) {
    ids.insert(id);
    if (const auto share = parts_.database.shareWithId(id); share && share->isSubfolderShare() && share->InternalName) {
      id = *share->InternalName;
      ids.insert(id);
    }
    for (auto& subfolder : parts_.database.allSubfolderIds(id)) {
      ids.insert(std::move(subfolder));
    }
  }
  downloadFolders(ids, false);
  logIfSlow(parts_.clock, start, "checked automatic downloads");
}

void OVDownloadQueue::changeSycStatus(const std::string& itemId, bool synced) {
  parts_.database.markItemSynchronized(itemId, synced);
  updateSyncedPathes();
}

void OVDownloadQueue::refreshSyncStatus(const OVFile& folder) {
  if (folder.isFile) {
    return;
  }
  if (parts_.database.itemSynchronized(folder.internalName, true)) {
    downloadFilesUnderParent(folder.internalName, false);
  } else {
    cancelDownloadForFolders(folderWithSubfolders(folder.internalName));
  }
}

void OVDownloadQueue::refreshShareSyncStatus(const ManagedShare& share) {
  const auto rootId = rootIdOfShare(share);
  if (parts_.database.shareSynchronized(share.ShareId.value_or(std::string()))) {
    downloadFilesUnderParent(rootId, false);
  } else {
    cancelDownloadForFolders(folderWithSubfolders(rootId));
  }
}

// Built without the monitor (it asks the store), then swapped in.
void OVDownloadQueue::updateSyncedPathes() {
  std::set<std::string> paths;
  for (const auto& id : parts_.database.syncedFolders()) {
    if (const auto share = parts_.database.shareWithId(id)) {
      if (share->DisplayName) {
        paths.insert("/" + *share->DisplayName);
      }
      continue;
    }
    const auto folder = parts_.database.fileWithId(id, false);
    if (!folder) {
      continue;
    }
    if (auto path = parts_.database.fullFilePath(*folder)) {
      paths.insert(std::move(*path));
    }
    for (auto& path : parts_.database.allFilePathsFromSubshare(*folder).value_or(std::vector<std::string>{})) {
      if (!path.empty()) {
        paths.insert(std::move(path));
      }
    }
  }
  const std::lock_guard lock(syncedMutex_);
  syncedFolders_ = std::move(paths);
}

void OVDownloadQueue::checkDownloadsToDelete(std::int64_t hours) {
  if (hours == -1) {
    const auto days = parts_.settings.getStoreDownloadedFiles();
    if (days == -1) {
      return; // kept for ever
    }
    hours = days == 0 ? kShortestKeepHours : days * 24;
  }
  const OVDate cutoff = OVDate{parts_.clock.wallNow()} - std::chrono::hours(hours);
  parts_.database.deleteDownloadsOlderThen(cutoff);
}

void OVDownloadQueue::performCheckDownloadsToDelete() {
  expiryQueue_.async([this] { checkDownloadsToDelete(-1); });
  expiryQueue_.after(timings_.expiryInterval, [this] { performCheckDownloadsToDelete(); });
}

} // namespace orvex
