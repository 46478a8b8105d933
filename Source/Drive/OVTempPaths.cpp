#include "Drive/OVTempPaths.h"

#include "Drive/OVFuseUtils.h"

namespace orvex {
namespace {

// Calls visit with each name of a path, without the empty pieces that doubled
// and trailing slashes leave ("/S//a/" -> S, a), until it returns false. Every
// drive request passes here, so nothing is allocated.
template <class Visit>
void forEachName(std::string_view path, Visit visit) {
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start && !visit(path.substr(start, end - start)))
      return;
    start = end + 1;
  }
}

std::optional<std::string> lookUp(const std::string& key, const ArchiveLookup& archive) {
  if (key.empty() || !archive)
    return std::nullopt;
  return archive(key);
}

} // namespace

bool isTempFolder(std::string_view name) {
  return name.find(kDocumentSavedBy) != std::string_view::npos || name.find(".sb-") != std::string_view::npos ||
         OVFuseUtils::pathExtension(name) == "download";
}

bool isTempFile(std::string_view path) {
  bool inTempFolder = false;
  forEachName(path, [&](std::string_view first) {
    inTempFolder = first == kTempFolder;
    return false;
  });
  return inTempFolder;
}

std::string keyFromPath(std::string_view path) {
  std::string key;
  bool inside = false;
  forEachName(path, [&](std::string_view name) {
    inside = inside || isTempFolder(name);
    if (inside) {
      if (!key.empty())
        key += '/';
      key += name;
    }
    return true;
  });
  return key;
}

std::string finalPath(std::string_view path, const ArchiveLookup& archive) {
  // Without a scratch folder in the path (the root included) neither the path
  // nor its parent has a key: the common case, answered without a lookup.
  const std::string key = keyFromPath(path);
  if (key.empty())
    return std::string(path);
  if (auto redirected = lookUp(key, archive))
    return *redirected;
  const std::string parent = OVFuseUtils::parentPath(path);
  if (auto redirected = lookUp(keyFromPath(parent), archive))
    return *redirected + "/" + std::string(OVFuseUtils::lastPathComponent(path));
  return std::string(path);
}

} // namespace orvex
