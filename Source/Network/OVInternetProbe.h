// Whether the internet is reachable: a TCP connection attempt to one target,
// repeated in the background, whose last answer anyone may read at once.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Dispatch/TimerHandle.h"
#include "Network/ProbeTarget.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace orvex {

// How long one attempt may take, and how often the probe repeats: often
// while off line, so that the client notices soon when the network is back.
struct InternetProbeTiming {
  std::chrono::milliseconds connectTimeout{3000};
  Clock::Duration reachableInterval = std::chrono::seconds(60);
  Clock::Duration unreachableInterval = std::chrono::seconds(10);
};

// Thread-safe. reachable() reads an atomic and never waits, so the drive's
// threads may ask. The probes themselves (name lookup and connect, which may
// take seconds) run one at a time on the probe's own queue; its timer state
// belongs to that queue. The first probe starts at construction; until it
// has answered the internet counts as reachable, so that nothing is held
// back at start-up (a request that then fails is repeated by its next trigger).
class OVInternetProbe {
 public:
  using Timing = InternetProbeTiming;

  explicit OVInternetProbe(ProbeTarget target, Clock& clock = Clock::system(), Timing timing = {});
  OVInternetProbe(const OVInternetProbe&) = delete;
  OVInternetProbe& operator=(const OVInternetProbe&) = delete;
  // Waits for a probe in progress (at most the connect time-out after its name lookup).
  ~OVInternetProbe();

  // The last answer.
  bool reachable() const { return reachable_.load(); }
  // Asks for a probe now instead of at the next interval (say, after a
  // request failed to connect). Does not wait.
  void probeSoon();
  // Returns once every probe asked for before the call has answered.
  void waitForProbes() {
    queue_.sync([] {});
  }

  const ProbeTarget& target() const { return target_; }

  // One connection attempt to `target` within `timeout`: nullopt when it
  // connected, else why not.
  static std::optional<std::string> tryConnect(const ProbeTarget& target, std::chrono::milliseconds timeout);

 private:
  // On queue_: probes, records the answer and schedules the next probe.
  void probe();

  // Constant after construction.
  const ProbeTarget target_;
  const Timing timing_;

  std::atomic<bool> reachable_{true};
  std::atomic<bool> stopping_{false};
  bool answered_ = false; // queue_ only
  TimerHandle next_;      // queue_ only

  SerialQueue queue_; // last: its thread stops first, while the state above still exists
};

} // namespace orvex
