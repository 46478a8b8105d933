// A FUSE file system that only answers: a fixed tree of folders and empty
// files of one size, no extended attributes, mounted with the drive's options
// (timeouts, request sizes, permission checks) and listing the way the drive
// does (pages at real offsets, every entry with its attributes). What a
// command costs on it is what FUSE itself costs on this machine, the floor any
// FUSE drive meets; the drive benchmark measures against it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct fuse;

namespace orvex {

// Made, used and destroyed on one thread; FUSE's own threads answer requests
// from the constant tree alone.
class BareFuse {
 public:
  // One node of the tree: its path below the root ("big/a.txt") and kind.
  struct Node {
    std::string path;
    bool isFolder = false;
  };
  struct Entry {
    bool isFolder = false;
    std::vector<std::string> children; // names, for folders
  };

  // Mounts `nodes` (parents before children) with files of `fileSize` bytes at
  // `mountPath` (an empty folder); false from mounted() when that failed.
  BareFuse(std::filesystem::path mountPath, const std::vector<Node>& nodes, off_t fileSize);
  BareFuse(const BareFuse&) = delete;
  BareFuse& operator=(const BareFuse&) = delete;
  // Unmounts and waits for FUSE's threads.
  ~BareFuse();

  bool mounted() const { return fuse_ != nullptr; }
  const std::filesystem::path& path() const { return mountPath_; }
  // The entry at a path as FUSE gives it ("/", "/big/a.txt"); null when none.
  const Entry* find(const std::string& path) const;
  off_t fileSize() const { return fileSize_; }

 private:
  const std::filesystem::path mountPath_;
  const off_t fileSize_;
  std::unordered_map<std::string, Entry> entries_; // by FUSE path; constant once mounted
  fuse* fuse_ = nullptr;
  std::thread loop_;
};

} // namespace orvex
