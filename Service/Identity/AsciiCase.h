// ASCII case-insensitive comparison: e-mail addresses, domain names, HTTP
// auth schemes and media types are all compared this way.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace orvex::service {

inline bool sameAsciiLetter(unsigned char a, unsigned char b) {
  return std::tolower(a) == std::tolower(b);
}

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameAsciiLetter);
}

inline bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

} // namespace orvex::service
