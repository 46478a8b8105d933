// The metadata store: every node of every share in one SQLite file, files.db,
// with the download, upload and offline bookkeeping. One thread owns the
// connection; every statement of the process is handed to it and runs there,
// one at a time, in arrival order, while the caller waits.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Store/OVDownloadTracker.h"
#include "Store/OVFile.h"
#include "Store/OVFileUploadStatus.h"
#include "Store/OVFinderRefresher.h"
#include "Store/OVOpenFileBookkeeping.h"
#include "Store/OVPathCache.h"
#include "Store/OVPathChangeListener.h"
#include "Store/OVPlannerStatistics.h"
#include "Store/OVShareStore.h"
#include "Store/OVSqlite.h"
#include "Store/OVUploadTracker.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class OVCacheEraser;
class OVFileCache;
struct ClientJournalEvent;
struct OSXCatchUpResponse;
struct OVNewAPIJournalEvent;
struct OVVirtualFile;

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
// database thread takes none of them, so waiting for it under one is safe. None
// is held while another module is called, with one exception: a merge of more
// than two records asks the upload and download queues about each record
// inside its transaction, so those must answer without waiting for the store.
// `loaded_`, `isEmpty_` and the collaborator pointers are atomics.
class OVDatabase {
 public:
  // `cacheEraser` creates, moves and deletes cached contents; `appVersion`
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

  // ==== Collaborators of the local changes and the merge =====================
  // Set by the application shell while wiring; until then (and after a reset
  // with nullptr) each is the honest answer of its absent module: no upload
  // queue, no download queue, no mounted drive, no file-manager channel. A
  // collaborator must outlive the database or be reset first. Any thread.

  void setUploadTracker(OVUploadTracker* tracker);
  void setDownloadTracker(OVDownloadTracker* tracker);
  void setOpenFileBookkeeping(OVOpenFileBookkeeping* bookkeeping);
  void setFinderRefresher(OVFinderRefresher* refresher);
  void setPathChangeListener(OVPathChangeListener* listener);
  // The logged-in user's e-mail address, the `user` of nodes created on the
  // drive. Until the login sets it, no user is known and the field stays empty.
  using UserEmail = std::function<std::string()>;
  void setUserEmail(UserEmail userEmail);

  // ==== Row primitives (OVDatabaseRows.cpp) ==================================
  // Single statements on the `files` table. Each answers whether the statement
  // ran (a statement that matched no row has run).

  // Inserts the node with `status` (not its own); existing rows are not looked at.
  bool addFile(const OVFile& file, std::uint64_t status);
  // Every row of the node, main row and shadow.
  bool deleteFile(const std::string& internalName);
  // The rows of the node that carry `tick`.
  bool deleteFile(const std::string& internalName, std::uint64_t tick);
  bool deleteFileShadow(const std::string& internalName);
  // Also drops the node's drive path from the path caches.
  bool deleteFileRecord(const OVFile& file);
  // The node's rows except the shadow and a synchronized row become uploaded (4).
  bool markFileUploaded(const OVFile& file);
  bool updateParentShareId(const OVFile& file);
  // Permissions and times of the main row.
  bool updateFileAttributes(const OVFile& file);
  // The lock fields of the row that still has the node's status.
  bool updateFileLockStatusAndStatusUnChanged(const OVFile& file);
  // Moves the node's rows to another share (an empty parent share id: none).
  bool updateFileWithId(const std::string& internalName, const std::string& newShareId,
                        const std::string& newParentShareId);
  bool updateFileWithId(const std::string& internalName, const std::string& newShareId, std::uint64_t status);

  // ==== Local changes (OVDatabaseLocalChanges.cpp) ===========================
  // What the drive and the Finder channel change. Each change moves the node
  // into a pending state; a synchronized node first keeps its server-confirmed
  // state as a shadow row where the change could otherwise not be described.
  // Results are the node as stored afterwards.

  // A new node in share `shareId` under `parentId`; nothing when the share is
  // unknown. When the name is the one a safe save just moved aside, the old
  // node takes the new content instead and is answered.
  std::optional<OVFile> createFile(const std::string& name, const std::string& shareId, const std::string& parentId);
  std::optional<OVFile> createFolder(const std::string& name, const std::string& shareId, const std::string& parentId);
  std::optional<OVFile> createFileItem(const std::string& name, const std::string& shareId, const std::string& parentId,
                                       bool isDir);
  // Renames and/or moves the node (`newParent` absent: its current parent).
  // Moving onto a node of the same kind replaces that node, which keeps its
  // identity (an editor's safe save). The share is not changed here.
  OVFile renameFile(const OVFile& file, const std::string& newName,
                    const std::optional<std::string>& newParent = std::nullopt);
  // The old node takes the new node's name, place and content; the new node's
  // rows go, and `newFile` (not stored) takes the old node's name and content.
  void exchangeOldFile(const OVFile& oldFile, OVFile& newFile);
  // A node never sent (new, ignored) or `forceDelete` loses its rows; any
  // other keeps a deleted row until the deletion is sent.
  void removeFile(const OVFile& file, bool andCache, bool forceDelete = false);
  // Everything below the folder, then the folder, cached contents included.
  void removeFolderRecursive(const OVFile& folder);
  // After a content change: size, time and deletion flag of the node.
  void markFileUpdated(const OVFile& file);
  // After a lock change: the node's lock fields.
  void updateFileLockStatus(const OVFile& file);
  // The folder and every node below it move to share `newShareId` and are sent again as new.
  void changeFilesShareIdInFolderRecursive(const OVFile& folder, const std::string& newShareId);
  // The parent folder follows the node's share and the file manager shows it again.
  void refreshFile(const OVFile& file);

