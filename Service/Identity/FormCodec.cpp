#include "Identity/FormCodec.h"

#include <cctype>

namespace orvex::service {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace

std::string FormParameters::get(const std::string& name) const {
  auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
      int low = high >= 0 ? hexValue(text[i + 2]) : -1;
      if (low < 0)
        return std::nullopt;
      decoded.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      decoded.push_back(plusIsSpace && c == '+' ? ' ' : c);
    }
  }
  return decoded;
}

std::optional<FormParameters> parseForm(std::string_view text) {
  FormParameters form;
  while (!text.empty()) {
    auto end = text.find('&');
    std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (pair.empty())
      continue;
    auto equals = pair.find('=');
    auto name = percentDecode(pair.substr(0, equals), true);
    auto value = percentDecode(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1), true);
    if (!name || !value)
      return std::nullopt;
    if (!form.values.emplace(*name, *value).second)
      form.repeated.push_back(*name);
  }
  return form;
}

std::string_view queryOf(std::string_view target) {
  auto mark = target.find('?');
  return mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded += {'%', kHex[c >> 4], kHex[c & 0x0F]};
    }
  }
  return encoded;
}

std::string appendQuery(const std::string& uri, const std::vector<std::pair<std::string, std::string>>& parameters) {
  std::string result = uri;
  char separator = uri.find('?') == std::string::npos ? '?' : '&';
  for (const auto& [name, value] : parameters) {
    if (value.empty())
      continue;
    result += separator + percentEncode(name) + "=" + percentEncode(value);
    separator = '&';
  }
  return result;
}

} // namespace orvex::service
