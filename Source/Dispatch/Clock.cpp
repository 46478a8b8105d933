#include "Dispatch/Clock.h"

namespace orvex {

Clock& Clock::system() {
  // Never destroyed: threads still running while the process exits keep reading it.
  static SystemClock* const clock = new SystemClock();
  return *clock;
}

ManualClock::ManualClock(WallTime start) : wall_(start), steady_(SteadyTime{} + std::chrono::hours(1)) {}

Clock::WallTime ManualClock::wallNow() const {
  std::lock_guard lock(timeMutex_);
  return wall_;
}

Clock::SteadyTime ManualClock::steadyNow() const {
  std::lock_guard lock(timeMutex_);
  return steady_;
}

Clock::Duration ManualClock::realWait(Duration /*remaining*/) const {
  // Long enough to mean "until an advance wakes us", short enough to stay far
  // from the overflow of the condition variable's deadline arithmetic.
  return std::chrono::hours(24);
}

Clock::ListenerId ManualClock::addAdvanceListener(std::function<void()> listener) {
  std::lock_guard lock(listenerMutex_);
  const ListenerId id = nextListener_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void ManualClock::removeAdvanceListener(ListenerId id) {
  std::lock_guard lock(listenerMutex_);
  listeners_.erase(id);
}

void ManualClock::advance(Duration by) {
  {
    std::lock_guard lock(timeMutex_);
    wall_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(by);
    steady_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(by);
  }
  notifyListeners();
}

void ManualClock::setWall(WallTime to) {
  {
    std::lock_guard lock(timeMutex_);
    wall_ = to;
  }
  notifyListeners();
}

void ManualClock::notifyListeners() {
  std::lock_guard lock(listenerMutex_);
  for (auto& [id, listener] : listeners_) {
    listener();
  }
}

} // namespace orvex
