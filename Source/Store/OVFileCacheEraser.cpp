#include "Store/OVFileCacheEraser.h"

#include "OVLogger.h"
#include "Store/OVFile.h"
#include "Store/OVFileCache.h"

#include <filesystem>
#include <optional>

namespace orvex {

namespace {

// An absent path (an id the cache refused) or an absent file is nothing to do.
void removeIfPresent(const std::optional<std::filesystem::path>& path) {
  if (!path) {
    return;
  }
  std::error_code error;
  std::filesystem::remove(*path, error);
  if (error) {
    OVLog(kLogMain, "Warning! Cannot delete cached file {} : error {}", path->string(), error.message());
  }
}

} // namespace

void OVFileCacheEraser::deleteFileCache(const OVFile& file) {
  removeIfPresent(fileCache_.pathForFileCacheWithShareId(file.shareId, file.internalName));
  removeIfPresent(fileCache_.pathForFileExtAttrsWithShareId(file.shareId, file.internalName));
}

void OVFileCacheEraser::deleteFileDownload(const OVFile& file) {
  removeIfPresent(fileCache_.pathForFileDownload(file.internalName));
}

} // namespace orvex
