// Changes to the namespace. They come with the upload of such changes; until
// then the drive answers them as a read-only file system does, so that no
// program believes a change was kept. Rename already takes renameat2's flags,
// so that an exchange and a rename that must not replace can be told apart.
#include "Drive/OVFuseCallback.h"
#include "OVLogger.h"

#include <cerrno>
#include <cstdio>

namespace orvex {

int OVFuseCallback::rename(const char* from, const char* to, unsigned flags) {
  counts_.renameFlagsSeen.fetch_or(flags, std::memory_order_relaxed);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}: {} -> {} flags {}", "orvex_rename", from, to, flags);
  constexpr unsigned kKnownFlags = RENAME_NOREPLACE | RENAME_EXCHANGE;
  // Both at once, or anything else (a whiteout), is meaningless here.
  if ((flags & ~kKnownFlags) != 0 || flags == kKnownFlags)
    return -EINVAL;
  return -EROFS;
}

} // namespace orvex
