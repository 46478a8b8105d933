// Reading a small file (settings, share store) whole, telling "not there"
// apart from "there but unreadable", which callers must not overwrite.
#pragma once

#include <filesystem>
#include <string>

namespace orvex {

struct WholeFile {
  bool exists = false; // false only when there is no such file
  int error = 0;       // errno of a failed open or read of an existing file
  std::string text;
};

WholeFile readWholeFile(const std::filesystem::path& path);

} // namespace orvex
