// Ordinary attributes set on the drive: kept in side files of the cache,
// found by id, listed without the reserved names.
#include "Drive/OVStatusQueries.h"
#include "Drive/Support/DriveHarness.h"

#include <gmock/gmock.h>
#include <sys/xattr.h>

#include <filesystem>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> attributeNames(const std::string& path) {
  char buffer[4096];
  const ssize_t length = ::listxattr(path.c_str(), buffer, sizeof buffer);
  EXPECT_GE(length, 0) << path << ": error " << errno;
  std::vector<std::string> names;
  for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(names.back().size()) + 1)
    names.emplace_back(buffer + at);
  return names;
}

std::string attribute(const std::string& path, const std::string& name) {
  char buffer[256];
  const ssize_t length = ::getxattr(path.c_str(), name.c_str(), buffer, sizeof buffer);
  return length < 0 ? "(error " + std::to_string(errno) + ")" : std::string(buffer, static_cast<std::size_t>(length));
}

class CustomAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.addShare("S1", "Projects");
    file = harness.addNode("S1", "F1", "S1", "plan.txt", true, 100);
    ASSERT_TRUE(harness.mount());
    path = harness.at("/Projects/plan.txt");
  }
  std::filesystem::path sideFileOfPlan() const { return harness.store.fileCache.filesCachePath() / "S1" / "F1.attrs"; }

  DriveHarness harness;
  OVFile file;
  std::string path;
};

TEST_F(CustomAttributesTest, SetListGetAndRemoveOnAFileWithoutContent) {
  EXPECT_THAT(attributeNames(path), IsEmpty());
  EXPECT_EQ(attribute(path, "user.tag"), "(error " + std::to_string(ENODATA) + ")");

  const CommandResult set = run("setfattr -n user.tag -v blue " + path);
  ASSERT_EQ(set.status, 0) << set.output;
  // Names without a Linux namespace, as other systems write them, are kept too.
  ASSERT_EQ(::setxattr(path.c_str(), "com.example.rating", "\0\1", 2, 0), 0);
  EXPECT_TRUE(std::filesystem::exists(sideFileOfPlan()));
  EXPECT_FALSE(std::filesystem::exists(harness.store.fileCache.filesCachePath() / "S1" / "F1"));

  EXPECT_THAT(attributeNames(path), ElementsAre("com.example.rating", "user.tag"));
  EXPECT_EQ(attribute(path, "user.tag"), "blue");
  EXPECT_EQ(attribute(path, "com.example.rating"), std::string("\0\1", 2));
  EXPECT_EQ(run("getfattr --absolute-names --only-values -n user.tag " + path).output, "blue");

  ASSERT_EQ(::removexattr(path.c_str(), "user.tag"), 0);
  EXPECT_THAT(attributeNames(path), ElementsAre("com.example.rating"));
  EXPECT_EQ(::removexattr(path.c_str(), "user.tag"), -1);
  EXPECT_EQ(errno, ENODATA);
}

TEST_F(CustomAttributesTest, ReservedNamesAreNeverListed) {
  ASSERT_EQ(::setxattr(path.c_str(), "user.a", "1", 1, 0), 0);
  // Stored by hand, a reserved name still reads as the live answer and stays unlisted.
  ASSERT_EQ(::setxattr(path.c_str(), std::string(kOverlayIconAttribute).c_str(), "x", 1, 0), 0);
  EXPECT_THAT(attributeNames(path), ElementsAre("user.a"));
  EXPECT_EQ(attribute(path, std::string(kOverlayIconAttribute)), std::string(1, char(kSyncStateNotDownloaded)));
}

TEST_F(CustomAttributesTest, FlagsAndBufferSizesFollowTheLinuxCalls) {
  ASSERT_EQ(::setxattr(path.c_str(), "user.k", "second", 6, XATTR_CREATE), 0);
  EXPECT_EQ(::setxattr(path.c_str(), "user.k", "again", 5, XATTR_CREATE), -1);
  EXPECT_EQ(errno, EEXIST);

  char small[3];
  EXPECT_EQ(::getxattr(path.c_str(), "user.k", nullptr, 0), 6);
  EXPECT_EQ(::getxattr(path.c_str(), "user.k", small, sizeof small), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(::listxattr(path.c_str(), nullptr, 0), 7);
  EXPECT_EQ(::listxattr(path.c_str(), small, sizeof small), -1);
  EXPECT_EQ(errno, ERANGE);
  // The kernel's own namespaces are not kept: the drive enforces no labels or ACLs.
  EXPECT_EQ(::setxattr(path.c_str(), "security.selinux", "x", 1, 0), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  // Reading them says so too, which tells `ls -l` to stop asking for every entry.
  EXPECT_EQ(::getxattr(path.c_str(), "security.selinux", small, sizeof small), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  EXPECT_EQ(::getxattr(path.c_str(), "system.posix_acl_access", small, sizeof small), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
}

TEST_F(CustomAttributesTest, ShareFoldersKeepTheirOwnAndTheRootKeepsNone) {
  ASSERT_EQ(::setxattr(harness.at("/Projects").c_str(), "user.color", "red", 3, 0), 0);
  EXPECT_TRUE(std::filesystem::exists(harness.store.fileCache.filesCachePath() / "S1.attrs"));
  EXPECT_EQ(attribute(harness.at("/Projects"), "user.color"), "red");
  EXPECT_THAT(attributeNames(path), IsEmpty());

  EXPECT_EQ(::setxattr(harness.at("/").c_str(), "user.color", "red", 3, 0), 0);
  EXPECT_THAT(attributeNames(harness.at("/")), IsEmpty());
  EXPECT_EQ(::removexattr(harness.at("/").c_str(), "user.color"), 0);
}

TEST_F(CustomAttributesTest, DamagedSideFileIsReportedAndLeftAlone) {
  std::filesystem::create_directories(sideFileOfPlan().parent_path());
  writeFile(sideFileOfPlan(), "not an attribute file");
  EXPECT_EQ(::getxattr(path.c_str(), "user.tag", nullptr, 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::setxattr(path.c_str(), "user.tag", "v", 1, 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(readFile(sideFileOfPlan()), "not an attribute file");
}

} // namespace
} // namespace orvex::test
