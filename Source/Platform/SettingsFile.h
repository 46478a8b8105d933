// The user's settings: one JSON object in one file, mode 0600, rewritten whole
// and atomically by every change, so that a crash leaves either the old or the
// new file and never half of one.
#pragma once

#include "Dispatch/Clock.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvex {

// The type a known key must hold. Keys not named in a schema may hold anything.
enum class SettingType { Any, String, Integer, Boolean };
using SettingsSchema = std::map<std::string, SettingType>;

// Thread-safe: every member takes mutex_. Reading happens once, at construction;
// a missing file is simply empty. A file that is not a JSON object is moved
// aside as "<name>.broken-<UTC stamp yyyyMMddTHHmmss>", and one holding a known
// key with the wrong type is copied there, with a warning in the main log; the
// affected keys fall back to their defaults. A file that cannot be read or kept
// aside is never written over: the values then live in memory for this run only.
class SettingsFile {
 public:
  SettingsFile(std::filesystem::path path, SettingsSchema schema, Clock& clock = Clock::system());

  std::optional<nlohmann::json> value(const std::string& key) const;
  bool contains(const std::string& key) const;
  // nullopt when the key is absent or holds another type.
  std::optional<std::string> string(const std::string& key) const;
  std::optional<std::int64_t> integer(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  std::vector<std::string> keys() const;

  // Setters write the whole file at once (the settings are small).
  void set(const std::string& key, nlohmann::json value);
  void remove(const std::string& key);
  // Removes every key not in `kept`.
  void removeAllExcept(const std::set<std::string>& kept);
  // Writes the file; false (and a warning) when it cannot be written.
  bool synchronize();

  const std::filesystem::path& path() const { return path_; }

 private:
  // Called from the constructor only, before the object is shared.
  void load();
  void dropMistypedKeys();
  // Renames the file (or copies it, when `copy`) to a free "<name>.broken-<stamp>" name.
  std::optional<std::filesystem::path> keepAside(bool copy);
  bool writeLocked();

  // Constant after construction.
  const std::filesystem::path path_;
  const SettingsSchema schema_;
  Clock& clock_;

  mutable std::mutex mutex_;
  nlohmann::json values_ = nlohmann::json::object(); // guarded by mutex_
  // Set when the file on disk could not be read or kept aside: writing would
  // destroy the only copy of whatever it holds.
  bool writeBlocked_ = false; // guarded by mutex_
};

} // namespace orvex
