// The pending work of one thread: jobs in posting order, and delayed jobs that
// join them once their time has come on the clock. The serial queues and the
// headless main loop are each one thread taking jobs from one of these.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/TimerHandle.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace orvex {

// Thread-safe: the lists and the flags are guarded by mutex_, which is never
// held while a job runs (take() hands the job out). Jobs left at destruction
// are dropped unrun.
class JobList {
 public:
  using Job = std::function<void()>;

  explicit JobList(Clock& clock);
  JobList(const JobList&) = delete;
  JobList& operator=(const JobList&) = delete;
  ~JobList();

  void post(Job job);
  // Posts `job` once `delay` has passed on the clock; the handle cancels it
  // until it starts.
  TimerHandle postAfter(Clock::Duration delay, Job job);

  // Waits for the next due job and returns it. Returns an empty job once
  // interrupt() was called: at once when `drain` is false, else when no posted
  // or due job is left. Returning the empty job consumes the interrupt.
  Job take(bool drain);
  // Makes a waiting or the next take() return the empty job.
  void interrupt();

 private:
  struct Delayed {
    TimerHandle handle;
    Job job;
  };

  void moveDueTimersLocked();
  void sleepLocked(std::unique_lock<std::mutex>& lock);
  // Waits a few microseconds without mutex_ for work to come; the caller
  // checks again under mutex_ what came.
  void spinForWork(std::unique_lock<std::mutex>& lock);

  // Constant after construction.
  Clock& clock_;
  Clock::ListenerId clockListener_ = 0;

  // State below is protected by mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  // Ordered by deadline, then by posting order for equal deadlines.
  std::map<std::pair<Clock::SteadyTime, std::uint64_t>, Delayed> timers_;
  std::uint64_t nextTimer_ = 0;
  bool sleeping_ = false;
  bool interrupted_ = false;

  // Counts posts and interrupts, so that a taker spinning without mutex_ sees
  // new work. Written under mutex_, read without it.
  std::atomic<std::uint64_t> changes_{0};
};

} // namespace orvex
