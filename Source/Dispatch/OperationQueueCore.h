// The shared state behind an OperationQueue. Internal to Dispatch: operations
// reach their queue through it, by weak pointer, so an operation that finishes
// after its queue was destroyed (an asynchronous one, or a dependency in
// another queue) finds nothing instead of a dangling queue.
#pragma once

#include "Dispatch/Operation.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::detail {

// Thread-safe; all state is protected by mutex_ (taken before any operation's
// mutex). Workers are started on demand up to the width and live until
// shutdown(); they sleep on workAvailable_ when nothing is ready.
class OperationQueueCore : public std::enable_shared_from_this<OperationQueueCore> {
 public:
  OperationQueueCore(std::string label, std::size_t width);
  OperationQueueCore(const OperationQueueCore&) = delete;
  OperationQueueCore& operator=(const OperationQueueCore&) = delete;
  ~OperationQueueCore();

  void add(const std::shared_ptr<Operation>& operation);
  void setWidth(std::size_t width);
  std::size_t width() const;
  std::size_t count() const;
  std::vector<std::shared_ptr<Operation>> snapshot() const;
  void cancelAll();
  void waitUntilEmpty();
  // Cancels what has not started, waits for what runs, joins the workers.
  void shutdown();

  const std::string& label() const { return label_; }

  // From operations: one of ours ended; something one of ours waits for ended.
  void operationFinished(const Operation& operation);
  void dependencyFinished();

 private:
  void workerLoop();
  std::shared_ptr<Operation> takeReadyLocked();
  bool hasReadyLocked() const;
  void wakeWorkerLocked();
  bool emptyLocked() const { return pending_.empty() && executing_.empty(); }

  // Constant after construction.
  const std::string label_;

  // State below is protected by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable emptied_;
  std::deque<std::shared_ptr<Operation>> pending_; // in the order they were added
  std::vector<std::shared_ptr<Operation>> executing_;
  std::vector<std::thread> workers_;
  std::size_t width_;
  std::size_t sleepingWorkers_ = 0;
  bool stopping_ = false;
};

} // namespace orvex::detail
