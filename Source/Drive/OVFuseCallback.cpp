#include "Drive/OVFuseCallback.h"

#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseUtils.h"
#include "Drive/OVTempPaths.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <cerrno>
#include <limits>

namespace orvex {

OVFuseCallback::OVFuseCallback(OVDatabase& database, OVFileCache& cache, OVDriveDownloadStatus& downloads,
                               OVDriveUploadStatus& uploads, OVDriveAccount& account, OVDriveContentSource& content,
                               Config config, Clock& clock)
    : database_(database),
      cache_(cache),
      downloads_(downloads),
      content_(content),
      config_(config),
      clock_(clock),
      status_(database, downloads, uploads, account, clock),
      listings_(clock),
      openFiles_(clock) {}

std::string OVFuseCallback::finalPath(std::string_view path) const {
  return orvex::finalPath(path, [this](const std::string& key) { return database_.archiveMap().get(key); });
}

bool OVFuseCallback::isVolumeOnlyName(std::string_view path) {
  return path == kFuseLock || OVFuseUtils::lastPathComponent(path) == kFinderRefresh;
}

void OVFuseCallback::setMountHooks(std::function<void()> mounted, std::function<void()> unmounted) {
  std::lock_guard lock(hooksMutex_);
  mountedHook_ = std::move(mounted);
  unmountedHook_ = std::move(unmounted);
}

void OVFuseCallback::didInit() {
  std::function<void()> hook;
  {
    std::lock_guard lock(hooksMutex_);
    hook = mountedHook_;
  }
  if (hook)
    hook();
}

void OVFuseCallback::didDestroy() {
  std::function<void()> hook;
  {
    std::lock_guard lock(hooksMutex_);
    hook = unmountedHook_;
  }
  if (hook)
    hook();
}

int OVFuseCallback::statfs(const char* path, struct statvfs& stats) {
  if (::statvfs(cache_.rootCachePath().c_str(), &stats) != 0)
    return -errno;
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_statfs", path ? path : "");
  // (total + free blocks x fragment) / fragment, without the product that
  // could overflow: the free blocks plus the store's size in fragments.
  const std::int64_t total = database_.totalFileSize();
  if (stats.f_frsize > 0 && total > 0) {
    const auto added = static_cast<fsblkcnt_t>(static_cast<std::uint64_t>(total) / stats.f_frsize);
    const fsblkcnt_t room = std::numeric_limits<fsblkcnt_t>::max() - stats.f_bfree;
    stats.f_blocks = stats.f_bfree + (added < room ? added : room);
  } else {
    stats.f_blocks = stats.f_bfree;
  }
  return 0;
}

} // namespace orvex
