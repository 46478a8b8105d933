// Node contents: the open descriptors, chunked writes into the download file,
// its promotion to the cache file, reads, and the closing of idle descriptors.
#include "OVLogger.h"
#include "Store/OVFileCache.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

namespace fs = std::filesystem;

// A descriptor idle longer than this is closed; the loop looks this often.
constexpr auto kIdleLimit = std::chrono::seconds(5);
constexpr auto kExpiryInterval = std::chrono::seconds(5);

bool isCacheFile(const fs::path& path) {
  std::error_code error;
  const auto status = fs::symlink_status(path, error);
  return fs::exists(status) && !fs::is_directory(status);
}

} // namespace

// The next pass is planned when this one ends, so passes never pile up.
void OVFileCache::scheduleExpiry() {
  expiryQueue_.after(kExpiryInterval, [this] {
    checkExpiredCaches();
    scheduleExpiry();
  });
}

void OVFileCache::checkExpiredCaches() {
  const std::lock_guard lock(monitor_);
  const auto now = clock_.steadyNow();
  std::erase_if(cacheItems_, [now](const auto& entry) { return now - entry.second->lastRead > kIdleLimit; });
}

std::size_t OVFileCache::openItemCount() const {
  const std::lock_guard lock(monitor_);
  return cacheItems_.size();
}

void OVFileCache::setRefreshFileInFinder(RefreshFileInFinder refresh) {
  const std::lock_guard lock(monitor_);
  refreshFileInFinder_ = std::move(refresh);
}

void OVFileCache::forgetItem(const std::string& internalName) {
  cacheItems_.erase(internalName);
}

// Nothing for a node whose ids cannot name a file (the path check warned).
OVFileCacheItem* OVFileCache::cacheItemForFile(const OVFile& file) {
  if (auto found = cacheItems_.find(file.internalName); found != cacheItems_.end()) {
    return found->second.get();
  }
  if (!pathForFileCache(file) || !pathForFileDownload(file.internalName)) {
    return nullptr;
  }
  auto item = std::make_unique<OVFileCacheItem>(file, clock_.steadyNow());
  openCacheForItem(*item);
  return cacheItems_.emplace(file.internalName, std::move(item)).first->second.get();
}

void OVFileCache::openCacheForItem(OVFileCacheItem& item) {
  item.closeDescriptor();
  const auto cachePath = pathForFileCache(item.file);
  const auto downloadPath = pathForFileDownload(item.file.internalName);
  if (!cachePath || !downloadPath) {
    return;
  }
  if (isCacheFile(*cachePath)) {
    item.fd = ::open(cachePath->c_str(), O_RDONLY | O_CLOEXEC);
    if (item.fd == -1) {
      OVLog(kLogMain, "Warning! Cannot open existing download cache for file {}. Error {}", item.file.publicName,
            errno);
    }
    item.downloaded = true;
    item.availableData = item.file.fileSize;
    return;
  }
  item.downloaded = false;
  item.availableData = 0;
  item.fd = ::open(downloadPath->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  struct stat info {};
  if (item.fd == -1 || ::fstat(item.fd, &info) != 0) {
    OVLog(kLogMain, "Warning! Cannot open or create download cache for file {}. Error {}", item.file.publicName, errno);
    item.closeDescriptor();
    return;
  }
  item.availableData = static_cast<std::uint64_t>(info.st_size);
}

std::uint64_t OVFileCache::availableDataForFile(const OVFile& file) {
  // Under the monitor: the answer may have to create and open the item.
  const std::lock_guard lock(monitor_);
  const auto* item = cacheItemForFile(file);
  return item ? item->availableData : 0;
}

std::optional<OVFileCache::Bytes> OVFileCache::getChunk(std::uint64_t offset, std::uint64_t length,
                                                        const OVFile& file) {
  const std::lock_guard lock(monitor_);
  auto* item = cacheItemForFile(file);
  if (!item || item->fd == -1 || offset > item->availableData || length > item->availableData - offset) {
    return std::nullopt;
  }
  item->lastRead = clock_.steadyNow();
  Bytes bytes(length);
  const auto got = ::pread(item->fd, bytes.data(), length, static_cast<off_t>(offset));
  if (got < 0) {
    OVLog(kLogMain, "Warning! Seek in cache file {} failed: error {}", item->file.internalName, errno);
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

std::optional<std::size_t> OVFileCache::readChunk(std::uint64_t offset, std::span<char> into, const OVFile& file) {
  const std::uint64_t length = into.size();
  const std::lock_guard lock(monitor_);
  auto* item = cacheItemForFile(file);
  if (!item || item->fd == -1 || offset > item->availableData || length > item->availableData - offset) {
    return std::nullopt;
  }
  item->lastRead = clock_.steadyNow();
  const auto got = ::pread(item->fd, into.data(), into.size(), static_cast<off_t>(offset));
  if (got < 0) {
    OVLog(kLogMain, "Warning! Seek in cache file {} failed: error {}", item->file.internalName, errno);
    return std::nullopt;
  }
  return static_cast<std::size_t>(got);
}

void OVFileCache::addChunk(std::span<const std::uint8_t> data, std::uint64_t location, std::uint64_t length,
                           const OVFile& file) {
  length = std::min<std::uint64_t>(length, data.size());
  RefreshFileInFinder refresh;
  std::optional<OVFile> completed;
  {
    const std::lock_guard lock(monitor_);
    auto* item = cacheItemForFile(file);
    if (!item || item->fd == -1) {
      return; // opening it warned
    }
    const auto available = item->availableData;
    const auto size = item->file.fileSize;
    // Only a chunk that extends the prefix is kept: a gap would make the
    // length of the download file lie about what is present.
    if (location > available || available - location >= length || available >= size) {
      return;
    }
    // Bytes beyond the announced size would keep the download from ever completing.
    const auto tail = data.subspan(available - location, std::min(length - (available - location), size - available));
    const auto written = ::pwrite(item->fd, tail.data(), tail.size(), static_cast<off_t>(available));
    if (written < 0) {
      OVLog(kLogMain, "Warning! Failed to write chunk ({}, {}) to the cache of file {}. Cached size is {}. Error {}",
            location, length, item->file.internalName, available, errno);
      return;
    }
    item->availableData += static_cast<std::uint64_t>(written);
    item->lastRead = clock_.steadyNow();
    if (item->availableData != size || !completeDownload(*item)) {
      return;
    }
    refresh = refreshFileInFinder_;
    completed = item->file;
  }
  // Outside the monitor: the application may ask the cache about the node.
  if (refresh && completed) {
    refresh(*completed);
  }
}

// Renames the complete download file to the cache file and reopens the item.
// When the rename fails the download file stays, and the item reopens it.
bool OVFileCache::completeDownload(OVFileCacheItem& item) {
  item.closeDescriptor();
  const auto downloadPath = pathForFileDownload(item.file.internalName);
  const auto cachePath = pathForFileCache(item.file);
  const bool renamed = downloadPath && cachePath && std::rename(downloadPath->c_str(), cachePath->c_str()) == 0;
  if (!renamed) {
    OVLog(kLogMain, "Warning! Failed to rename fully downloaded cache file {}. Error {}", item.file.internalName,
          errno);
  }
  openCacheForItem(item);
  return renamed;
}

} // namespace orvex
