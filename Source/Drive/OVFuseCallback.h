// The drive's file-system side: one object per mounted drive that the FUSE
// callbacks (orvex_* in OVFuseOperations.cpp) reach through the private data
// of their FUSE context. Each member takes a volume path as the kernel gives
// it, runs it through the temp-folder redirection, asks the store, the cache
// and the transfer queues, and answers what the callback returns: 0 or a
// count on success, a negative errno on failure.
//
// Members are grouped by the file that implements them:
//   OVFuseCallback.cpp    construction, mount hooks, volume statistics, opens
//   OVFuseAttributes.cpp  attributes and directory listings
//   OVFuseXattr.cpp       extended attributes
#pragma once

#include "Dispatch/Clock.h"
#include "Drive/OVAttributeFile.h"
#include "Drive/OVListingSnapshots.h"
#include "Drive/OVStatusQueries.h"
#include "Store/OVFile.h"
#include "Store/OVShareStore.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvex {

class OVDatabase;
class OVDriveAccount;
class OVDriveDownloadStatus;
class OVDriveUploadStatus;
class OVFileCache;

// Threads: every member except setMountHooks may run on any of FUSE's worker
// threads at once. The collaborators, the status queries, the attribute files
// and the listing snapshots guard their own state; the object's own shared
// state is the set of names already reported (guarded by reportedMutex_) and
// the mount hooks (guarded by hooksMutex_). The collaborators must outlive the
// object, and the object every mount of it.
class OVFuseCallback {
 public:
  struct Config {
    // The verbose per-call lines, written only while "OVExcessiveLogging" is set.
    bool excessiveLogging = false;
  };

  OVFuseCallback(OVDatabase& database, OVFileCache& cache, OVDriveDownloadStatus& downloads,
                 OVDriveUploadStatus& uploads, OVDriveAccount& account, Config config, Clock& clock = Clock::system());
  OVFuseCallback(const OVFuseCallback&) = delete;
  OVFuseCallback& operator=(const OVFuseCallback&) = delete;

  // ---- Volume (OVFuseCallback.cpp) -------------------------------------------

  // Called when FUSE has run the init callback (the volume is up) and when it
  // destroys the file system (the volume is gone). Set by the mount while no
  // mount of this object runs.
  void setMountHooks(std::function<void()> mounted, std::function<void()> unmounted);
  void didInit();
  void didDestroy();

  // The cache disk's statistics, with the store's total size added to its
  // block count so that the drive shows its full size without a download.
  int statfs(const char* path, struct statvfs& stats);

  // Until contents come from the download queue, only the names that live on
  // the volume alone (the lock file, refresh markers) can be opened; writing
  // anything else is refused as on a read-only file system.
  int open(const char* path, int flags);
  int read(const char* path, std::size_t size, std::int64_t offset);

  // ---- Attributes and listings (OVFuseAttributes.cpp) ----------------------

  int getattr(const char* path, struct stat& attributes);

  // Receives one name of a listing; false when the kernel's buffer is full.
  using DirectoryFiller = std::function<bool(const char* name)>;
  // ".", "..", then every listable name of the folder at `path`.
  int readdir(const char* path, const DirectoryFiller& fill);

  // ---- Extended attributes (OVFuseXattr.cpp) -------------------------------
  // Sizes follow the Linux calls: a zero `size` asks for the length only, a
  // buffer too small gives -ERANGE.

  int getxattr(const char* path, const char* name, char* buffer, std::size_t size);
  int setxattr(const char* path, const char* name, const char* value, std::size_t size, int flags);
  int listxattr(const char* path, char* buffer, std::size_t size);
  int removexattr(const char* path, const char* name);

  // The path the callbacks work on, after the temp-folder redirection.
  std::string finalPath(std::string_view path) const;
  // The lock file or a refresh marker: names that exist on the volume only.
  static bool isVolumeOnlyName(std::string_view path);

  // The node at a final path: from its folder's recent listing when that
  // holds the name, else from the store (which also finds deleted nodes).
  std::optional<OVFile> recordAt(const std::string& path);
  // Forgets the recent listing of a folder; every change made through the
  // drive calls it for the folders it touched, so that the drive shows its
  // own changes at once.
  void forgetListing(const std::string& folderPath) { listings_.forget(folderPath); }

 private:
  // OVFuseAttributes.cpp
  void fillVolumeOnly(struct stat& attributes) const;
  void fillShare(const ManagedShare& share, struct stat& attributes) const;
  void fillRecord(const OVFile& file, struct stat& attributes);
  std::vector<std::string> listedNames(const std::string& path);
  // Keeps the rows of a folder just listed, for the attribute requests that follow.
  void rememberRows(const std::string& path, const std::string& folderId, const std::vector<std::string>& names);
  std::vector<std::string> rootNames();
  void reportUnlistable(std::string_view folder, std::string_view name);

  // OVFuseXattr.cpp
  std::optional<std::uint8_t> reservedValue(const std::string& path, std::string_view name,
                                            const std::optional<OVFile>& record);
  // The side file holding the ordinary attributes of what `path` names: a
  // share folder's or `record`'s (the node at `path`); nothing when the path
  // names neither. With `create`, a missing side file is created first.
  std::optional<std::filesystem::path> sideFile(const std::string& path, const std::optional<OVFile>& record,
                                                bool create);

  // Constant after construction.
  OVDatabase& database_;
  OVFileCache& cache_;
  OVDriveDownloadStatus& downloads_;
  const Config config_;
  Clock& clock_;

  OVStatusQueries status_;      // thread-safe on its own
  OVAttributeFiles attributes_; // thread-safe on its own
  OVListingSnapshots listings_; // thread-safe on its own

  std::mutex hooksMutex_;
  std::function<void()> mountedHook_;   // guarded by hooksMutex_
  std::function<void()> unmountedHook_; // guarded by hooksMutex_

  // Names already reported as unlistable, so that a listing repeated by the
  // desktop every few seconds reports each once. Bounded: past the bound
  // nothing more is reported.
  static constexpr std::size_t kMaxReportedNames = 4096;
  std::mutex reportedMutex_;
  std::unordered_set<std::string> reportedNames_; // guarded by reportedMutex_
};

} // namespace orvex
