// What the mount is set up with: its options, the facts they depend on, and
// the mount table that tells whether the drive is still there.
#include "Drive/OVMountOptions.h"
#include "Drive/OVMountTable.h"

#include <gmock/gmock.h>

namespace orvex {
namespace {

using ::testing::Contains;
using ::testing::Not;

TEST(MountSetupTest, RootAccessOnlyForAllowedAdministrators) {
  const OVMountFacts admin{true, true};
  EXPECT_THAT(mountOptions("Orvex", admin, false), Contains("allow_root"));
  EXPECT_THAT(mountOptions("Orvex", admin, true), Not(Contains("allow_root")));
  EXPECT_THAT(mountOptions("Orvex", {false, true}, false), Not(Contains("allow_root")));
  // FUSE would refuse the whole mount for an option the user may not pass.
  EXPECT_THAT(mountOptions("Orvex", {true, false}, false), Not(Contains("allow_root")));
}

TEST(MountSetupTest, NamesCachesAndTransferSizes) {
  const auto options = mountOptions("My Drive,x", {}, false);
  EXPECT_THAT(options, Contains("fsname=My_Drive_x"));
  EXPECT_THAT(options, Contains("subtype=My_Drive_x"));
  // libfuse 3 refuses the options it dropped (big_writes, max_write).
  EXPECT_THAT(options, Not(Contains("big_writes")));
  EXPECT_THAT(options, Contains("max_read=1048576"));
  EXPECT_THAT(options, Contains("negative_timeout=0"));
  EXPECT_EQ(mountOptionName(""), "orvex");
}

TEST(MountSetupTest, FactsFromGroupsAndFuseConf) {
  EXPECT_TRUE(isAdminMember({"users", "wheel"}));
  EXPECT_TRUE(isAdminMember({"sudo"}));
  EXPECT_FALSE(isAdminMember({"admin", "sudoers", "users"}));

  EXPECT_TRUE(fuseConfAllowsOther("# comment\n  user_allow_other  \nmount_max = 10\n"));
  EXPECT_FALSE(fuseConfAllowsOther("#user_allow_other\n"));
  EXPECT_FALSE(fuseConfAllowsOther("user_allow_other_not\n"));
  EXPECT_FALSE(fuseConfAllowsOther(""));
}

TEST(MountSetupTest, MountTableFindsTheTopmostFuseMount) {
  const std::string table =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "40 27 0:57 / /home/ann/My\\040Drive rw,nosuid shared:1 - fuse.Orvex Orvex rw,user_id=0\n"
      "41 40 0:58 / /home/ann/Other rw - fuse.Orvex Orvex rw\n";
  EXPECT_EQ(fuseMountDeviceIn(table, "/home/ann/My Drive"), "0:57");
  EXPECT_EQ(fuseMountDeviceIn(table, "/home/ann/My\\040Drive"), std::nullopt);
  EXPECT_EQ(fuseMountDeviceIn(table, "/proc"), std::nullopt);
  EXPECT_EQ(fuseMountDeviceIn(table, "/home/ann"), std::nullopt);
  // Something mounted over the drive hides it.
  EXPECT_EQ(fuseMountDeviceIn(table + "50 40 0:30 / /home/ann/Other rw - tmpfs tmpfs rw\n", "/home/ann/Other"),
            std::nullopt);
  EXPECT_EQ(fuseMountDeviceIn("garbage\n1 2\n", "/x"), std::nullopt);
}

} // namespace
} // namespace orvex
