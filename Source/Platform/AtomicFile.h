// Replacing a small file so that a crash or a full disk leaves either the old
// content or the new one, never a mix: write a temporary file in the same
// folder, flush it to the disk, rename it over the target, flush the folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace orvex {

// Writes `content` to `path` atomically with permissions `mode` (umask not
// applied). Returns an empty error on success; on failure the target is
// untouched, no temporary file is left behind, and the error says what failed.
// Safe to call from any thread; callers writing the same path must serialise.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode);

} // namespace orvex
