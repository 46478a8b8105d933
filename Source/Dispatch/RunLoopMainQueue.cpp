#include "Dispatch/RunLoopMainQueue.h"

#include <stdexcept>

namespace orvex {

RunLoopMainQueue::RunLoopMainQueue(Clock& clock) : clock_(clock), runLoopThread_(std::this_thread::get_id()) {
  clockListener_ = clock_.addAdvanceListener([this] {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  });
}

RunLoopMainQueue::~RunLoopMainQueue() {
  clock_.removeAdvanceListener(clockListener_);
}

void RunLoopMainQueue::async(Job job) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  // A loop busy with a job finds the new one when it returns; waking it costs
  // a system call for nothing.
  if (sleeping_) {
    wake_.notify_one();
  }
}

TimerHandle RunLoopMainQueue::after(Clock::Duration delay, Job job) {
  TimerHandle handle;
  std::lock_guard lock(mutex_);
  const auto deadline = clock_.steadyNow() + delay;
  timers_.emplace(std::make_pair(deadline, nextTimer_++), Delayed{handle, std::move(job)});
  wake_.notify_one(); // the loop may be sleeping towards a later deadline
  return handle;
}

void RunLoopMainQueue::quit() {
  std::lock_guard lock(mutex_);
  quitRequested_ = true;
  wake_.notify_one();
}

void RunLoopMainQueue::run() {
  enterLoop();
  try {
    loop();
  } catch (...) {
    leaveLoop(); // a throwing job ends run(); the queue stays usable
    throw;
  }
  leaveLoop();
}

void RunLoopMainQueue::enterLoop() {
  std::lock_guard lock(mutex_);
  if (running_) {
    throw std::logic_error("RunLoopMainQueue::run() entered twice");
  }
  running_ = true;
  runLoopThread_.store(std::this_thread::get_id());
}

void RunLoopMainQueue::leaveLoop() {
  std::lock_guard lock(mutex_);
  running_ = false;
}

void RunLoopMainQueue::loop() {
  std::unique_lock lock(mutex_);
  while (!quitRequested_) {
    moveDueTimersLocked();
    if (jobs_.empty()) {
      sleepLocked(lock);
      continue;
    }
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    job = nullptr; // release captures before taking the lock again
    lock.lock();
  }
  quitRequested_ = false; // consumed: the next run() needs its own quit()
}

void RunLoopMainQueue::sleepLocked(std::unique_lock<std::mutex>& lock) {
  sleeping_ = true;
  if (timers_.empty()) {
    wake_.wait(lock);
  } else {
    const auto remaining = timers_.begin()->first.first - clock_.steadyNow();
    wake_.wait_for(lock, clock_.realWait(remaining));
  }
  sleeping_ = false;
}

void RunLoopMainQueue::moveDueTimersLocked() {
  const auto now = clock_.steadyNow();
  while (!timers_.empty() && timers_.begin()->first.first <= now) {
    auto node = timers_.extract(timers_.begin());
    jobs_.push_back([delayed = std::move(node.mapped())] {
      if (!delayed.handle.isCancelled()) {
        delayed.job();
      }
    });
  }
}

} // namespace orvex
