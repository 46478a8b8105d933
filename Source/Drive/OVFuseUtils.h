// Pure functions on drive paths, shared by the drive's callbacks, the metadata
// store and the Finder channel: where the drive is mounted, which level of the
// tree a volume path names (root, share, item), which names the drive keeps to
// itself (the ignore rule), and the conversions between volume-relative and
// absolute paths. Paths are UTF-8 text with "/" separators, as FUSE passes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

inline constexpr std::string_view kRootPath = "/";
// The lock file the application keeps open while the volume is mounted.
inline constexpr std::string_view kFuseLock = "/.fuselock";
// A refresh-marker name accepted in any folder; it never gets a record.
inline constexpr std::string_view kFinderRefresh = ".ovrefresh";
// The pseudo-share at the root that holds applications' temporary files.
inline constexpr std::string_view kTempFolder = ".TempFiles";
// Names that cannot travel to the service (Windows-reserved characters), in this order.
inline constexpr std::string_view kInvalidChars = "\\/:?*\"<>|";
inline constexpr std::string_view kDocumentSavedBy = "A Document Being Saved By";

// Stateless; every function is safe to call from any thread.
class OVFuseUtils {
 public:
  OVFuseUtils() = delete;

  // Where the drive is mounted: `setting` (the "OVMountPath" value) with a
  // leading "~" expanded to `home`, when it is set and names an absolute path;
  // otherwise `home` joined with `appTitle`. Trailing slashes are dropped.
  static std::string mountPath(const std::optional<std::string>& setting, std::string_view home,
                               std::string_view appTitle);

  // YES for an absent path or exactly "/".
  static bool isRootPath(std::optional<std::string_view> path);
  // YES unless a "/" occurs after the first and before the last character:
  // "/a" and "/a/" are share paths, "/a/b" is not. Test isRootPath first: "/" passes too.
  static bool isSharePath(std::string_view path);
  // The names the drive keeps local and hides: empty or ".", anything with
  // ".sb-", and a last component that is "Icon\r", starts with "~" or ".",
  // ends with ".tmp" or has the extension "download". `isFolder` does not
  // change the answer; callers pass what they know.
  static bool isPathIgnored(std::optional<std::string_view> path, bool isFolder);

  // The volume path of an absolute path on the mounted drive (compared without
  // regard to case): the text after `mountPath`, "" for the mount path itself.
  // Nothing when the path lies outside, including a sibling such as
  // "/home/u/OrvexOld" that merely begins with the same letters.
  static std::optional<std::string> fullPathToRelative(std::string_view absolutePath, std::string_view mountPath);
  // `mountPath` joined with a volume path; nothing when the volume path holds a
  // ".." component or a NUL, which could lead outside the drive.
  static std::optional<std::string> relativePathToFull(std::string_view volumePath, std::string_view mountPath);

  // The last component without its extension ("/S/a/report.txt" -> "report").
  static std::string filenameFromPath(std::string_view path);
  static bool containsInvalidCharacters(std::string_view name);
  // Every character of kInvalidChars replaced by "_".
  static std::string fixInvalidCharacters(std::string_view name);
  // YES when `first` is present, not empty, and `second` is `first` or lies below it.
  static bool isPath(std::optional<std::string_view> first, std::string_view second);
  // Names applications use while saving (".sb-") and FUSE's renamed-while-open files.
  static bool isTempFile(std::string_view path);
  static bool isHiddenFile(std::string_view path);

  // Path pieces as the rest of the drive sees them: trailing slashes do not
  // count, "/" is its own last component, and a leading dot does not start an
  // extension (".hidden" has none, "a." has an empty one).
  static std::string_view lastPathComponent(std::string_view path);
  static std::string_view pathExtension(std::string_view path);
  // The path without its last component: "/S/a/b" -> "/S/a", "/S" -> "/".
  static std::string parentPath(std::string_view path);
};

} // namespace orvex
