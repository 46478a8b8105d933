#include "Network/HttpText.h"

#include <algorithm>
#include <cctype>

namespace orvex {
namespace {

bool isAsciiAlnum(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

} // namespace

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

bool isHttpToken(std::string_view text) {
  constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
  return !text.empty() && std::ranges::all_of(text, [&](char c) {
    return isAsciiAlnum(c) || kSymbols.find(c) != std::string_view::npos;
  });
}

bool isHostName(std::string_view host) {
  constexpr size_t kMaxHostName = 253;
  return !host.empty() && host.size() <= kMaxHostName && host.front() != '.' && host.back() != '.' &&
         host.find("..") == std::string_view::npos &&
         std::ranges::all_of(host, [](char c) { return isAsciiAlnum(c) || c == '-' || c == '.'; });
}

} // namespace orvex
