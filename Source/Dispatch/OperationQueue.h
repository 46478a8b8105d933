// A named pool that runs operations concurrently, at most `width` at a time,
// each once its dependencies have finished.
#pragma once

#include "Dispatch/Operation.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

namespace detail {
class OperationQueueCore;
}

// Thread-safe: every member may be called from any thread. Operations start
// in the order they were added, skipping those still waiting for a
// dependency. They run on worker threads named after the label; workers are
// started on demand up to the width and kept until the queue is destroyed, so
// a busy queue does not pay for a thread per operation. Width 0 holds every
// operation until it is raised.
//
// Destruction cancels what has not started and waits for what runs (an
// asynchronous operation until its finish()). Neither the destructor nor
// waitUntilAllOperationsAreFinished() may be called from one of the queue's
// own operations or completions: they would wait for themselves.
class OperationQueue {
 public:
  OperationQueue(std::string label, std::size_t maxConcurrentOperationCount);
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;
  ~OperationQueue();

  // Queues an operation. One cancelled before is ignored (it has finished);
  // adding an operation to a second queue, or twice, throws std::logic_error.
  void addOperation(const std::shared_ptr<Operation>& operation);
  // Queues a synchronous operation made of `body` and returns it.
  std::shared_ptr<Operation> addOperation(Operation::Body body);

  // Lowering the width lets running operations finish; none starts until
  // fewer than the new width run.
  void setMaxConcurrentOperationCount(std::size_t width);
  std::size_t maxConcurrentOperationCount() const;

  // Cancels every operation queued or running (see Operation::cancel()).
  void cancelAllOperations();
  // Blocks until no operation is queued or running.
  void waitUntilAllOperationsAreFinished();
  // Operations queued or running.
  std::size_t operationCount() const;
  // Those operations: running ones first, then the queued ones in order.
  std::vector<std::shared_ptr<Operation>> operations() const;

  const std::string& label() const;

 private:
  std::shared_ptr<detail::OperationQueueCore> core_;
};

} // namespace orvex
