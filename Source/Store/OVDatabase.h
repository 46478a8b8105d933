// The metadata store: every node of every share in one SQLite file, files.db,
// with the download, upload and offline bookkeeping. One thread owns the
// connection; every statement of the process is handed to it and runs there,
// one at a time, in arrival order, while the caller waits.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Store/OVFile.h"
#include "Store/OVFileUploadStatus.h"
#include "Store/OVPathCache.h"
#include "Store/OVPlannerStatistics.h"
#include "Store/OVShareStore.h"
#include "Store/OVSqlite.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class OVCacheEraser;
class OVFileCache;

// A small map of ids to markers shared by the drive's namespace operations
// (archiveMap, deleteMap, blockMap). Thread-safe: guarded by its own mutex.
class OVMarkerMap {
 public:
  void set(const std::string& key, const std::string& value);
  std::optional<std::string> get(const std::string& key) const;
  void erase(const std::string& key);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> entries_; // guarded by mutex_
};

// Threads: every member may be called from any thread. Statements run on
// databaseQueue_ against connection_, which only that queue's thread touches.
// Locks, in the order they may be taken: dbTransactionLock_ (recursive; held by
// every update and by a transaction from begin to commit), totalSizeMutex_
// (the cached total size), monitor_ (shutdown counter, terminating flag). The
// database thread takes none of them, so waiting for it under one is safe; none
// is held while another module is called. `loaded_` and `isEmpty_` are atomics.
class OVDatabase {
 public:
  // `cacheEraser` deletes cached contents when downloads expire; `appVersion`
  // is written into the version row. Starts the database thread and purges
  // the temporary nodes; the file is opened by load().
  OVDatabase(const OVFileCache& fileCache, OVShareStore& shareStore, OVCacheEraser& cacheEraser, std::string appVersion,
             Clock& clock = Clock::system());
  OVDatabase(const OVDatabase&) = delete;
  OVDatabase& operator=(const OVDatabase&) = delete;
  // Unloads when still loaded.
  ~OVDatabase();

  // <metadata folder>/files.db, computed once.
  const std::filesystem::path& databasePath() const { return databasePath_; }

  // ---- Lifecycle -----------------------------------------------------------

  // Creates, opens, verifies and upgrades the file; ends the process with exit
  // code 10 when it cannot. `firstRun` skips loading the share store.
  void load(bool firstRun);
  // Closes the connection (on the database thread) and saves the share store.
  void unload();
  // Clears the share store, unloads and deletes the file.
  void clear();
  bool loaded() const { return loaded_.load(); }
  bool isEmpty() const { return isEmpty_.load(); }

  // Runs before a new file is created (the check for data of the previous
  // client generation); nothing by default.
  void setMigrationCheck(std::function<void()> check);

  void blockShutdown();
  void unblockShutdown();
  bool shutdownBlocked() const;
  void beginTermination();
  bool terminating() const;

  // Hands a domain's profile to the share store; clears isEmpty once a share is known.
  void updateShares(const ClientLoginResponse& profile, const std::string& domain);

  // ---- Query engine --------------------------------------------------------
  // Each runs on the database thread and waits. A failing statement logs
  // "Select query ... failed: ..." and answers nothing.

  // Column 0 of the first row as text; nothing when there is no row.
  std::optional<std::string> queryString(std::string_view sql, const SqlValues& values = {});
  // Column 0 of every row (empty when there is no row).
  std::optional<std::vector<std::string>> queryStrings(std::string_view sql, const SqlValues& values = {});
  // The first row as a node; nothing when there is no row.
  std::optional<OVFile> queryFile(std::string_view sql, const SqlValues& values = {});
  // Every row as a node. Runs statements that change rows as well.
  std::optional<std::vector<OVFile>> queryFiles(std::string_view sql, const SqlValues& values = {});
  // Column 0 of the first row as a 64-bit integer; nothing when there is no
  // row or the value is NULL (SUM over no rows).
  std::optional<std::int64_t> queryLong(std::string_view sql, const SqlValues& values = {});
  // The first row of `uploads` as a resume record; nothing when there is no row.
  std::optional<OVFileUploadStatus> queryUpload(std::string_view sql, const SqlValues& values = {});

