#include "Dispatch/JobList.h"

#include <thread>

namespace orvex {

JobList::JobList(Clock& clock) : clock_(clock) {
  // A manual clock moved by a test must wake a taker sleeping towards a deadline.
  clockListener_ = clock_.addAdvanceListener([this] {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  });
}

JobList::~JobList() {
  clock_.removeAdvanceListener(clockListener_);
}

void JobList::post(Job job) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  changes_.fetch_add(1, std::memory_order_release);
  // A taker busy with a job finds the new one when it comes back; waking it
  // would cost a system call for nothing, and posting must stay cheap for hot
  // callers such as the logger.
  if (sleeping_) {
    wake_.notify_one();
  }
}

TimerHandle JobList::postAfter(Clock::Duration delay, Job job) {
  TimerHandle handle;
  std::lock_guard lock(mutex_);
  const auto deadline = clock_.steadyNow() + delay;
  timers_.emplace(std::make_pair(deadline, nextTimer_++), Delayed{handle, std::move(job)});
  wake_.notify_one(); // the taker may be sleeping towards a later deadline
  return handle;
}

void JobList::interrupt() {
  std::lock_guard lock(mutex_);
  interrupted_ = true;
  changes_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
}

JobList::Job JobList::take(bool drain) {
  std::unique_lock lock(mutex_);
  bool spun = false;
  for (;;) {
    if (interrupted_ && !drain) {
      interrupted_ = false;
      return {};
    }
    moveDueTimersLocked();
    if (!jobs_.empty()) {
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      return job;
    }
    if (interrupted_) {
      interrupted_ = false;
      return {};
    }
    // Everything is checked again under the lock after spinning: a job posted
    // just as the spin ended did not wake us (we were not asleep).
    if (!spun) {
      spinForWork(lock);
      spun = true;
    } else {
      sleepLocked(lock);
      spun = false;
    }
  }
}

// Waking a sleeping thread costs tens of microseconds on a small virtual
// machine, twice per synchronous hand-off; callers such as the drive's lookups
// post their next job within microseconds. So an idle taker first watches for
// work for a moment before it sleeps.
void JobList::spinForWork(std::unique_lock<std::mutex>& lock) {
  constexpr auto kSpin = std::chrono::microseconds(50);
  const auto seen = changes_.load(std::memory_order_acquire);
  lock.unlock();
  const auto until = std::chrono::steady_clock::now() + kSpin;
  while (changes_.load(std::memory_order_acquire) == seen && std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
  }
  lock.lock();
}

void JobList::sleepLocked(std::unique_lock<std::mutex>& lock) {
  sleeping_ = true;
  if (timers_.empty()) {
    wake_.wait(lock);
  } else {
    const auto remaining = timers_.begin()->first.first - clock_.steadyNow();
    wake_.wait_for(lock, clock_.realWait(remaining));
  }
  sleeping_ = false;
}

void JobList::moveDueTimersLocked() {
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
