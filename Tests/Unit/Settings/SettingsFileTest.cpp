// The settings file against real files: what is written, and what happens to a
// file that cannot be used as it is found.
#include "Platform/SettingsFile.h"

#include "Support/LogCapture.h"
#include "Support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;
using test::readFile;
using test::TempDir;
using test::writeFile;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::UnorderedElementsAre;

const SettingsSchema kSchema = {
    {"T.storeFiles", SettingType::Integer},
    {"T.language", SettingType::String},
    {"T.runsOnStartup", SettingType::Boolean},
    {"OVExcessiveLogging", SettingType::Any},
};

// 2026-03-04 05:06:07 UTC
Clock::WallTime stampTime() {
  using namespace std::chrono;
  return sys_days{year{2026} / 3 / 4} + 5h + 6min + 7s;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir / "settings.json"; }
  std::filesystem::path aside(const std::string& suffix = "") const {
    return dir / ("settings.json.broken-20260304T050607" + suffix);
  }
  nlohmann::json onDisk() const { return nlohmann::json::parse(readFile(file())); }

  TempDir dir;
  ManualClock clock{stampTime()};
  LogCapture log;
};

TEST_F(SettingsFileTest, MissingFileIsEmptyQuietlyAndEverySetterWritesThrough) {
  SettingsFile settings(file(), kSchema, clock);
  EXPECT_THAT(settings.keys(), IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(file()));

  settings.set("T.storeFiles", 7);
  settings.set("T.language", "de");
  settings.set("unknown", nlohmann::json::array({1, 2}));
  EXPECT_EQ(onDisk(), (nlohmann::json{{"T.storeFiles", 7}, {"T.language", "de"}, {"unknown", {1, 2}}}));
  struct stat info {};
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  settings.remove("T.language");
  SettingsFile reopened(file(), kSchema, clock);
  EXPECT_EQ(reopened.integer("T.storeFiles"), 7);
  EXPECT_FALSE(reopened.contains("T.language"));
  EXPECT_THAT(log.warnings(), IsEmpty());
}

TEST_F(SettingsFileTest, TypedReadersAnswerNothingForOtherTypes) {
  writeFile(file(), R"({"s": "text", "i": 5, "b": false, "big": 18446744073709551615, "f": 1.5})");
  SettingsFile settings(file(), {}, clock);
  EXPECT_EQ(settings.string("s"), "text");
  EXPECT_EQ(settings.integer("i"), 5);
  EXPECT_EQ(settings.boolean("b"), false);
  EXPECT_EQ(settings.integer("s"), std::nullopt);
  EXPECT_EQ(settings.boolean("i"), std::nullopt); // 0/1 integers are not booleans
  EXPECT_EQ(settings.integer("big"), std::nullopt);
  EXPECT_EQ(settings.integer("f"), std::nullopt);
  EXPECT_EQ(settings.string("absent"), std::nullopt);
}

TEST_F(SettingsFileTest, InvalidFileIsMovedAsideAndNeverOverwritten) {
  writeFile(file(), "{\"T.storeFiles\": 3,");
  {
    SettingsFile settings(file(), kSchema, clock);
    EXPECT_THAT(settings.keys(), IsEmpty());
    EXPECT_THAT(log.warnings(), ElementsAre(AllOf(HasSubstr("is not valid JSON"), HasSubstr(aside().string()))));
    settings.set("T.language", "fr");
  }
  EXPECT_EQ(readFile(aside()), "{\"T.storeFiles\": 3,");
  EXPECT_EQ(onDisk(), (nlohmann::json{{"T.language", "fr"}}));

  // A second bad file in the same second gets a name of its own.
  writeFile(file(), "[1, 2]");
  SettingsFile again(file(), kSchema, clock);
  EXPECT_THAT(log.warnings(), SizeIs(2));
  EXPECT_THAT(log.warnings()[1], HasSubstr("does not hold a JSON object"));
  EXPECT_EQ(readFile(aside()), "{\"T.storeFiles\": 3,");
  EXPECT_EQ(readFile(aside("-2")), "[1, 2]");
}

TEST_F(SettingsFileTest, WrongTypedKeysFallBackWithOneCopyOfTheFileKept) {
  const std::string original =
      R"({"T.storeFiles": "30", "T.language": 12, "T.runsOnStartup": true, "OVExcessiveLogging": "NO"})";
  writeFile(file(), original);
  SettingsFile settings(file(), kSchema, clock);

  EXPECT_THAT(settings.keys(), UnorderedElementsAre("T.runsOnStartup", "OVExcessiveLogging"));
  EXPECT_THAT(log.warnings(), ElementsAre(HasSubstr("\"T.language\""), HasSubstr("\"T.storeFiles\"")));
  EXPECT_EQ(readFile(aside()), original);
  EXPECT_FALSE(std::filesystem::exists(aside("-2")));

  settings.set("T.runsOnStartup", false);
  EXPECT_EQ(onDisk(), (nlohmann::json{{"T.runsOnStartup", false}, {"OVExcessiveLogging", "NO"}}));
}

TEST_F(SettingsFileTest, UnreadableFileIsLeftAloneByLaterWrites) {
  std::filesystem::create_directory(file()); // open() works, read() fails
  writeFile(file() / "marker", "kept");
  SettingsFile settings(file(), kSchema, clock);
  settings.set("T.language", "it");

  EXPECT_EQ(settings.string("T.language"), "it"); // still usable for this run
  EXPECT_EQ(readFile(file() / "marker"), "kept");
  EXPECT_FALSE(settings.synchronize());
  auto warnings = log.warnings();
  ASSERT_THAT(warnings, SizeIs(3));
  EXPECT_THAT(warnings[0], HasSubstr("Cannot read settings file"));
  // Refused before trying: a folder cannot be renamed over, but an unreadable file could be.
  EXPECT_THAT(warnings[1], HasSubstr("Settings not saved"));
}

TEST_F(SettingsFileTest, RefusesToStoreAWrongTypeForAKnownKey) {
  SettingsFile settings(file(), kSchema, clock);
  settings.set("T.storeFiles", 5);
  settings.set("T.storeFiles", "6");
  settings.set("T.language", std::string("\xff\xfe")); // not UTF-8: could never be written
  EXPECT_EQ(settings.integer("T.storeFiles"), 5);
  EXPECT_FALSE(settings.contains("T.language"));
  EXPECT_EQ(onDisk(), (nlohmann::json{{"T.storeFiles", 5}}));
  EXPECT_THAT(log.lines(), SizeIs(2));
}

TEST_F(SettingsFileTest, RemoveAllExceptKeepsOnlyTheNamedKeys) {
  writeFile(file(), R"({"a": 1, "b": 2, "c": 3})");
  SettingsFile settings(file(), {}, clock);
  settings.removeAllExcept({"b", "not-there"});
  EXPECT_EQ(onDisk(), (nlohmann::json{{"b", 2}}));
}

} // namespace
} // namespace orvex
