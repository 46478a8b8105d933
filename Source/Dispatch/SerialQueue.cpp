#include "Dispatch/SerialQueue.h"

#include "Dispatch/ThreadName.h"

namespace orvex {

SerialQueue::SerialQueue(std::string label, Clock& clock) : label_(std::move(label)), jobs_(clock) {
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
  jobs_.interrupt(); // the worker first runs what was posted, then returns
  worker_.join();
}

void SerialQueue::async(Job job) {
  jobs_.post(std::move(job));
}

TimerHandle SerialQueue::after(Clock::Duration delay, Job job) {
  return jobs_.postAfter(delay, std::move(job));
}

void SerialQueue::run() {
  while (Job job = jobs_.take(/*drain=*/true)) {
    job();
  }
}

} // namespace orvex
