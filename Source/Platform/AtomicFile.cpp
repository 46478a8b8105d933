#include "Platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

std::error_code writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return lastError();
    }
    content.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

// Fills a temporary file that is not yet visible under the target's name.
std::error_code fillTemporary(int fd, std::string_view content, mode_t mode) {
  // mkstemp creates 0600; the caller may want something else, and umask must not narrow it.
  if (::fchmod(fd, mode) != 0)
    return lastError();
  if (auto error = writeAll(fd, content))
    return error;
  if (::fsync(fd) != 0)
    return lastError();
  return {};
}

// Without this the rename itself may be lost on power failure even though the data is on disk.
std::error_code syncFolder(const std::filesystem::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return lastError();
  std::error_code error;
  if (::fsync(fd) != 0)
    error = lastError();
  ::close(fd);
  return error;
}

} // namespace

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty())
    folder = ".";
  std::string pattern = (folder / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');

  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return lastError();
  std::error_code error = fillTemporary(fd, content, mode);
  if (::close(fd) != 0 && !error)
    error = lastError();
  if (!error && ::rename(name.data(), path.c_str()) != 0)
    error = lastError();
  if (error) {
    ::unlink(name.data());
    return error;
  }
  return syncFolder(folder);
}

} // namespace orvex
