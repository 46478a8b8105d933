// A FUSE file system that only answers: folders of empty files, no extended
// attributes, and the kernel timeouts the drive mounts with. What a command costs on it is what
// FUSE itself costs on this machine (a request, two thread wake-ups), the
// floor any FUSE drive meets; the drive benchmark measures against it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <thread>

struct fuse;

namespace orvex {

// Made, used and destroyed on one thread; FUSE's own threads answer requests
// from the constant folder list alone.
class BareFuse {
 public:
  // Folder names below the root, and how many files ("f0", "f1", ...) each holds.
  using Folders = std::map<std::string, int, std::less<>>;

  // Mounts `folders` at `mountPath` (an empty folder); false from mounted()
  // when that failed.
  BareFuse(std::filesystem::path mountPath, Folders folders);
  BareFuse(const BareFuse&) = delete;
  BareFuse& operator=(const BareFuse&) = delete;
  // Unmounts and waits for FUSE's threads.
  ~BareFuse();

  bool mounted() const { return fuse_ != nullptr; }
  const std::filesystem::path& path() const { return mountPath_; }
  const Folders& folders() const { return folders_; }

 private:
  const std::filesystem::path mountPath_;
  const Folders folders_;
  fuse* fuse_ = nullptr;
  std::thread loop_;
};

} // namespace orvex
