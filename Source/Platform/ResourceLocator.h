// Where the program's read-only resources (brand file, string tables) are: in
// the installed "<prefix>/share/orvex" next to "<prefix>/bin", or, for a
// program run from its build tree, in the source tree's Resources folder.
#pragma once

#include <filesystem>
#include <string_view>

namespace orvex {

// "<prefix>/share/orvex/<relative>" when `executable` is "<prefix>/bin/<name>"
// and that entry exists, else `sourceResources`/<relative>.
std::filesystem::path locateResource(std::string_view relative, const std::filesystem::path& executable,
                                     const std::filesystem::path& sourceResources);

// The running program's file (/proc/self/exe); empty when it cannot be read.
std::filesystem::path currentExecutable();

// The Resources folder of the source tree this program was built from.
std::filesystem::path sourceResourcesFolder();

// locateResource for this process.
std::filesystem::path processResource(std::string_view relative);

} // namespace orvex
