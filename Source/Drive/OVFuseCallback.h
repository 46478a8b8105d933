// The drive's file-system side: one object per mounted drive that the FUSE
// callbacks (orvex_* in OVFuseOperations.cpp) reach through the private data
// of their FUSE context. Each member takes a volume path as the kernel gives
// it, runs it through the temp-folder redirection, asks the store, the cache
// and the transfer queues, and answers what the callback returns: 0 or a
// count on success, a negative errno on failure.
//
// Members are grouped by the file that implements them:
//   OVFuseCallback.cpp    construction, mount hooks, volume statistics
//   OVFuseAttributes.cpp  attributes
//   OVFuseListing.cpp     directory listings
//   OVFuseXattr.cpp       extended attributes
//   OVFuseContent.cpp     opening, reading, writing and closing files
//   OVFuseCreate.cpp      creating files
//   OVFuseSetattr.cpp     mode, size and times of a file
//   OVFuseNamespace.cpp   renames
#pragma once

#include "Dispatch/Clock.h"
#include "Drive/OVAttributeFile.h"
#include "Drive/OVDirectoryListing.h"
#include "Drive/OVDriveRequestCounts.h"
#include "Drive/OVFuseFileData.h"
#include "Drive/OVListingSnapshots.h"
#include "Drive/OVStatusQueries.h"
#include "Store/OVFile.h"
#include "Store/OVShareStore.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orvex {

class OVDatabase;
class OVDriveAccount;
class OVDriveContentSource;
class OVDriveDownloadStatus;
class OVDriveUploadStatus;
class OVFileCache;

// Threads: every member except setMountHooks may run on any of FUSE's worker
// threads at once. The collaborators, the status queries, the attribute files
// and the listing snapshots guard their own state; the object's own shared
// state is the set of names already reported (guarded by reportedMutex_), the
// mount hooks (guarded by hooksMutex_) and the open files (openFiles_, which
// guards itself; each handle's descriptor is guarded by its own mutex). The collaborators must outlive the
// object, and the object every mount of it.
class OVFuseCallback {
 public:
  struct Config {
    // The verbose per-call lines, written only while "OVExcessiveLogging" is set.
    bool excessiveLogging = false;
  };

  OVFuseCallback(OVDatabase& database, OVFileCache& cache, OVDriveDownloadStatus& downloads,
                 OVDriveUploadStatus& uploads, OVDriveAccount& account, OVDriveContentSource& content, Config config,
                 Clock& clock = Clock::system());
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

  // ---- Contents (OVFuseContent.cpp, OVFuseCreate.cpp) -----------------------------------------
  // A file handle is the address of an OVFuseFileData, 0 for none (the lock
  // file and refresh markers open without one). `process` is the caller's pid.

  // Looks the node up; never opens the cache file or starts a download.
  int open(const char* path, int flags, pid_t process, std::uint64_t& handle);
  // Creates the node (or reuses a live one) with an empty cache file.
  int create(const char* path, mode_t mode, pid_t process, std::uint64_t& handle);
  // From the complete cache file, else the cached prefix, else the content source.
  int read(const char* path, char* buffer, std::size_t size, std::int64_t offset, std::uint64_t handle);
  int write(const char* path, const char* data, std::size_t size, std::int64_t offset, std::uint64_t handle);
  // Always 0; the handle is gone afterwards. `path` is null for a removed node.
  int release(const char* path, std::uint64_t handle);
  // Flushes the node's cache file to the disk: it is the only copy the drive
  // keeps of what was written. `handle` 0: by path.
  int fsync(const char* path, bool dataOnly, std::uint64_t handle);
  // Linux modes: plain allocation and FALLOC_FL_KEEP_SIZE; the others (which
  // punch or move content) are refused with EOPNOTSUPP.
  int fallocate(const char* path, int mode, std::int64_t offset, std::int64_t length, std::uint64_t handle);

  // ---- Mode, size and times (OVFuseSetattr.cpp) -----------------------------

  int chmod(const char* path, mode_t mode);
  // `handle` 0: by path. Growing or cutting to a non-zero size content not
  // downloaded yet is refused with EFBIG: the rest of it is on the server only.
  int truncate(const char* path, std::int64_t size, std::uint64_t handle = 0);
  // times[0] access, times[1] modification.
  int utimens(const char* path, const struct timespec times[2]);

  // The drive's open files: the store's bookkeeping seam, the exit check's
  // list and the upload queue's `canUploadFile`.
  OVOpenFileList& openFiles() { return openFiles_; }

