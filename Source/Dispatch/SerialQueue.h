// A named thread that runs jobs one at a time in the order they were posted,
// plus jobs delayed on an injectable clock.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/JobList.h"
#include "Dispatch/TimerHandle.h"

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace orvex {

// Thread-safe: every member may be called from any thread, the queue's own
// included. Jobs run on the queue's thread, never with a lock held. On
// destruction the jobs already posted still run; delayed jobs not yet due are
// dropped. It must not be destroyed from one of its own jobs.
class SerialQueue {
 public:
  using Job = std::function<void()>;

  explicit SerialQueue(std::string label, Clock& clock = Clock::system());
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;
  ~SerialQueue();

  // Posts a job behind every job posted before it.
  void async(Job job);

  // Runs fn on the queue's thread and returns its result; runs it inline when
  // called from the queue's own thread, so a job may call sync on its queue.
  template <class F>
  auto sync(F&& fn) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    if (isCurrent()) {
      return fn();
    }
    std::packaged_task<Result()> task(std::forward<F>(fn));
    auto done = task.get_future();
    async([&task] { task(); }); // task outlives the job: we wait for it below
    awaitBriefly(done);
    return done.get();
  }

  // Posts job once `delay` has passed on the queue's clock. Cancelling the
  // handle before the job starts keeps it from running.
  TimerHandle after(Clock::Duration delay, Job job);

  // True on the queue's own thread.
  bool isCurrent() const { return std::this_thread::get_id() == threadId_; }

  const std::string& label() const { return label_; }

 private:
  // Watches `done` for a few microseconds before get() puts the caller to
  // sleep: a short job is usually back sooner than a sleeping thread wakes.
  template <class Future>
  static void awaitBriefly(const Future& done) {
    constexpr auto kSpin = std::chrono::microseconds(50);
    const auto until = std::chrono::steady_clock::now() + kSpin;
    while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
  }

  void run();

  // Constant after construction.
  const std::string label_;

  JobList jobs_;             // thread-safe on its own
  std::thread::id threadId_; // written once, before the constructor returns
  std::thread worker_;       // last: started once everything above exists
};

} // namespace orvex
