// Runs one cpp-httplib server's accept loop on its own thread, bound to
// 127.0.0.1 only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace orvex::service {

// Owned by one thread (the one that calls start and stop); `done_` is set by
// the listening thread as its loop ends.
class BackgroundListener {
 public:
  BackgroundListener() = default;
  BackgroundListener(const BackgroundListener&) = delete;
  BackgroundListener& operator=(const BackgroundListener&) = delete;
  ~BackgroundListener();

  // Binds `server` to 127.0.0.1:`port` (0: any free port) and returns only once
  // it accepts; answers the bound port. Throws std::runtime_error naming `what`.
  std::uint16_t start(httplib::Server& server, std::uint16_t port, const std::string& what);
  // Ends the loop started on `server` and waits for its thread.
  void stop(httplib::Server& server);

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
};

} // namespace orvex::service
