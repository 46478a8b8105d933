// The application's folders on disk and the places of cached contents:
//   root (the database and the share store)
//   root/Files/<shareId>/<internalName>        complete content of a node
//   root/Files/<shareId>/<internalName>.attrs  its extended attributes
//   root/Files/<shareId>.attrs                 a share's extended attributes
//   root/Uploads                               created with the others, unused
//   root/Downloads/<internalName>              content being downloaded
//   root/Logs                                  the log files
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Platform/XdgDirs.h"
#include "Store/OVFileCacheItem.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvex {

struct ManagedShare;

// Thread-safe. The folder paths are constant after construction, and the path
// operations only create folders, which is idempotent. The open descriptors
// (cacheItems_) and the badge seam are guarded by monitor_, which every content
// operation holds for its whole duration, so a chunk write, a read and the
// closing of an idle descriptor never overlap. The expiry loop runs on the
// cache's own queue; the download workers write and the drive threads read.
class OVFileCache {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using RefreshFileInFinder = std::function<void(const OVFile&)>;

  // Creates the folders below `root`; ends the process with exit code 100 when
  // one cannot be created or something else occupies its place. Starts the
  // loop that closes descriptors idle for more than 5 seconds on `clock`.
  explicit OVFileCache(std::filesystem::path root, Clock& clock = Clock::system());
  ~OVFileCache();
  OVFileCache(const OVFileCache&) = delete;
  OVFileCache& operator=(const OVFileCache&) = delete;

  // `$XDG_DATA_HOME/<title>` (default ~/.local/share/<title>); nothing when no
  // home folder is known. The title is checked when the brand file is read.
  static std::optional<std::filesystem::path> defaultRootPath(const std::string& appTitle, const XdgEnvironment& env);

  const std::filesystem::path& rootCachePath() const { return root_; }
  const std::filesystem::path& metadataPath() const { return root_; }
  const std::filesystem::path& filesCachePath() const { return files_; }
  const std::filesystem::path& uploadsCachePath() const { return uploads_; }
  const std::filesystem::path& downloadsCachePath() const { return downloads_; }
  const std::filesystem::path& logsPath() const { return logs_; }

  // Each answers nothing (with a warning) when an id or name could leave its
  // folder. Asking for a node's paths creates its share's folder.
  std::optional<std::filesystem::path> pathForFileCacheWithShareId(std::string_view shareId,
                                                                   std::string_view internalName) const;
  std::optional<std::filesystem::path> pathForFileExtAttrsWithShareId(std::string_view shareId,
                                                                      std::string_view internalName) const;
  std::optional<std::filesystem::path> pathForShareCache(std::string_view shareId) const;
  std::optional<std::filesystem::path> pathForShareExtAttrs(std::string_view shareId) const;
  std::optional<std::filesystem::path> pathForFileDownload(std::string_view internalName) const;
  std::optional<std::filesystem::path> pathForFileCache(const OVFile& file) const;
  std::optional<std::filesystem::path> pathForFileExtAttrs(const OVFile& file) const;

  // Empty side files and the empty cache file of a node created on the drive
  // (which makes it count as downloaded). Each logs a warning and leaves a
  // folder in the way alone.
  void createCacheFile(const OVFile& file);
  void createExAttrsForFile(const OVFile& file) const;
  void createExAttrsForShare(const ManagedShare& share) const;

  // These also close the node's open descriptor, so that no read is served
  // from a file that was deleted or replaced.
  void deleteFileDownload(const OVFile& file);
  // The cache file, then the side file.
  void deleteFileCache(const OVFile& file);
  // The new node's cache and side files take the old node's places.
  void exchangeFileCaches(const OVFile& oldFile, const OVFile& newFile);
  void moveFileCacheWithId(std::string_view internalName, std::string_view fromShareId, std::string_view toShareId);
  void moveFileCacheWithId(std::string_view internalName, std::string_view toInternalName, std::string_view fromShareId,
                           std::string_view toShareId);

  // Bytes of the content present from offset 0 (opens the node's item).
  std::uint64_t availableDataForFile(const OVFile& file);
  // The bytes at [offset, offset + length) (fewer at the end of the file), or
  // nothing when the range is not all cached yet.
  std::optional<Bytes> getChunk(std::uint64_t offset, std::uint64_t length, const OVFile& file);
  // The same bytes read straight into `into` (its size is the length): the
  // count read, or nothing when the range is not all cached yet. Spares a
  // sequential read through the drive an allocation and a copy per request.
  std::optional<std::size_t> readChunk(std::uint64_t offset, std::span<char> into, const OVFile& file);
  // Stores bytes [location, location + length) of the content (`data` holds
  // them) when they extend the cached prefix; completes the cache file with
  // the last byte.
  void addChunk(std::span<const std::uint8_t> data, std::uint64_t location, std::uint64_t length, const OVFile& file);

  // Set by the application to refresh a node's badge once its content is
  // complete. Until then nothing is refreshed.
  void setRefreshFileInFinder(RefreshFileInFinder refresh);

  // One pass of the expiry loop: closes every descriptor idle for more than 5 seconds.
  void checkExpiredCaches();
  // Nodes with an item in cacheItems (for diagnostics).
  std::size_t openItemCount() const;

  // Creates one application folder (with intermediate folders). Answers the
  // line to log when it cannot, or nothing when the folder is there.
  static std::optional<std::string> prepareFolder(const std::filesystem::path& path);

  // Creates the root and its four folders where missing; ends the process with
  // exit code 100 when one cannot be made. Runs at construction, and again
  // after something removed them (the clean-up of an older client's files).
  void initCachePathes() const;

 private:
  // All of these expect monitor_ held.
  OVFileCacheItem* cacheItemForFile(const OVFile& file);
  void openCacheForItem(OVFileCacheItem& item);
  bool completeDownload(OVFileCacheItem& item);
  void forgetItem(const std::string& internalName);

  void scheduleExpiry();

  // Constant after construction.
  const std::filesystem::path root_;
  const std::filesystem::path files_;
  const std::filesystem::path uploads_;
  const std::filesystem::path downloads_;
  const std::filesystem::path logs_;
  Clock& clock_;

  mutable std::mutex monitor_;
  std::unordered_map<std::string, std::unique_ptr<OVFileCacheItem>> cacheItems_; // guarded by monitor_
  RefreshFileInFinder refreshFileInFinder_;                                      // guarded by monitor_

  SerialQueue expiryQueue_; // last: stopped before the items it closes go away
};

} // namespace orvex
