// The interface language: which language the user sees, its string table, and
// the registry of controls to re-text when the language changes at run time.
#pragma once

#include "Platform/SettingsFile.h"
#include "Platform/XdgDirs.h"
#include "UI/OVLocalizable.h"
#include "UI/OVPreferredLanguages.h"
#include "UI/OVStringTable.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace orvex {

// Threads: every member is called on the main (user-interface) thread only, so
// the language, the table and the registry are not locked. The one exception
// is the free function OVLocalizedString: it reads a snapshot of the
// process-wide instance's table that setLanguage publishes under a mutex of
// its own, so background code may localize texts (alerts) at any time.
//
// The application owns one instance and makes it the process-wide one with
// setShared; tests build as many as they like, each with its own settings,
// table folder and environment.
class OVLocalization {
 public:
  // `tableFolder` holds one "<code>.po" per language.
  OVLocalization(SettingsFile& settings, std::string appTitle, std::filesystem::path tableFolder,
                 EnvironmentLookup environment = XdgEnvironment::process().variable);
  OVLocalization(const OVLocalization&) = delete;
  OVLocalization& operator=(const OVLocalization&) = delete;
  // Stops being the process-wide instance if it was one.
  ~OVLocalization();

  // The installed "<prefix>/share/orvex/Localization" when `executable` is
  // "<prefix>/bin/<name>" and that folder exists, else the source tree's
  // `sourceResources`/Localization (a program run from its build tree).
  static std::filesystem::path locateTableFolder(const std::filesystem::path& executable,
                                                 const std::filesystem::path& sourceResources);
  // locateTableFolder for this process.
  static std::filesystem::path defaultTableFolder();

  // The instance controls register with; nullptr before setShared. Main thread.
  static OVLocalization* shared();
  // Makes `instance` (or none) the one OVLocalizedString and shared() use and
  // publishes its current table.
  static void setShared(OVLocalization* instance);

  // Once per instance: chooses the language and loads its table.
  void setup();

  // appTitle + ".language": each brand remembers its own choice.
  std::string whiteLabeledLocalizationKey() const;

  // The current language; chosen on the first call (stored setting, the
  // setting of earlier versions, the user's preferred languages with a table,
  // else "en") and switched to at once.
  std::string language();

  // Reads and removes the setting "Orvex_language" of earlier versions;
  // nullopt when it held no language.
  std::optional<std::string> getLanguageFromOldKey();

  // Makes `code` current, writes it to the settings at once, loads its table
  // (empty when the table is missing, unreadable, or the code is not a valid
  // language code) and re-texts every registered control.
  void setLanguage(const std::string& code);

  // Registers a control; registering it again keeps one entry.
  void addLocalizedObject(OVLocalizable& object);
  // Unregisters a control; every control calls this before it is destroyed.
  void deleteLocalizedObject(OVLocalizable& object);
  // Calls localize() on every registered control, in no particular order. A
  // control unregistered by another's localize() during the walk is skipped.
  void localizeObjects();

  // The lookup against this instance's table (see OVLocalizedString).
  std::string localizedString(std::string_view key) const;

 private:
  std::optional<std::filesystem::path> tablePath(const std::string& code) const;
  std::optional<std::string> firstPreferredLanguageWithTable() const;

  // Constant after construction.
  SettingsFile& settings_;
  const std::string appTitle_;
  const std::filesystem::path tableFolder_;
  const EnvironmentLookup environment_;

  // Main thread only.
  std::string localizationLanguage_; // empty until first chosen
  std::shared_ptr<const OVStringTable> localizationDict_ = std::make_shared<const OVStringTable>();
  std::unordered_set<OVLocalizable*> localizedObjects_; // keyed by the control's address
  bool localizationInitialized_ = false;
};

// The text to show for `key` in the current language: the translation when the
// process-wide table has a non-empty one, else the key itself; "" for a null
// or empty key (and the key itself while no instance is shared). The comment is
// for translators only. Callable from any thread.
std::string OVLocalizedString(std::string_view key, std::string_view comment = {});
std::string OVLocalizedString(const char* key, const char* comment = nullptr);

} // namespace orvex
