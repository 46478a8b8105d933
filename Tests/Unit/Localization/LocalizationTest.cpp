// Choosing the interface language, switching it, and re-texting registered controls.
#include "UI/OVLocalization.h"

#include "Support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace orvex {
namespace {

using test::TempDir;
using test::writeFile;

const char* const kNewKey = "Orvex.language";
const char* const kOldKey = "Orvex_language";

// Reads variables from `environment`, which the test may change later.
EnvironmentLookup lookupIn(const std::map<std::string, std::string>& environment) {
  return [&environment](const std::string& name) -> std::optional<std::string> {
    auto found = environment.find(name);
    return found == environment.end() ? std::nullopt : std::optional(found->second);
  };
}

// Counts its re-textings and shows what the table says for "Cancel".
class FakeControl : public OVLocalizable {
 public:
  void localize() override {
    ++localizeCount;
    text = OVLocalizedString("Cancel", "");
    if (onLocalize) {
      onLocalize();
    }
  }
  int localizeCount = 0;
  std::string text;
  std::function<void()> onLocalize;
};

class LocalizationTest : public ::testing::Test {
 protected:
  LocalizationTest() {
    std::filesystem::create_directories(tables);
    writeTable("en", "Cancel", "");
    writeTable("de", "Cancel", "Abbrechen");
    writeTable("fr", "Cancel", "Annuler");
  }

  void writeTable(const std::string& code, const std::string& key, const std::string& text) {
    writeFile(tables / (code + ".po"), "msgid \"" + key + "\"\nmsgstr \"" + text + "\"\n");
  }

  std::unique_ptr<SettingsFile> openSettings() {
    return std::make_unique<SettingsFile>(dir / "settings.json", SettingsSchema{});
  }

  // A localization over the temporary tables and settings, shared for OVLocalizedString.
  std::unique_ptr<OVLocalization> makeLocalization() {
    auto localization = std::make_unique<OVLocalization>(*settings, "Orvex", tables, lookupIn(environment));
    OVLocalization::setShared(localization.get());
    return localization;
  }

