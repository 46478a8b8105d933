// Extended attributes: four reserved names answered from the store and the
// queues, everything else kept in the item's side file in the cache. Side
// files are found by the share id or the record id, never by the path the
// kernel passed, so no incoming name can lead outside the cache.
#include "Drive/OVFuseCallback.h"

#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace orvex {
namespace {

// The kernel's own namespaces: security labels and access control lists.
// The drive enforces neither, so it keeps none: storing them would claim a
// protection that does not exist, and every call on them answers EOPNOTSUPP,
// as on any file system without them. That answer also matters for speed:
// `ls -l` asks for both kinds on every entry it shows until a file system
// says it does not support them, and then stops asking for that device.
bool isKernelName(std::string_view name) {
  return name.starts_with("security.") || name.starts_with("system.");
}

bool isReservedName(std::string_view name) {
  return name == kOverlayIconAttribute || name == kWriteAccessAttribute || name == kFileStatusAttribute ||
         name == kLockStatusAttribute;
}

bool fileExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// Copies `value` out as the Linux calls do: the length alone for a zero
// size, -ERANGE when it does not fit.
int copyOut(std::string_view value, char* buffer, std::size_t size) {
  if (size == 0)
    return static_cast<int>(value.size());
  if (size < value.size())
    return -ERANGE;
  std::memcpy(buffer, value.data(), value.size());
  return static_cast<int>(value.size());
}

OVAttributeFiles::SetMode setMode(int flags) {
  if ((flags & XATTR_CREATE) != 0)
    return OVAttributeFiles::SetMode::createOnly;
  if ((flags & XATTR_REPLACE) != 0)
    return OVAttributeFiles::SetMode::replaceOnly;
  return OVAttributeFiles::SetMode::createOrReplace;
}

} // namespace

std::optional<std::uint8_t> OVFuseCallback::reservedValue(const std::string& path, std::string_view name,
                                                          const std::optional<OVFile>& record) {
  if (name == kOverlayIconAttribute)
    return status_.overlayIcon(path, record);
  if (name == kWriteAccessAttribute)
    return static_cast<std::uint8_t>(status_.writeAccess(path));
  if (name == kFileStatusAttribute)
    return status_.fileStatus(path, record);
  // Without a record, the lock name is an ordinary attribute like any other.
  if (name == kLockStatusAttribute && record)
    return status_.lockStatus(path, *record);
  return std::nullopt;
}

std::optional<std::filesystem::path> OVFuseCallback::sideFile(const std::string& path,
                                                              const std::optional<OVFile>& record, bool create) {
  std::optional<std::filesystem::path> side;
  if (OVFuseUtils::isSharePath(path)) {
    ManagedSharePtr share = database_.shareWithPath(path);
    if (!share)
      return std::nullopt;
    side = cache_.pathForShareExtAttrs(share->ShareId.value_or(""));
    if (side && create && !fileExists(*side))
      cache_.createExAttrsForShare(*share);
  } else {
    if (!record)
      return std::nullopt;
    side = cache_.pathForFileExtAttrs(*record);
    if (side && create && !fileExists(*side))
      cache_.createExAttrsForFile(*record);
  }
  return side;
}

int OVFuseCallback::getxattr(const char* incoming, const char* name, char* buffer, std::size_t size) {
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_getxattr", incoming);
  if (isKernelName(name))
    return -EOPNOTSUPP;
  const std::string path = finalPath(incoming);
  if (OVFuseUtils::isRootPath(path))
    return -ENODATA;
  std::optional<OVFile> record = recordAt(path);
  if (auto reserved = reservedValue(path, name, record)) {
    const char byte = static_cast<char>(*reserved);
    return copyOut(std::string_view(&byte, 1), buffer, size);
  }
  auto side = sideFile(path, record, false);
  if (!side || !fileExists(*side))
    return -ENODATA;
  std::string value;
  if (int error = attributes_.get(*side, name, value))
    return -error;
  return copyOut(value, buffer, size);
}

int OVFuseCallback::setxattr(const char* incoming, const char* name, const char* value, std::size_t size, int flags) {
  OVLog(kLogFuse, "{}: {}, name: {}", "orvex_setxattr", incoming, name);
  if (isKernelName(name))
    return -EOPNOTSUPP;
  const std::string path = finalPath(incoming);
  if (OVFuseUtils::isRootPath(path))
    return 0;
  auto side = sideFile(path, database_.fileWithPath(path), true);
  if (!side)
    return -EFAULT;
  const std::string bytes = value != nullptr ? std::string(value, size) : std::string();
  if (int error = attributes_.set(*side, name, bytes, setMode(flags))) {
    OVLog(kLogFuse, "{} : failed : errno = {}", "orvex_setxattr", error);
    return -error;
  }
  return 0;
}

int OVFuseCallback::listxattr(const char* incoming, char* buffer, std::size_t size) {
  OVLog(kLogFuse, "{}:{}", "orvex_listxattr", incoming);
  const std::string path = finalPath(incoming);
  if (OVFuseUtils::isRootPath(path))
    return 0;
  auto side = sideFile(path, database_.fileWithPath(path), false);
  if (!side || !fileExists(*side))
    return 0;
  std::vector<std::string> names;
  if (int error = attributes_.list(*side, names))
    return -error;
  std::string listing;
  for (const std::string& name : names) {
    // Stored only if someone set one by hand; the reserved names are answers, not attributes.
    if (!isReservedName(name))
      listing.append(name).push_back('\0');
  }
  return copyOut(listing, buffer, size);
}

int OVFuseCallback::removexattr(const char* incoming, const char* name) {
  const std::string path = finalPath(incoming);
  OVLog(kLogFuse, "{}:{}", "orvex_removexattr", name);
  OVLog(kLogFuse, "{}:{} ofItemAtPath:{}", "orvex_removexattr", name, path);
  if (isKernelName(name))
    return -EOPNOTSUPP;
  if (OVFuseUtils::isRootPath(path))
    return 0;
  auto side = sideFile(path, database_.fileWithPath(path), false);
  if (!side || !fileExists(*side))
    return 0;
  return -attributes_.remove(*side, name);
}

} // namespace orvex
