#include "Drive/OVDriveTransferStatus.h"

#include "Drive/OVFuseUtils.h"
#include "Store/OVFile.h"
#include "Store/OVFileCache.h"

#include <filesystem>
#include <system_error>

namespace orvex {

bool OVNoDriveDownloads::isFileDownloaded(const OVFile& file) {
  if (OVFuseUtils::isPathIgnored(file.publicName, !file.isFile) || file.fileSize == 0)
    return true;
  auto path = cache_.pathForFileCache(file);
  std::error_code error;
  return path && std::filesystem::exists(*path, error);
}

} // namespace orvex
