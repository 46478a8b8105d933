// Hands an address from a second start of the program (`orvex --open-url URL`,
// which the desktop runs for the private URL scheme) to the running instance.
// The running instance listens on a Unix socket under $XDG_RUNTIME_DIR; a
// message is one address, answered with one byte once it has been taken.
#pragma once

#include "Platform/XdgDirs.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace orvex {

// Owns its listening thread; the handler runs there, one message at a time,
// and must not block for long (it posts the address to the main queue).
// Destruction stops the thread, waits for it, and removes the socket.
class OVUrlHandoff {
 public:
  using Handler = std::function<void(std::string url)>;

  // The longest address taken; a login redirect is far shorter.
  static constexpr std::size_t kMaxURLLength = std::size_t{16} * 1024;

  // "$XDG_RUNTIME_DIR/com.orvex.<title>.control"; nullopt without a runtime folder
  // (a shared folder such as /tmp would let other users squat the name).
  static std::optional<std::filesystem::path> socketPath(const XdgEnvironment& env, const std::string& title);

  // Listens at `path` (mode 0600). A socket left there by an instance that
  // died is replaced; nullptr, with a warning, when another instance is
  // listening or the socket cannot be made.
  static std::unique_ptr<OVUrlHandoff> listen(const std::filesystem::path& path, Handler handler);

  // Gives `url` to the instance listening at `path` and waits until it has
  // taken it; false, with a warning, when none is listening or it refused.
  static bool send(const std::filesystem::path& path, std::string_view url);

  OVUrlHandoff(const OVUrlHandoff&) = delete;
  OVUrlHandoff& operator=(const OVUrlHandoff&) = delete;
  ~OVUrlHandoff();

 private:
  OVUrlHandoff(std::filesystem::path path, int listenFd, int wakeFd, Handler handler);
  void run();
  void serve(int connection);

  // Constant after construction; used by the listening thread.
  const std::filesystem::path path_;
  const int listenFd_;
  const int wakeFd_; // an eventfd the destructor signals
  const Handler handler_;
  std::thread thread_; // last: started once the rest is set
};

} // namespace orvex
