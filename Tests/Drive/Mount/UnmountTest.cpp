// Taking the drive down: by the application (no remount) and from outside
// (remounted at once), and a drive still in use (forced off).
#include "Drive/OVMountTable.h"
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class UnmountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.addShare("S1", "Projects");
    ASSERT_TRUE(harness.mount());
  }
  bool waitForUnmounts(int count) {
    return harness.listener.waitFor([count](const auto& counts) { return counts.unmounts >= count; });
  }
  bool waitForMounts(int count) {
    return harness.listener.waitFor([count](const auto& counts) { return counts.mounts >= count; });
  }

  DriveHarness harness;
};

TEST_F(UnmountTest, StopFuseUnmountsWithoutRemount) {
  harness.onMain([&] { harness.controller->stopFuse(); });
  ASSERT_TRUE(waitForUnmounts(1));
  harness.onMain([] {}); // everything the unmount posted has run

  EXPECT_FALSE(harness.controller->fuseInitialized());
  EXPECT_FALSE(harness.controller->mountInProgress());
  EXPECT_EQ(harness.listener.counts().mounts, 1);
  EXPECT_EQ(fuseMountDevice(harness.mountPath), std::nullopt);
}

TEST_F(UnmountTest, UnmountFromOutsideRemountsAtOnce) {
  // The lock file the application keeps open makes a plain unmount busy, as
  // a volume in use refuses a plain eject.
  const CommandResult plain = run("fusermount3 -u " + harness.mountPath);
  EXPECT_NE(plain.status, 0);
  EXPECT_THAT(plain.output, HasSubstr("busy"));
  EXPECT_TRUE(fuseMountDevice(harness.mountPath));

  const CommandResult lazy = run("fusermount3 -u -z " + harness.mountPath);
  ASSERT_EQ(lazy.status, 0) << lazy.output;
  ASSERT_TRUE(waitForUnmounts(1));
  ASSERT_TRUE(waitForMounts(2));
  EXPECT_THAT(listFolder(harness.at("/")), ElementsAre("Projects"));
  EXPECT_NE(harness.log.find(kLogMain, "User unmounted the volume. Trying to re-mount."), "");
}

TEST_F(UnmountTest, DriveInUseIsForcedOff) {
  // An open file (the library keeps nothing of its own for one that a forced
  // end could leave behind).
  const int user = ::open(harness.at("/.fuselock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(user, -1);
  harness.onMain([&] { harness.controller->stopFuse(); });
  ASSERT_TRUE(waitForUnmounts(1));
  harness.onMain([] {});

  EXPECT_NE(harness.log.find(kLogMain, "Failed to unmount drive : error 16"), "");
  EXPECT_EQ(harness.log.find(kLogMain, "Failed even forced unmount"), "");
  EXPECT_EQ(fuseMountDevice(harness.mountPath), std::nullopt);
  EXPECT_FALSE(harness.controller->mountInProgress());
  // The one still holding the drive now gets errors instead of a hang.
  EXPECT_EQ(::fgetxattr(user, "user.any", nullptr, 0), -1);
  EXPECT_EQ(errno, ENOTCONN);
  ::close(user);
}

} // namespace
} // namespace orvex::test
