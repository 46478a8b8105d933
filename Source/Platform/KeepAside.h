// Keeping a file we cannot read out of harm's way: rather than writing over
// it, it is renamed (or copied) to "<name>.broken-<UTC stamp yyyyMMddTHHmmss>",
// so that the user or support can still look at what it held.
#pragma once

#include "Dispatch/Clock.h"

#include <filesystem>
#include <optional>

namespace orvex {

// Moves `path` to the first free "<path>.broken-<stamp>[-N]" name (N = 2..100),
// or copies it there when `copy` is set, leaving the original in place. An
// earlier broken file of the same second is never replaced. Answers the new
// name, or nothing when the file could not be moved or copied (errno tells why
// for a move). Callers writing the same path must serialise.
std::optional<std::filesystem::path> keepFileAside(const std::filesystem::path& path, Clock::WallTime now, bool copy);

} // namespace orvex