  // Runs a statement that changes rows under dbTransactionLock; false (with
  // "Update query ... failed: ...") when it fails.
  bool doUpdateQuery(std::string_view sql, const SqlValues& values = {});
  // Between these two, updates of other threads wait; the calling thread's own
  // updates and every thread's selects pass.
  void doBeginTransaction();
  void doCommitTransaction();

  // ---- Downloads, uploads, offline folders --------------------------------

  void deleteAllTempFiles();
  void markFileDownloaded(const OVFile& file);
  void deleteFileDownload(const OVFile& file);
  // Forgets every download completed before `cutoff`; deletes the cached
  // content of those that are synchronized and not kept offline.
  void deleteDownloadsOlderThen(OVDate cutoff);
  void updateUploadStatus(const OVFileUploadStatus& status);
  std::optional<OVFileUploadStatus> uploadStatusForFile(const OVFile& file);
  void deleteUploadStatusForFile(const OVFile& file);
  void markItemSynchronized(const std::string& itemId, bool synced);
  bool shareSynchronized(const std::string& itemId);
  std::vector<std::string> syncedFolders();
  // True when the item (or, with `recurse`, one of its ancestors) is kept offline.
  bool itemSynchronized(const std::string& itemId, bool recurse);
  std::int64_t uploadsNumber();
  std::int64_t uploadsSize();
  void fixFileStatus();
  // 20 pending nodes from `startIndex`: deleted first, then by descending status.
  std::vector<OVFile> uploadsFromIndex(std::int64_t startIndex);
  std::vector<std::string> foldersWithUploads();
  // Size of all nodes, recomputed at most every 10 seconds.
  std::int64_t totalFileSize();

  // Used by the drive's namespace operations; blockMap marks ("block") a
  // folder while it moves to another share.
  OVMarkerMap& archiveMap() { return archiveMap_; }
  OVMarkerMap& deleteMap() { return deleteMap_; }
  OVMarkerMap& blockMap() { return blockMap_; }

  // ==== Tree queries and path resolution (OVDatabaseTree.cpp) ================
  // Lookups, listings and paths of nodes. Every statement goes through the
  // query engine above; the share lookups go to the share store. Listings and
  // lookups leave shadow rows (status 5) out unless `shadow` asks for them.

  // Nothing when no such row exists (or the select failed).
  std::optional<OVFile> fileWithId(const std::string& internalName, bool shadow);
  std::optional<OVFile> fileWithParentId(const std::string& parentId, const std::string& fileName, bool shadow);
  // With `shadow`, any row of that name, the highest status first.
  std::optional<std::string> idOfFileNamed(const std::string& name, const std::string& parentId, bool shadow);

  // Children of a folder; deleted nodes are left out. Empty when there are none.
  std::vector<OVFile> filesWithParent(const std::string& parentId); // files only
  std::vector<OVFile> filesWithShareID(const std::string& shareId, const std::string& fileId);
  std::vector<std::string> fileIdsWithParent(const std::string& parentId);
  std::vector<std::string> subfolderIdsWithParent(const std::string& parentId);
  // Every folder below `folderId` at any depth, depth first, not the folder itself.
  std::vector<std::string> allSubfolderIds(const std::string& folderId);
  // The names of a directory listing, in table order. A name found twice is
  // listed once and one of its rows deleted; ".fuse_hidden" names are left out.
  std::vector<std::string> fileNamesListWithParent(const std::string& parentId);
  bool folderIsEmpty(const OVFile& folder, bool includeDeleted);
  // Ancestor ids, nearest first, ending with the first id that has no row
  // (a share id) or before the first id seen already (a cycle).
  std::vector<std::string> allParents(const OVFile& file);

  // The node at a drive path; nothing for the root, a share path or an unknown path.
  std::optional<OVFile> fileWithPath(const std::string& path);
  std::optional<OVFile> shadowWithPath(const std::string& path);
  // Resolution through the path caches (the shadow cache with `shadow`).
  std::optional<OVFile> fileWithPath(const std::string& path, bool shadow);
  // Walks `path` name by name from `rootId` (the share's folder id).
  std::optional<OVFile> fileFromParent(const std::string& rootId, const std::string& path, bool shadow);

  std::optional<std::string> cachedItemWithPath(const std::string& path, bool shadow);
  void cacheItem(const std::string& internalName, const std::string& path, bool shadow);
  void clearCacheForPathSingle(const std::string& path);
  // Every cached path that begins with the text `pathPrefix` ("/S/ab" drops "/S/abc").
  void clearCacheForPath(const std::string& pathPrefix);
  void clearCacheForId(const std::string& internalName);
  // Every drive path of the node: singly for a file, as a prefix for a folder.
  void clearAllPathCaches(const OVFile& file);

