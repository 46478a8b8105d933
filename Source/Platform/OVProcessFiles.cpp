#include "Platform/OVProcessFiles.h"

#include "Platform/WholeFile.h"

#include <charconv>

namespace orvex {
namespace {

std::optional<pid_t> pidOf(const std::string& name) {
  pid_t pid = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end != name.data() + name.size() || pid <= 0)
    return std::nullopt;
  return pid;
}

} // namespace

std::optional<std::string> OVProcessFiles::processName(pid_t pid) const {
  WholeFile comm = readWholeFile(procRoot_ / std::to_string(pid) / "comm");
  if (!comm.exists || comm.error != 0)
    return std::nullopt;
  std::string name = comm.text.substr(0, comm.text.find('\n'));
  return name;
}

bool OVProcessFiles::holdsFileUnder(const std::filesystem::path& fdFolder, const std::string& folder) const {
  std::error_code error;
  for (std::filesystem::directory_iterator it(fdFolder, error), end; !error && it != end; it.increment(error)) {
    std::error_code linkError;
    std::string target = std::filesystem::read_symlink(it->path(), linkError).string();
    if (linkError)
      continue;
    if (target == folder || (target.size() > folder.size() && target.compare(0, folder.size(), folder) == 0 &&
                             target[folder.size()] == '/'))
      return true;
  }
  return false;
}

std::vector<pid_t> OVProcessFiles::processesUsing(const std::filesystem::path& folder, pid_t self) const {
  std::string prefix = folder.lexically_normal().string();
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.pop_back();
  std::vector<pid_t> pids;
  std::error_code error;
  for (std::filesystem::directory_iterator it(procRoot_, error), end; !error && it != end; it.increment(error)) {
    auto pid = pidOf(it->path().filename().string());
    if (pid && *pid != self && holdsFileUnder(it->path() / "fd", prefix))
      pids.push_back(*pid);
  }
  return pids;
}

} // namespace orvex
