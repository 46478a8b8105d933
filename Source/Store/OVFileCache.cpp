#include "Store/OVFileCache.h"

#include "OVLogger.h"
#include "Platform/SafePathComponent.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace orvex {

namespace {

constexpr int kExitFoldersUnavailable = 100;
constexpr const char* kAttrsSuffix = ".attrs";

bool checkedName(std::string_view what, std::string_view name) {
  if (isSafePathComponent(name)) {
    return true;
  }
  OVLog(kLogMain, "Warning! Refusing {} \"{}\" as a cache file name.", what, name.substr(0, 64));
  return false;
}

// Creates the folder a node's files live in; failures surface when the caller
// opens the file.
void ensureFolder(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
}

} // namespace

OVFileCache::OVFileCache(std::filesystem::path root, Clock& clock)
    : root_(std::move(root)),
      files_(root_ / "Files"),
      uploads_(root_ / "Uploads"),
      downloads_(root_ / "Downloads"),
      logs_(root_ / "Logs"),
      clock_(clock),
      expiryQueue_("OVFileCache.expiry", clock) {
  initCachePathes();
  scheduleExpiry();
}

OVFileCache::~OVFileCache() = default;

std::optional<std::filesystem::path> OVFileCache::defaultRootPath(const std::string& appTitle,
                                                                  const XdgEnvironment& env) {
  auto data = dataHome(env);
  if (!data) {
    return std::nullopt;
  }
  return *data / appTitle;
}

std::optional<std::string> OVFileCache::prepareFolder(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  if (std::filesystem::exists(status)) {
    if (std::filesystem::is_directory(status)) {
      return std::nullopt;
    }
    return fmt::format("Error! Unknown file exists at cache directory location : {}", path.string());
  }
  if (!std::filesystem::create_directories(path, error) && error) {
    return fmt::format("Error! Cannot create cache directory at path : {}, error : {}", path.string(), error.message());
  }
  return std::nullopt;
}

// Without its folders the application can keep nothing, so it stops. The logs
// are not open yet at this point of start-up (they live in one of these
// folders): the line also goes to standard error so that it is not lost.
void OVFileCache::initCachePathes() const {
  for (const auto* folder : {&root_, &files_, &uploads_, &downloads_, &logs_}) {
    auto failure = prepareFolder(*folder);
    // Everything below holds the user's files and tokens: no one else may look in.
    if (!failure && folder == &root_) {
      std::error_code error;
      std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                                   error);
    }
    if (failure) {
      OVLog(kLogMain, "{}", *failure);
      (void)std::fprintf(stderr, "%s\n", failure->c_str());
      OVLogger::shared().flush();
      // Other threads are running: leave without static destructors under their feet.
      std::_Exit(kExitFoldersUnavailable);
    }
  }
}

std::optional<std::filesystem::path> OVFileCache::pathForShareCache(std::string_view shareId) const {
  if (!checkedName("share id", shareId)) {
    return std::nullopt;
  }
  return files_ / shareId;
}

std::optional<std::filesystem::path> OVFileCache::pathForShareExtAttrs(std::string_view shareId) const {
  if (!checkedName("share id", shareId)) {
    return std::nullopt;
  }
  return files_ / (std::string(shareId) + kAttrsSuffix);
}

std::optional<std::filesystem::path> OVFileCache::pathForFileCacheWithShareId(std::string_view shareId,
                                                                              std::string_view internalName) const {
  auto shareFolder = pathForShareCache(shareId);
  if (!shareFolder || !checkedName("node name", internalName)) {
    return std::nullopt;
  }
  ensureFolder(*shareFolder);
  return *shareFolder / internalName;
}

std::optional<std::filesystem::path> OVFileCache::pathForFileExtAttrsWithShareId(std::string_view shareId,
                                                                                 std::string_view internalName) const {
  auto cacheFile = pathForFileCacheWithShareId(shareId, internalName);
  if (!cacheFile) {
    return std::nullopt;
  }
  cacheFile->concat(kAttrsSuffix);
  return cacheFile;
}

std::optional<std::filesystem::path> OVFileCache::pathForFileDownload(std::string_view internalName) const {
  if (!checkedName("node name", internalName)) {
    return std::nullopt;
  }
  return downloads_ / internalName;
}

std::optional<std::filesystem::path> OVFileCache::pathForFileCache(const OVFile& file) const {
  return pathForFileCacheWithShareId(file.shareId, file.internalName);
}

std::optional<std::filesystem::path> OVFileCache::pathForFileExtAttrs(const OVFile& file) const {
  return pathForFileExtAttrsWithShareId(file.shareId, file.internalName);
}

} // namespace orvex