  TempDir dir;
  std::filesystem::path tables = dir / "Localization";
  std::unique_ptr<SettingsFile> settings = openSettings();
  std::map<std::string, std::string> environment;
};

TEST_F(LocalizationTest, StoredSettingWinsOverThePreferredLanguages) {
  settings->set(kNewKey, "fr");
  environment["LANGUAGE"] = "de";
  auto localization = makeLocalization();
  localization->setup();

  EXPECT_EQ(localization->language(), "fr");
  EXPECT_EQ(OVLocalizedString("Cancel", ""), "Annuler");
  EXPECT_EQ(OVLocalizedString("Not in any table", ""), "Not in any table");
  EXPECT_EQ(OVLocalizedString("", ""), "");
  EXPECT_EQ(OVLocalizedString(nullptr, nullptr), "");
}

TEST_F(LocalizationTest, OldSettingIsMigratedAndRemoved) {
  settings->set(kOldKey, "de");
  auto localization = makeLocalization();

  EXPECT_EQ(localization->language(), "de");
  EXPECT_EQ(OVLocalizedString("Cancel"), "Abbrechen");
  // What a later start reads from disk.
  settings.reset();
  auto reread = openSettings();
  EXPECT_EQ(reread->string(kNewKey), "de");
  EXPECT_FALSE(reread->contains(kOldKey));
}

TEST_F(LocalizationTest, PreferredLanguagesAreTriedInOrderElseEnglish) {
  // de_AT has no table of its own and falls back to de before fr is tried.
  environment = {{"LANGUAGE", "it:de_AT.UTF-8@euro:fr"}, {"LANG", "fr_FR.UTF-8"}};
  EXPECT_EQ(makeLocalization()->language(), "de");

  settings->remove(kNewKey);
  environment = {{"LANGUAGE", "it:xx"}, {"LC_ALL", ""}, {"LC_MESSAGES", "C.UTF-8"}, {"LANG", "fr_FR"}};
  EXPECT_EQ(makeLocalization()->language(), "en");
  EXPECT_EQ(settings->string(kNewKey), "en");
}

TEST(PreferredLanguages, FollowPosixPrecedenceAndSkipBadCodes) {
  std::map<std::string, std::string> environment = {{"LANGUAGE", "pt_BR::de/../x:de_AT"},
                                                    {"LC_ALL", ""},
                                                    {"LC_MESSAGES", "fr_CA.UTF-8@euro"},
                                                    {"LANG", "es_ES.UTF-8"}};
  const EnvironmentLookup lookup = lookupIn(environment);
  EXPECT_EQ(preferredLanguages(lookup), (std::vector<std::string>{"pt_BR", "pt", "de_AT", "de", "fr_CA", "fr"}));
  environment = {{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}};
  EXPECT_TRUE(preferredLanguages(lookup).empty());
}

TEST_F(LocalizationTest, MaliciousStoredLanguageStaysInsideTheTableFolder) {
  writeTable("../secret", "Cancel", "leaked");
  std::filesystem::create_directory(tables / "sub");
  const std::string tooLong(33, 'a');
  writeTable(tooLong, "Cancel", "too long");
  for (const std::string& code : {std::string("../secret"), std::string("sub/../../secret"), tooLong}) {
    SCOPED_TRACE(code);
    auto localization = makeLocalization();
    localization->setLanguage(code);
    EXPECT_EQ(OVLocalizedString("Cancel"), "Cancel");
  }
  EXPECT_TRUE(isValidLanguageCode("pt-BR"));
  EXPECT_TRUE(isValidLanguageCode("zh_Hant_TW"));
}

TEST_F(LocalizationTest, SwitchingRetextsEveryLiveRegisteredControl) {
  auto localization = makeLocalization();
  localization->setLanguage("en");
  FakeControl first, second, unregistered;
  auto deleted = std::make_unique<FakeControl>();
  localization->addLocalizedObject(first);
  localization->addLocalizedObject(first); // once only
  localization->addLocalizedObject(second);
  localization->addLocalizedObject(*deleted);
  localization->deleteLocalizedObject(*deleted);
  deleted.reset(); // touching it now would be a use after free

  localization->setLanguage("de");

  EXPECT_EQ(first.localizeCount, 1);
  EXPECT_EQ(first.text, "Abbrechen");
  EXPECT_EQ(second.text, "Abbrechen");
  EXPECT_EQ(unregistered.localizeCount, 0);
}

TEST_F(LocalizationTest, ControlDestroyedDuringTheWalkIsSkipped) {
  auto localization = makeLocalization();
  // Whichever is re-texted first closes the other, as a window closing its sheet would.
  std::vector<std::unique_ptr<FakeControl>> controls;
  controls.push_back(std::make_unique<FakeControl>());
  controls.push_back(std::make_unique<FakeControl>());
  int localized = 0;
  for (int i = 0; i < 2; ++i) {
    controls[i]->onLocalize = [&, other = 1 - i] {
      ++localized;
      localization->deleteLocalizedObject(*controls[other]);
      controls[other].reset();
    };
    localization->addLocalizedObject(*controls[i]);
  }

  localization->setLanguage("fr"); // touching the closed one would be a use after free

  EXPECT_EQ(localized, 1);
}

TEST_F(LocalizationTest, DestroyedSharedInstanceLeavesKeys) {
  auto localization = makeLocalization();
  localization->setLanguage("de");
  ASSERT_EQ(OVLocalizedString("Cancel"), "Abbrechen");
  localization.reset();
  EXPECT_EQ(OVLocalization::shared(), nullptr);
  EXPECT_EQ(OVLocalizedString("Cancel"), "Cancel");
}

} // namespace
} // namespace orvex
