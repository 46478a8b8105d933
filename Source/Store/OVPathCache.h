// The two maps from a drive path to a node's internal name that let path
// resolution answer with one query by id (or, when only the parent folder is
// known, one query by parent and name): one for normal lookups and one for
// shadow lookups. Entries are added by resolution and dropped only by the
// clearing operations, which the store's changes call.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Thread-safe: both maps are guarded by one monitor (mutex_), so a clearing
// operation drops a path from both at once. No other lock is taken under it.
class OVPathCache {
 public:
  std::optional<std::string> cachedItem(std::string_view path, bool shadow) const;
  void cacheItem(const std::string& internalName, const std::string& path, bool shadow);

  // Drops exactly `path` from both maps.
  void clearSingle(std::string_view path);
  // Drops every path that begins with the text `prefix` from both maps; a
  // plain text prefix, so "/S/ab" also drops "/S/abc". "" drops nothing.
  void clearPrefix(std::string_view prefix);
  // For each map in turn (normal first): finds the first path cached for
  // `internalName` and clears it as a prefix from both maps.
  void clearForId(std::string_view internalName);

 private:
  using PathMap = std::map<std::string, std::string, std::less<>>;

  const PathMap& mapLocked(bool shadow) const { return shadow ? shadowPathCache_ : pathCache_; }
  void clearPrefixLocked(std::string_view prefix);
  static void erasePrefix(PathMap& map, std::string_view prefix);

  mutable std::mutex mutex_;
  PathMap pathCache_;       // guarded by mutex_
  PathMap shadowPathCache_; // guarded by mutex_
};

} // namespace orvex
