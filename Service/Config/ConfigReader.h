// Strict reading of the service's JSON configuration: every value is checked
// for its type and range, keys nobody reads are refused (a misspelt key would
// otherwise be silently ignored), and every error names the key's full path,
// as in "Shares[2].AclType".
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::service {

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A view of one JSON object of the configuration. Throws ConfigError.
class ConfigObject {
 public:
  // `origin` names the file in errors; `path` is the object's own key path ("" at the top).
  ConfigObject(const nlohmann::json& value, std::string origin, std::string path);

  std::string string(const char* key) const;
  std::optional<std::string> optionalString(const char* key) const;
  std::optional<std::int64_t> optionalInteger(const char* key, std::int64_t min, std::int64_t max) const;
  std::optional<std::uint64_t> optionalUnsigned(const char* key) const;
  std::optional<bool> optionalBool(const char* key) const;
  // A list of texts; empty when the key is absent.
  std::vector<std::string> strings(const char* key) const;
  // A list of objects; empty when the key is absent.
  std::vector<ConfigObject> objects(const char* key) const;
  std::optional<ConfigObject> optionalObject(const char* key) const;
  bool has(const char* key) const { return value_.contains(key); }
  const nlohmann::json& json() const { return value_; }

  // Refuses every key not in `known`.
  void allowOnly(std::initializer_list<const char*> known) const;
  // "Shares[2].AclType" for key "AclType" of this object.
  std::string pathOf(const std::string& key) const;
  [[noreturn]] void fail(const std::string& key, const std::string& why) const;

 private:
  const nlohmann::json* find(const char* key) const;

  const nlohmann::json& value_;
  std::string origin_;
  std::string path_;
};

// A DNS name: dot-separated labels of letters, digits and inner hyphens.
bool isDomainName(const std::string& name);

} // namespace orvex::service
