// Contents on demand: a reader's range becomes a chunk task, the download
// thread requests it (at most one request per file, five in all), and every
// reader whose range has arrived is released while the transfer goes on.
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Transfers/OVDownloadQueue.h"

#include <algorithm>

namespace orvex {

std::optional<std::string> OVDownloadQueue::downloadChunk(std::uint64_t location, std::uint64_t length,
                                                          const OVFile& original, const std::string& path) {
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
  if (location > file.fileSize) {
    return std::nullopt;
  }
  length = std::min(length, file.fileSize - location);
  if (length == 0) {
    return std::string(); // a read at the end of the file
  }
  if (auto cached = parts_.fileCache.getChunk(location, length, file)) {
    return std::string(cached->begin(), cached->end());
  }

  auto task = std::make_shared<OVFileDownloadTask>(file, ByteRange{location, length}, false);
  // Held from before the task is queued until the wait begins, so the
  // delivering thread signals only while this reader waits or after it gave up.
  std::unique_lock taskLock(task->mutex);
  {
    const std::lock_guard lock(chunkMutex_);
    filesStatus_.try_emplace(file.internalName, OVFileDownloadStatus{file, false});
    downloadTasks_.push_back(task);
  }
  scheduleCheckDownloads();
  task->completed.wait_for(taskLock, timings_.chunkWait, [&task] { return task->isCompleted; });
  taskLock.unlock();

  const std::lock_guard lock(chunkMutex_);
  if (auto found = std::find(downloadTasks_.begin(), downloadTasks_.end(), task); found != downloadTasks_.end()) {
    downloadTasks_.erase(found);
  }
  return std::move(task->data);
}

void OVDownloadQueue::startChunkTasks() {
  std::vector<OVFileDownloadTaskPtr> toStart;
  {
    const std::lock_guard lock(chunkMutex_);
    for (const auto& task : downloadTasks_) {
      if (runningTasks_ >= kMaxTransfers) {
        break;
      }
      auto& status =
          filesStatus_.try_emplace(task->file.internalName, OVFileDownloadStatus{task->file, false}).first->second;
      if (task->isCompleted || status.downloadingChunk) {
        continue;
      }
      status.downloadingChunk = true;
      ++runningTasks_;
      task->isStarted = true;
      toStart.push_back(task);
    }
  }
  // Outside the monitor: building a request asks the store.
  for (const auto& task : toStart) {
    processDownloadTask(task);
  }
}

// The request may cover more than the task: the surplus serves later reads.
void OVDownloadQueue::processDownloadTask(const OVFileDownloadTaskPtr& task) {
  const auto location = task->range.location;
  const auto fileSize = task->file.fileSize;
  std::uint64_t size = recommendedChunkSize;
  if (parts_.fileCache.availableDataForFile(task->file) < location) {
    // A read beyond the prefix is a jump (a seek or a second reader); what
    // follows it is likely wanted soon.
    size *= 4;
  }
  size = std::max(size, task->range.length);
  size = std::min(size, fileSize - location);

  auto connection = std::make_shared<OVDownloadConnection>();
  connection->task = task;
  connection->range = {location, size};
  connection->data.reserve(size);
  startConnection(connection, {&OVDownloadQueue::onChunkResponse, &OVDownloadQueue::onChunkData,
                               &OVDownloadQueue::onChunkFinish, &OVDownloadQueue::onChunkFailure});
}

void OVDownloadQueue::onChunkResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response) {
  acceptResponse(connection, response, &OVDownloadQueue::onChunkFailure);
}

void OVDownloadQueue::onChunkData(const OVDownloadConnectionPtr& connection, const std::string& bytes) {
  if (acceptBodyPiece(connection, bytes, &OVDownloadQueue::onChunkFailure)) {
    const std::lock_guard lock(chunkMutex_);
    releaseCoveredTasks(*connection);
  }
}

void OVDownloadQueue::releaseCoveredTasks(const OVDownloadConnection& connection) {
  const auto& internalName = connection.task->file.internalName;
  const auto received = static_cast<std::uint64_t>(connection.received);
  for (const auto& task : downloadTasks_) {
    if (task->isCompleted || task->file.internalName != internalName ||
        !task->coveredBy(connection.range.location, received)) {
      continue;
    }
    task->data = connection.data.substr(task->range.location - connection.range.location, task->range.length);
    task->complete();
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
