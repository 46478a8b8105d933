// The application's settings over a real settings file: key names, defaults,
// the switches, the writes that must not happen, and the reset at logout.
#include "OVSettings.h"

#include "Support/LogCapture.h"
#include "Support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvex {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

BrandFile brandTitled(const std::string& title, std::optional<std::string> globalAddress = std::nullopt) {
  BrandFile brand;
  brand.bundleName = title;
  brand.globalAddress = std::move(globalAddress);
  return brand;
}

class OVSettingsTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir / "settings.json"; }
  nlohmann::json onDisk() const { return nlohmann::json::parse(readFile(file())); }
  std::unique_ptr<SettingsFile> open() {
    return std::make_unique<SettingsFile>(file(), OVSettings::schema("Orvex"), clock);
  }

  TempDir dir;
  ManualClock clock;
};

TEST_F(OVSettingsTest, DefaultsWhenNothingIsStored) {
  auto stored = open();
  OVSettings settings(brandTitled("Orvex"), *stored);
  EXPECT_EQ(settings.getStoreDownloadedFiles(), 60);
  EXPECT_FALSE(settings.getUploadScreenshots());
  EXPECT_FALSE(settings.getCreateScreenshotLink());
  EXPECT_TRUE(settings.getAppStoreInfoRemindLater());
  EXPECT_FALSE(settings.runsOnStartup());
  EXPECT_FALSE(settings.runsOnStartupWasWritten());
  EXPECT_FALSE(settings.enableDebugLog());
  EXPECT_FALSE(settings.excessiveLogging() || settings.disableSignalR() || settings.noRootMount());
  EXPECT_EQ(settings.deviceId(), std::nullopt);
  EXPECT_EQ(settings.mountPathOverride(), std::nullopt);
}

TEST_F(OVSettingsTest, SwitchesCountByPresenceAndAreReadOnce) {
  writeFile(file(), R"({"OVExcessiveLogging": false, "OVDisableSignalR": "NO", "OVDisableRootMount": null})");
  auto stored = open();
  OVSettings settings(brandTitled("Orvex"), *stored);
  EXPECT_TRUE(settings.excessiveLogging());
  EXPECT_TRUE(settings.disableSignalR());
  EXPECT_TRUE(settings.noRootMount());

  stored->remove("OVExcessiveLogging");
  stored->remove("OVDisableSignalR");
  EXPECT_TRUE(settings.excessiveLogging());
  EXPECT_TRUE(settings.disableSignalR());
  settings.readSwitches(); // the next start
  EXPECT_FALSE(settings.excessiveLogging());
  EXPECT_FALSE(settings.disableSignalR());
  EXPECT_TRUE(settings.noRootMount());
}

TEST_F(OVSettingsTest, SomeSettersWriteOnlyWhenTheValueChanges) {
  auto stored = open();
  OVSettings settings(brandTitled("Orvex"), *stored);
  settings.setUploadScreenshots(false);
  settings.setAppStoreInfoRemindLater(true);
  EXPECT_FALSE(std::filesystem::exists(file())); // both equal their defaults: nothing written

  settings.setAppStoreInfoRemindLater(false);
  settings.setUploadScreenshots(true);
  settings.setCreateScreenshotLink(false); // this one always writes
  EXPECT_EQ(onDisk(), (nlohmann::json{{"Orvex.appStoreInfoRemindLater", false},
                                      {"Orvex.uploadScreenshots", true},
                                      {"Orvex.createScreenshotLink", false}}));
  EXPECT_FALSE(settings.getAppStoreInfoRemindLater());
}

TEST_F(OVSettingsTest, TitlesSharingOneFileKeepSeparateValues) {
  auto stored = open();
  OVSettings orvex(brandTitled("Orvex"), *stored);
  OVSettings beta(brandTitled("OrvexBeta"), *stored);
  EXPECT_EQ(beta.prependAppTitle("storeFiles"), "OrvexBeta.storeFiles");

  orvex.setStoreDownloadedFiles(-1);
  beta.setStoreDownloadedFiles(0);
  beta.setLanguage("de");
  EXPECT_EQ(orvex.getStoreDownloadedFiles(), -1);
  EXPECT_EQ(beta.getStoreDownloadedFiles(), 0);
  EXPECT_EQ(orvex.language(), std::nullopt);

  beta.resetUserDefaults(); // only its own five keys survive, not the other title's
  EXPECT_EQ(orvex.getStoreDownloadedFiles(), 60);
  EXPECT_EQ(beta.language(), "de");
}

TEST_F(OVSettingsTest, ResetKeepsExactlyTheFiveKeys) {
  auto stored = open();
  OVSettings settings(brandTitled("Orvex"), *stored);
  settings.setRunsOnStartup(true);
  settings.setLastMigratedVersion("1.0.0");
  settings.setDeviceId("D");
  settings.setStoreDownloadedFiles(30);
  settings.setLanguage("fr");
  settings.setEnableDebugLog(true);
  settings.setUploadScreenshots(true);
  settings.setCleanShutdown();
  settings.setHasLaunchedBefore();
  stored->set("authState", "archive");
  stored->set("OVExcessiveLogging", true);

  settings.resetUserDefaults();
  EXPECT_THAT(stored->keys(), UnorderedElementsAre("Orvex.runsOnStartup", "Orvex.lastMigratedVersion", "Orvex.deviceId",
                                                   "Orvex.storeFiles", "Orvex.language"));
  SettingsFile reread(file(), OVSettings::schema("Orvex"), clock);
  EXPECT_EQ(reread.keys().size(), 5u);
  EXPECT_EQ(reread.integer("Orvex.storeFiles"), 30);
}

TEST_F(OVSettingsTest, GlobalAddressAndDataIsland) {
  auto stored = open();
  OVSettings absent(brandTitled("Orvex"), *stored);
  OVSettings star(brandTitled("Orvex", "*"), *stored);
  OVSettings island(brandTitled("Orvex", "dir.island.test"), *stored);
  EXPECT_EQ(absent.globalAddress(), kDefaultGlobalAddress);
  EXPECT_FALSE(absent.isDataIsland());
  EXPECT_EQ(star.getGlobalAddress(), kDefaultGlobalAddress);
  EXPECT_FALSE(star.getIsDataIsland());
  EXPECT_EQ(island.globalAddress(), "dir.island.test");
  EXPECT_TRUE(island.isDataIsland());
}

TEST_F(OVSettingsTest, SettingsFileLivesInAPrivateFolderUnderTheConfigHome) {
  test::LogCapture log;
  XdgEnvironment env{[this](const std::string& name) -> std::optional<std::string> {
                       if (name == "HOME")
                         return dir.path().string();
                       return std::nullopt;
                     },
                     [] { return std::optional<std::string>(); }};
  auto stored = OVSettings::openSettingsFile(brandTitled("OrvexBeta"), env, clock);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->path(), dir / ".config" / "OrvexBeta" / "settings.json");
  struct stat info {};
  ASSERT_EQ(::stat((dir / ".config" / "OrvexBeta").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  OVSettings settings(brandTitled("OrvexBeta"), *stored);
  settings.setDeviceId("X");
  EXPECT_THAT(readFile(stored->path()), ::testing::HasSubstr("\"OrvexBeta.deviceId\": \"X\""));
  EXPECT_THAT(log.warnings(), IsEmpty());
}

} // namespace
} // namespace orvex
