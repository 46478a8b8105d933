#include "Drive/OVFuseUtils.h"

#include <utf8proc.h>

#include <cstddef>

namespace orvex {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  return path;
}

std::string joinPath(std::string_view base, std::string_view rest) {
  base = withoutTrailingSlashes(base);
  while (!rest.empty() && rest.front() == '/')
    rest.remove_prefix(1);
  rest = withoutTrailingSlashes(rest);
  if (rest.empty() || rest == "/")
    return std::string(base);
  std::string joined(base);
  if (joined.empty() || joined.back() != '/')
    joined += '/';
  joined += rest;
  return joined;
}

// Reads one code point; invalid UTF-8 is taken byte by byte so that a
// comparison still makes progress and only matches identical bytes.
utf8proc_int32_t nextCodePoint(std::string_view text, std::size_t& at) {
  utf8proc_int32_t cp = 0;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
  utf8proc_ssize_t used = utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &cp);
  if (used <= 0) {
    cp = -1 - static_cast<unsigned char>(text[at]);
    used = 1;
  }
  at += static_cast<std::size_t>(used);
  return cp < 0 ? cp : utf8proc_tolower(cp);
}

bool hasComponent(std::string_view path, std::string_view name) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (path.substr(start, end - start) == name)
      return true;
    start = end + 1;
  }
  return false;
}

} // namespace

std::string OVFuseUtils::mountPath(const std::optional<std::string>& setting, std::string_view home,
                                   std::string_view appTitle) {
  if (setting && !setting->empty() && setting->find('\0') == std::string::npos) {
    std::string_view value = *setting;
    std::string expanded;
    if (value == "~" || value.starts_with("~/"))
      expanded = joinPath(home, value.substr(1));
    else
      expanded = std::string(value);
    // A relative path would depend on the working folder, and "~user" names
    // someone else's home: neither is a place we mount on.
    if (expanded.starts_with('/'))
      return std::string(withoutTrailingSlashes(expanded));
  }
  return joinPath(home, appTitle);
}

bool OVFuseUtils::isRootPath(std::optional<std::string_view> path) {
  return !path || *path == kRootPath;
}

bool OVFuseUtils::isSharePath(std::string_view path) {
  if (path.size() < 3)
    return true;
  return path.substr(1, path.size() - 2).find('/') == std::string_view::npos;
}

bool OVFuseUtils::isPathIgnored(std::optional<std::string_view> path, bool /*isFolder*/) {
  if (!path || path->empty() || *path == "." || path->find(".sb-") != std::string_view::npos)
    return true;
  std::string_view name = lastPathComponent(*path);
  if (name == "Icon\r" || name.starts_with('~') || name.ends_with(".tmp") || name.starts_with('.'))
    return true;
  return pathExtension(name) == "download";
}

std::optional<std::string> OVFuseUtils::fullPathToRelative(std::string_view absolutePath, std::string_view mountPath) {
  // Walk both strings code point by code point: lower-casing may change a
  // character's byte length, so the cut must be made in the original text.
  if (mountPath.empty())
    return std::nullopt;
  std::size_t inPath = 0;
  std::size_t inMount = 0;
  while (inMount < mountPath.size()) {
    if (inPath >= absolutePath.size())
      return std::nullopt;
    if (nextCodePoint(absolutePath, inPath) != nextCodePoint(mountPath, inMount))
      return std::nullopt;
  }
  // "/home/u/OrvexOld" only begins with the text of "/home/u/Orvex": it is not on the drive.
  std::string_view rest = absolutePath.substr(inPath);
  if (!rest.empty() && rest.front() != '/' && !mountPath.ends_with('/'))
    return std::nullopt;
  return std::string(rest);
}

std::optional<std::string> OVFuseUtils::relativePathToFull(std::string_view volumePath, std::string_view mountPath) {
  if (volumePath.find('\0') != std::string_view::npos || hasComponent(volumePath, ".."))
    return std::nullopt;
  return joinPath(mountPath, volumePath);
}

std::string OVFuseUtils::filenameFromPath(std::string_view path) {
  std::string_view name = lastPathComponent(path);
  std::string_view extension = pathExtension(name);
  if (name.size() > extension.size() && name[name.size() - extension.size() - 1] == '.')
    name.remove_suffix(extension.size() + 1);
  return std::string(name);
}

bool OVFuseUtils::containsInvalidCharacters(std::string_view name) {
  return name.find_first_of(kInvalidChars) != std::string_view::npos;
}

std::string OVFuseUtils::fixInvalidCharacters(std::string_view name) {
  std::string fixed(name);
  for (char& c : fixed) {
    if (kInvalidChars.find(c) != std::string_view::npos)
      c = '_';
  }
  return fixed;
}

bool OVFuseUtils::isPath(std::optional<std::string_view> first, std::string_view second) {
  // An empty folder path contains nothing, as an empty prefix matches nothing.
  if (!first || first->empty() || !second.starts_with(*first))
    return false;
  return second.size() == first->size() || second[first->size()] == '/';
}

bool OVFuseUtils::isTempFile(std::string_view path) {
  return path.find(".sb-") != std::string_view::npos;
}

bool OVFuseUtils::isHiddenFile(std::string_view path) {
  return path.find(".fuse_hidden") != std::string_view::npos;
}

std::string_view OVFuseUtils::lastPathComponent(std::string_view path) {
  path = withoutTrailingSlashes(path);
  if (path == kRootPath)
    return path;
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view OVFuseUtils::pathExtension(std::string_view path) {
  std::string_view name = lastPathComponent(path);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name == "..")
    return {};
  return name.substr(dot + 1);
}

std::string OVFuseUtils::parentPath(std::string_view path) {
  path = withoutTrailingSlashes(path);
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos)
    return {};
  if (slash == 0)
    return std::string(kRootPath);
  return std::string(path.substr(0, slash));
}

} // namespace orvex
