#include "Store/OVFileCacheEraser.h"

#include "Store/OVFileCache.h"

namespace orvex {

void OVFileCacheEraser::deleteFileCache(const OVFile& file) {
  fileCache_.deleteFileCache(file);
}

void OVFileCacheEraser::deleteFileDownload(const OVFile& file) {
  fileCache_.deleteFileDownload(file);
}

void OVFileCacheEraser::createCacheFile(const OVFile& file) {
  fileCache_.createCacheFile(file);
}

void OVFileCacheEraser::exchangeFileCaches(const OVFile& oldFile, const OVFile& newFile) {
  fileCache_.exchangeFileCaches(oldFile, newFile);
}

void OVFileCacheEraser::moveFileCacheWithId(std::string_view internalName, std::string_view fromShareId,
                                            std::string_view toShareId) {
  fileCache_.moveFileCacheWithId(internalName, fromShareId, toShareId);
}

} // namespace orvex
