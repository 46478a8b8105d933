#include "Platform/OVInstanceGuard.h"

#include "OVLogger.h"
#include "Platform/WholeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

namespace orvex {

std::filesystem::path OVInstanceGuard::lockPath(const std::filesystem::path& folder, const std::string& title) {
  return folder / ("com.orvex." + title + ".lock");
}

OVRunningInstance parseInstanceDescription(const std::string& text) {
  OVRunningInstance instance;
  std::size_t newline = text.find('\n');
  std::string first = text.substr(0, newline);
  int pid = 0;
  auto [end, error] = std::from_chars(first.data(), first.data() + first.size(), pid);
  if (error == std::errc() && end == first.data() + first.size() && pid > 0)
    instance.pid = pid;
  if (newline != std::string::npos) {
    std::string rest = text.substr(newline + 1);
    instance.programPath = rest.substr(0, rest.find('\n'));
  }
  return instance;
}

OVInstanceGuard::Result OVInstanceGuard::acquire(const std::filesystem::path& path, const std::string& programPath) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    OVLog(kLogMain, "Warning! Cannot open the instance lock {}: {}", path.string(),
          std::generic_category().message(errno));
    return {};
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int saved = errno;
    ::close(fd);
    if (saved != EWOULDBLOCK) {
      OVLog(kLogMain, "Warning! Cannot lock {}: {}", path.string(), std::generic_category().message(saved));
      return {};
    }
    return {nullptr, parseInstanceDescription(readWholeFile(path).text)};
  }
  std::string description = std::to_string(::getpid()) + "\n" + programPath + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, description.data(), description.size(), 0) < 0)
    OVLog(kLogMain, "Warning! Cannot describe this instance in {}: {}", path.string(),
          std::generic_category().message(errno));
  return {std::unique_ptr<OVInstanceGuard>(new OVInstanceGuard(fd)), std::nullopt};
}

OVInstanceGuard::~OVInstanceGuard() {
  ::close(fd_);
}

} // namespace orvex
