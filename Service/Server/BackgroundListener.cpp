#include "Server/BackgroundListener.h"

#include <httplib.h>

#include <stdexcept>

namespace orvex::service {

BackgroundListener::~BackgroundListener() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::uint16_t BackgroundListener::start(httplib::Server& server, std::uint16_t port, const std::string& what) {
  const int bound =
      port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + " for " + what);
  }
  done_ = false;
  thread_ = std::thread([this, &server] {
    server.listen_after_bind();
    done_ = true;
  });
  // The library's stop() only ends a listen loop that has begun; a stop()
  // right after start() would otherwise leave the listener in accept() for good.
  while (!server.is_running() && !done_) {
    std::this_thread::yield();
  }
  if (done_) {
    thread_.join();
    throw std::runtime_error(what + " on 127.0.0.1:" + std::to_string(bound) + " stopped at once");
  }
  return static_cast<std::uint16_t>(bound);
}

void BackgroundListener::stop(httplib::Server& server) {
  server.stop();
  if (thread_.joinable()) {
    thread_.join();
  }
}

} // namespace orvex::service
