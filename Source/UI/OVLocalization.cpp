#include "UI/OVLocalization.h"

#include "Platform/ResourceLocator.h"

#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace orvex {
namespace {

const char* const kOldLanguageKey = "Orvex_language";
const char* const kDefaultLanguage = "en";

// The process-wide instance: used on the main thread only.
OVLocalization* gShared = nullptr;

// The shared instance's table, read by OVLocalizedString from any thread.
std::mutex gSharedTableMutex;
std::shared_ptr<const OVStringTable> gSharedTable; // guarded by gSharedTableMutex

// The table replaced is freed after the lock is released, when `table` ends.
void publishSharedTable(std::shared_ptr<const OVStringTable> table) {
  std::lock_guard lock(gSharedTableMutex);
  gSharedTable.swap(table);
}

std::shared_ptr<const OVStringTable> sharedTableSnapshot() {
  std::lock_guard lock(gSharedTableMutex);
  return gSharedTable;
}

} // namespace

OVLocalization::OVLocalization(SettingsFile& settings, std::string appTitle, std::filesystem::path tableFolder,
                               EnvironmentLookup environment)
    : settings_(settings),
      appTitle_(std::move(appTitle)),
      tableFolder_(std::move(tableFolder)),
      environment_(std::move(environment)) {}

OVLocalization::~OVLocalization() {
  if (gShared == this) {
    setShared(nullptr);
  }
}

std::filesystem::path OVLocalization::locateTableFolder(const std::filesystem::path& executable,
                                                        const std::filesystem::path& sourceResources) {
  return locateResource("Localization", executable, sourceResources);
}

std::filesystem::path OVLocalization::defaultTableFolder() {
  return processResource("Localization");
}

OVLocalization* OVLocalization::shared() {
  return gShared;
}

void OVLocalization::setShared(OVLocalization* instance) {
  gShared = instance;
  publishSharedTable(instance != nullptr ? instance->localizationDict_ : nullptr);
}

void OVLocalization::setup() {
  if (localizationInitialized_) {
    return;
  }
  localizationInitialized_ = true;
  language();
}

std::string OVLocalization::whiteLabeledLocalizationKey() const {
  return appTitle_ + ".language";
}

std::string OVLocalization::language() {
  if (!localizationLanguage_.empty()) {
    return localizationLanguage_;
  }
  std::string code = kDefaultLanguage;
  // An empty stored value names no language; it would otherwise be chosen
  // again on every call.
  if (auto stored = settings_.string(whiteLabeledLocalizationKey()); stored && !stored->empty()) {
    code = std::move(*stored);
  } else if (auto old = getLanguageFromOldKey()) {
    code = std::move(*old);
  } else if (auto preferred = firstPreferredLanguageWithTable()) {
    code = std::move(*preferred);
  }
  setLanguage(code);
  return localizationLanguage_;
}

std::optional<std::string> OVLocalization::getLanguageFromOldKey() {
  if (!settings_.contains(kOldLanguageKey)) {
    return std::nullopt;
  }
  std::optional<std::string> old = settings_.string(kOldLanguageKey);
  settings_.remove(kOldLanguageKey);
  if (old && old->empty()) {
    return std::nullopt;
  }
  return old;
}

void OVLocalization::setLanguage(const std::string& code) {
  localizationLanguage_ = code;
  settings_.set(whiteLabeledLocalizationKey(), code); // writes the file at once
  const std::optional<std::filesystem::path> path = tablePath(code);
  localizationDict_ = std::make_shared<const OVStringTable>(path ? readStringTable(*path) : OVStringTable());
  if (gShared == this) {
    publishSharedTable(localizationDict_);
  }
  localizeObjects();
}

void OVLocalization::addLocalizedObject(OVLocalizable& object) {
  localizedObjects_.insert(&object);
}

void OVLocalization::deleteLocalizedObject(OVLocalizable& object) {
  localizedObjects_.erase(&object);
}

void OVLocalization::localizeObjects() {
  // A control's localize() may create or destroy other controls, which changes
  // the registry under the walk; walk a copy and skip the ones gone meanwhile.
  const std::vector<OVLocalizable*> objects(localizedObjects_.begin(), localizedObjects_.end());
  for (OVLocalizable* object : objects) {
    if (localizedObjects_.contains(object)) {
      object->localize();
    }
  }
}

std::string OVLocalization::localizedString(std::string_view key) const {
  return lookupString(*localizationDict_, key);
}

// The code becomes a file name; a code from the settings file or the
// environment is checked first so that it cannot name a file elsewhere.
std::optional<std::filesystem::path> OVLocalization::tablePath(const std::string& code) const {
  if (!isValidLanguageCode(code)) {
    return std::nullopt;
  }
  return tableFolder_ / (code + ".po");
}

std::optional<std::string> OVLocalization::firstPreferredLanguageWithTable() const {
  for (const std::string& code : preferredLanguages(environment_)) {
    std::error_code error;
    if (auto path = tablePath(code); path && std::filesystem::is_regular_file(*path, error)) {
      return code;
    }
  }
  return std::nullopt;
}

std::string OVLocalizedString(std::string_view key, std::string_view /*comment*/) {
  if (key.empty()) {
    return {};
  }
  const std::shared_ptr<const OVStringTable> table = sharedTableSnapshot();
  return table ? lookupString(*table, key) : std::string(key);
}

std::string OVLocalizedString(const char* key, const char* /*comment*/) {
  return key == nullptr ? std::string() : OVLocalizedString(std::string_view(key));
}

} // namespace orvex
