#include "Dispatch/SerialQueue.h"

#include "Dispatch/ThreadName.h"

namespace orvex {

SerialQueue::SerialQueue(std::string label, Clock& clock) : label_(std::move(label)), clock_(clock) {
  clockListener_ = clock_.addAdvanceListener([this] {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  });
  std::promise<std::thread::id> started;
  auto startedId = started.get_future();
  worker_ = std::thread([this, &started] {
    setCurrentThreadLabel(label_);
    started.set_value(std::this_thread::get_id());
    run();
  });
  threadId_ = startedId.get();
}

SerialQueue::~SerialQueue() {
  clock_.removeAdvanceListener(clockListener_);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }
  worker_.join();
}

void SerialQueue::async(Job job) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  wakeLocked();
}

TimerHandle SerialQueue::after(Clock::Duration delay, Job job) {
  TimerHandle handle;
  std::lock_guard lock(mutex_);
  const auto deadline = clock_.steadyNow() + delay;
  timers_.emplace(std::make_pair(deadline, nextTimer_++), Delayed{handle, std::move(job)});
  // The worker may be sleeping towards a later deadline.
  wake_.notify_one();
  return handle;
}

// Wakes the worker only when it sleeps: a busy worker finds the job anyway,
// and skipping the futex call keeps posting cheap for hot callers (the logger).
void SerialQueue::wakeLocked() {
  if (sleeping_) {
    wake_.notify_one();
  }
}

void SerialQueue::moveDueTimersLocked() {
  const auto now = clock_.steadyNow();
  while (!timers_.empty() && timers_.begin()->first.first <= now) {
    auto node = timers_.extract(timers_.begin());
    Delayed delayed = std::move(node.mapped());
    jobs_.push_back([delayed = std::move(delayed)] {
      if (!delayed.handle.isCancelled()) {
        delayed.job();
      }
    });
  }
}

void SerialQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    moveDueTimersLocked();
    if (!jobs_.empty()) {
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      job = nullptr; // release captures before taking the lock again
      lock.lock();
      continue;
    }
    if (stopping_) {
      return;
    }
    sleeping_ = true;
    if (timers_.empty()) {
      wake_.wait(lock);
    } else {
      const auto remaining = timers_.begin()->first.first - clock_.steadyNow();
      wake_.wait_for(lock, clock_.realWait(remaining));
    }
    sleeping_ = false;
  }
}

} // namespace orvex
