// One open folder's listing. A program reads a folder in pages, one request
// each; the listing is made when it starts at the beginning and kept by its
// directory handle until it closes the folder, so that the pages of one
// reading never repeat or skip an entry when the folder changes meanwhile.
// Rewinding (a read from offset 0) makes it afresh.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

struct OVDirectoryEntry {
  std::string name;
  struct stat attributes {};
  bool hasAttributes = false; // "." and ".." leave theirs to the kernel
};

// Owned by its directory handle. Not locked: the kernel serialises the reads
// of one open folder, and so does the library for one handle.
struct OVDirectoryListing {
  std::vector<OVDirectoryEntry> entries;
  bool made = false;
};

// FUSE's handle of an open folder is the listing's address.
inline OVDirectoryListing* listingFromHandle(std::uint64_t handle) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): FUSE keeps the handle as an integer
  return reinterpret_cast<OVDirectoryListing*>(static_cast<std::uintptr_t>(handle));
}
inline std::uint64_t handleFromListing(OVDirectoryListing* listing) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(listing));
}

} // namespace orvex
