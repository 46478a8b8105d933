#include "Drive/OVMountWatch.h"

#include "Dispatch/ThreadName.h"
#include "Drive/OVMountTable.h"
#include "OVLogger.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orvex {

OVMountWatch::OVMountWatch(std::string mountPath, std::string device, std::function<void()> detached)
    : mountPath_(std::move(mountPath)), device_(std::move(device)), detached_(std::move(detached)) {
  tableFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (tableFd_ == -1 || stopFd_ == -1) {
    OVLog(kLogMain, "Warning! Cannot watch the mount table: error {}", errno);
    return;
  }
  thread_ = std::thread([this] { run(); });
}

OVMountWatch::~OVMountWatch() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)::write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  if (tableFd_ != -1)
    ::close(tableFd_);
  if (stopFd_ != -1)
    ::close(stopFd_);
}

bool OVMountWatch::stillMounted() const {
  return fuseMountDevice(mountPath_) == device_;
}

void OVMountWatch::run() {
  setCurrentThreadLabel("com.orvex.clouddrive-osx.mountWatchThread");
  // The table may have changed between the mount and the start of the watch.
  while (stillMounted()) {
    pollfd watched[2] = {{tableFd_, POLLPRI, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(watched, 2, -1) == -1 && errno != EINTR)
      return;
    if ((watched[1].revents & POLLIN) != 0)
      return;
  }
  detached_();
}

} // namespace orvex
