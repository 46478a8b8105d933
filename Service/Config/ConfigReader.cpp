#include "Config/ConfigReader.h"

#include <algorithm>

namespace orvex::service {

ConfigObject::ConfigObject(const nlohmann::json& value, std::string origin, std::string path)
    : value_(value), origin_(std::move(origin)), path_(std::move(path)) {
  if (!value_.is_object())
    throw ConfigError(origin_ + ": " + (path_.empty() ? "the configuration" : "\"" + path_ + "\"") +
                      " must be a JSON object");
}

std::string ConfigObject::pathOf(const std::string& key) const {
  return path_.empty() ? key : path_ + "." + key;
}

void ConfigObject::fail(const std::string& key, const std::string& why) const {
  throw ConfigError(origin_ + ": \"" + pathOf(key) + "\" " + why);
}

const nlohmann::json* ConfigObject::find(const char* key) const {
  auto found = value_.find(key);
  return found == value_.end() || found->is_null() ? nullptr : &*found;
}

std::string ConfigObject::string(const char* key) const {
  std::optional<std::string> value = optionalString(key);
  if (!value)
    fail(key, "is missing");
  return *value;
}

std::optional<std::string> ConfigObject::optionalString(const char* key) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return std::nullopt;
  if (!value->is_string())
    fail(key, "must be a text");
  return value->get<std::string>();
}

std::optional<std::int64_t> ConfigObject::optionalInteger(const char* key, std::int64_t min, std::int64_t max) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return std::nullopt;
  if (!value->is_number_integer() || (value->is_number_unsigned() && value->get<std::uint64_t>() > INT64_MAX))
    fail(key, "must be an integer");
  std::int64_t number = value->get<std::int64_t>();
  if (number < min || number > max)
    fail(key, "must be between " + std::to_string(min) + " and " + std::to_string(max));
  return number;
}

std::optional<std::uint64_t> ConfigObject::optionalUnsigned(const char* key) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return std::nullopt;
  if (!value->is_number_unsigned() && !(value->is_number_integer() && value->get<std::int64_t>() >= 0))
    fail(key, "must be an integer of 0 or more");
  return value->get<std::uint64_t>();
}

std::optional<bool> ConfigObject::optionalBool(const char* key) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return std::nullopt;
  if (!value->is_boolean())
    fail(key, "must be true or false");
  return value->get<bool>();
}

std::vector<std::string> ConfigObject::strings(const char* key) const {
  std::vector<std::string> texts;
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return texts;
  if (!value->is_array())
    fail(key, "must be a list of texts");
  for (std::size_t i = 0; i < value->size(); ++i) {
    if (!(*value)[i].is_string())
      fail(std::string(key) + "[" + std::to_string(i) + "]", "must be a text");
    texts.push_back((*value)[i].get<std::string>());
  }
  return texts;
}

std::vector<ConfigObject> ConfigObject::objects(const char* key) const {
  std::vector<ConfigObject> list;
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return list;
  if (!value->is_array())
    fail(key, "must be a list of objects");
  for (std::size_t i = 0; i < value->size(); ++i)
    list.emplace_back((*value)[i], origin_, pathOf(key) + "[" + std::to_string(i) + "]");
  return list;
}

std::optional<ConfigObject> ConfigObject::optionalObject(const char* key) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr)
    return std::nullopt;
  return ConfigObject(*value, origin_, pathOf(key));
}

void ConfigObject::allowOnly(std::initializer_list<const char*> known) const {
  for (const auto& item : value_.items()) {
    const std::string& key = item.key();
    if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; }))
      fail(key, "is not a known key");
  }
}

bool isDomainName(const std::string& name) {
  if (name.empty() || name.size() > 253)
    return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = name.find('.', start);
    std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    bool ok = !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-' &&
              std::all_of(label.begin(), label.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
              });
    if (!ok)
      return false;
    if (dot == std::string::npos)
      return true;
    start = dot + 1;
  }
}

} // namespace orvex::service
