#include "Platform/ResourceLocator.h"

#include <system_error>

#ifndef ORVEX_SOURCE_RESOURCES
#error "ORVEX_SOURCE_RESOURCES must name the source tree's Resources folder"
#endif

namespace orvex {

std::filesystem::path locateResource(std::string_view relative, const std::filesystem::path& executable,
                                     const std::filesystem::path& sourceResources) {
  if (!executable.empty()) {
    auto installed = executable.parent_path().parent_path() / "share" / "orvex" / relative;
    std::error_code error;
    if (std::filesystem::exists(installed, error)) {
      return installed;
    }
  }
  return sourceResources / relative;
}

std::filesystem::path currentExecutable() {
  std::error_code error;
  auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : executable;
}

std::filesystem::path sourceResourcesFolder() {
  return ORVEX_SOURCE_RESOURCES;
}

std::filesystem::path processResource(std::string_view relative) {
  return locateResource(relative, currentExecutable(), sourceResourcesFolder());
}

} // namespace orvex
