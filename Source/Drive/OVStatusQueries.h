// The four reserved extended attributes, answered on the fly from the store,
// the transfer queues and the login: the sync badge of an item, whether its
// folder may be written, whether it is ever uploaded, and who holds its lock.
// The file manager plug-in reads them for every visible item.
#pragma once

#include "Dispatch/Clock.h"
#include "Store/OVFile.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class OVDatabase;
class OVDriveAccount;
class OVDriveDownloadStatus;
class OVDriveUploadStatus;

inline constexpr std::string_view kOverlayIconAttribute = "com.orvex.clouddrive-osx.overlayicon";
inline constexpr std::string_view kWriteAccessAttribute = "com.orvex.clouddrive-osx.writeaccess";
inline constexpr std::string_view kFileStatusAttribute = "com.orvex.clouddrive-osx.filestatus";
inline constexpr std::string_view kLockStatusAttribute = "com.orvex.clouddrive-osx.lockstatus";

// Sync badge values (also the file manager's badge numbers).
enum OVSyncState : std::uint8_t {
  kSyncStateNone = 0,
  kSyncStateDownloaded = 1,
  kSyncStateNotDownloaded = 2,
  kSyncStateSyncing = 3,
  kSyncStateSyncedFolder = 4,
  kSyncStateSyncedFolderPending = 5,
};

// Lock badge values.
enum OVLockState : std::uint8_t {
  kLockStateUnlocked = 0,
  kLockStateLockedByMe = 1,
  kLockStateLockedByOther = 2,
  kLockStateLockingUnavailable = 10,
};

// Called from the drive's worker threads, concurrently. File answers take no
// lock of their own; the folder answer holds folderMutex_ for its whole run,
// because it asks both queues and the store about every path below a folder
// and a burst of such questions must not pile up in parallel.
class OVStatusQueries {
 public:
  OVStatusQueries(OVDatabase& database, OVDriveDownloadStatus& downloads, OVDriveUploadStatus& uploads,
                  OVDriveAccount& account, Clock& clock);

  // `record` is the node at `path`, or nothing for a share folder or a path without one.
  std::uint8_t overlayIcon(const std::string& path, const std::optional<OVFile>& record);
  // '0' when the share holding the path's parent folder is read-only, else '1'.
  char writeAccess(const std::string& path);
  // 0 for a name the drive ignores (never uploaded), else 1.
  std::uint8_t fileStatus(const std::string& path, const std::optional<OVFile>& record);
  // The lock state of a node; `path` finds its share when the node names none we know.
  std::uint8_t lockStatus(const std::string& path, const OVFile& record);

 private:
  std::uint8_t fileOverlay(const OVFile& file);
  std::uint8_t folderOverlay(const std::string& path);

  // Constant after construction.
  OVDatabase& database_;
  OVDriveDownloadStatus& downloads_;
  OVDriveUploadStatus& uploads_;
  OVDriveAccount& account_;
  Clock& clock_;

  std::mutex folderMutex_; // held for each folder answer; guards no data
};

} // namespace orvex
