// The main queue of --headless: a plain run loop that the main thread enters
// with run() and leaves when quit() is called.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/JobList.h"
#include "Dispatch/MainQueue.h"
#include "Dispatch/TimerHandle.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace orvex {

// Jobs run on the thread inside run(); the main thread is that thread, or the
// one that created the queue until run() is first entered. Every member is
// thread-safe; the job list guards itself, running_ is guarded by mutex_,
// and no lock is held while a job runs. Jobs still queued when
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
  void enterLoop();
  void leaveLoop();

  std::atomic<std::thread::id> runLoopThread_;

  JobList jobs_; // thread-safe on its own

  std::mutex mutex_;
  bool running_ = false; // guarded by mutex_
};

} // namespace orvex
