// The queue's lifecycle, the download loop and the scheduling pass, what both
// kinds of transfer share, and the queries.
#include "Transfers/OVDownloadQueue.h"

#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Transfers/OVFolderPaths.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <system_error>

namespace orvex {

namespace {

using Seconds = std::chrono::duration<double>;

// Bookkeeping that walks many records logs how long it took beyond this.
constexpr Seconds kSlowWalk{0.1};

} // namespace

OVDownloadQueue::OVDownloadQueue(OVDownloadQueueParts parts, OVDownloadQueueTimings timings)
    : parts_(parts),
      timings_(timings),
      downloadThread_(kThreadLabel, parts.clock),
      automaticQueue_(kAutomaticThreadLabel, parts.clock),
      expiryQueue_("com.orvex.clouddrive-osx.downloadExpiryThread", parts.clock) {}

OVDownloadQueue::~OVDownloadQueue() {
  {
    const std::lock_guard lock(lifeline_->mutex);
    lifeline_->alive = false;
  }
  // On the delivery thread, so that once it returns no event of a transfer
  // starts; once cancel() returned, the network thread no longer posts to
  // the download thread either, and it can go.
  downloadThread_.sync([this] {
    stopped_ = true;
    loopTimer_.cancel();
    for (const auto& connection : connections_) {
      if (connection->transfer) {
        connection->transfer->cancel();
      }
    }
    connections_.clear();
  });
}

void OVDownloadQueue::runThread() {
  if (threadStarted_.exchange(true)) {
    return;
  }
  downloadThread_.async([this] {
    loopRunning_ = true;
    scheduleLoopTurn();
  });
  downloadThread_.after(timings_.firstChecksDelay, [this] {
    performCheckDownloadsToDelete();
    checkAutomaticDownloads();
  });
}

// A pass runs at least every loop interval, besides those asked for, until the
// application terminates.
void OVDownloadQueue::scheduleLoopTurn() {
  if (stopped_ || parts_.database.terminating()) {
    loopRunning_ = false;
    return;
  }
  loopTimer_ = downloadThread_.after(timings_.loopInterval, [this] {
    checkDownloads();
    scheduleLoopTurn();
  });
}

void OVDownloadQueue::scheduleCheckDownloads() {
  downloadThread_.async([this] {
    if (stopped_) {
      return;
    }
    loopTimer_.cancel();
    checkDownloads();
    if (loopRunning_) {
      scheduleLoopTurn();
    }
  });
}

// Nothing new starts once the application terminates; running transfers end on their own.
void OVDownloadQueue::checkDownloads() {
  if (stopped_ || parts_.database.terminating()) {
    return;
  }
  parts_.bearer.fetchAuthBearerWithCompletion([this, lifeline = lifeline_](bool ok, std::string bearer) {
    // Never wait here: the login's thread may be the main thread.
    const std::lock_guard lock(lifeline->mutex);
    if (lifeline->alive) {
      downloadThread_.async([this, ok, bearer = std::move(bearer)]() mutable { continuePass(ok, std::move(bearer)); });
    }
  });
}

void OVDownloadQueue::continuePass(bool ok, std::string bearer) {
  if (stopped_) {
    return;
  }
  if (!ok) {
    OVLog(kLogMain, "Download - Error getting access token");
    return;
  }
  authBearer_ = std::move(bearer);
  startChunkTasks();
  startFileTasks();
}

std::optional<HttpRequest> OVDownloadQueue::downloadRequestForFile(const OVFile& file, std::uint64_t location,
                                                                   std::uint64_t length) {
  const auto share = parts_.database.shareForFile(file);
  if (!share) {
    OVLog(kLogMain, "Warning! No share for file download: {}", file.publicName);
    return std::nullopt;
  }
  return parts_.api.newApiDownloadRequestForFile(file, {location, length}, *share);
}

void OVDownloadQueue::startConnection(const OVDownloadConnectionPtr& connection, const TransferHandlers& handlers) {
  auto request = downloadRequestForFile(connection->task->file, connection->range.location, connection->range.length);
  if (!request) {
    (this->*handlers.failure)(connection, "no request could be built");
    return;
  }
  request->headers.set("Authorization", authBearer_);
  HttpEvents events;
  events.response = [this, connection, handlers](const HttpResponse& response) {
    (this->*handlers.response)(connection, response);
  };
  events.data = [this, connection, handlers](const std::string& bytes) { (this->*handlers.data)(connection, bytes); };
  events.finish = [this, connection, handlers] { (this->*handlers.finish)(connection); };
  events.failure = [this, connection, handlers](const HttpError& error) {
    if (!connection->ended) {
      (this->*handlers.failure)(connection, error.message);
    }
  };
  connections_.insert(connection);
  connection->transfer = parts_.http.start(std::move(*request), downloadThread_, std::move(events));
}

void OVDownloadQueue::endConnection(const OVDownloadConnectionPtr& connection) {
  connection->ended = true;
  if (connection->transfer) {
    connection->transfer->cancel();
  }
  connections_.erase(connection);
}

bool OVDownloadQueue::isCompleteInCache(const OVFile& file) const {
  const auto path = parts_.fileCache.pathForFileCache(file);
  std::error_code error;
  return path && std::filesystem::exists(*path, error);
}

void OVDownloadQueue::storeBytes(OVDownloadConnection& connection, std::string_view bytes) {
  const auto& file = connection.task->file;
  const auto location = connection.range.location + static_cast<std::uint64_t>(connection.received);
  // Only the piece that reaches the end can complete the file; asking the
  // cache before and after tells whether this piece did.
  const bool reachesEnd = location + bytes.size() >= file.fileSize;
  const bool wasComplete = reachesEnd && isCompleteInCache(file);
  const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  parts_.fileCache.addChunk(data, location, bytes.size(), file);
  connection.received += static_cast<std::int64_t>(bytes.size());
  if (reachesEnd && !wasComplete && isCompleteInCache(file)) {
    // The expiry finds downloads through this record.
    parts_.database.markFileDownloaded(file);
  }
}

bool OVDownloadQueue::acceptResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response,
                                     TransferFailure fail) {
  connection->responceCode = static_cast<std::int32_t>(response.status);
  if (response.status != 200) {
    return false;
  }
  const auto declared = response.headers.get("Content-Length");
  if (declared && *declared != std::to_string(connection->range.length)) {
    endConnection(connection);
    (this->*fail)(connection, fmt::format("reply of {} bytes for a range of {}", *declared, connection->range.length));
    return false;
  }
  return true;
}

