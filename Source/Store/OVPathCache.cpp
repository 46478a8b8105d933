#include "Store/OVPathCache.h"

#include <algorithm>

namespace orvex {

std::optional<std::string> OVPathCache::cachedItem(std::string_view path, bool shadow) const {
  std::lock_guard lock(mutex_);
  const PathMap& map = mapLocked(shadow);
  auto found = map.find(path);
  if (found == map.end())
    return std::nullopt;
  return found->second;
}

void OVPathCache::cacheItem(const std::string& internalName, const std::string& path, bool shadow) {
  std::lock_guard lock(mutex_);
  (shadow ? shadowPathCache_ : pathCache_).insert_or_assign(path, internalName);
}

void OVPathCache::clearSingle(std::string_view path) {
  std::lock_guard lock(mutex_);
  for (PathMap* map : {&pathCache_, &shadowPathCache_}) {
    auto found = map->find(path);
    if (found != map->end())
      map->erase(found);
  }
}

void OVPathCache::clearPrefix(std::string_view prefix) {
  std::lock_guard lock(mutex_);
  clearPrefixLocked(prefix);
}

void OVPathCache::clearForId(std::string_view internalName) {
  std::lock_guard lock(mutex_);
  for (bool shadow : {false, true}) {
    const PathMap& map = mapLocked(shadow);
    auto found = std::find_if(map.begin(), map.end(), [&](const auto& entry) { return entry.second == internalName; });
    if (found == map.end())
      continue;
    std::string prefix = found->first; // the entry itself goes away below
    clearPrefixLocked(prefix);
  }
}

void OVPathCache::clearPrefixLocked(std::string_view prefix) {
  erasePrefix(pathCache_, prefix);
  erasePrefix(shadowPathCache_, prefix);
}

void OVPathCache::erasePrefix(PathMap& map, std::string_view prefix) {
  if (prefix.empty())
    return; // the empty text is no path's prefix: "" must not clear everything
  // The keys that begin with `prefix` are one run of the sorted map.
  auto first = map.lower_bound(prefix);
  auto last = first;
  while (last != map.end() && last->first.starts_with(prefix))
    ++last;
  map.erase(first, last);
}

} // namespace orvex
