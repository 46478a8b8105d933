// Permissions on the mounted drive. The mode a file shows lives in the store
// alone: the cache file under it always stays the user's own (0600), so that
// what the drive shows can never lock the drive itself out of its content.
// The store's own folder and database are the user's alone too.
#include "Drive/Support/DriveHarness.h"
#include "Store/OVDatabase.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace orvex::test {
namespace {

mode_t modeOf(const std::string& path) {
  struct stat attributes {};
  EXPECT_EQ(::lstat(path.c_str(), &attributes), 0) << path << ": error " << errno;
  return attributes.st_mode & 07777;
}

mode_t shownModeOf(const std::string& path) {
  struct stat attributes {};
  EXPECT_EQ(::stat(path.c_str(), &attributes), 0) << path << ": error " << errno;
  return attributes.st_mode;
}

// Sets the umask for the scope, and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

class ModesTest : public ::testing::Test {
 protected:
  void SetUp() override { harness.addShare("S1", "Docs"); }

  std::string cachePathOf(const std::string& volumePath) {
    const auto stored = harness.db().fileWithPath(volumePath);
    EXPECT_TRUE(stored) << volumePath;
    return stored ? harness.store.fileCache.pathForFileCache(*stored).value_or("").string() : std::string();
  }

  DriveHarness harness;
};

TEST_F(ModesTest, CacheFilesAreCreatedPrivateWhateverModeTheCreatorAsksFor) {
  ASSERT_TRUE(harness.mount());
  const ScopedUmask noMask(0);
  for (const mode_t asked : {0444, 0666, 0755, 0700, 0200}) {
    const std::string path = "/Docs/asked-" + std::to_string(asked);
    SCOPED_TRACE(path);
    // A descriptor of a file just created writes, whatever its mode says.
    const int fd = ::open(harness.at(path).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, asked);
    ASSERT_NE(fd, -1) << errno;
    EXPECT_EQ(::write(fd, "data", 4), 4) << errno;
    ASSERT_EQ(::close(fd), 0);

    EXPECT_EQ(modeOf(cachePathOf(path)), 0600u);
    const auto stored = harness.db().fileWithPath(path);
    ASSERT_TRUE(stored);
    EXPECT_EQ(shownModeOf(harness.at(path)), S_IFREG | (static_cast<mode_t>(stored->permissions) & 0777));
    EXPECT_EQ(readFile(cachePathOf(path)), "data");
  }
}

TEST_F(ModesTest, ChmodChangesWhatTheDriveShowsAndNeverTheCacheFile) {
  ASSERT_TRUE(harness.mount());
  writeFile(harness.at("/Docs/notes.txt"), "kept");
  const std::string cache = cachePathOf("/Docs/notes.txt");

  for (const mode_t mode : {0444, 0640, 0755, 0000, 0600}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(::chmod(harness.at("/Docs/notes.txt").c_str(), mode), 0) << errno;
    EXPECT_EQ(shownModeOf(harness.at("/Docs/notes.txt")), S_IFREG | mode);
    EXPECT_EQ(harness.db().fileWithPath("/Docs/notes.txt")->permissions & 0777, mode);
    EXPECT_EQ(modeOf(cache), 0600u);
  }
  EXPECT_EQ(readFile(harness.at("/Docs/notes.txt")), "kept");
}

TEST_F(ModesTest, SetIdAndStickyBitsFromTheServerNeverShow) {
  const std::pair<const char*, std::uint64_t> files[] = {
      {"setuid", 04755}, {"setgid", 02750}, {"all", 07777}, {"sticky", 01644}};
  for (const auto& [name, permissions] : files) {
    OVFile node = makeFile(name, "S1", name, harness.store.clock);
    node.fileSize = 10;
    node.status = kFileStatusSynchronized;
    node.permissions = permissions;
    harness.write(node);
  }
  OVFile folder = makeFile("D1", "S1", "public", harness.store.clock);
  folder.isFile = false;
  folder.status = kFileStatusSynchronized;
  folder.permissions = 01777;
  harness.write(folder);
  harness.addNode("S1", "D2", "D1", "inside", false);
  ASSERT_TRUE(harness.mount());

  // One name looked up alone, the others as a listing brings them.
  EXPECT_EQ(shownModeOf(harness.at("/Docs/setuid")), S_IFREG | 0755u);
  EXPECT_EQ(listFolder(harness.at("/Docs")).size(), 5u);
  EXPECT_EQ(shownModeOf(harness.at("/Docs/setgid")), S_IFREG | 0750u);
  EXPECT_EQ(shownModeOf(harness.at("/Docs/all")), S_IFREG | 0777u);
  EXPECT_EQ(shownModeOf(harness.at("/Docs/sticky")), S_IFREG | 0644u);
  EXPECT_EQ(shownModeOf(harness.at("/Docs/public")), S_IFDIR | 0777u);
  EXPECT_EQ(listFolder(harness.at("/Docs/public")).size(), 1u);
}

TEST(StoreFilesTest, TheDataFolderAndTheStoreAreTheUsersAloneWhateverTheUmask) {
  const ScopedUmask permissive(022);
  TempDir folder;
  ManualClock clock;
  FakeShareStore shares;
  FakeCacheEraser eraser;
  const std::filesystem::path fresh = folder.path() / "fresh" / "Orvex";
  const std::filesystem::path loosened = folder.path() / "loosened";
  {
    // A loosened store of an earlier run is tightened when it is opened again.
    OVFileCache cache(loosened, clock);
    OVDatabase database(cache, shares, eraser, "2.0.1", clock);
    database.load(false);
  }
  std::filesystem::permissions(loosened, std::filesystem::perms(0755));
  std::filesystem::permissions(loosened / "files.db", std::filesystem::perms(0644));

  for (const std::filesystem::path& root : {fresh, loosened}) {
    SCOPED_TRACE(root.string());
    OVFileCache cache(root, clock);
    OVDatabase database(cache, shares, eraser, "2.0.1", clock);
    database.load(false);
    EXPECT_EQ(modeOf(root.string()), 0700u);
    EXPECT_EQ(modeOf((root / "files.db").string()), 0600u);
  }
}

// ---- A drive run by a user who is not root ----
//
// Root passes every permission check, so only another user shows whether the
// drive itself can still write a file after its mode said read-only.

// On a drive this process mounts, run by a user who is not root: chmod 444,
// chmod 644, then a write; and a file its program created read-only, made
// writable, then written. Failures are the test's.
void chmodReadOnlyThenWritableThenWrite() {
  DriveHarness harness;
  harness.addShare("S1", "Docs");
  ASSERT_TRUE(harness.mount());
  const std::string notes = harness.at("/Docs/notes.txt");
  const std::string created = harness.at("/Docs/created.txt");
  for (const auto& [path, mode] : {std::pair{notes, 0644}, std::pair{created, 0444}}) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    ASSERT_NE(fd, -1) << errno;
    ASSERT_EQ(::write(fd, "first\n", 6), 6) << errno;
    ASSERT_EQ(::close(fd), 0);
  }

