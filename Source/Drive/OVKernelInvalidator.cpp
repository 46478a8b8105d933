#include "Drive/OVKernelInvalidator.h"

#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseMount.h"
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"

#include <cerrno>

namespace orvex {

OVKernelInvalidator::OVKernelInvalidator(OVFuseCallback& drive, OVFuseLoop& loop)
    : drive_(drive), loop_(loop), queue_(kQueueLabel) {}

void OVKernelInvalidator::pathsChanged(std::vector<std::string> paths) {
  queue_.async([this, paths = std::move(paths)] { invalidate(paths); });
}

void OVKernelInvalidator::waitUntilDone() {
  queue_.sync([] {});
}

void OVKernelInvalidator::invalidate(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    drive_.forgetListing(OVFuseUtils::parentPath(path));
    drive_.forgetListing(path);
  }
  for (const std::string& path : paths) {
    const int result = loop_.invalidatePath(path);
    // A path the kernel never saw, or has forgotten, holds nothing stale; no
    // mounted drive holds nothing at all.
    if (result != 0 && result != -ENOENT && result != -ESRCH)
      OVLog(kLogFuse, "Warning! The kernel did not take the change of {}: error {}", path, -result);
  }
}

} // namespace orvex
