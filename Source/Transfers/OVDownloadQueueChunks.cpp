// Contents on demand: a reader's range becomes a chunk task, the download
// thread requests it (at most one request per file, five in all), and every
// reader whose range has arrived is released while the transfer goes on.
// Requests at the cached prefix grow while a file is read front to back; their
// bytes extend the prefix as they arrive and readers take theirs from there.
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Transfers/OVDownloadQueue.h"

#include <algorithm>

namespace orvex {

namespace {

std::uint64_t endOf(ByteRange range) {
  return range.location + range.length;
}

bool overlap(ByteRange a, ByteRange b) {
  return a.location < endOf(b) && b.location < endOf(a);
}

std::string toString(const OVFileCache::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

} // namespace

OVFile OVDownloadQueue::servedFile(const OVFile& original, const std::string& path) {
  OVFile file = original;
  if (!parts_.database.shareWithId(file.shareId)) {
    // The node's share is gone (moved into a folder share, say): the share
    // holding its path serves it now, and what was cached under the old one
    // may belong to another version.
    const auto share = parts_.database.shareWithPath(path);
    if (share && share->ShareId) {
      file.shareId = *share->ShareId;
      parts_.fileCache.deleteFileCache(file);
      parts_.database.updateFileWithId(file.internalName, file.shareId, std::string());
    }
  }
  return file;
}

std::optional<std::string> OVDownloadQueue::downloadChunk(std::uint64_t location, std::uint64_t length,
                                                          const OVFile& original, const std::string& path) {
  const OVFile file = servedFile(original, path);
  if (location > file.fileSize) {
    return std::nullopt;
  }
  length = std::min(length, file.fileSize - location);
  if (length == 0) {
    return std::string(); // a read at the end of the file
  }
  if (auto cached = parts_.fileCache.getChunk(location, length, file)) {
    return toString(*cached);
  }
  auto wait = waitForRange(file, {location, length});
  if (!wait.inCache) {
    return std::move(wait.data);
  }
  // Only a drop of the cached content (the node replaced meanwhile) makes this fail.
  std::string bytes(length, '\0');
  auto read = parts_.fileCache.readChunk(location, bytes, file);
  if (!read)
    return std::nullopt;
  bytes.resize(*read);
  return bytes;
}

bool OVDownloadQueue::downloadWholeContent(const OVFile& original, const std::string& path) {
  const OVFile file = servedFile(original, path);
  if (file.fileSize == 0 || isCompleteInCache(file)) {
    return true;
  }
  return waitForRange(file, {0, file.fileSize}).inCache && isCompleteInCache(file);
}

OVDownloadQueue::ChunkWait OVDownloadQueue::waitForRange(const OVFile& file, ByteRange range) {
  auto task = std::make_shared<OVFileDownloadTask>(file, range, false);
  // Held from before the task is queued until the wait begins, so the
  // delivering thread signals only while this reader waits or after it gave
  // up. Taking the monitor under it cannot deadlock: nobody completes a task
  // that is not queued yet.
  std::unique_lock taskLock(task->mutex);
  {
    const std::lock_guard lock(chunkMutex_);
    auto& status = filesStatus_.try_emplace(file.internalName, OVFileDownloadStatus(file)).first->second;
    if (failedRecently(status, range)) {
      return {};
    }
    downloadTasks_.push_back(task);
  }
  scheduleCheckDownloads();
  const bool arrived = task->completed.wait_for(taskLock, timings_.chunkWait, [&task] { return task->isCompleted; });
  taskLock.unlock();

  ChunkWait wait;
  {
    const std::lock_guard lock(chunkMutex_);
    if (auto found = std::find(downloadTasks_.begin(), downloadTasks_.end(), task); found != downloadTasks_.end()) {
      downloadTasks_.erase(found);
    }
    wait.inCache = task->inCache;
    wait.data = std::move(task->data);
    if (!wait.inCache && !wait.data) {
      rememberFailedRead(filesStatus_.at(file.internalName), range);
    }
  }
  if (!arrived) {
    // A transfer that brought nothing for this reader in the whole wait is
    // stalled or too slow: unless another reader still waits for it, the
    // next read asks afresh.
    downloadThread_.async([this, name = file.internalName] { cancelAbandonedTransfer(name); });
  }
  return wait;
}

bool OVDownloadQueue::failedRecently(const OVFileDownloadStatus& status, ByteRange range) const {
  return status.failedRange && overlap(*status.failedRange, range) &&
         parts_.clock.steadyNow() - status.failedAt < timings_.failedReadMemory;
}

void OVDownloadQueue::rememberFailedRead(OVFileDownloadStatus& status, ByteRange range) const {
  const auto now = parts_.clock.steadyNow();
  if (status.failedRange && now - status.failedAt < timings_.failedReadMemory) {
    const auto start = std::min(status.failedRange->location, range.location);
    range = {start, std::max(endOf(*status.failedRange), endOf(range)) - start};
  }
  status.failedRange = range;
  status.failedAt = now;
}

void OVDownloadQueue::fileClosed(const std::string& internalName) {
  downloadThread_.async([this, internalName] { cancelAbandonedTransfer(internalName); });
}

void OVDownloadQueue::cancelAbandonedTransfer(const std::string& internalName) {
  if (stopped_) {
    return;
  }
  {
    const std::lock_guard lock(chunkMutex_);
    for (const auto& task : downloadTasks_) {
      if (!task->isCompleted && task->file.internalName == internalName) {
        return;
      }
    }
  }
  // Held apart from connections_: ending it erases it from there.
  OVDownloadConnectionPtr connection;
  for (const auto& candidate : connections_) {
    if (!candidate->task->isFileDownload && candidate->task->file.internalName == internalName) {
      connection = candidate;
      break;
    }
  }
  if (!connection) {
    return;
  }
  OVLog(kLogMain, "Chunk download of file {} stopped: no reader waits for it", connection->task->file.publicName);
  endConnection(connection);
  {
    const std::lock_guard lock(chunkMutex_);
    chunkTransferEnded(*connection, false);
  }
  scheduleCheckDownloads(); // a transfer is free for another file
}

std::unordered_map<std::string, std::uint64_t> OVDownloadQueue::prefixesOfWaitingTasks() {
  std::vector<OVFile> files;
  {
    const std::lock_guard lock(chunkMutex_);
    for (const auto& task : downloadTasks_) {
      if (!task->isCompleted) {
        files.push_back(task->file);
      }
    }
  }
  // Outside the monitor: the cache takes its own.
  std::unordered_map<std::string, std::uint64_t> prefixes;
  for (const auto& file : files) {
    if (!prefixes.contains(file.internalName)) {
      prefixes.emplace(file.internalName, parts_.fileCache.availableDataForFile(file));
    }
  }
  return prefixes;
}

void OVDownloadQueue::startChunkTasks() {
  const auto prefixes = prefixesOfWaitingTasks();
  std::vector<std::pair<OVFileDownloadTaskPtr, OVChunkPlan>> toStart;
  {
    const std::lock_guard lock(chunkMutex_);
    for (const auto& task : downloadTasks_) {
      const auto prefix = prefixes.find(task->file.internalName);
      if (task->isCompleted || prefix == prefixes.end()) {
        continue; // queued after the prefixes were taken: the pass it asked for comes next
      }
      if (endOf(task->range) <= prefix->second) {
        // Its bytes arrived after the reader looked, with a transfer that has ended since.
        task->inCache = true;
        task->complete();
        continue;
      }
      auto& status = filesStatus_.try_emplace(task->file.internalName, OVFileDownloadStatus(task->file)).first->second;
      if (runningTasks_ >= kMaxTransfers || status.downloadingChunk) {
        continue;
      }
      status.downloadingChunk = true;
      ++runningTasks_;
      task->isStarted = true;
      toStart.emplace_back(task, planChunkRequest(task->range, prefix->second, task->file.fileSize, status.stream));
    }
  }
  // Outside the monitor: building a request asks the store.
  for (const auto& [task, plan] : toStart) {
    processDownloadTask(task, plan);
  }
}

void OVDownloadQueue::processDownloadTask(const OVFileDownloadTaskPtr& task, const OVChunkPlan& plan) {
  auto connection = std::make_shared<OVDownloadConnection>();
  connection->task = task;
  connection->range = plan.range;
  connection->extendsPrefix = plan.extendsPrefix;
  if (!plan.extendsPrefix) {
    connection->data.reserve(plan.range.length);
  }
  startConnection(connection, {&OVDownloadQueue::onChunkResponse, &OVDownloadQueue::onChunkData,
                               &OVDownloadQueue::onChunkFinish, &OVDownloadQueue::onChunkFailure});
}

void OVDownloadQueue::onChunkResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response) {
  acceptResponse(connection, response, &OVDownloadQueue::onChunkFailure);
}

void OVDownloadQueue::onChunkData(const OVDownloadConnectionPtr& connection, const std::string& bytes) {
  if (!acceptBodyPiece(connection, bytes, &OVDownloadQueue::onChunkFailure)) {
    return;
  }
  const auto prefix = parts_.fileCache.availableDataForFile(connection->task->file);
  const auto arrivedEnd = connection->range.location + static_cast<std::uint64_t>(connection->received);
  if (connection->extendsPrefix && prefix < arrivedEnd) {
    // The cache dropped the partial download (the node was written over or
    // deleted): the rest of this transfer would go nowhere.
    endConnection(connection);
    onChunkFailure(connection, "the cache no longer takes its bytes");
    return;
  }
  const std::lock_guard lock(chunkMutex_);
  releaseCoveredTasks(*connection, prefix);
}

void OVDownloadQueue::releaseCoveredTasks(const OVDownloadConnection& connection, std::uint64_t prefix) {
  const auto& internalName = connection.task->file.internalName;
  const auto received = static_cast<std::uint64_t>(connection.received);
  for (const auto& task : downloadTasks_) {
    if (task->isCompleted || task->file.internalName != internalName) {
      continue;
    }
    if (endOf(task->range) <= prefix) {
      task->inCache = true;
      task->complete();
    } else if (!connection.extendsPrefix && task->coveredBy(connection.range.location, received)) {
      task->data = connection.data.substr(task->range.location - connection.range.location, task->range.length);
      task->complete();
    }
  }
}

void OVDownloadQueue::onChunkFinish(const OVDownloadConnectionPtr& connection) {
  if (connection->ended) {
    return;
  }
  connections_.erase(connection);
  const bool ok = connection->responceCode == 200;
  if (ok && static_cast<std::uint64_t>(connection->received) < connection->range.length) {
    onChunkFailure(connection,
                   fmt::format("reply of {} bytes for a range of {}", connection->received, connection->range.length));
    return;
  }
  if (!ok) {
    OVLog(kLogMain, "Warning! Chunk download of file {} got responce code {}, error message {}.",
          connection->task->file.publicName, connection->responceCode, connection->data);
  }
  {
    const std::lock_guard lock(chunkMutex_);
    chunkTransferEnded(*connection, false);
  }
  // A refusal is asked again by the loop's next pass, not at once: asking a
  // server that refuses as fast as it answers would flood it until the
  // reader gives up.
  if (ok) {
    scheduleCheckDownloads();
  }
}

void OVDownloadQueue::onChunkFailure(const OVDownloadConnectionPtr& connection, const std::string& error) {
  connections_.erase(connection);
  connection->ended = true;
  OVLog(kLogMain, "Warning! Chunk download of file {} failed with error: {}", connection->task->file.publicName, error);
  {
    const std::lock_guard lock(chunkMutex_);
    chunkTransferEnded(*connection, true);
  }
  scheduleCheckDownloads();
}

// A task not covered by a finished transfer stays waiting, and a later pass
// asks for it again while its reader waits; a failed one ends its reader's wait.
void OVDownloadQueue::chunkTransferEnded(const OVDownloadConnection& connection, bool failed) {
  --runningTasks_;
  if (auto status = filesStatus_.find(connection.task->file.internalName); status != filesStatus_.end()) {
    status->second.downloadingChunk = false;
  }
  if (failed && !connection.task->isCompleted) {
    connection.task->complete();
  }
}

} // namespace orvex
