// A cancel handle for a delayed job.
#pragma once

#include <atomic>
#include <memory>

namespace orvex {

// Copyable; all copies refer to one delayed job. Thread-safe.
class TimerHandle {
 public:
  TimerHandle() : cancelled_(std::make_shared<std::atomic<bool>>(false)) {}

  // Keeps the job from starting. A job already running finishes.
  void cancel() const { cancelled_->store(true); }
  bool isCancelled() const { return cancelled_->load(); }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

} // namespace orvex
