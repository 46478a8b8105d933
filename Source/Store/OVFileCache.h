// The application's folders on disk and the places of cached contents:
//   root (the database and the share store)
//   root/Files/<shareId>/<internalName>        complete content of a node
//   root/Files/<shareId>/<internalName>.attrs  its extended attributes
//   root/Files/<shareId>.attrs                 a share's extended attributes
//   root/Uploads                               created with the others, unused
//   root/Downloads/<internalName>              content being downloaded
//   root/Logs                                  the log files
#pragma once

#include "Platform/XdgDirs.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Thread-safe: the folder paths are constant after construction, and the path
// operations only create folders, which is idempotent.
class OVFileCache {
 public:
  // Creates the folders below `root`; ends the process with exit code 100 when
  // one cannot be created or something else occupies its place.
  explicit OVFileCache(std::filesystem::path root);

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

  // Creates one application folder (with intermediate folders). Answers the
  // line to log when it cannot, or nothing when the folder is there.
  static std::optional<std::string> prepareFolder(const std::filesystem::path& path);

 private:
  void initCachePathes() const;

  // Constant after construction.
  const std::filesystem::path root_;
  const std::filesystem::path files_;
  const std::filesystem::path uploads_;
  const std::filesystem::path downloads_;
  const std::filesystem::path logs_;
};

} // namespace orvex
