#include "Drive/OVMountTable.h"

#include "Platform/WholeFile.h"

#include <vector>

namespace orvex {
namespace {

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> result;
  while (!line.empty()) {
    const std::size_t space = line.find(' ');
    if (space != 0)
      result.push_back(line.substr(0, space));
    line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
  }
  return result;
}

// The table writes space, tab, newline and backslash as three octal digits.
std::string unescaped(std::string_view text) {
  std::string out;
  auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) && isOctal(text[i + 2]) &&
        isOctal(text[i + 3])) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

} // namespace

std::optional<std::string> fuseMountDeviceIn(std::string_view mountinfo, std::string_view mountPath) {
  std::optional<std::string> device;
  while (!mountinfo.empty()) {
    const std::size_t end = mountinfo.find('\n');
    const std::vector<std::string_view> parts = fields(mountinfo.substr(0, end));
    mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    std::size_t separator = 6;
    while (separator < parts.size() && parts[separator] != "-")
      ++separator;
    if (separator + 1 >= parts.size() || unescaped(parts[4]) != mountPath)
      continue;
    const std::string_view type = parts[separator + 1];
    // Later lines are mounted on top of earlier ones: the last one is what the path shows.
    device = type == "fuse" || type.starts_with("fuse.") ? std::optional<std::string>(parts[2]) : std::nullopt;
  }
  return device;
}

std::optional<std::string> fuseMountDevice(std::string_view mountPath) {
  return fuseMountDeviceIn(readWholeFile("/proc/self/mountinfo").text, mountPath);
}

} // namespace orvex
