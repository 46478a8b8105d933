#include "Drive/OVTempPaths.h"

#include "Drive/OVFuseUtils.h"

#include <vector>

namespace orvex {
namespace {

// The names of a path, without the empty pieces that doubled and trailing
// slashes leave ("/S//a/" -> S, a).
std::vector<std::string_view> pathNames(std::string_view path) {
  std::vector<std::string_view> names;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start)
      names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
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
  std::vector<std::string_view> names = pathNames(path);
  return !names.empty() && names.front() == kTempFolder;
}

std::string keyFromPath(std::string_view path) {
  std::string key;
  bool inside = false;
  for (std::string_view name : pathNames(path)) {
    inside = inside || isTempFolder(name);
    if (!inside)
      continue;
    if (!key.empty())
      key += '/';
    key += name;
  }
  return key;
}

std::string finalPath(std::string_view path, const ArchiveLookup& archive) {
  if (pathNames(path).empty())
    return std::string(path);
  if (auto redirected = lookUp(keyFromPath(path), archive))
    return *redirected;
  const std::string parent = OVFuseUtils::parentPath(path);
  if (auto redirected = lookUp(keyFromPath(parent), archive))
    return *redirected + "/" + std::string(OVFuseUtils::lastPathComponent(path));
  return std::string(path);
}

} // namespace orvex
