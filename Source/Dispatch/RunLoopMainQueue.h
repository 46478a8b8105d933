// The main queue of --headless: a plain run loop that the main thread enters
// with run() and leaves when quit() is called.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/MainQueue.h"
#include "Dispatch/TimerHandle.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace orvex {

// Jobs run on the thread inside run(); the main thread is that thread, or the
// one that created the queue until run() is first entered. Every member is
// thread-safe; the queues, the flags and runLoopThread_'s changes are guarded
// by mutex_, which is never held while a job runs. Jobs still queued when
// run() returns wait for the next run(); those left at destruction are
// dropped unrun. Not to be destroyed while run() executes.
class RunLoopMainQueue final : public MainQueue {
 public:
  explicit RunLoopMainQueue(Clock& clock = Clock::system());
  ~RunLoopMainQueue() override;

  void async(Job job) override;
  TimerHandle after(Clock::Duration delay, Job job) override;
  bool isMainThread() const override { return std::this_thread::get_id() == runLoopThread_.load(); }

  // Runs jobs and due delayed jobs until quit(); not reentrant.
  void run();
  // Makes run() return once the job in progress returns. From any thread, a
  // job included; a quit() before run() makes the next run() return at once.
  void quit();

 private:
  struct Delayed {
    TimerHandle handle;
    Job job;
  };

  void enterLoop();
  void loop();
  void leaveLoop();
  void moveDueTimersLocked();
  void sleepLocked(std::unique_lock<std::mutex>& lock);

  // Constant after construction.
  Clock& clock_;
  Clock::ListenerId clockListener_ = 0;

  std::atomic<std::thread::id> runLoopThread_;

  // State below is protected by mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  // Ordered by deadline, then by posting order for equal deadlines.
  std::map<std::pair<Clock::SteadyTime, std::uint64_t>, Delayed> timers_;
  std::uint64_t nextTimer_ = 0;
  bool sleeping_ = false;
  bool running_ = false;
  bool quitRequested_ = false;
};

} // namespace orvex
