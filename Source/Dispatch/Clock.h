// Time sources for everything that stamps or waits. Production code uses the
// system clock; tests hand a ManualClock to the object under test and move time
// by hand, so that delays of seconds are tested without real waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace orvex {

class Clock {
 public:
  using WallTime = std::chrono::system_clock::time_point;
  using SteadyTime = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::nanoseconds;
  using ListenerId = std::uint64_t;

  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  // Calendar time: log stamps, file dates. May jump back when the user sets the clock.
  virtual WallTime wallNow() const = 0;
  // Monotonic time: deadlines and delays.
  virtual SteadyTime steadyNow() const = 0;
  // How long a thread must really sleep for `remaining` to pass on this clock.
  // A manual clock answers "until woken": its time only moves through advance().
  virtual Duration realWait(Duration remaining) const = 0;

  // Called after time was moved by hand, so that sleepers re-check their
  // deadlines. The system clock never calls them.
  virtual ListenerId addAdvanceListener(std::function<void()> listener) = 0;
  virtual void removeAdvanceListener(ListenerId id) = 0;

  // The process's real clock.
  static Clock& system();
};

class SystemClock final : public Clock {
 public:
  WallTime wallNow() const override { return std::chrono::system_clock::now(); }
  SteadyTime steadyNow() const override { return std::chrono::steady_clock::now(); }
  Duration realWait(Duration remaining) const override { return remaining; }
  ListenerId addAdvanceListener(std::function<void()> /*listener*/) override { return 0; }
  void removeAdvanceListener(ListenerId /*id*/) override {}
};

// A clock that stands still until a test moves it. Thread-safe: time is guarded
// by timeMutex_, the listeners by listenerMutex_. Listeners run on the thread
// that moves the clock, with listenerMutex_ held and timeMutex_ released.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(WallTime start = WallTime{} + std::chrono::hours(24 * 365 * 56));

  WallTime wallNow() const override;
  SteadyTime steadyNow() const override;
  Duration realWait(Duration remaining) const override;
  ListenerId addAdvanceListener(std::function<void()> listener) override;
  void removeAdvanceListener(ListenerId id) override;

  // Moves both calendar and monotonic time forward.
  void advance(Duration by);
  // Sets the calendar time alone, as a user changing the clock does.
  void setWall(WallTime to);

 private:
  void notifyListeners();

  mutable std::mutex timeMutex_;
  WallTime wall_;     // guarded by timeMutex_
  SteadyTime steady_; // guarded by timeMutex_

  std::mutex listenerMutex_;
  std::map<ListenerId, std::function<void()>> listeners_; // guarded by listenerMutex_
  ListenerId nextListener_ = 1;                           // guarded by listenerMutex_
};

} // namespace orvex
