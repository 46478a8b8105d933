#include "Drive/OVStatusQueries.h"

#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"

#include <chrono>

namespace orvex {
namespace {

// Folder answers slower than this are logged: the desktop asks for every
// visible folder, and a slow queue shows up here first.
constexpr std::chrono::milliseconds kSlowFolderStatus(100);

} // namespace

OVStatusQueries::OVStatusQueries(OVDatabase& database, OVDriveDownloadStatus& downloads, OVDriveUploadStatus& uploads,
                                 OVDriveAccount& account, Clock& clock)
    : database_(database), downloads_(downloads), uploads_(uploads), account_(account), clock_(clock) {}

std::uint8_t OVStatusQueries::overlayIcon(const std::string& path, const std::optional<OVFile>& record) {
  if (record && record->isFile)
    return fileOverlay(*record);
  return folderOverlay(path);
}

std::uint8_t OVStatusQueries::fileOverlay(const OVFile& file) {
  if (downloads_.isFileDownloaded(file) || file.fileSize == 0)
    return uploads_.isFileInUploadQueue(file) ? kSyncStateSyncing : kSyncStateDownloaded;
  if (uploads_.isFileInUploadQueue(file) || downloads_.isFileInQueue(file))
    return kSyncStateSyncing;
  return kSyncStateNotDownloaded;
}

std::uint8_t OVStatusQueries::folderOverlay(const std::string& path) {
  std::lock_guard lock(folderMutex_);
  const auto start = clock_.steadyNow();
  std::uint8_t state = kSyncStateNone;
  if (downloads_.pathIsSynchronized(path)) {
    if (downloads_.pathHasDownloads(path) || uploads_.pathHasUploads(path))
      state = kSyncStateSyncedFolderPending;
    else if (!database_.syncedFolders().empty())
      state = kSyncStateSyncedFolder;
  } else if (uploads_.pathHasUploads(path) || downloads_.pathHasDownloads(path)) {
    state = kSyncStateSyncing;
  }
  const auto took = clock_.steadyNow() - start;
  if (took > kSlowFolderStatus)
    OVLog(kLogMain, "check sync status for path {} took -> {:f}", path, std::chrono::duration<double>(took).count());
  return state;
}

char OVStatusQueries::writeAccess(const std::string& path) {
  ManagedSharePtr share = database_.shareWithPath(OVFuseUtils::parentPath(path));
  return share && share->isReadOnly() ? '0' : '1';
}

std::uint8_t OVStatusQueries::fileStatus(const std::string& path, const std::optional<OVFile>& record) {
  const bool isFolder = record && !record->isFile;
  return OVFuseUtils::isPathIgnored(path, isFolder) ? 0 : 1;
}

std::uint8_t OVStatusQueries::lockStatus(const std::string& path, const OVFile& record) {
  ManagedSharePtr share = database_.shareWithId(record.shareId);
  if (!share)
    share = database_.shareWithPath(OVFuseUtils::parentPath(path));
  if (!account_.lockAvailableForShare(share))
    return kLockStateLockingUnavailable;
  if (!record.isLocked)
    return kLockStateUnlocked;
  const std::string email = account_.loggedUserEmail();
  const bool mine = !database_.isFileLockedRemotely(record) || (!email.empty() && record.lockedBy == email) ||
                    (share && (share->AssociationType == 2 || share->isOwned()));
  return mine ? kLockStateLockedByMe : kLockStateLockedByOther;
}

} // namespace orvex