  // ---- Attributes and listings (OVFuseAttributes.cpp) ----------------------

  // `forOpenFile`: the kernel asks about a file it holds open rather than
  // looking a name up.
  int getattr(const char* path, struct stat& attributes, bool forOpenFile = false);

  // ---- Listings (OVFuseListing.cpp) ------------------------------------------

  // Receives one entry of a listing with its attributes (null for "." and
  // "..") and the offset of the entry after it; false when the kernel's
  // buffer is full.
  using DirectoryFiller = std::function<bool(const char* name, const struct stat* attributes, std::int64_t nextOffset)>;
  // Opens a folder for reading; `handle` becomes its listing.
  int opendir(const char* path, std::uint64_t& handle);
  // The entries of the folder from `offset` on: ".", "..", then every
  // listable name. Offset 0 makes the handle's listing (anew on a rewind);
  // later offsets page through that same listing. Handle 0 lists afresh.
  int readdir(const char* path, std::uint64_t handle, std::int64_t offset, const DirectoryFiller& fill);
  void releasedir(std::uint64_t handle);

  // ---- Namespace (OVFuseNamespace.cpp) ---------------------------------------

  // `flags` are renameat2's (RENAME_NOREPLACE, RENAME_EXCHANGE).
  int rename(const char* from, const char* to, unsigned flags);

  // What the kernel has asked so far.
  const OVDriveRequestCounts& requestCounts() const { return counts_; }

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

  // OVFuseListing.cpp
  // The entries of the folder at a final path, with their attributes; ENOENT
  // or ENOTDIR in `error` when it is no folder.
  std::vector<OVDirectoryEntry> listing(const std::string& path, int& error);
  std::vector<OVDirectoryEntry> rootEntries();
  // The id whose children the folder at `path` lists; nothing when there is no such folder.
  std::optional<std::string> folderIdAt(const std::string& path, int& error);
  void reportUnlistable(std::string_view folder, std::string_view name);

  // OVFuseContent.cpp
  // Expects the handle's descriptorMutex held. Opens its cache file for
  // writing when it has none, creating a missing one only with `mayCreate`
  // (a write at offset 0), so that the middle of content never downloaded
  // cannot be written. 0 or a negative errno (logged for `op`).
  int openForWrite(OVFuseFileData& handle, const OVFile& file, bool mayCreate, const char* op);
  // Opens the handle's cache file for reading when it has none; the descriptor or -errno.
  int descriptorForRead(OVFuseFileData& handle, const OVFile& file);
  int readMissing(const std::string& path, const OVFile& file, char* buffer, std::size_t size, std::int64_t offset);
  // A content change of the node: size and time into the store, the quiet
  // time restarted, and the folder's listing forgotten so that sizes show.
  void contentChanged(const std::string& path, const OVFile& file);

  // OVFuseCreate.cpp
  // The node `create` opens at a final path: a live one reused, else a new
  // one. Nothing with `error` set: a negative errno, or 0 for a refresh
  // marker, which opens without a node.
  std::optional<OVFile> createdRecord(const std::string& path, int& error);
  // A new node where nothing live is: directly in a share, or in a folder.
  std::optional<OVFile> createdInShare(const ManagedShare& share, const std::optional<OVFile>& existing,
                                       const std::string& name);
  std::optional<OVFile> createdInFolder(const OVFile& parent, const std::string& parentPath,
                                        const std::optional<OVFile>& existing, const std::string& name, int& error);
  // A new node named `name` in place of nothing or of a deleted node.
  std::optional<OVFile> newRecord(const std::optional<OVFile>& existing, const std::string& name,
                                  const std::string& shareId, const std::string& parentId);

  // OVFuseSetattr.cpp
  // The node whose attributes may change at `path`, or a negative errno.
  std::optional<OVFile> changeableRecord(const std::string& path, int& error);

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
  OVDriveContentSource& content_;
  const Config config_;
  Clock& clock_;

  OVStatusQueries status_;      // thread-safe on its own
  OVAttributeFiles attributes_; // thread-safe on its own
  OVListingSnapshots listings_; // thread-safe on its own
  OVOpenFileList openFiles_;    // thread-safe on its own
  OVDriveRequestCounts counts_; // atomic on its own

  // Listings of open folders, owned here so that a drive ended while a
  // folder is still open (a forced unmount) leaves none behind.
  std::mutex listingsMutex_;
  std::unordered_map<const OVDirectoryListing*, std::unique_ptr<OVDirectoryListing>> openListings_; // guarded

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
