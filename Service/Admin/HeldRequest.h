// The wait of one request held by a fault rule (a delay or a stall). The
// worker thread serving the request blocks in wait() on an eventfd and, when
// the request came over TLS, on its connection, so that a client that gives up
// ends the hold at once instead of tying up a worker until release.
#pragma once

#include "Dispatch/Clock.h"

#include <atomic>
#include <optional>

namespace orvex::service {

enum class HoldEnd {
  Elapsed,      // the delay is over
  Released,     // release() was called
  Disconnected, // the client closed its connection
};

// wait() runs on the held request's worker thread; wake() and release() may be
// called from any thread. The flags are atomics, so no lock is needed.
class HeldRequest {
 public:
  // `connectionFd` is the request's socket, or -1 when it is not known.
  explicit HeldRequest(int connectionFd);
  ~HeldRequest();
  HeldRequest(const HeldRequest&) = delete;
  HeldRequest& operator=(const HeldRequest&) = delete;

  // Blocks until `deadline` on `clock` (none: no deadline), release() or a
  // closed connection. Throws std::runtime_error when the eventfd cannot be made.
  HoldEnd wait(const Clock& clock, std::optional<Clock::SteadyTime> deadline);
  // Makes wait() look at the clock again (time was moved by hand).
  void wake();
  void release();

 private:
  bool connectionClosed(short events) const;

  const int connectionFd_;
  int wakeFd_ = -1; // constant after construction
  std::atomic<bool> released_{false};
};

} // namespace orvex::service
