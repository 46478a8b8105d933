#include "Dispatch/OperationQueueCore.h"

#include "Dispatch/ThreadName.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace orvex::detail {

OperationQueueCore::OperationQueueCore(std::string label, std::size_t width)
    : label_(std::move(label)), width_(width) {}

OperationQueueCore::~OperationQueueCore() {
  shutdown();
}

void OperationQueueCore::add(const std::shared_ptr<Operation>& operation) {
  if (!operation) {
    throw std::invalid_argument("no operation to add");
  }
  bool rejected = false;
  {
    std::lock_guard lock(mutex_);
    if (!operation->attachTo(weak_from_this())) {
      return; // cancelled before it was added: it has already finished
    }
    rejected = stopping_;
    if (!rejected) {
      pending_.push_back(operation);
      wakeWorkerLocked();
    }
  }
  if (rejected) {
    operation->cancel(); // added during shutdown: it ends as if cancelled
  }
}

void OperationQueueCore::setWidth(std::size_t width) {
  std::lock_guard lock(mutex_);
  width_ = width;
  wakeWorkerLocked();
}

std::size_t OperationQueueCore::width() const {
  std::lock_guard lock(mutex_);
  return width_;
}

std::size_t OperationQueueCore::count() const {
  std::lock_guard lock(mutex_);
  return pending_.size() + executing_.size();
}

std::vector<std::shared_ptr<Operation>> OperationQueueCore::snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Operation>> all(executing_.begin(), executing_.end());
  all.insert(all.end(), pending_.begin(), pending_.end());
  return all;
}

void OperationQueueCore::cancelAll() {
  // Cancelled outside the lock: a pending operation finishes on this thread
  // and comes back through operationFinished().
  for (const auto& operation : snapshot()) {
    operation->cancel();
  }
}

void OperationQueueCore::waitUntilEmpty() {
  std::unique_lock lock(mutex_);
  emptied_.wait(lock, [this] { return emptyLocked(); });
}

void OperationQueueCore::shutdown() {
  std::vector<std::shared_ptr<Operation>> pending;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && workers_.empty()) {
      return;
    }
    stopping_ = true; // from here on no operation starts
    pending.assign(pending_.begin(), pending_.end());
    workAvailable_.notify_all();
  }
  for (const auto& operation : pending) {
    operation->cancel();
  }
  std::vector<std::thread> workers;
  {
    std::unique_lock lock(mutex_);
    emptied_.wait(lock, [this] { return emptyLocked(); });
    workers.swap(workers_);
  }
  for (auto& worker : workers) {
    worker.join();
  }
}

void OperationQueueCore::operationFinished(const Operation& operation) {
  std::shared_ptr<Operation> last; // released after the lock
  std::lock_guard lock(mutex_);
  const auto same = [&operation](const auto& held) { return held.get() == &operation; };
  if (auto it = std::find_if(executing_.begin(), executing_.end(), same); it != executing_.end()) {
    last = std::move(*it);
    executing_.erase(it);
  } else if (auto jt = std::find_if(pending_.begin(), pending_.end(), same); jt != pending_.end()) {
    last = std::move(*jt);
    pending_.erase(jt);
  }
  if (emptyLocked()) {
    emptied_.notify_all();
  }
  wakeWorkerLocked();
}

void OperationQueueCore::dependencyFinished() {
  std::lock_guard lock(mutex_);
  wakeWorkerLocked();
}

void OperationQueueCore::workerLoop() {
  setCurrentThreadLabel(label_);
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (auto operation = takeReadyLocked()) {
      lock.unlock();
      operation->run();
      operation.reset(); // drop our reference before taking the lock again
      lock.lock();
      continue;
    }
    ++sleepingWorkers_;
    workAvailable_.wait(lock);
    --sleepingWorkers_;
  }
}

// Takes the oldest pending operation whose dependencies have finished, if a
// slot is free, and marks it executing.
std::shared_ptr<Operation> OperationQueueCore::takeReadyLocked() {
  if (stopping_ || executing_.size() >= width_) {
    return nullptr;
  }
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (!(*it)->dependenciesFinished() || !(*it)->tryStart()) {
      continue; // waiting, or cancelled and on its way out through operationFinished()
    }
    auto operation = std::move(*it);
    pending_.erase(it);
    executing_.push_back(operation);
    // Hand the next ready operation to another worker: a burst of additions
    // may have notified fewer sleepers than there are free slots.
    wakeWorkerLocked();
    return operation;
  }
  return nullptr;
}

bool OperationQueueCore::hasReadyLocked() const {
  return std::any_of(pending_.begin(), pending_.end(),
                     [](const auto& operation) { return operation->isPending() && operation->dependenciesFinished(); });
}

// Wakes a sleeping worker, or starts a new one while there are fewer than the
// width, when an operation could start now. Busy workers need no call: each
// looks for the next operation as soon as its current one returns.
void OperationQueueCore::wakeWorkerLocked() {
  if (stopping_ || executing_.size() >= width_ || !hasReadyLocked()) {
    return;
  }
  if (sleepingWorkers_ > 0) {
    workAvailable_.notify_one();
  } else if (workers_.size() < width_) {
    workers_.emplace_back([this] { workerLoop(); });
  }
}

} // namespace orvex::detail
