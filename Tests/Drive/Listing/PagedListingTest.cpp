// Listings as the kernel pages them: every entry with its attributes, pages
// at real offsets from one listing per open folder, and renames with their flags.
#include "Drive/OVFuseCallback.h"
#include "Drive/Support/DriveHarness.h"
#include "Store/OVDatabase.h"

#include <gmock/gmock.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace orvex::test {
namespace {

using ::testing::Each;
using ::testing::Eq;

class PagedListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.addShare("S1", "Projects");
    harness.addNode("S1", "D1", "S1", "big", false);
  }

  // `count` files "f0", "f1", ... in the folder "big", in one transaction.
  void fill(int count) {
    harness.db().doBeginTransaction();
    for (int i = 0; i < count; ++i)
      harness.addNode("S1", "F" + std::to_string(i), "D1", "f" + std::to_string(i), true, 7);
    harness.db().doCommitTransaction();
  }

  std::uint64_t lookups() const { return harness.drive->requestCounts().pathLookups.load(); }

  DriveHarness harness;
};

// Names of the next page getdents64 gives through `fd`, `size` bytes at most.
std::vector<std::string> nextPage(int fd, std::size_t size) {
  std::vector<char> buffer(size);
  const long got = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
  EXPECT_GE(got, 0) << "error " << errno;
  std::vector<std::string> names;
  for (long at = 0; at < got;) {
    const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
    names.emplace_back(entry->d_name);
    at += entry->d_reclen;
  }
  return names;
}

TEST_F(PagedListingTest, LongListingOfALargeFolderNeedsNoLookupPerEntry) {
  fill(10000);
  const std::string longest(255, 'n');
  harness.addNode("S1", "L", "D1", longest, true, 3);
  ASSERT_TRUE(harness.mount());
  const std::uint64_t before = lookups();

  const CommandResult long_listing = run("ls -l " + harness.at("/Projects/big") + " | wc -l");
  ASSERT_EQ(long_listing.status, 0);
  EXPECT_EQ(long_listing.output, "10002\n"); // "total" and every entry
  const CommandResult found = run("find " + harness.at("/Projects/big") + " -size -2k | wc -l");
  EXPECT_EQ(found.output, "10002\n");
  // The listing told the kernel every entry's node and attributes: the
  // stats of `ls -l` and `find` asked the drive nothing more.
  EXPECT_LT(lookups() - before, 20u);
  EXPECT_GT(harness.drive->requestCounts().listingPages.load(), 10u);

  struct stat attributes {};
  ASSERT_EQ(::stat(harness.at("/Projects/big/" + longest).c_str(), &attributes), 0);
  EXPECT_EQ(attributes.st_size, 3);
}

TEST_F(PagedListingTest, OneReadingNeitherRepeatsNorSkipsWhenTheFolderChanges) {
  fill(300);
  ASSERT_TRUE(harness.mount());
  const int fd = ::open(harness.at("/Projects/big").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_NE(fd, -1);
  std::map<std::string, int> seen;
  std::vector<std::string> page = nextPage(fd, 1024); // a few dozen entries
  ASSERT_FALSE(page.empty());
  for (const std::string& name : page)
    ++seen[name];

  // Between two pages one entry goes, one comes, and one is renamed.
  harness.db().doUpdateQuery("UPDATE files SET deleted = 1 WHERE internalName = 'F290'");
  harness.db().doUpdateQuery("UPDATE files SET publicName = 'renamed' WHERE internalName = 'F150'");
  harness.addNode("S1", "NEW", "D1", "a new one");
  while (!(page = nextPage(fd, 1024)).empty()) {
    for (const std::string& name : page)
      ++seen[name];
  }
  // The reading shows the folder as it was when it began, every entry once.
  EXPECT_EQ(seen.size(), 302u);
  EXPECT_THAT(seen, Each(testing::Pair(testing::_, Eq(1))));
  EXPECT_EQ(seen.count("f290"), 1u);

  // Reading it again from the start shows it as it is now.
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  seen.clear();
  while (!(page = nextPage(fd, 1024)).empty()) {
    for (const std::string& name : page)
      ++seen[name];
  }
  ::close(fd);
  EXPECT_EQ(seen.size(), 302u);
  EXPECT_EQ(seen.count("f290"), 0u);
  EXPECT_EQ(seen.count("f150"), 0u);
  EXPECT_EQ(seen.count("renamed"), 1u);
  EXPECT_EQ(seen.count("a new one"), 1u);
}

TEST_F(PagedListingTest, RenameFlagsReachTheDrive) {
  harness.addNode("S1", "A", "D1", "a");
  harness.addNode("S1", "B", "D1", "b");
  ASSERT_TRUE(harness.mount());
  const std::string a = harness.at("/Projects/big/a");
  const std::string b = harness.at("/Projects/big/b");

  EXPECT_EQ(::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(harness.drive->requestCounts().renameFlagsSeen.load(), unsigned{RENAME_EXCHANGE});
  const std::string c = harness.at("/Projects/big/c");
  EXPECT_EQ(::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, c.c_str(), RENAME_NOREPLACE), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(harness.drive->requestCounts().renameFlagsSeen.load(), unsigned{RENAME_EXCHANGE | RENAME_NOREPLACE});
  // The kernel itself refuses to replace an existing name.
  EXPECT_EQ(::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE), -1);
  EXPECT_EQ(errno, EEXIST);
}

} // namespace
} // namespace orvex::test
