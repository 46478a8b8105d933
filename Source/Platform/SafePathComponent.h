// The check every name from outside (server ids, socket messages, settings)
// passes before it becomes one component of a local path.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvex {

// Leaves room for the longest suffix we add to a name (".attrs") within the
// 255 bytes a Linux file name may have.
inline constexpr std::size_t kMaxPathComponent = 249;

// True when `name` names one entry inside a folder and nothing else: not
// empty, not "." or "..", no "/" and no NUL, at most kMaxPathComponent bytes.
bool isSafePathComponent(std::string_view name);

} // namespace orvex
