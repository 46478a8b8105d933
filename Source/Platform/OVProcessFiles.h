// Which processes hold files of a folder tree open, and what they are called:
// read from /proc, so it also sees files opened before this program started.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// Stateless; any thread. `procRoot` is "/proc" except in tests.
class OVProcessFiles {
 public:
  explicit OVProcessFiles(std::filesystem::path procRoot = "/proc") : procRoot_(std::move(procRoot)) {}

  // The short name of process `pid` (its "comm"); nullopt when it is gone.
  std::optional<std::string> processName(pid_t pid) const;
  // Processes other than `self` with a descriptor on `folder` or below it.
  // Reading a descriptor's link never reaches the file system it points into,
  // so this is safe on a drive that hangs.
  std::vector<pid_t> processesUsing(const std::filesystem::path& folder, pid_t self) const;

 private:
  bool holdsFileUnder(const std::filesystem::path& fdFolder, const std::string& folder) const;

  const std::filesystem::path procRoot_;
};

} // namespace orvex
