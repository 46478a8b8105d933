// The download queue: file contents from the service, on demand in ranges
// (a drive read that the cache cannot answer waits here for at most the chunk
// wait) and as whole files (the user's downloads and the folders and shares
// kept available offline). Every byte goes into the file cache, which keeps a
// contiguous prefix of each file and promotes it to the cached content when
// complete. Also the expiry of downloaded contents and the synced paths of
// the file-manager badges. See README.md for the threads and the rules.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/NotificationCenter.h"
#include "Dispatch/SerialQueue.h"
#include "Dispatch/TimerHandle.h"
#include "Drive/OVDriveContentSource.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Network/HttpClient.h"
#include "Network/OVNewAPI.h"
#include "Store/OVDownloadTracker.h"
#include "Store/OVFile.h"
#include "Transfers/OVBearerSource.h"
#include "Transfers/OVFileDownloadTask.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orvex {

class OVDatabase;
class OVFileCache;
class OVSettings;
struct ManagedShare;

inline constexpr const char* kOVNotificationFileDownloadStarted = "OVNotificaitonFileDownloadStarted";
inline constexpr const char* kOVNotificationFileDownloadProgress = "OVNotificaitonFileDownloadProgress";
inline constexpr const char* kOVNotificationFileDownloadFinished = "OVNotificaitonFileDownloadFinished";
// User-info keys: "file" (OVFile), "progress" (std::int64_t bytes received), "error" (bool, true).
inline constexpr const char* kOVNotificationKeyFile = "file";
inline constexpr const char* kOVNotificationKeyProgress = "progress";
inline constexpr const char* kOVNotificationKeyError = "error";

// The collaborators; each must outlive the queue.
struct OVDownloadQueueParts {
  OVDatabase& database;
  OVFileCache& fileCache;
  HttpClient& http;
  const OVNewAPI& api;
  OVBearerSource& bearer;
  NotificationCenter& notifications;
  const OVSettings& settings; // "storeFiles"
  Clock& clock = Clock::system();
};

// Production values; tests shorten the reader's wait (real time) and move the
// others on a manual clock.
struct OVDownloadQueueTimings {
  std::chrono::milliseconds chunkWait{7000}; // a reader's wait, in real time
  Clock::Duration loopInterval = std::chrono::seconds(3);
  Clock::Duration firstChecksDelay = std::chrono::seconds(5); // expiry and automatic downloads after runThread
  Clock::Duration expiryInterval = std::chrono::hours(1);
  // How long a read that ended without its bytes makes reads of the same
  // range fail at once: the kernel asks again for a page whose read failed,
  // and that ask must not wait a second time.
  Clock::Duration failedReadMemory = std::chrono::seconds(1);
};

// Threads: drive threads call downloadChunk and the queries; the file-manager
// channel, the login and the shell call the rest from any thread. Transfers are
// started on the download thread and report there; bearer completions come on
// the login's thread and are handed to the download thread.
//
// Locks (none is held while another of them is taken, nor across a network
// call or a wait for the store, except as noted):
//   chunkMutex_   downloadTasks_, filesStatus_, runningTasks_, and the flags and
//                 data of chunk tasks. A task's own mutex is taken under it to
//                 complete the task (never the other way round).
//   fileMutex_    fileDownloads_, priorityFileDownloads_, allFileDownloads_,
//                 runningFileDownloads_, downloadFileBytes_, partiallyDownloadedBytes_,
//                 and the flags of file tasks. The cache is asked whether a file
//                 is downloaded under it (a stat, never the store).
//   syncedMutex_  syncedFolders_.
//   automaticMutex_  one automatic-download pass at a time (held across store calls).
//   pathQueryMutex_  one pathHasDownloads at a time (held across store calls).
// Download thread only: connections_, loopTimer_, authBearer_, loopRunning_.
class OVDownloadQueue final : public OVDownloadTracker, public OVDriveDownloadStatus, public OVDriveContentSource {
 public:
  static constexpr const char* kThreadLabel = "com.orvex.clouddrive-osx.downloadThread";
  static constexpr const char* kAutomaticThreadLabel = "com.orvex.clouddrive-osx.checkAutomaticDownloadsThread";
  static constexpr int kMaxTransfers = 5; // of each kind

  explicit OVDownloadQueue(OVDownloadQueueParts parts, OVDownloadQueueTimings timings = {});
  // Stops every transfer; readers still waiting get nothing at their time limit.
  ~OVDownloadQueue() override;

  // Starts the download loop, and the expiry and automatic downloads after
  // firstChecksDelay. Once; later calls do nothing.
  void runThread();
  // Asks the download thread, without waiting, for a scheduling pass now.
  void scheduleCheckDownloads();

