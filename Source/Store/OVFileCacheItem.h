// One node's open cache descriptor: the complete cache file (read-only) or the
// growing download file (read-write).
#pragma once

#include "Dispatch/Clock.h"
#include "Store/OVFile.h"

#include <cstdint>

#include <unistd.h>

namespace orvex {

// Not thread-safe: owned by OVFileCache and used only under its cacheItems
// monitor. Destroying the item closes its descriptor.
struct OVFileCacheItem {
  OVFileCacheItem(OVFile node, Clock::SteadyTime now) : file(std::move(node)), lastRead(now) {}
  OVFileCacheItem(const OVFileCacheItem&) = delete;
  OVFileCacheItem& operator=(const OVFileCacheItem&) = delete;
  ~OVFileCacheItem() { closeDescriptor(); }

  void closeDescriptor() {
    if (fd != -1) {
      ::close(fd);
      fd = -1;
    }
  }

  OVFile file;
  int fd = -1;
  bool downloaded = false;         // fd is the complete cache file
  std::uint64_t availableData = 0; // bytes present from offset 0
  // Monotonic rather than calendar time: the idle test must not be fooled by
  // the user setting the clock.
  Clock::SteadyTime lastRead;
};

} // namespace orvex
