// Creating a file: a node in the store (or the live node already at the
// path), and its cache file, empty, opened for the writes that follow.
#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <fcntl.h>

#include <cerrno>

namespace orvex {

int OVFuseCallback::create(const char* path, mode_t /*mode*/, pid_t process, std::uint64_t& handle) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_create", final);
  handle = 0;
  int error = -EIO;
  auto file = createdRecord(final, error);
  if (!file)
    return error;
  const auto cachePath = cache_.pathForFileCache(*file);
  constexpr int kCreateFlags = O_RDWR | O_CREAT | O_TRUNC;
  // The mode the program asked for lives in the store; the cache file is
  // always the user's own, readable and writable whatever the drive shows.
  int fd = cachePath ? ::open(cachePath->c_str(), kCreateFlags | O_CLOEXEC, 0600) : -1;
  if (fd == -1)
    OVLog(kLogMain, "{} : Warning! Cannot create file in path {} : error {}", "orvex_create", final, errno);
  // The old content, cached or half downloaded, is gone with the truncation.
  cache_.deleteFileDownload(*file);
  file->fileSize = 0;
  file->deleted = false;
  handle = handleFromFileData(openFiles_.open(kCreateFlags, fd, process, file->internalName));
  database_.markFileUpdated(*file);
  openFiles_.fileWasModified(*file);
  forgetListing(OVFuseUtils::parentPath(final));
  return 0;
}

std::optional<OVFile> OVFuseCallback::createdRecord(const std::string& path, int& error) {
  const std::string parentPath = OVFuseUtils::parentPath(path);
  const std::string name(OVFuseUtils::lastPathComponent(path));
  error = -EIO;
  if (OVFuseUtils::containsInvalidCharacters(name))
    return std::nullopt;
  if (!OVFuseUtils::isPathIgnored(path, false)) {
    if (auto share = database_.shareWithPath(path); share && share->isReadOnly()) {
      error = -EACCES;
      return std::nullopt;
    }
  }
  if (OVFuseUtils::isRootPath(parentPath)) {
    // Nothing but a share lives at the root; a refresh marker opens without a node.
    if (name == kFinderRefresh)
      error = 0;
    return std::nullopt;
  }
  const bool inShare = OVFuseUtils::isSharePath(parentPath);
  const ManagedSharePtr share = inShare ? database_.shareWithPath(path) : nullptr;
  const auto parent = inShare ? std::nullopt : database_.fileWithPath(parentPath);
  if (inShare ? !share || !share->ShareId : !parent || parent->isFile)
    return std::nullopt;
  auto existing = database_.fileWithPath(path);
  if (existing && !existing->isFile) {
    OVLog(kLogMain, "{}{}: Warning! Trying to create file in place of directory : {}", "orvex_create",
          inShare ? "" : " ", existing->publicName);
    return std::nullopt;
  }
  if (name == kFinderRefresh) {
    error = 0;
    return std::nullopt;
  }
  if (existing && !existing->deleted)
    return existing;
  return inShare ? createdInShare(*share, existing, name) : createdInFolder(*parent, parentPath, existing, name, error);
}

std::optional<OVFile> OVFuseCallback::createdInShare(const ManagedShare& share, const std::optional<OVFile>& existing,
                                                     const std::string& name) {
  if (share.isReadOnly()) {
    // Only an ignored name gets this far in a read-only share: it stays local and unrecorded.
    OVLog(kLogMain, "is read only share");
    return std::nullopt;
  }
  const std::string parentId = share.isSubfolderShare() ? share.InternalName.value_or("") : *share.ShareId;
  return newRecord(existing, name, *share.ShareId, parentId);
}

std::optional<OVFile> OVFuseCallback::createdInFolder(const OVFile& parent, const std::string& parentPath,
                                                      const std::optional<OVFile>& existing, const std::string& name,
                                                      int& error) {
  ManagedSharePtr share = database_.getSubshareForFile(parent);
  if (!share)
    share = database_.shareWithPath(parentPath);
  if (!share || !share->ShareId) {
    error = -ENOENT;
    return std::nullopt;
  }
  return newRecord(existing, name, *share->ShareId, parent.internalName);
}

std::optional<OVFile> OVFuseCallback::newRecord(const std::optional<OVFile>& existing, const std::string& name,
                                                const std::string& shareId, const std::string& parentId) {
  if (existing)
    database_.removeFile(*existing, true, true);
  return database_.createFile(name, shareId, parentId);
}

} // namespace orvex
