// What every benchmark needs to turn runs into figures: the median of runs,
// and a way to start a run with the kernel's caches empty.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace orvex {

// The middle value of `values` (the upper one of an even count); it must not be empty.
inline double median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Empties the kernel's page cache and its name and attribute caches, so that
// the next command finds every file system as right after mounting or boot.
// Root only; false when that is refused.
inline bool dropKernelCaches() {
  ::sync();
  const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  const bool dropped = fd != -1 && ::write(fd, "3\n", 2) == 2;
  if (fd != -1)
    ::close(fd);
  return dropped;
}

} // namespace orvex
