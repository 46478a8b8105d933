#include "Store/OVFileCacheEraser.h"

#include "Store/OVFileCache.h"

namespace orvex {

void OVFileCacheEraser::deleteFileCache(const OVFile& file) {
  fileCache_.deleteFileCache(file);
}

void OVFileCacheEraser::deleteFileDownload(const OVFile& file) {
  fileCache_.deleteFileDownload(file);
}

} // namespace orvex