bool OVDownloadQueue::acceptBodyPiece(const OVDownloadConnectionPtr& connection, const std::string& bytes,
                                      TransferFailure fail) {
  if (connection->ended) {
    return false;
  }
  if (connection->responceCode != 200) {
    connection->data += bytes; // the error text
    return false;
  }
  if (static_cast<std::uint64_t>(connection->received) + bytes.size() > connection->range.length) {
    endConnection(connection);
    (this->*fail)(connection, fmt::format("reply longer than the range of {} bytes", connection->range.length));
    return false;
  }
  // Readers of a request at the prefix find their bytes in the cache.
  if (!connection->task->isFileDownload && !connection->extendsPrefix) {
    connection->data += bytes;
  }
  storeBytes(*connection, bytes);
  return true;
}

// ---- Queries ----

bool OVDownloadQueue::isFileDownloaded(const OVFile& file) {
  if (OVFuseUtils::isPathIgnored(file.publicName, !file.isFile) || file.fileSize == 0) {
    return true;
  }
  return isCompleteInCache(file);
}

bool OVDownloadQueue::isFileInQueue(const OVFile& file) {
  if (!file.isFile || file.uploadName.empty()) {
    return false;
  }
  const std::lock_guard lock(fileMutex_);
  return allFileDownloads_.contains(file.internalName);
}

bool OVDownloadQueue::pathHasDownloads(const std::string& path) {
  const auto start = parts_.clock.steadyNow();
  std::vector<OVFileDownloadTaskPtr> tasks;
  {
    const std::lock_guard lock(fileMutex_);
    for (const auto& [id, task] : allFileDownloads_) {
      tasks.push_back(task);
    }
  }
  const std::lock_guard lock(pathQueryMutex_);
  std::set<std::string> seen;
  bool found = false;
  for (const auto& task : tasks) {
    if (!seen.insert(task->file.parentId).second) {
      continue;
    }
    // A share's root path can only equal the path: nothing lies above it but the root.
    const auto folderPath = drivePathOfParent(parts_.database, task->file.parentId);
    if (folderPath && OVFuseUtils::isPath(path, *folderPath)) {
      found = true;
      break;
    }
  }
  const Seconds took = parts_.clock.steadyNow() - start;
  if (took > kSlowWalk) {
    OVLog(kLogMain, "check if path {} has downloads took -> {:f}", path, took.count());
  }
  return found;
}

bool OVDownloadQueue::pathIsSynchronized(const std::string& path) {
  const std::lock_guard lock(syncedMutex_);
  return syncedFolders_.contains(path);
}

std::int64_t OVDownloadQueue::queueBytes() {
  const std::lock_guard lock(fileMutex_);
  return downloadFileBytes_ - partiallyDownloadedBytes_;
}

std::int64_t OVDownloadQueue::queueLen() {
  const std::lock_guard lock(fileMutex_);
  return static_cast<std::int64_t>(fileDownloads_.size() + priorityFileDownloads_.size());
}

} // namespace orvex
