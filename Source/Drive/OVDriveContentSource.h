// What the drive asks the download queue when a read falls outside the cached
// content. The drive sits below the transfers module: the application shell
// hands it the real queue through this seam.
#pragma once

#include "Store/OVFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

// Called on FUSE worker threads concurrently; an implementation guards its own
// state and must outlive every mount that uses it.
class OVDriveContentSource {
 public:
  OVDriveContentSource() = default;
  OVDriveContentSource(const OVDriveContentSource&) = delete;
  OVDriveContentSource& operator=(const OVDriveContentSource&) = delete;
  virtual ~OVDriveContentSource() = default;

  // The bytes [location, location + length) of `file`'s content (fewer at the
  // end of the file), `path` being the node's volume path for the log. Blocks
  // at most the queue's wait (7 s); nothing means the bytes did not arrive in
  // time, and the reader gets EIO.
  virtual std::optional<std::string> downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                                   const std::string& path) = 0;

  // Brings `file`'s whole content into the cache, so that a write can change
  // part of it; blocks at most the same wait. True when the content is
  // complete in the cache. This one asks for all of it as one range; a source
  // that keeps the cache's prefix growing as bytes arrive does better.
  virtual bool downloadWholeContent(const OVFile& file, const std::string& path) {
    return file.fileSize == 0 || downloadChunk(0, file.fileSize, file, path).has_value();
  }

  // The drive closed its last handle of the node `internalName`: what is being
  // fetched for it and no reader waits for is no longer wanted.
  virtual void fileClosed(const std::string& /*internalName*/) {}
};

// No download queue: nothing can be fetched, so reads outside the cache fail
// with EIO. Stateless and thread-safe.
class OVNoDownloadSource final : public OVDriveContentSource {
 public:
  std::optional<std::string> downloadChunk(std::uint64_t /*location*/, std::uint64_t /*length*/, const OVFile& /*file*/,
                                           const std::string& /*path*/) override {
    return std::nullopt;
  }
};

} // namespace orvex
