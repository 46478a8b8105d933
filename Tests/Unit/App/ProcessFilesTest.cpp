#include "Platform/OVProcessFiles.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvex {
namespace {

// A stand-in for /proc: numbered folders with "comm" and "fd/<n>" links.
class ProcessFilesTest : public ::testing::Test {
 protected:
  void process(pid_t pid, const std::string& name, const std::vector<std::string>& files) {
    auto folder = proc / std::to_string(pid);
    std::filesystem::create_directories(folder / "fd");
    test::writeFile(folder / "comm", name + "\n");
    int fd = 3;
    for (const std::string& file : files)
      std::filesystem::create_symlink(file, folder / "fd" / std::to_string(fd++));
  }
  std::vector<pid_t> using_(const std::string& folder, pid_t self = 1) {
    auto pids = OVProcessFiles(proc.path()).processesUsing(folder, self);
    std::sort(pids.begin(), pids.end());
    return pids;
  }

  test::TempDir proc;
};

TEST_F(ProcessFilesTest, FindsHoldersOfTheFolderAndBelowOnly) {
  process(100, "gedit", {"/dev/null", "/mnt/Orvex/Team/a.txt"});
  process(200, "vim", {"/mnt/OrvexOther/b.txt"}); // a sibling with the same prefix
  process(300, "bash", {"/mnt/Orvex"});           // a shell sitting in the drive's root
  process(400, "cat", {"/mnt/Orvex/Team/c.txt (deleted)"});
  process(1, "orvex", {"/mnt/Orvex/.fuselock"}); // the program itself
  std::filesystem::create_directories(proc / "self/fd");

  EXPECT_EQ(using_("/mnt/Orvex"), (std::vector<pid_t>{100, 300, 400}));
  EXPECT_EQ(using_("/mnt/Orvex/"), (std::vector<pid_t>{100, 300, 400}));
  EXPECT_EQ(using_("/mnt/Orvex/Team"), (std::vector<pid_t>{100, 400}));
  EXPECT_EQ(using_("/mnt/Orvex", 0), (std::vector<pid_t>{1, 100, 300, 400}));
}

TEST_F(ProcessFilesTest, NamesComeWithoutTheirNewlineAndVanishWithTheProcess) {
  process(100, "gedit", {});
  OVProcessFiles files(proc.path());
  EXPECT_EQ(files.processName(100), "gedit");
  EXPECT_EQ(files.processName(101), std::nullopt);
}

TEST_F(ProcessFilesTest, AProcessThatHidesItsDescriptorsIsSkipped) {
  process(100, "gedit", {"/mnt/Orvex/a"});
  std::filesystem::create_directories(proc / "200"); // no fd folder readable
  EXPECT_EQ(using_("/mnt/Orvex"), (std::vector<pid_t>{100}));
}

} // namespace
} // namespace orvex