  // "/<share>/<path in share>". Nothing for a node of a folder share without
  // parentShareId, and when the share is not known.
  std::optional<std::string> fullFilePath(const OVFile& file);
  // The path seen through the folder share holding the node; nothing when the
  // node's share is not a folder share.
  std::optional<std::string> fullFilePathFromSubShare(const OVFile& file);
  // Every path under which the node shows through folder shares ({""} when
  // none); nothing when the node's share is not a folder share.
  std::optional<std::vector<std::string>> allFilePathsFromSubshare(const OVFile& file);

  // Share lookups; nullptr when no share matches.
  std::vector<ManagedSharePtr> shares();
  ManagedSharePtr shareWithId(std::string_view shareId);
  // The share whose drive folder holds `path` (by its first component).
  ManagedSharePtr shareWithPath(std::string_view path);
  bool renameShare(const ManagedShare& share, const std::string& newName);
  void deleteShareData(const ManagedShare& share);
  void deleteDomainShares(const std::vector<std::string>& domains);
  std::string globalLoginResponce();
  // Also saves the share store.
  void setGlobalLoginResponce(const std::string& value);
  std::vector<ManagedSharePtr> subfolderSharesForShareId(std::string_view shareId);
  // The node's share, or the folder share of that id whose folder holds it.
  ManagedSharePtr shareForFile(const OVFile& file);
  // The folder share whose folder holds the node, else the share of its top folder.
  ManagedSharePtr getSubshareForFile(const OVFile& file);

  // The connector's answer whether the service offers locking for a share
  // (null when the node's share is unknown). Until the application shell sets
  // it, locking counts as available everywhere. May be set at any time.
  using LockAvailableForShare = std::function<bool(const ManagedSharePtr& share)>;
  void setLockAvailableForShare(LockAvailableForShare lockAvailable);
  // Locked on the server, and locking is available for the node's share.
  bool isFileLockedRemotely(const OVFile& file);

  // ==== End of tree queries ==================================================

 private:
  // Called on the database thread for each row until it answers false.
  using RowReader = std::function<bool(const SqliteStatement& row)>;
  // Runs a select on the database thread; false (logged) when it fails.
  bool runSelect(std::string_view sql, const SqlValues& values, const RowReader& onRow);
  // On the database thread: runs `sql` to its end; the error text when it fails.
  std::optional<std::string> runUpdateOnThread(std::string_view sql, const SqlValues& values);
  // On the database thread: opens connection_ when absent; false when it cannot.
  bool doOpenUpdateDb();

  // Constant after construction.
  OVShareStore& shareStore_;
  OVCacheEraser& cacheEraser_;
  const std::string appVersion_;
  Clock& clock_;
  const std::filesystem::path databasePath_;

  std::function<void()> migrationCheck_; // set before load(), read by load()

  std::atomic<bool> loaded_{false};
  std::atomic<bool> isEmpty_{true};

  std::recursive_mutex dbTransactionLock_;

  mutable std::mutex monitor_;
  int shutdownBlocks_ = 0;   // guarded by monitor_
  bool terminating_ = false; // guarded by monitor_

  // Held while the total is recomputed, so that callers in a burst wait for
  // one query instead of each running their own.
  std::mutex totalSizeMutex_;
  std::int64_t totalSize_ = 0;                     // guarded by totalSizeMutex_
  std::optional<Clock::SteadyTime> totalSizeTime_; // guarded by totalSizeMutex_; nothing = never computed

  OVMarkerMap archiveMap_;
  OVMarkerMap deleteMap_;
  OVMarkerMap blockMap_;

  // ---- Tree-query state (owned by OVDatabaseTree.cpp) ----
  OVPathCache pathCaches_; // pathCache and shadowPathCache under one monitor; locks itself
  mutable std::mutex lockSeamMutex_;
  LockAvailableForShare lockAvailableForShare_; // guarded by lockSeamMutex_; null: available

  // Only touched on databaseQueue_'s thread.
  std::unique_ptr<SqliteConnection> connection_;
  OVPlannerStatistics statistics_;

  // Last: its thread stops before the members above go away.
  SerialQueue databaseQueue_;
};

} // namespace orvex
