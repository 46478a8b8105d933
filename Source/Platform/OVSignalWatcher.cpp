#include "Platform/OVSignalWatcher.h"

#include "Dispatch/ThreadName.h"
#include "OVLogger.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <system_error>

namespace orvex {
namespace {

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

} // namespace

void blockTerminationSignals() {
  sigset_t set = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
}

OVSignalWatcher::OVSignalWatcher(Handler handler) : handler_(std::move(handler)) {
  sigset_t set = terminationSignals();
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || wakeFd_ < 0) {
    OVLog(kLogMain, "Error! Cannot watch for termination signals: {}", std::generic_category().message(errno));
    return;
  }
  thread_ = std::thread([this] { run(); });
}

OVSignalWatcher::~OVSignalWatcher() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (signalFd_ >= 0)
    ::close(signalFd_);
  if (wakeFd_ >= 0)
    ::close(wakeFd_);
}

void OVSignalWatcher::run() {
  setCurrentThreadLabel("com.orvex.signals");
  pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      OVLog(kLogMain, "Error! Waiting for signals failed: {}", std::generic_category().message(errno));
      return;
    }
    if (fds[1].revents != 0)
      return;
    signalfd_siginfo info{};
    if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
      handler_(static_cast<int>(info.ssi_signo));
  }
}

} // namespace orvex