  ASSERT_EQ(::chmod(notes.c_str(), 0444), 0) << errno;
  const int refused = ::open(notes.c_str(), O_WRONLY | O_CLOEXEC);
  const int error = errno;
  EXPECT_EQ(refused, -1) << "the drive shows the file read-only";
  EXPECT_EQ(error, EACCES);

  for (const std::string& path : {notes, created}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0) << errno;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_NE(fd, -1) << errno;
    EXPECT_EQ(::write(fd, "second\n", 7), 7) << errno;
    EXPECT_EQ(::close(fd), 0) << errno;
    EXPECT_EQ(readFile(path), "first\nsecond\n");
    const auto stored = harness.db().fileWithPath(path.substr(harness.mountPath.size()));
    ASSERT_TRUE(stored);
    const std::string cache = harness.store.fileCache.pathForFileCache(*stored).value_or("").string();
    EXPECT_EQ(readFile(cache), "first\nsecond\n");
    EXPECT_EQ(modeOf(cache), 0600u);
  }
}

struct Account {
  uid_t user;
  gid_t group;
};

// The system user these tests run unprivileged code as, made when missing.
std::optional<Account> unprivilegedAccount() {
  constexpr const char* kName = "orvex-test";
  if (::getpwnam(kName) == nullptr) {
    // Another test process may make it at the same moment: look again either way.
    run(std::string("useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin ") + kName);
  }
  if (const passwd* entry = ::getpwnam(kName))
    return Account{entry->pw_uid, entry->pw_gid};
  return std::nullopt;
}

// In a child that is still root: FUSE's device is often root's alone, while
// an unprivileged mount opens it itself (and leaves the mounting to the
// set-user-id fusermount3). A private mount namespace gets its own node of the
// same device in `deviceFolder`, open to everyone, bound over /dev/fuse; the
// system's device stays as it is. Then the child becomes `account` for good.
// Answers what failed, or nothing.
std::optional<std::string> becomeUnprivileged(const Account& account, const std::string& deviceFolder) {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return "private mount namespace: error " + std::to_string(errno);
  struct stat device {};
  if (::stat("/dev/fuse", &device) != 0)
    return "/dev/fuse: error " + std::to_string(errno);
  if ((device.st_mode & 0006) != 0006) {
    const std::string node = deviceFolder + "/fuse";
    if (::mount("orvex-dev", deviceFolder.c_str(), "tmpfs", 0, "mode=0755") != 0 ||
        ::mknod(node.c_str(), S_IFCHR | 0666, device.st_rdev) != 0 || ::chmod(node.c_str(), 0666) != 0 ||
        ::mount(node.c_str(), "/dev/fuse", nullptr, MS_BIND, nullptr) != 0)
      return "device node: error " + std::to_string(errno);
  }
  if (::setgroups(0, nullptr) != 0 || ::setgid(account.group) != 0 || ::setuid(account.user) != 0)
    return "user change: error " + std::to_string(errno);
  if (::geteuid() == 0)
    return "still root";
  // The drive's folders go where every user may make some.
  ::setenv("TMPDIR", "/tmp", 1);
  return std::nullopt;
}

TEST(UnprivilegedModesTest, ChmodReadOnlyThenWritableThenAWriteWorksForAUserWhoIsNotRoot) {
  if (::geteuid() != 0) {
    chmodReadOnlyThenWritableThenWrite();
    return;
  }
  const std::optional<Account> account = unprivilegedAccount();
  ASSERT_TRUE(account) << "no unprivileged user to run the drive as";
  const TempDir deviceFolder;
  // Forked before this test starts any thread; the child reports by its status.
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1) << errno;
  if (child == 0) {
    if (const auto failure = becomeUnprivileged(*account, deviceFolder.path().string())) {
      ADD_FAILURE() << *failure;
    } else {
      chmodReadOnlyThenWritableThenWrite();
    }
    std::fflush(nullptr);
    // Static destructors included: the logs of this process go with their folder.
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child) << errno;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the drive run by user " << account->user << " failed (its messages are above), status " << status;
}

} // namespace
} // namespace orvex::test
