// Deletes a node's cached content through the file cache's paths.
#pragma once

#include "Store/OVCacheEraser.h"

namespace orvex {

class OVFileCache;

// Thread-safe: forwards to the (thread-safe) file cache.
class OVFileCacheEraser final : public OVCacheEraser {
 public:
  explicit OVFileCacheEraser(OVFileCache& fileCache) : fileCache_(fileCache) {}

  void deleteFileCache(const OVFile& file) override;
  void deleteFileDownload(const OVFile& file) override;

 private:
  OVFileCache& fileCache_;
};

} // namespace orvex
