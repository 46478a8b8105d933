#include "Dispatch/RunLoopMainQueue.h"

#include <stdexcept>

namespace orvex {

RunLoopMainQueue::RunLoopMainQueue(Clock& clock) : runLoopThread_(std::this_thread::get_id()), jobs_(clock) {}

RunLoopMainQueue::~RunLoopMainQueue() = default;

void RunLoopMainQueue::async(Job job) {
  jobs_.post(std::move(job));
}

TimerHandle RunLoopMainQueue::after(Clock::Duration delay, Job job) {
  return jobs_.postAfter(delay, std::move(job));
}

void RunLoopMainQueue::quit() {
  jobs_.interrupt();
}

void RunLoopMainQueue::run() {
  enterLoop();
  try {
    // Each job is destroyed before the next is taken, releasing what it captured.
    while (Job job = jobs_.take(/*drain=*/false)) {
      job();
    }
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

} // namespace orvex
