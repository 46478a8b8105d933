// Creating, deleting and moving a node's cache and side files.
#include "OVLogger.h"
#include "Store/OVFileCache.h"
#include "Sync/ManagedShare.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace orvex {

namespace {

namespace fs = std::filesystem;

enum class CreateResult { created, occupiedByFolder, failed };

// Replaces whatever file is at `path` by an empty one; a folder is left alone.
CreateResult createEmptyFile(const std::optional<fs::path>& path) {
  if (!path) {
    return CreateResult::failed;
  }
  std::error_code error;
  if (fs::is_directory(fs::symlink_status(*path, error))) {
    return CreateResult::occupiedByFolder;
  }
  // Removing first keeps a symbolic link in the way from being followed.
  fs::remove(*path, error);
  const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd == -1) {
    return CreateResult::failed;
  }
  ::close(fd);
  return CreateResult::created;
}

// Moves quietly: a missing source or a failed rename leaves things as they are.
void renameQuietly(const std::optional<fs::path>& from, const std::optional<fs::path>& to) {
  if (from && to) {
    (void)std::rename(from->c_str(), to->c_str());
  }
}

void removeQuietly(const std::optional<fs::path>& path) {
  if (path) {
    std::error_code ignored;
    fs::remove(*path, ignored);
  }
}

} // namespace

void OVFileCache::createCacheFile(const OVFile& file) {
  if (!file.isFile) {
    return;
  }
  const std::lock_guard lock(monitor_);
  forgetItem(file.internalName); // a download opened earlier must not shadow the new file
  switch (createEmptyFile(pathForFileCache(file))) {
    case CreateResult::created:
      break;
    case CreateResult::occupiedByFolder:
      OVLog(kLogMain, "Warning! Cannot create cache file for file {} : file with the same name already exists there.",
            file.publicName);
      break;
    case CreateResult::failed:
      OVLog(kLogMain, "Warning! Cannot create cache file for file {}.", file.publicName);
      break;
  }
}

void OVFileCache::createExAttrsForFile(const OVFile& file) const {
  switch (createEmptyFile(pathForFileExtAttrs(file))) {
    case CreateResult::created:
      break;
    case CreateResult::occupiedByFolder:
      OVLog(kLogMain,
            "Warning! Cannot create ext attrs file for file {} : file with the same name already exists there.",
            file.publicName);
      break;
    case CreateResult::failed:
      OVLog(kLogMain, "Warning! Cannot create ext attrs file for file {}.", file.publicName);
      break;
  }
}

void OVFileCache::createExAttrsForShare(const ManagedShare& share) const {
  const auto name = share.DisplayName.value_or("");
  const auto path = share.ShareId ? pathForShareExtAttrs(*share.ShareId) : std::nullopt;
  switch (createEmptyFile(path)) {
    case CreateResult::created:
      break;
    case CreateResult::occupiedByFolder:
      OVLog(kLogMain,
            "Warning! Cannot create ext attrs file for share {} : file with the same name already exists there.", name);
      break;
    case CreateResult::failed:
      OVLog(kLogMain, "Warning! Cannot create ext attrs file for share {}.", name);
      break;
  }
}

void OVFileCache::deleteFileDownload(const OVFile& file) {
  const std::lock_guard lock(monitor_);
  forgetItem(file.internalName);
  const auto path = pathForFileDownload(file.internalName);
  std::error_code error;
  if (path && !fs::remove(*path, error) && error) {
    OVLog(kLogMain, "Warning! Cannot delete file download data for file {}. Error {}", file.publicName,
          error.message());
  }
}

void OVFileCache::deleteFileCache(const OVFile& file) {
  const std::lock_guard lock(monitor_);
  forgetItem(file.internalName);
  const auto path = pathForFileCache(file);
  std::error_code error;
  if (path && !fs::remove(*path, error) && error) {
    OVLog(kLogMain, "Warning! Cannot delete file cache data for file {}. Error {}", file.publicName, error.message());
  }
  removeQuietly(pathForFileExtAttrs(file));
}

void OVFileCache::exchangeFileCaches(const OVFile& oldFile, const OVFile& newFile) {
  const std::lock_guard lock(monitor_);
  forgetItem(oldFile.internalName);
  forgetItem(newFile.internalName);
  const auto oldCache = pathForFileCache(oldFile);
  const auto oldAttrs = pathForFileExtAttrs(oldFile);
  removeQuietly(oldCache);
  removeQuietly(oldAttrs);
  renameQuietly(pathForFileCache(newFile), oldCache);
  renameQuietly(pathForFileExtAttrs(newFile), oldAttrs);
}

void OVFileCache::moveFileCacheWithId(std::string_view internalName, std::string_view fromShareId,
                                      std::string_view toShareId) {
  moveFileCacheWithId(internalName, internalName, fromShareId, toShareId);
}

void OVFileCache::moveFileCacheWithId(std::string_view internalName, std::string_view toInternalName,
                                      std::string_view fromShareId, std::string_view toShareId) {
  const std::lock_guard lock(monitor_);
  forgetItem(std::string(internalName));
  forgetItem(std::string(toInternalName));
  renameQuietly(pathForFileCacheWithShareId(fromShareId, internalName),
                pathForFileCacheWithShareId(toShareId, toInternalName));
  renameQuietly(pathForFileExtAttrsWithShareId(fromShareId, internalName),
                pathForFileExtAttrsWithShareId(toShareId, toInternalName));
}

} // namespace orvex
