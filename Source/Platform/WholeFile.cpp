#include "Platform/WholeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orvex {

WholeFile readWholeFile(const std::filesystem::path& path) {
  WholeFile result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.exists = errno != ENOENT;
    result.error = result.exists ? errno : 0;
    return result;
  }
  result.exists = true;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      result.error = errno;
      break;
    }
    result.text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return result;
}

} // namespace orvex
