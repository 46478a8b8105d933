// The termination signals (SIGTERM, SIGINT, SIGHUP) as ordinary events: they
// are blocked in every thread and read from a signalfd by a thread of their
// own, which hands each one to a handler. No work ever runs inside a signal
// handler.
#pragma once

#include <functional>
#include <thread>

namespace orvex {

// Blocks the termination signals in the calling thread and, since threads
// inherit the mask, in every thread it starts afterwards. Call first in
// main(), before any thread exists. Also ignores SIGPIPE: a peer that hangs
// up is an error return, not a death.
void blockTerminationSignals();

// Owns its reading thread; the handler runs there and must only post work
// (to the main queue). Destruction stops the thread and waits for it.
class OVSignalWatcher {
 public:
  using Handler = std::function<void(int signal)>;

  // The signals must already be blocked (blockTerminationSignals). Without a
  // usable signalfd the watcher logs an error and watches nothing.
  explicit OVSignalWatcher(Handler handler);
  OVSignalWatcher(const OVSignalWatcher&) = delete;
  OVSignalWatcher& operator=(const OVSignalWatcher&) = delete;
  ~OVSignalWatcher();

 private:
  void run();

  // Constant after construction; read by the watching thread.
  const Handler handler_;
  int signalFd_ = -1;
  int wakeFd_ = -1; // an eventfd the destructor signals
  std::thread thread_;
};

} // namespace orvex
