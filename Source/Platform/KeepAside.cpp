#include "Platform/KeepAside.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <fmt/chrono.h>
#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>

namespace orvex {
namespace {

constexpr int kMaxAsideAttempts = 100;

std::string utcStamp(Clock::WallTime when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
  if (::gmtime_r(&seconds, &parts) == nullptr)
    return "unknown-time";
  return fmt::format("{:%Y%m%dT%H%M%S}", parts);
}

// An earlier broken file of the same second must survive too, hence no plain rename.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL)
    return false;
  // File systems without RENAME_NOREPLACE: link() refuses an existing target as well.
  if (::link(from.c_str(), to.c_str()) != 0)
    return false;
  ::unlink(from.c_str());
  return true;
}

} // namespace

std::optional<std::filesystem::path> keepFileAside(const std::filesystem::path& path, Clock::WallTime now, bool copy) {
  std::string base = path.string() + ".broken-" + utcStamp(now);
  for (int attempt = 1; attempt <= kMaxAsideAttempts; ++attempt) {
    std::filesystem::path target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    if (copy) {
      std::error_code error;
      if (std::filesystem::copy_file(path, target, std::filesystem::copy_options::none, error))
        return target;
      if (error != std::errc::file_exists)
        return std::nullopt;
    } else {
      if (renameNoReplace(path, target))
        return target;
      if (errno != EEXIST)
        return std::nullopt;
    }
  }
  return std::nullopt;
}

} // namespace orvex
