// The attributes a program may set on a file: mode, size and times. Linux
// hands them over one call each (chmod, truncate, utimens) where others pass
// one combined request; owners are not kept, and file flags do not exist here.
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace orvex {
namespace {

// UTIME_OMIT keeps the stored time; UTIME_NOW takes the clock's.
void applyTime(const struct timespec& time, OVDate& into, const Clock& clock) {
  if (time.tv_nsec == UTIME_OMIT)
    return;
  if (time.tv_nsec == UTIME_NOW) {
    into = OVDate(clock.wallNow());
    return;
  }
  into = dateFromSecondsSince1970(static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9);
}

} // namespace

std::optional<OVFile> OVFuseCallback::changeableRecord(const std::string& path, int& error) {
  if (OVFuseUtils::isRootPath(path) || OVFuseUtils::isSharePath(path)) {
    error = -EACCES;
    return std::nullopt;
  }
  if (auto share = database_.shareWithPath(path); share && share->isReadOnly()) {
    error = -EACCES;
    return std::nullopt;
  }
  auto file = database_.fileWithPath(path);
  if (!file || file->deleted) {
    error = -ENOENT;
    return std::nullopt;
  }
  return file;
}

int OVFuseCallback::chmod(const char* path, mode_t mode) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}: ofItemAtPath: {}. mode {:o}", "orvex_chmod", final, mode);
  int error = 0;
  auto file = changeableRecord(final, error);
  if (!file)
    return error;
  // Bits above the permission bits (file type, stored flags) are not the caller's to set.
  file->permissions = mode & 07777;
  database_.updateFileAttributes(*file);
  forgetListing(OVFuseUtils::parentPath(final));
  return 0;
}

int OVFuseCallback::utimens(const char* path, const struct timespec times[2]) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}: ofItemAtPath: {}", "orvex_utimens", final);
  int error = 0;
  auto file = changeableRecord(final, error);
  if (!file)
    return error;
  const struct timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
  const struct timespec* requested = times != nullptr ? times : now;
  applyTime(requested[1], file->modifyTime, clock_);
  applyTime(requested[0], file->accessTime, clock_);
  database_.updateFileAttributes(*file);
  forgetListing(OVFuseUtils::parentPath(final));
  return 0;
}

int OVFuseCallback::truncate(const char* path, std::int64_t size, std::uint64_t handle) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}: ofItemAtPath: {}. size {}", "orvex_truncate", final, size);
  int error = 0;
  auto file = changeableRecord(final, error);
  if (!file)
    return error;
  if (size < 0)
    return -EINVAL;
  const auto newSize = static_cast<std::uint64_t>(size);
  // Bytes beyond the cached prefix are on the server only: keeping part of
  // them, or growing past them, would need all of them here first.
  if (newSize > 0 && !downloads_.isFileDownloaded(*file)) {
    OVLog(kLogMain, "{} : Warning! Attempt to truncate file {}, which is not yet downloaded.", "orvex_truncate", final);
    return -EFBIG;
  }
  // Truncating changes the content's time even when the size stays, as it
  // does on a local disk.
  file->modifyTime = OVDate(clock_.wallNow());
  if (newSize == file->fileSize) {
    database_.updateFileAttributes(*file);
    forgetListing(OVFuseUtils::parentPath(final));
    return 0;
  }
  const auto cachePath = cache_.pathForFileCache(*file);
  if (!cachePath)
    return -EIO; // the path check warned
  OVFuseFileData* data = fileDataFromHandle(handle);
  int result = 0;
  if (data != nullptr) {
    std::lock_guard lock(data->descriptorMutex);
    result =
        data->fileDescriptor != -1 ? ::ftruncate(data->fileDescriptor, size) : ::truncate(cachePath->c_str(), size);
  } else {
    result = ::truncate(cachePath->c_str(), size);
  }
  if (result != 0 && errno != ENOENT) {
    const int saved = errno;
    OVLog(kLogFuse, "{} : failed to truncate file {}, error {}", "orvex_truncate", final, saved);
    return -saved;
  }
  // Emptying content never downloaded makes it whole: an empty cache file,
  // which later writes at any offset may extend.
  if (result != 0 && newSize == 0)
    cache_.createCacheFile(*file);
  cache_.deleteFileDownload(*file);
  file->fileSize = newSize;
  contentChanged(final, *file);
  return 0;
}

} // namespace orvex