  // ---- Contents on demand (drive threads) ----
  // The bytes of the range (cut at the end of the file; empty at the end);
  // nothing when they did not arrive within the chunk wait or the range starts
  // beyond the end.
  std::optional<std::string> downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                           const std::string& path) override;
  // Waits (at most the chunk wait) until the whole content is in the cache,
  // fetching the rest of it as one request.
  bool downloadWholeContent(const OVFile& file, const std::string& path) override;
  // Cancels the file's chunk transfer unless a reader still waits for it.
  void fileClosed(const std::string& internalName) override;

  // ---- Whole files ----
  void downloadFile(const OVFile& file, bool highPriority);
  void downloadFileAutomatically(const OVFile& file) { downloadFile(file, false); }
  void downloadFileManually(const OVFile& file) { downloadFile(file, true); }
  void downloadFileViaMenu(const OVFile& file);
  void downloadFolder(const OVFile& folder);
  void downloadShare(const ManagedShare& share);
  void downloadFilesUnderParent(const std::string& folderId, bool manually);
  // The files directly in each folder that are not downloaded yet.
  void downloadFolders(const std::set<std::string>& folderIds, bool manually);
  // A waiting download goes at once; a running one stops at its next data.
  void cancelFilesDownload(const std::vector<OVFile>& files);
  // Also marks each folder not kept offline.
  void cancelDownloadForFolders(const std::set<std::string>& folderIds);
  void cancelAllDownloads();

  // ---- Available offline ----
  void checkAutomaticDownloads();
  void changeSycStatus(const std::string& itemId, bool synced);
  void refreshSyncStatus(const OVFile& folder);
  void refreshShareSyncStatus(const ManagedShare& share);
  void updateSyncedPathes();

  // ---- Queries (any thread) ----
  bool isFileDownloaded(const OVFile& file) override;
  bool isFileInQueue(const OVFile& file) override;
  bool pathHasDownloads(const std::string& path) override;
  bool pathIsSynchronized(const std::string& path) override;
  // Bytes still to fetch by whole-file downloads, and how many of those are queued or running.
  std::int64_t queueBytes();
  std::int64_t queueLen();
  // Bytes per second of the last whole-file download that counted (0 until one did).
  double lastDownloadSpeed() const { return lastDownloadSpeed_.load(); }

  // ---- Expiry ----
  // `hours` -1 reads "storeFiles": -1 keeps everything, 0 means 4 hours, else days.
  void checkDownloadsToDelete(std::int64_t hours);
  // Expiry now on its worker, and again every expiryInterval.
  void performCheckDownloadsToDelete();

 private:
  // Scheduling (download thread).
  void scheduleLoopTurn();
  void checkDownloads();
  void continuePass(bool ok, std::string bearer);
  void startChunkTasks();
  void startFileTasks();
  // Needs fileMutex_; false when the walk stopped at the transfer limit.
  bool walkFileList(std::deque<OVFileDownloadTaskPtr>& list, std::vector<OVFileDownloadTaskPtr>& toStart);
  std::optional<HttpRequest> downloadRequestForFile(const OVFile& file, std::uint64_t location, std::uint64_t length);

  // Stops a transfer whose reply is refused or no longer wanted.
  void endConnection(const OVDownloadConnectionPtr& connection);
  using TransferFailure = void (OVDownloadQueue::*)(const OVDownloadConnectionPtr&, const std::string&);
  // Where the events of one kind of transfer go.
  struct TransferHandlers {
    void (OVDownloadQueue::*response)(const OVDownloadConnectionPtr&, const HttpResponse&);
    void (OVDownloadQueue::*data)(const OVDownloadConnectionPtr&, const std::string&);
    void (OVDownloadQueue::*finish)(const OVDownloadConnectionPtr&);
    TransferFailure failure;
  };
  // Starts `connection`'s request; a request that cannot be built fails the transfer at once.
  void startConnection(const OVDownloadConnectionPtr& connection, const TransferHandlers& handlers);
  // Records the status; true for a 200 that can carry the range asked for.
  // A 200 of another length ends the transfer through `fail`.
  bool acceptResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response, TransferFailure fail);
  // One piece of the body: the error text of a refusal is kept in `data`, bytes
  // of the range go to the cache (and, for a chunk transfer, to `data`). True
  // for bytes of the range; a piece past the range ends the transfer through `fail`.
  bool acceptBodyPiece(const OVDownloadConnectionPtr& connection, const std::string& bytes, TransferFailure fail);
  // Hands 200-body bytes to the cache and records a file that became complete.
  void storeBytes(OVDownloadConnection& connection, std::string_view bytes);
  bool isCompleteInCache(const OVFile& file) const;

  // Chunk transfers (OVDownloadQueueChunks.cpp).
  // The node as it is served now: a node whose share went away is served by
  // the share that holds its path (and what was cached under the old one goes).
  OVFile servedFile(const OVFile& original, const std::string& path);
  // How a reader's wait ended: its bytes in the cache prefix, its bytes
  // delivered (a range beyond the prefix), or neither.
  struct ChunkWait {
    bool inCache = false;
    std::optional<std::string> data;
  };
  // Queues a task for `range` (within the file) and waits for it.
  ChunkWait waitForRange(const OVFile& file, ByteRange range);
  // True when a read of `range` failed a moment ago (needs chunkMutex_).
  bool failedRecently(const OVFileDownloadStatus& status, ByteRange range) const;
  void rememberFailedRead(OVFileDownloadStatus& status, ByteRange range) const;
  // On the download thread: stops the file's chunk transfer when no reader waits for it.
  void cancelAbandonedTransfer(const std::string& internalName);
  // The cached prefix of every file a waiting chunk task reads.
  std::unordered_map<std::string, std::uint64_t> prefixesOfWaitingTasks();
  void processDownloadTask(const OVFileDownloadTaskPtr& task, const OVChunkPlan& plan);
  void onChunkResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response);
  void onChunkData(const OVDownloadConnectionPtr& connection, const std::string& bytes);
  void onChunkFinish(const OVDownloadConnectionPtr& connection);
  void onChunkFailure(const OVDownloadConnectionPtr& connection, const std::string& error);
  // Needs chunkMutex_. Completes the tasks of the connection's file that the
  // cached prefix or the bytes of the connection now hold.
  void releaseCoveredTasks(const OVDownloadConnection& connection, std::uint64_t prefix);
  void chunkTransferEnded(const OVDownloadConnection& connection, bool failed);

  // File transfers (OVDownloadQueueFiles.cpp).
  void processFileDownloadTask(const OVFileDownloadTaskPtr& task);
  void onFileResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response);
  void onFileData(const OVDownloadConnectionPtr& connection, const std::string& bytes);
  void onFileFinish(const OVDownloadConnectionPtr& connection);
  void onFileFailure(const OVDownloadConnectionPtr& connection, const std::string& error);
  // Needs fileMutex_.
  void deleteCompletedFileDownload(const OVFileDownloadTaskPtr& task);
  void postFileNotification(const char* name, const OVFile& file, std::optional<std::int64_t> progress = std::nullopt,
                            bool error = false);
  void updateDownloadSpeed(const OVDownloadConnection& connection);

  // Folder walks (OVDownloadQueueSynced.cpp).
  std::set<std::string> folderWithSubfolders(const std::string& folderId);
  void runAutomaticDownloads();

  // Constant after construction.
  const OVDownloadQueueParts parts_;
  const OVDownloadQueueTimings timings_;

  std::mutex chunkMutex_;
  std::vector<OVFileDownloadTaskPtr> downloadTasks_;                  // guarded by chunkMutex_
  std::unordered_map<std::string, OVFileDownloadStatus> filesStatus_; // guarded by chunkMutex_
  std::int64_t runningTasks_ = 0;                                     // guarded by chunkMutex_

  std::mutex fileMutex_;
  std::deque<OVFileDownloadTaskPtr> fileDownloads_;                         // guarded by fileMutex_
  std::deque<OVFileDownloadTaskPtr> priorityFileDownloads_;                 // guarded by fileMutex_
  std::unordered_map<std::string, OVFileDownloadTaskPtr> allFileDownloads_; // guarded by fileMutex_
  std::int64_t runningFileDownloads_ = 0;                                   // guarded by fileMutex_
  std::int64_t downloadFileBytes_ = 0;                                      // guarded by fileMutex_
  std::int64_t partiallyDownloadedBytes_ = 0;                               // guarded by fileMutex_

  std::mutex syncedMutex_;
  std::set<std::string> syncedFolders_; // guarded by syncedMutex_

  std::mutex automaticMutex_;
  std::mutex pathQueryMutex_;
  std::atomic<double> lastDownloadSpeed_{0.0};
  std::atomic<bool> threadStarted_{false};

  // Download thread only.
  std::unordered_set<OVDownloadConnectionPtr> connections_;
  TimerHandle loopTimer_;
  std::string authBearer_;
  bool loopRunning_ = false;
  bool stopped_ = false;

  // Bearer completions arrive on another thread and may outlive the queue:
  // they reach the download thread only while `alive` is set.
  struct Lifeline {
    std::mutex mutex;
    bool alive = true; // guarded by mutex
  };
  std::shared_ptr<Lifeline> lifeline_ = std::make_shared<Lifeline>();

  // Last: destroyed first, so the jobs they still run find the members above.
  SerialQueue downloadThread_;
  SerialQueue automaticQueue_;
  SerialQueue expiryQueue_;
};

} // namespace orvex
