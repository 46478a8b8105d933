#include "UI/OVPreferredLanguages.h"

#include <algorithm>

namespace orvex {
namespace {

constexpr size_t kMaxLanguageCodeLength = 32;

bool isCodeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

void addCandidate(std::vector<std::string>& candidates, std::string_view code) {
  if (isValidLanguageCode(code) && std::find(candidates.begin(), candidates.end(), code) == candidates.end()) {
    candidates.emplace_back(code);
  }
}

// "de_DE.UTF-8@euro" -> "de_DE", then "de".
void addLocale(std::vector<std::string>& candidates, std::string_view locale) {
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") {
    return;
  }
  addCandidate(candidates, name);
  const size_t territory = name.find('_');
  if (territory != std::string_view::npos) {
    addCandidate(candidates, name.substr(0, territory));
  }
}

std::string valueOf(const EnvironmentLookup& environment, const char* name) {
  return environment(name).value_or(std::string());
}

} // namespace

bool isValidLanguageCode(std::string_view code) {
  return !code.empty() && code.size() <= kMaxLanguageCodeLength &&
         std::all_of(code.begin(), code.end(), isCodeCharacter);
}

std::vector<std::string> preferredLanguages(const EnvironmentLookup& environment) {
  std::vector<std::string> candidates;
  const std::string list = valueOf(environment, "LANGUAGE");
  std::string_view rest = list;
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    addLocale(candidates, rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  // As for message texts in POSIX: LC_ALL overrides LC_MESSAGES, which overrides LANG.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string locale = valueOf(environment, name);
    if (!locale.empty()) {
      addLocale(candidates, locale);
      break;
    }
  }
  return candidates;
}

} // namespace orvex
