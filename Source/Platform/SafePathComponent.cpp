#include "Platform/SafePathComponent.h"

namespace orvex {

bool isSafePathComponent(std::string_view name) {
  if (name.empty() || name.size() > kMaxPathComponent || name == "." || name == "..") {
    return false;
  }
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace orvex
