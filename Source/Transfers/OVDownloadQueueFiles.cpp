// Whole-file downloads: a normal and a priority list, at most five transfers,
// progress notices for the user interface, and cancellation.
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Transfers/OVDownloadQueue.h"

#include <algorithm>

namespace orvex {

namespace {

// Progress is posted when more than this and more than 1 % of the file arrived since the last notice.
constexpr std::int64_t kProgressStep = 65536;
// Only downloads at least this large (or the first one) say something about the line's speed.
constexpr std::uint64_t kSpeedSampleSize = 65536;

void eraseFirst(std::deque<OVFileDownloadTaskPtr>& list, const OVFileDownloadTaskPtr& task) {
  if (auto found = std::find(list.begin(), list.end(), task); found != list.end()) {
    list.erase(found);
  }
}

} // namespace

void OVDownloadQueue::downloadFile(const OVFile& file, bool highPriority) {
  if (isFileDownloaded(file)) {
    return; // nothing to fetch: empty, ignored, or complete in the cache
  }
  {
    const std::lock_guard lock(fileMutex_);
    if (auto found = allFileDownloads_.find(file.internalName); found != allFileDownloads_.end()) {
      const auto& task = found->second;
      if (highPriority && !task->isStarted && task->priority == 0) {
        priorityFileDownloads_.push_back(task);
        task->priority = 1;
        eraseFirst(fileDownloads_, task);
      }
      return;
    }
    auto task = std::make_shared<OVFileDownloadTask>(file, ByteRange{0, file.fileSize}, true);
    task->priority = highPriority ? 1 : 0;
    (highPriority ? priorityFileDownloads_ : fileDownloads_).push_back(task);
    allFileDownloads_.emplace(file.internalName, task);
    downloadFileBytes_ += static_cast<std::int64_t>(file.fileSize);
  }
  scheduleCheckDownloads();
}

void OVDownloadQueue::downloadFileViaMenu(const OVFile& file) {
  if (!isFileDownloaded(file)) {
    downloadFileManually(file);
  }
}

void OVDownloadQueue::cancelFilesDownload(const std::vector<OVFile>& files) {
  const std::lock_guard lock(fileMutex_);
  for (const auto& file : files) {
    auto found = allFileDownloads_.find(file.internalName);
    if (found == allFileDownloads_.end()) {
      continue;
    }
    auto task = found->second;
    if (task->isStarted) {
      task->cancel = true; // it stops at its next data
    } else {
      deleteCompletedFileDownload(task);
    }
  }
}

void OVDownloadQueue::cancelAllDownloads() {
  {
    const std::lock_guard lock(chunkMutex_);
    for (const auto& task : downloadTasks_) {
      task->cancel = true;
    }
  }
  const std::lock_guard lock(fileMutex_);
  for (const auto* list : {&fileDownloads_, &priorityFileDownloads_}) {
    for (const auto& task : *list) {
      task->cancel = true;
    }
  }
}

void OVDownloadQueue::deleteCompletedFileDownload(const OVFileDownloadTaskPtr& task) {
  eraseFirst(priorityFileDownloads_, task);
  eraseFirst(fileDownloads_, task);
  downloadFileBytes_ -= static_cast<std::int64_t>(task->file.fileSize);
  allFileDownloads_.erase(task->file.internalName);
}

void OVDownloadQueue::startFileTasks() {
  std::vector<OVFileDownloadTaskPtr> toStart;
  {
    const std::lock_guard lock(fileMutex_);
    if (runningFileDownloads_ < kMaxTransfers && walkFileList(priorityFileDownloads_, toStart)) {
      walkFileList(fileDownloads_, toStart);
    }
  }
  for (const auto& task : toStart) {
    processFileDownloadTask(task);
  }
}

bool OVDownloadQueue::walkFileList(std::deque<OVFileDownloadTaskPtr>& list,
                                   std::vector<OVFileDownloadTaskPtr>& toStart) {
  for (std::size_t index = 0; index < list.size();) {
    if (runningFileDownloads_ >= kMaxTransfers) {
      return false;
    }
    const auto task = list[index];
    if (task->isStarted) {
      ++index;
      continue;
    }
    // A task complete in the cache by now (read through the drive meanwhile)
    // leaves at once rather than counting in the queue for ever.
    if (task->cancel || isFileDownloaded(task->file)) {
      deleteCompletedFileDownload(task); // the walk goes on at the same index
      continue;
    }
    task->isStarted = true;
    ++runningFileDownloads_;
    toStart.push_back(task);
    ++index;
  }
  return runningFileDownloads_ < kMaxTransfers;
}

void OVDownloadQueue::processFileDownloadTask(const OVFileDownloadTaskPtr& task) {
  auto connection = std::make_shared<OVDownloadConnection>();
  connection->task = task;
  connection->range = task->range;
  postFileNotification(kOVNotificationFileDownloadStarted, task->file);
  connection->startTime = parts_.clock.steadyNow();
  startConnection(connection, {&OVDownloadQueue::onFileResponse, &OVDownloadQueue::onFileData,
                               &OVDownloadQueue::onFileFinish, &OVDownloadQueue::onFileFailure});
}

void OVDownloadQueue::onFileResponse(const OVDownloadConnectionPtr& connection, const HttpResponse& response) {
  if (acceptResponse(connection, response, &OVDownloadQueue::onFileFailure)) {
    postFileNotification(kOVNotificationFileDownloadProgress, connection->task->file, 0);
  }
}

void OVDownloadQueue::onFileData(const OVDownloadConnectionPtr& connection, const std::string& bytes) {
  if (!acceptBodyPiece(connection, bytes, &OVDownloadQueue::onFileFailure)) {
    return;
  }
  const auto& task = connection->task;
  bool cancelled = false;
  {
    const std::lock_guard lock(fileMutex_);
    partiallyDownloadedBytes_ += static_cast<std::int64_t>(bytes.size());
    cancelled = task->cancel;
    if (cancelled) {
      OVLog(kLogMain, "File {} download canceled.", task->file.publicName);
      --runningFileDownloads_;
      partiallyDownloadedBytes_ -= connection->received;
      deleteCompletedFileDownload(task);
    }
  }
  if (cancelled) {
    endConnection(connection);
    postFileNotification(kOVNotificationFileDownloadFinished, task->file, std::nullopt, true);
    scheduleCheckDownloads();
    return;
  }
  const auto sinceLast = connection->received - connection->lastProgress;
  if (sinceLast > kProgressStep && sinceLast > static_cast<std::int64_t>(task->file.fileSize / 100)) {
    postFileNotification(kOVNotificationFileDownloadProgress, task->file, connection->received);
    connection->lastProgress = connection->received;
  }
}

void OVDownloadQueue::onFileFinish(const OVDownloadConnectionPtr& connection) {
  if (connection->ended) {
    return;
  }
  const auto& file = connection->task->file;
  if (connection->responceCode == 200 && static_cast<std::uint64_t>(connection->received) < connection->range.length) {
    onFileFailure(connection,
                  fmt::format("reply of {} bytes for a file of {}", connection->received, connection->range.length));
    return;
  }
  connections_.erase(connection);
  connection->ended = true;
  {
    const std::lock_guard lock(fileMutex_);
    --runningFileDownloads_;
    deleteCompletedFileDownload(connection->task);
    if (connection->responceCode == 200) {
      partiallyDownloadedBytes_ -= connection->received;
    }
  }
  if (connection->responceCode == 200) {
    updateDownloadSpeed(*connection);
    OVLog(kLogMain, "File {} download finished.", file.publicName);
    postFileNotification(kOVNotificationFileDownloadFinished, file);
  } else {
    OVLog(kLogMain, "File {} download responce code {}, error message {}.", file.publicName, connection->responceCode,
          connection->data);
    postFileNotification(kOVNotificationFileDownloadFinished, file, std::nullopt, true);
  }
  scheduleCheckDownloads();
}

// The file is not queued again: a later automatic check or the user does that.
void OVDownloadQueue::onFileFailure(const OVDownloadConnectionPtr& connection, const std::string& error) {
  connections_.erase(connection);
  connection->ended = true;
  const auto& file = connection->task->file;
  OVLog(kLogMain, "File {} download failed with error: {}", file.publicName, error);
  {
    const std::lock_guard lock(fileMutex_);
    --runningFileDownloads_;
    deleteCompletedFileDownload(connection->task);
    if (connection->received > 0) {
      partiallyDownloadedBytes_ -= connection->received;
    }
  }
  postFileNotification(kOVNotificationFileDownloadFinished, file, std::nullopt, true);
  scheduleCheckDownloads();
}

void OVDownloadQueue::updateDownloadSpeed(const OVDownloadConnection& connection) {
  const std::chrono::duration<double> took = parts_.clock.steadyNow() - connection.startTime;
  const auto size = connection.task->file.fileSize;
  if (took.count() <= 0) {
    return; // no time measured: no speed to tell
  }
  if (lastDownloadSpeed_.load() < 0.1 || size >= kSpeedSampleSize) {
    lastDownloadSpeed_.store(static_cast<double>(size) / took.count());
  }
}

void OVDownloadQueue::postFileNotification(const char* name, const OVFile& file, std::optional<std::int64_t> progress,
                                           bool error) {
  NotificationUserInfo info{{kOVNotificationKeyFile, file}};
  if (progress) {
    info.emplace(kOVNotificationKeyProgress, *progress);
  }
  if (error) {
    info.emplace(kOVNotificationKeyError, true);
  }
  parts_.notifications.post(name, this, std::move(info));
}

} // namespace orvex
