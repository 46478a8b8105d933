#include "Admin/FaultRule.h"

#include "Config/ConfigReader.h"

#include <cctype>

namespace orvex::service {
namespace {

constexpr std::int64_t kMaxDelayMilliseconds = std::int64_t{3600} * 1000;

bool sameCharacter(char a, char b, bool ignoreCase) {
  if (!ignoreCase)
    return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

} // namespace

bool globMatches(std::string_view pattern, std::string_view text, bool ignoreCase) {
  // Iterative matching with one backtrack point (the last "*"): linear in
  // practice and never recursive, whatever pattern the caller sends.
  std::size_t p = 0, t = 0;
  std::optional<std::size_t> star;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starText = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || sameCharacter(pattern[p], text[t], ignoreCase))) {
      ++p;
      ++t;
    } else if (star) {
      p = *star + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

bool FaultRule::matches(const std::string& requestHost, const std::string& requestMethod,
                        const std::string& requestPath) const {
  return (!host || globMatches(*host, requestHost, true)) && (!method || globMatches(*method, requestMethod, true)) &&
         (!path || globMatches(*path, requestPath, false));
}

FaultRule FaultRule::fromJson(const nlohmann::json& json) {
  ConfigObject object(json, "fault rule", "");
  object.allowOnly({"Host", "Method", "Path", "Status", "Body", "ContentType", "DelayMs", "Stall", "DropAfterBytes",
                    "StallAfterBytes", "Times"});
  FaultRule rule;
  rule.host = object.optionalString("Host");
  rule.method = object.optionalString("Method");
  rule.path = object.optionalString("Path");
  if (auto status = object.optionalInteger("Status", 100, 599))
    rule.status = static_cast<int>(*status);
  if (object.has("Body")) {
    const nlohmann::json& body = object.json().at("Body");
    // A text goes out byte for byte; an object or a list as its compact JSON.
    rule.body = body.is_string() ? body.get<std::string>() : body.dump();
    if (!rule.status)
      object.fail("Body", "needs a \"Status\"");
  }
  rule.contentType = object.optionalString("ContentType").value_or("application/json; charset=utf-8");
  if (auto delay = object.optionalInteger("DelayMs", 0, kMaxDelayMilliseconds))
    rule.delay = std::chrono::milliseconds(*delay);
  rule.stall = object.optionalBool("Stall").value_or(false);
  rule.dropAfterBytes = object.optionalInteger("DropAfterBytes", 0, INT64_MAX);
  rule.stallAfterBytes = object.optionalInteger("StallAfterBytes", 0, INT64_MAX);
  rule.times = object.optionalInteger("Times", 1, INT64_MAX);
  if (rule.stall && rule.delay)
    object.fail("Stall", "cannot be combined with \"DelayMs\"");
  if (rule.stallAfterBytes && (rule.stall || rule.delay || rule.dropAfterBytes))
    object.fail("StallAfterBytes", "cannot be combined with \"Stall\", \"DelayMs\" or \"DropAfterBytes\"");
  if (!rule.status && !rule.delay && !rule.stall && !rule.dropAfterBytes && !rule.stallAfterBytes)
    object.fail("Status",
                "is missing: a rule needs one of \"Status\", \"DelayMs\", \"Stall\", \"DropAfterBytes\" "
                "and \"StallAfterBytes\"");
  return rule;
}

nlohmann::json FaultRule::toJson() const {
  nlohmann::json json{{"Id", id}};
  auto put = [&json](const char* key, const auto& value) {
    if (value)
      json[key] = *value;
  };
  put("Host", host);
  put("Method", method);
  put("Path", path);
  put("Status", status);
  if (status) {
    json["Body"] = body;
    json["ContentType"] = contentType;
  }
  if (delay)
    json["DelayMs"] = delay->count();
  if (stall)
    json["Stall"] = true;
  put("DropAfterBytes", dropAfterBytes);
  put("StallAfterBytes", stallAfterBytes);
  put("Times", times);
  return json;
}

} // namespace orvex::service
