#include "Admin/HeldRequest.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace orvex::service {

HeldRequest::HeldRequest(int connectionFd) : connectionFd_(connectionFd) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0)
    throw std::runtime_error("cannot make an eventfd for a held request");
}

HeldRequest::~HeldRequest() {
  ::close(wakeFd_);
}

void HeldRequest::wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void HeldRequest::release() {
  released_ = true;
  wake();
}

bool HeldRequest::connectionClosed(short events) const {
  return (events & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

HoldEnd HeldRequest::wait(const Clock& clock, std::optional<Clock::SteadyTime> deadline) {
  for (;;) {
    if (released_)
      return HoldEnd::Released;
    int timeout = -1;
    if (deadline) {
      const Clock::SteadyTime now = clock.steadyNow();
      if (now >= *deadline)
        return HoldEnd::Elapsed;
      auto real = std::chrono::ceil<std::chrono::milliseconds>(clock.realWait(*deadline - now));
      timeout = static_cast<int>(std::min<std::int64_t>(real.count(), INT_MAX));
    }
    // The client sends nothing while it waits for its reply, so the only
    // event its socket can show is the end of the connection.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {connectionFd_, POLLRDHUP, 0}};
    const nfds_t count = connectionFd_ >= 0 ? 2 : 1;
    if (::poll(fds, count, timeout) < 0 && errno != EINTR)
      throw std::runtime_error("poll failed while holding a request");
    if (count == 2 && connectionClosed(fds[1].revents))
      return HoldEnd::Disconnected;
    std::uint64_t counter = 0;
    [[maybe_unused]] ssize_t read = ::read(wakeFd_, &counter, sizeof counter); // empty (EAGAIN) after a timeout
  }
}

} // namespace orvex::service
