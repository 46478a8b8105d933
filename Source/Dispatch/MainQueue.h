// The seam for the program's main thread: start-up, alerts, termination and
// token completions run there. The UI build implements it on Qt's event loop
// (queued invocations and single-shot timers); --headless on RunLoopMainQueue.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/TimerHandle.h"

#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

namespace orvex {

// Implementations are thread-safe: any thread may post. Jobs run on the main
// thread, one at a time, in posting order; delayed jobs once their delay has
// passed, behind the jobs already posted.
class MainQueue {
 public:
  using Job = std::function<void()>;

  MainQueue() = default;
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;
  virtual ~MainQueue() = default;

  virtual void async(Job job) = 0;
  // Runs job once `delay` has passed; cancelling the handle before it starts keeps it from running.
  virtual TimerHandle after(Clock::Duration delay, Job job) = 0;
  virtual bool isMainThread() const = 0;

  // Runs fn on the main thread and returns its result or rethrows its
  // exception; inline when called there. Blocks until the main thread gets to
  // it, so never call it from a drive callback. If the queue is destroyed
  // with the job unrun, throws std::future_error (broken promise).
  template <class F>
  auto sync(F&& fn) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    if (isMainThread()) {
      return fn();
    }
    // Owned by the job, so that a job dropped unrun breaks the promise.
    auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(fn));
    auto done = task->get_future();
    async([task] { (*task)(); });
    return done.get();
  }
};

} // namespace orvex
