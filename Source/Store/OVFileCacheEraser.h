// The database's handle on cached contents, forwarding to the file cache.
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
  void createCacheFile(const OVFile& file) override;
  void exchangeFileCaches(const OVFile& oldFile, const OVFile& newFile) override;
  void moveFileCacheWithId(std::string_view internalName, std::string_view fromShareId,
                           std::string_view toShareId) override;

 private:
  OVFileCache& fileCache_;
};

} // namespace orvex
