// Bringing the drive up: the mount point checks and their codes, a dead
// mount in the way, the mount itself, and two drives in one process.
#include "Drive/OVFuseMount.h"
#include "Drive/OVMountTable.h"
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"

#include <fuse.h>
#include <fuse_lowlevel.h>
#include <gmock/gmock.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The names of this process's threads, as the kernel shows them.
std::vector<std::string> threadNames() {
  std::vector<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name = readFile(task.path() / "comm");
    if (!name.empty() && name.back() == '\n')
      name.pop_back();
    names.push_back(name);
  }
  return names;
}

// True when this process holds a descriptor open on `path`.
bool holdsOpen(const std::string& path) {
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(fd.path(), error) == path)
      return true;
  }
  return false;
}

TEST(MountTest, MountsWithItsNamesKeepsTheLockFileAndNamesItsThread) {
  DriveHarness harness;
  harness.addShare("S1", "Projects");
  ASSERT_TRUE(harness.mount());

  EXPECT_TRUE(harness.controller->fuseInitialized());
  EXPECT_TRUE(holdsOpen(harness.at("/.fuselock")));
  EXPECT_THAT(threadNames(), testing::Contains("mountFuseThread"));
  const std::string table = readFile("/proc/self/mountinfo");
  EXPECT_THAT(table, HasSubstr(harness.mountPath + " "));
  EXPECT_THAT(table, HasSubstr(" - fuse.OrvexTest OrvexTest "));
  EXPECT_THAT(table, HasSubstr("default_permissions"));
  EXPECT_THAT(listFolder(harness.at("/")), ElementsAre("Projects"));
  EXPECT_NE(harness.log.find(kLogMain, "didMount: drive was mounted."), "");
  // Requests of up to 1 MiB, as far as the kernel goes.
  EXPECT_THAT(harness.log.find(kLogMain, "Drive requests:"), HasSubstr("writes up to 1024 KiB, reads up to 1024 KiB"));
  EXPECT_THAT(harness.listener.counts().failures, IsEmpty());
}

TEST(MountTest, AMountFuseRefusesIsTriedAgainAndThenReported) {
  DriveHarness harness;
  std::filesystem::create_directories(harness.mountPath);
  OVFuseLoop loop;
  std::vector<int> reported;
  const OVMountRequest refused{"orvex-tests", harness.mountPath, {"no_such_option"}};

  EXPECT_EQ(mount_orvex(
                refused, *harness.drive, loop, [&](int code) { reported.push_back(code); }, harness.systemLog),
            kMountCannotMount);
  EXPECT_THAT(reported, ElementsAre(kMountCannotMount));
  const std::vector<std::string> lines = harness.log.lines(kLogMain);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("fuse_main finished with return code -1") != std::string::npos;
                          }),
            kMountAttempts);
}

TEST(MountTest, MountPointProblemsAreReportedWithTheirCodes) {
  struct Case {
    const char* what;
    std::function<std::string(const std::filesystem::path&)> prepare;
    int code;
  };
  const Case cases[] = {
      {"a regular file at the mount path",
       [](const std::filesystem::path& dir) {
         writeFile(dir / "Drive", "not a folder");
         return (dir / "Drive").string();
       },
       kMountNotADirectory},
      {"a regular file in place of a parent folder",
       [](const std::filesystem::path& dir) {
         writeFile(dir / "file", "x");
         return (dir / "file" / "Drive").string();
       },
       kMountParentNotADirectory},
      {"a place where no folder can be made",
       [](const std::filesystem::path&) { return std::string("/proc/orvex-no-such-folder/Drive"); },
       kMountCannotCreate},
  };
  for (const Case& c : cases) {
    TempDir dir;
    DriveHarness::Options options;
    options.mountFolder = c.prepare(dir.path());
    DriveHarness harness(options);
    harness.onMain([&] { harness.controller->initializeFuse(); });
    ASSERT_TRUE(harness.listener.waitFor([](const auto& counts) { return !counts.failures.empty(); })) << c.what;
    EXPECT_THAT(harness.listener.counts().failures, ElementsAre(c.code)) << c.what;
    EXPECT_EQ(harness.listener.counts().mounts, 0) << c.what;
    harness.onMain([] {}); // the failure's own reactions have run
    EXPECT_FALSE(harness.controller->mountInProgress()) << c.what;
    EXPECT_THAT(harness.log.find(kLogMain, "Fatal : volume mounting failed."),
                HasSubstr("{ code = " + std::to_string(c.code) + "; }"))
        << c.what;
    if (c.code == kMountCannotCreate) {
      EXPECT_THAT(harness.systemLog.reports(), ElementsAre("Unable to create file system mount point."));
    }
  }
}

TEST(MountTest, DeadMountInTheWayIsClearedQuietly) {
  DriveHarness harness;
  harness.addShare("S1", "Projects");
  // A FUSE mount whose daemon went away: the device closes, the mount stays.
  std::filesystem::create_directories(harness.mountPath);
  // A child mounts and dies without unmounting.
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    std::string program = "dead";
    char* argv[] = {program.data(), nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    const fuse_lowlevel_ops operations{};
    fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, nullptr);
    ::_exit(session != nullptr && fuse_session_mount(session, harness.mountPath.c_str()) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  struct stat attributes {};
  ASSERT_EQ(::stat(harness.mountPath.c_str(), &attributes), -1);
  ASSERT_EQ(errno, ENOTCONN);

  ASSERT_TRUE(harness.mount());
  EXPECT_THAT(listFolder(harness.at("/")), ElementsAre("Projects"));
  EXPECT_THAT(harness.systemLog.reports(), IsEmpty());
}

TEST(MountTest, TwoDrivesServeTheirOwnStoresInOneProcess) {
  DriveHarness first;
  DriveHarness::Options options;
  options.title = "Second";
  DriveHarness second(options);
  first.addShare("A", "FirstShare");
  second.addShare("B", "SecondShare");
  ASSERT_TRUE(first.mount());
  ASSERT_TRUE(second.mount());

  EXPECT_THAT(listFolder(first.at("/")), ElementsAre("FirstShare"));
  EXPECT_THAT(listFolder(second.at("/")), ElementsAre("SecondShare"));
}

} // namespace
} // namespace orvex::test
