// Whole-file replacement: the right content and mode, nothing left behind.
#include "Platform/AtomicFile.h"

#include "Support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvex {
namespace {

using test::readFile;
using test::TempDir;

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  return names;
}

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(AtomicFileTest, ReplacesContentWithTheRequestedModeWhateverTheUmask) {
  TempDir dir;
  test::writeFile(dir / "settings.json", "old content that is longer than the new one");
  ::chmod((dir / "settings.json").c_str(), 0644);
  mode_t saved = ::umask(0077);
  std::error_code error = writeFileAtomically(dir / "settings.json", "new", 0640);
  ::umask(saved);

  EXPECT_FALSE(error) << error.message();
  EXPECT_EQ(readFile(dir / "settings.json"), "new");
  EXPECT_EQ(modeOf(dir / "settings.json"), 0640u);
  EXPECT_THAT(namesIn(dir.path()), ::testing::ElementsAre("settings.json"));
}

TEST(AtomicFileTest, FailureLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  EXPECT_TRUE(writeFileAtomically(dir / "missing" / "settings.json", "x", 0600));

  // The target is a folder: the rename fails after the temporary file was written.
  std::filesystem::create_directory(dir / "taken");
  test::writeFile(dir / "taken" / "inside", "kept");
  EXPECT_TRUE(writeFileAtomically(dir / "taken", "x", 0600));
  EXPECT_EQ(readFile(dir / "taken" / "inside"), "kept");
  EXPECT_THAT(namesIn(dir.path()), ::testing::ElementsAre("taken"));
}

} // namespace
} // namespace orvex
