#include "Platform/OVUrlHandoff.h"

#include "OVLogger.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace orvex {

namespace {

constexpr char kTaken = 1;

std::optional<sockaddr_un> addressOf(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.size() >= sizeof address.sun_path)
    return std::nullopt;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

int connectTo(const sockaddr_un& address) {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// An address from another process: text without NUL or line breaks.
bool plausibleURL(std::string_view url) {
  return !url.empty() && url.size() <= OVUrlHandoff::kMaxURLLength &&
         std::none_of(url.begin(), url.end(), [](char c) { return c == '\0' || c == '\n' || c == '\r'; });
}

} // namespace

std::optional<std::filesystem::path> OVUrlHandoff::socketPath(const XdgEnvironment& env, const std::string& title) {
  auto runtime = runtimeDir(env);
  if (!runtime)
    return std::nullopt;
  return *runtime / ("com.orvex." + title + ".control");
}

std::unique_ptr<OVUrlHandoff> OVUrlHandoff::listen(const std::filesystem::path& path, Handler handler) {
  auto address = addressOf(path);
  if (!address) {
    OVLog(kLogMain, "Warning! URL hand-off socket path too long: {}", path.string());
    return nullptr;
  }
  if (int other = connectTo(*address); other >= 0) {
    close(other);
    OVLog(kLogMain, "Warning! Another instance listens on {}", path.string());
    return nullptr;
  }
  ::unlink(path.c_str()); // left by an instance that died: nobody answered on it
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  int wake = eventfd(0, EFD_CLOEXEC);
  // The umask makes the socket 0600 from the start: no other user may connect
  // between bind and chmod.
  mode_t oldMask = umask(0177);
  bool bound = fd >= 0 && wake >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
  umask(oldMask);
  if (!bound || ::listen(fd, 8) != 0) {
    OVLog(kLogMain, "Warning! Cannot listen for URLs on {}: error {}", path.string(), errno);
    if (fd >= 0)
      close(fd);
    if (wake >= 0)
      close(wake);
    return nullptr;
  }
  return std::unique_ptr<OVUrlHandoff>(new OVUrlHandoff(path, fd, wake, std::move(handler)));
}

OVUrlHandoff::OVUrlHandoff(std::filesystem::path path, int listenFd, int wakeFd, Handler handler)
    : path_(std::move(path)), listenFd_(listenFd), wakeFd_(wakeFd), handler_(std::move(handler)) {
  thread_ = std::thread([this] { run(); });
}

OVUrlHandoff::~OVUrlHandoff() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::unlink(path_.c_str());
  close(listenFd_);
  close(wakeFd_);
}

void OVUrlHandoff::run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      OVLog(kLogMain, "Error! URL hand-off poll failed: error {}", errno);
      return;
    }
    if (fds[1].revents != 0)
      return;
    int connection = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0) {
      serve(connection);
      close(connection);
    }
  }
}

void OVUrlHandoff::serve(int connection) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid()) {
    OVLog(kLogMain, "Warning! URL hand-off refused a connection from uid {}", peer.uid);
    return;
  }
  // A sender that connects and says nothing must not hold up the instance.
  pollfd ready{connection, POLLIN, 0};
  if (poll(&ready, 1, 2000) <= 0)
    return;
  std::vector<char> buffer(kMaxURLLength + 1);
  ssize_t received = recv(connection, buffer.data(), buffer.size(), MSG_TRUNC);
  if (received <= 0)
    return;
  std::string url(buffer.data(), std::min(static_cast<std::size_t>(received), buffer.size()));
  if (static_cast<std::size_t>(received) > kMaxURLLength || !plausibleURL(url)) {
    OVLog(kLogMain, "Warning! URL hand-off refused a message of {} bytes", received);
    return;
  }
  handler_(std::move(url));
  [[maybe_unused]] auto sent = ::send(connection, &kTaken, 1, MSG_NOSIGNAL);
}

bool OVUrlHandoff::send(const std::filesystem::path& path, std::string_view url) {
  auto address = addressOf(path);
  if (!address || !plausibleURL(url)) {
    OVLog(kLogMain, "Warning! Cannot hand over this address to the running instance");
    return false;
  }
  int fd = connectTo(*address);
  if (fd < 0) {
    OVLog(kLogMain, "Warning! No running instance listens on {}: error {}", path.string(), errno);
    return false;
  }
  char answer = 0;
  bool taken = ::send(fd, url.data(), url.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(url.size()) &&
               recv(fd, &answer, 1, 0) == 1 && answer == kTaken;
  close(fd);
  if (!taken)
    OVLog(kLogMain, "Warning! The running instance did not take the address");
  return taken;
}

} // namespace orvex