  // ==== Remote changes and the merge (OVDatabaseMerge.cpp) ===================
  // Records from the server are applied to nodes without pending local
  // changes; nodes with pending changes keep them until their upload is done.
  // Runs on the caller's thread; shutdown is blocked meanwhile.

  // A catch-up page of `share`; advances the share's tick and saves soon.
  void updateFilesForShare(const OSXCatchUpResponse& response, const ManagedShare& share);
  // A real-time journal event; then the automatic downloads are re-checked.
  void updateFile(const ClientJournalEvent& event);
  // The server's record after an upload.
  void updateFileNew(const OVNewAPIJournalEvent& event);
  // The merge itself. More than two records are applied in one exclusive
  // transaction, during which other threads' updates wait. The records carry
  // their own share ids; `share` names the share the batch was asked for.
  void updateFilesInShare(const std::vector<OVVirtualFile>& files, const ManagedShare& share);

  // ==== End of local changes and the merge ===================================

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

  // ---- Local changes and merge (OVDatabaseLocalChanges.cpp, OVDatabaseMerge.cpp) ----
  OVUploadTracker& uploadTracker() const { return *uploadTracker_.load(); }
  OVDownloadTracker& downloadTracker() const { return *downloadTracker_.load(); }
  OVOpenFileBookkeeping& openFiles() const { return *openFiles_.load(); }
  OVFinderRefresher& finderRefresher() const { return *finderRefresher_.load(); }
  OVPathChangeListener& pathChangeListener() const { return *pathChangeListener_.load(); }
  std::string userEmail() const;

  // The node's main row as stored now, or `file` when it has none.
  OVFile storedFile(const OVFile& file);
  // Keeps `file` as the node's shadow, replacing an older one: a node has one.
  void saveShadow(const OVFile& file);
  // A safe save moved `newFile` onto `oldFile`: the old node takes its place.
  OVFile replaceWithSafeSave(const OVFile& oldFile, OVFile& newFile);
  // Whether a create may take over the node a safe save moved aside under `id`.
  std::optional<OVFile> safeSaveTarget(const std::string& id, const OVFile& created);
  // `visited` stops circular parent links (they come from the server).
  void removeFolderRecursive(const OVFile& folder, std::set<std::string>& visited);
  void changeFilesShareIdInFolderRecursive(const OVFile& folder, const std::string& newShareId,
                                           std::set<std::string>& visited);

  // What a merge changed, for those who show the tree.
  struct MergeEffects {
    std::set<std::string> refresh;                       // ids of folders whose listing changed
    std::set<std::pair<std::string, std::string>> names; // (folder id, name) of every entry that changed
    void changed(const std::string& folderId, const std::string& name) { names.emplace(folderId, name); }
  };
  // One record of a merge, adding what it changed to `effects`.
  void mergeRecord(const OVVirtualFile& record, MergeEffects& effects);
  void mergeDeletedRecord(const OVVirtualFile& record, const std::optional<OVFile>& local, MergeEffects& effects);
  void mergeNewRecord(const OVVirtualFile& record, MergeEffects& effects);
  void mergeKnownRecord(const OVVirtualFile& record, OVFile local, MergeEffects& effects);
  // Tells the path listener which drive paths the merge changed (after its commit).
  void reportChangedPaths(const MergeEffects& effects);
  // The drive paths of the shares ("/Name"), and the report of a change of
  // them: `pathsBefore` are those shown before it.
  std::vector<std::string> sharePaths();
  void reportShareChange(std::vector<std::string> pathsBefore);
  // Every drive path of the folder with `folderId` (a share id stands for the
  // share's top folder); empty when it is not shown.
  std::vector<std::string> folderDrivePaths(const std::string& folderId);
  // Merges one event's record and, when its share is known, records how far the share is caught up.
  void applyJournalRecord(const std::optional<OVVirtualFile>& record, std::int32_t shareTick);

  // The honest defaults; the pointers below start at them.
  OVNoUploadQueue noUploadQueue_;
  OVNoDownloadQueue noDownloadQueue_;
  OVNoOpenFiles noOpenFiles_;
  OVNoFinderChannel noFinderChannel_;
  OVNoMountedDrive noMountedDrive_;
  std::atomic<OVUploadTracker*> uploadTracker_{&noUploadQueue_};
  std::atomic<OVDownloadTracker*> downloadTracker_{&noDownloadQueue_};
  std::atomic<OVOpenFileBookkeeping*> openFiles_{&noOpenFiles_};
  std::atomic<OVFinderRefresher*> finderRefresher_{&noFinderChannel_};
  std::atomic<OVPathChangeListener*> pathChangeListener_{&noMountedDrive_};
  mutable std::mutex userEmailMutex_;
  UserEmail userEmail_; // guarded by userEmailMutex_; null: no user known

  // Only touched on databaseQueue_'s thread.
  std::unique_ptr<SqliteConnection> connection_;
  OVPlannerStatistics statistics_;

  // Last: its thread stops before the members above go away.
  SerialQueue databaseQueue_;
};

} // namespace orvex
