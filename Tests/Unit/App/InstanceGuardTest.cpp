#include "Platform/OVInstanceGuard.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace orvex {
namespace {

TEST(InstanceGuardTest, SecondHolderLearnsWhoRunsAndGetsTheLockOnceItIsFree) {
  test::TempDir folder;
  auto path = OVInstanceGuard::lockPath(folder.path(), "Orvex");
  EXPECT_EQ(path.filename(), "com.orvex.Orvex.lock");

  auto first = OVInstanceGuard::acquire(path, "/opt/orvex/bin/orvex");
  ASSERT_TRUE(first.guard);
  EXPECT_FALSE(first.other);

  // A lock is per open file, so a second open in the same process stands for another instance.
  auto second = OVInstanceGuard::acquire(path, "/usr/bin/orvex");
  EXPECT_FALSE(second.guard);
  ASSERT_TRUE(second.other);
  EXPECT_EQ(second.other->pid, ::getpid());
  EXPECT_EQ(second.other->programPath, "/opt/orvex/bin/orvex");

  first.guard.reset();
  auto third = OVInstanceGuard::acquire(path, "/usr/bin/orvex");
  EXPECT_TRUE(third.guard);
  EXPECT_EQ(test::readFile(path), std::to_string(::getpid()) + "\n/usr/bin/orvex\n");
}

TEST(InstanceGuardTest, DifferentTitlesDoNotExcludeEachOther) {
  test::TempDir folder;
  auto orvex = OVInstanceGuard::acquire(OVInstanceGuard::lockPath(folder.path(), "Orvex"), "a");
  auto beta = OVInstanceGuard::acquire(OVInstanceGuard::lockPath(folder.path(), "OrvexBeta"), "b");
  EXPECT_TRUE(orvex.guard);
  EXPECT_TRUE(beta.guard);
}

TEST(InstanceGuardTest, AnUnusableLockFolderRunsUnguardedRatherThanNotAtAll) {
  test::TempDir folder;
  auto result = OVInstanceGuard::acquire(folder / "missing/com.orvex.Orvex.lock", "a");
  EXPECT_FALSE(result.guard);
  EXPECT_FALSE(result.other);
}

TEST(InstanceGuardTest, DescriptionsWrittenHalfOrBadlyGiveNoPid) {
  EXPECT_EQ(parseInstanceDescription("").pid, 0);
  EXPECT_EQ(parseInstanceDescription("12").pid, 12); // path not yet written
  EXPECT_EQ(parseInstanceDescription("12").programPath, "");
  EXPECT_EQ(parseInstanceDescription("-5\n/x\n").pid, 0);
  EXPECT_EQ(parseInstanceDescription("12abc\n/x\n").pid, 0);
  EXPECT_EQ(parseInstanceDescription("99999999999999\n/x\n").pid, 0);
  EXPECT_EQ(parseInstanceDescription("7\n/opt/My App/orvex\n").programPath, "/opt/My App/orvex");
}

} // namespace
} // namespace orvex
