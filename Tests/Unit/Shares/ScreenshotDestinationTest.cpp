// The screenshot destination in the settings: stored by share id, so that it
// follows the share's folder, and shown as a path on the drive.
#include "OVSettings.h"
#include "ShareStoreTestSupport.h"

#include <gtest/gtest.h>

namespace orvex::test {
namespace {

const std::string kMount = "/home/user/Orvex";
const std::string kKey = "Orvex.uploadScreenshotsPath";

class ScreenshotDestination : public ShareStoreTest {
 protected:
  ScreenshotDestination() {
    brand.bundleName = "Orvex";
    receive("a.test", {makeShare("s1", "Docs"), makeShare("s2", "Pictures")});
  }
  std::optional<std::string> stored() const { return file.string(kKey); }
  void choose(const std::string& path) { settings.setUploadScreenshotsPath(path, *store, kMount); }
  std::string shown() const { return settings.getUploadScreenshotsPath(*store, kMount); }

  BrandFile brand;
  SettingsFile file{dir / "settings.json", OVSettings::schema("Orvex"), clock};
  OVSettings settings{brand, file};
};

TEST_F(ScreenshotDestination, FolderInsideAShareIsStoredByShareId) {
  choose(kMount + "/Pictures/Shots/2024");
  EXPECT_EQ(stored(), "s2/Shots/2024");
  EXPECT_EQ(shown(), kMount + "/Pictures/Shots/2024");

  ASSERT_TRUE(store->renameShare(*store->shareWithId("s2"), "Images"));
  EXPECT_EQ(shown(), kMount + "/Images/Shots/2024") << "follows the share's folder";
}

TEST_F(ScreenshotDestination, ShareFolderItselfStoresTheIdAlone) {
  choose(kMount + "/Docs");
  EXPECT_EQ(stored(), "s1");
  EXPECT_EQ(shown(), kMount + "/Docs");
  choose("/HOME/User/orvex/docs/"); // letter case aside, trailing "/"
  EXPECT_EQ(stored(), "s1");
}

TEST_F(ScreenshotDestination, PlacesOutsideTheSharesKeepThePreviousValue) {
  choose(kMount + "/Docs/Shots");
  for (const std::string& elsewhere : {std::string("/tmp/Shots"), kMount, kMount + "/", kMount + "2/Docs",
                                       kMount + "/Unknown/x", kMount + "/Docs/../../etc"}) {
    choose(elsewhere);
    EXPECT_EQ(stored(), "s1/Shots") << elsewhere;
  }
}

TEST_F(ScreenshotDestination, DestinationOfAShareThatIsGoneReadsAsEmpty) {
  EXPECT_EQ(shown(), "") << "nothing stored";
  choose(kMount + "/Docs/Shots");
  store->deleteShareData(*store->shareWithId("s1"));
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(stored(), "s1/Shots") << "kept, in case the share comes back";

  file.set(kKey, "s2/../../../etc"); // an edited settings file
  EXPECT_EQ(shown(), "");
}

TEST_F(ScreenshotDestination, ResetForgetsTheDestinationAndStopsTheUpload) {
  settings.setUploadScreenshots(true);
  choose(kMount + "/Docs");
  settings.resetUploadScreenshotsPath();
  EXPECT_EQ(stored(), std::nullopt);
  EXPECT_FALSE(settings.getUploadScreenshots());
  EXPECT_EQ(shown(), "");
}

} // namespace
} // namespace orvex::test
