#include "Network/OVInternetProbe.h"

#include "OVLogger.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

namespace orvex {
namespace {

constexpr const char* kProbeLabel = "com.orvex.clouddrive-osx.internetProbe";

struct AddressListFree {
  void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0)
      close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Connects to one address before `deadline`; 0 on success, else an errno value.
int connectBefore(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
  Socket socket(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
  if (socket.fd() < 0)
    return errno;
  if (connect(socket.fd(), address.ai_addr, address.ai_addrlen) == 0)
    return 0;
  if (errno != EINPROGRESS)
    return errno;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return ETIMEDOUT;
    pollfd waiting{socket.fd(), POLLOUT, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready < 0)
      return errno;
    if (ready == 0)
      return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
      return errno;
    return error;
  }
}

} // namespace

OVInternetProbe::OVInternetProbe(ProbeTarget target, Clock& clock, Timing timing)
    : target_(std::move(target)), timing_(timing), queue_(kProbeLabel, clock) {
  queue_.async([this] { probe(); });
}

OVInternetProbe::~OVInternetProbe() {
  stopping_.store(true);
}

void OVInternetProbe::probeSoon() {
  queue_.async([this] {
    next_.cancel(); // this probe takes the scheduled one's place
    probe();
  });
}

void OVInternetProbe::probe() {
  if (stopping_.load())
    return;
  const auto failure = tryConnect(target_, timing_.connectTimeout);
  const bool reachable = !failure;
  if (!answered_ || reachable != reachable_.load()) {
    if (reachable)
      OVLog(kLogMain, "Internet probe: {}:{} is reachable", target_.host, target_.port);
    else
      OVLog(kLogMain, "Warning! Internet probe: {}:{} is not reachable: {}", target_.host, target_.port, *failure);
  }
  answered_ = true;
  reachable_.store(reachable);
  next_.cancel();
  next_ = queue_.after(reachable ? timing_.reachableInterval : timing_.unreachableInterval, [this] { probe(); });
}

std::optional<std::string> OVInternetProbe::tryConnect(const ProbeTarget& target, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  if (int error = getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found); error != 0)
    return std::string("cannot resolve the host: ") + gai_strerror(error);
  std::unique_ptr<addrinfo, AddressListFree> addresses(found);
  int lastError = ETIMEDOUT;
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    lastError = connectBefore(*address, deadline);
    if (lastError == 0)
      return std::nullopt;
    if (lastError == ETIMEDOUT)
      break; // the time is up for every further address as well
  }
  return "cannot connect: " + std::generic_category().message(lastError);
}

} // namespace orvex
