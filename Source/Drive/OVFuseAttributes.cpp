// Attributes: the read-only description of every node.
// Everything comes from the metadata store; nothing here touches the network
// or file contents, because the desktop asks for every file it shows.
#include "Drive/OVFuseCallback.h"

#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>

namespace orvex {
namespace {

// No set-id or sticky bits on the drive, whatever the server stored.
constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// Whole seconds and nanoseconds of a stored date. Negative fractions (dates
// before 1970) become 0 nanoseconds; values beyond time_t are clamped.
timespec toTimespec(double seconds) {
  if (std::isnan(seconds))
    return {};
  constexpr double kMax = 0.5 * static_cast<double>(std::numeric_limits<time_t>::max());
  seconds = std::clamp(seconds, -kMax, kMax);
  const double whole = std::trunc(seconds);
  const double fraction = seconds - whole;
  timespec time{};
  time.tv_sec = static_cast<time_t>(whole);
  time.tv_nsec = fraction > 0 ? std::min(static_cast<long>(fraction * 1e9), 999999999L) : 0;
  return time;
}

timespec toTimespec(OVDate date) {
  return toTimespec(secondsSince1970(date));
}

// 512-byte blocks, a partial block counting as a whole one.
blkcnt_t blocksFor(std::uint64_t size) {
  return static_cast<blkcnt_t>(size / 512 + (size % 512 != 0 ? 1 : 0));
}

// Everything on the drive belongs to the user who mounted it. The process
// never changes its user, and asking the kernel again would cost two system
// calls on each of the thousands of requests that follow a listing.
void fillOwner(struct stat& attributes) {
  static const uid_t user = ::geteuid();
  static const gid_t group = ::getegid();
  attributes.st_nlink = 1;
  attributes.st_uid = user;
  attributes.st_gid = group;
}

} // namespace

void OVFuseCallback::fillVolumeOnly(struct stat& attributes) const {
  attributes.st_mode = S_IFREG | 0700;
  fillOwner(attributes);
  const timespec now = toTimespec(OVDate(clock_.wallNow()));
  attributes.st_atim = now;
  attributes.st_mtim = now;
  attributes.st_ctim = now;
}

void OVFuseCallback::fillShare(const ManagedShare& share, struct stat& attributes) const {
  attributes.st_mode = S_IFDIR | 0700;
  fillOwner(attributes);
  attributes.st_mtim = toTimespec(share.ModificationDate.value_or(OVDate{}));
  attributes.st_atim = attributes.st_mtim;
  attributes.st_ctim = toTimespec(share.CreationDate.value_or(OVDate{}));
}

void OVFuseCallback::fillRecord(const OVFile& file, struct stat& attributes) {
  attributes.st_mode = (file.isFile ? S_IFREG : S_IFDIR) | (static_cast<mode_t>(file.permissions) & kPermissionBits);
  // Linux gives a FUSE file no immutable flag: a file another user locked on
  // the server shows without write permission instead.
  if (file.isFile && database_.isFileLockedRemotely(file))
    attributes.st_mode &= ~kWriteBits;
  fillOwner(attributes);
  attributes.st_mtim = toTimespec(file.modifyTime);
  attributes.st_ctim = toTimespec(file.createTime);
  attributes.st_atim = toTimespec(file.accessTime);
  if (file.isFile) {
    constexpr auto kMaxSize = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    attributes.st_size = static_cast<off_t>(std::min(file.fileSize, kMaxSize));
    attributes.st_blocks = blocksFor(file.fileSize);
  }
}

int OVFuseCallback::getattr(const char* incoming, struct stat& attributes, bool forOpenFile) {
  if (!forOpenFile)
    OVDriveRequestCounts::add(counts_.pathLookups);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "OVFuseFileSystem: attributesOfItemAtPath:{}", incoming);
  const std::string path = finalPath(incoming);
  attributes = {};
  if (isVolumeOnlyName(path)) {
    fillVolumeOnly(attributes);
    return 0;
  }
  // The root is the files folder of the cache: its owner and times are the user's own.
  if (OVFuseUtils::isRootPath(path))
    return ::lstat(cache_.filesCachePath().c_str(), &attributes) == 0 ? 0 : -errno;
  if (OVFuseUtils::isSharePath(path)) {
    if (ManagedSharePtr share = database_.shareWithPath(path)) {
      fillShare(*share, attributes);
      return 0;
    }
    // Desktop probes of hidden names at the root are expected and not worth a line.
    if (OVFuseUtils::isPathIgnored(path, false))
      return -ENOENT;
  } else if (std::shared_ptr<const OVFile> listed = listings_.find(path)) {
    // A listing holds no deleted rows. Read in place: no copy for each of
    // the requests that follow a listing.
    fillRecord(*listed, attributes);
    return 0;
  } else if (auto file = database_.fileWithPath(path); file && !file->deleted) {
    fillRecord(*file, attributes);
    return 0;
  }
  OVLog(kLogFuse, "OVFuseFileSystem: attributesOfItemAtPath: failed: {}", incoming);
  return -ENOENT;
}

std::optional<OVFile> OVFuseCallback::recordAt(const std::string& path) {
  if (auto row = listings_.find(path))
    return *row;
  return database_.fileWithPath(path);
}

} // namespace orvex
