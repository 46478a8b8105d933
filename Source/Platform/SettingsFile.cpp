#include "Platform/SettingsFile.h"

#include "OVLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/KeepAside.h"
#include "Platform/WholeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

namespace orvex {
namespace {

constexpr mode_t kSettingsMode = 0600;

bool hasType(const nlohmann::json& value, SettingType type) {
  switch (type) {
    case SettingType::Any:
      return true;
    case SettingType::String:
      return value.is_string();
    case SettingType::Boolean:
      return value.is_boolean();
    case SettingType::Integer:
      return value.is_number_integer() &&
             (!value.is_number_unsigned() ||
              value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
  }
  return false;
}

const char* typeName(SettingType type) {
  switch (type) {
    case SettingType::Any:
      return "any value";
    case SettingType::String:
      return "a string";
    case SettingType::Integer:
      return "an integer";
    case SettingType::Boolean:
      return "a boolean";
  }
  return "?";
}

} // namespace

SettingsFile::SettingsFile(std::filesystem::path path, SettingsSchema schema, Clock& clock)
    : path_(std::move(path)), schema_(std::move(schema)), clock_(clock) {
  load();
}

void SettingsFile::load() {
  WholeFile file = readWholeFile(path_);
  if (!file.exists)
    return; // first start: nothing stored yet
  if (file.error != 0) {
    OVLog(kLogMain, "Warning! Cannot read settings file {}: {}; defaults apply and the file is left untouched",
          path_.string(), std::error_code(file.error, std::generic_category()).message());
    writeBlocked_ = true;
    return;
  }
  nlohmann::json parsed = nlohmann::json::parse(file.text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    const char* what = parsed.is_discarded() ? "is not valid JSON" : "does not hold a JSON object";
    std::optional<std::filesystem::path> aside = keepAside(false);
    if (aside) {
      OVLog(kLogMain, "Warning! Settings file {} {}; moved to {}, defaults apply", path_.string(), what,
            aside->string());
    } else {
      OVLog(kLogMain,
            "Warning! Settings file {} {} and cannot be moved aside; defaults apply and the file is left untouched",
            path_.string(), what);
      writeBlocked_ = true;
    }
    return;
  }
  values_ = std::move(parsed);
  dropMistypedKeys();
}

// A key of the wrong type falls back to its default; the file as found is kept
// so that an administrator's edit is not lost by the next write.
void SettingsFile::dropMistypedKeys() {
  std::optional<std::filesystem::path> aside;
  bool keptAside = false;
  for (const auto& [key, type] : schema_) {
    auto found = values_.find(key);
    if (found == values_.end() || hasType(*found, type))
      continue;
    if (!keptAside) {
      aside = keepAside(true);
      keptAside = true;
      if (!aside)
        writeBlocked_ = true;
    }
    OVLog(kLogMain, "Warning! Settings key \"{}\" should hold {} but holds {}; its default applies ({})", key,
          typeName(type), found->dump(), aside ? "file copied to " + aside->string() : "file left untouched");
    values_.erase(found);
  }
}

std::optional<std::filesystem::path> SettingsFile::keepAside(bool copy) {
  return keepFileAside(path_, clock_.wallNow(), copy);
}

std::optional<nlohmann::json> SettingsFile::value(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end())
    return std::nullopt;
  return *found;
}

bool SettingsFile::contains(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return values_.contains(key);
}

std::optional<std::string> SettingsFile::string(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end() || !found->is_string())
    return std::nullopt;
  return found->get<std::string>();
}

std::optional<std::int64_t> SettingsFile::integer(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end() || !hasType(*found, SettingType::Integer))
    return std::nullopt;
  return found->get<std::int64_t>();
}

std::optional<bool> SettingsFile::boolean(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end() || !found->is_boolean())
    return std::nullopt;
  return found->get<bool>();
}

std::vector<std::string> SettingsFile::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (const auto& item : values_.items())
    result.push_back(item.key());
  return result;
}

void SettingsFile::set(const std::string& key, nlohmann::json value) {
  std::lock_guard lock(mutex_);
  auto known = schema_.find(key);
  if (known != schema_.end() && !hasType(value, known->second)) {
    // A caller bug: storing it would make the next start discard the key anyway.
    OVLog(kLogMain, "Error! Settings key \"{}\" must hold {}, not {}; not stored", key, typeName(known->second),
          value.dump());
    return;
  }
  try {
    (void)value.dump(); // strings must be valid UTF-8, or no later write would succeed
  } catch (const nlohmann::json::exception& error) {
    OVLog(kLogMain, "Error! Settings key \"{}\" not stored: {}", key, error.what());
    return;
  }
  values_[key] = std::move(value);
  writeLocked();
}

void SettingsFile::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  writeLocked();
}

void SettingsFile::removeAllExcept(const std::set<std::string>& kept) {
  std::lock_guard lock(mutex_);
  nlohmann::json remaining = nlohmann::json::object();
  for (const auto& item : values_.items()) {
    if (kept.count(item.key()) != 0)
      remaining[item.key()] = item.value();
  }
  values_ = std::move(remaining);
  writeLocked();
}

bool SettingsFile::synchronize() {
  std::lock_guard lock(mutex_);
  return writeLocked();
}

// Caller holds mutex_, which also keeps two writers from racing on the file.
bool SettingsFile::writeLocked() {
  if (writeBlocked_) {
    OVLog(kLogMain, "Warning! Settings not saved: {} could not be read or kept aside and is left untouched",
          path_.string());
    return false;
  }
  if (auto error = writeFileAtomically(path_, values_.dump(2) + "\n", kSettingsMode)) {
    OVLog(kLogMain, "Warning! Cannot write settings file {}: {}", path_.string(), error.message());
    return false;
  }
  return true;
}

} // namespace orvex
