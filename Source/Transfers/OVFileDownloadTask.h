// The records of the download queue: one wanted range of one file (a task),
// the per-file state of chunk downloading, and one HTTP transfer.
#pragma once

#include "Dispatch/Clock.h"
#include "Network/HttpTransfer.h"
#include "Network/OVNewAPI.h"
#include "Store/OVFile.h"
#include "Transfers/OVChunkPlan.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orvex {

// Shared between the reader that waits for it and the download thread. The
// flags and `data` are guarded by the queue's monitor of the task's side
// (chunk or file); `completed` and `isCompleted` additionally by `mutex`,
// which the delivering thread takes only to set isCompleted and signal.
struct OVFileDownloadTask {
  OVFileDownloadTask(OVFile wantedFile, ByteRange wantedRange, bool wholeFile)
      : file(std::move(wantedFile)), range(wantedRange), isFileDownload(wholeFile) {}

  const OVFile file;
  const ByteRange range;
  std::mutex mutex;
  std::condition_variable completed;
  std::optional<std::string> data; // chunk tasks: the delivered bytes of `range`
  bool isStarted = false;
  bool isCompleted = false;
  bool inCache = false; // chunk tasks: completed because `range` lies in the cached prefix
  const bool isFileDownload;
  int priority = 0;
  bool cancel = false;

  // Sets isCompleted and wakes the reader. `data` must be set first.
  void complete() {
    const std::lock_guard lock(mutex);
    isCompleted = true;
    completed.notify_all();
  }
  // The task's range lies within [location, location + length).
  bool coveredBy(std::uint64_t location, std::uint64_t length) const {
    return range.location >= location && range.location + range.length <= location + length;
  }
};

using OVFileDownloadTaskPtr = std::shared_ptr<OVFileDownloadTask>;

// Chunk downloading of one file; guarded by the queue's chunk monitor.
struct OVFileDownloadStatus {
  explicit OVFileDownloadStatus(OVFile node) : file(std::move(node)) {}

  OVFile file;
  bool downloadingChunk = false; // a chunk request for the file is in flight
  OVStreamState stream;
  // The reads that ended without their bytes a moment ago (their union), so
  // that the kernel's immediate retry of the same pages fails at once.
  std::optional<ByteRange> failedRange;
  Clock::SteadyTime failedAt{};
};

// One HTTP transfer. Only the download thread touches it: it is created
// there and its events are delivered there.
struct OVDownloadConnection {
  OVFileDownloadTaskPtr task;
  Clock::SteadyTime startTime{};
  ByteRange range;
  bool extendsPrefix = false; // starts at the cached prefix: readers find their bytes in the cache
  std::int64_t received = 0;  // body bytes received with status 200
  std::int64_t lastProgress = 0;
  std::string data; // the error text, or the bytes of a request beyond the prefix
  std::int32_t responceCode = 0;
  std::shared_ptr<HttpTransfer> transfer;
  // The transfer was dropped on purpose (cancelled, or its reply refused):
  // events still on their way are ignored.
  bool ended = false;
};

using OVDownloadConnectionPtr = std::shared_ptr<OVDownloadConnection>;

} // namespace orvex
