// A fresh folder under the system's temporary directory, removed with its
// content when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace orvex::test {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Reads a whole file; "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Writes a whole file, replacing it.
void writeFile(const std::filesystem::path& path, const std::string& content);

} // namespace orvex::test
