#include "Crypto/Base64Url.h"

#include <array>
#include <cstdint>

namespace orvex::service {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<int, 256> makeReverse() {
  std::array<int, 256> table{};
  table.fill(-1);
  for (std::size_t i = 0; i < kAlphabet.size(); ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
  return table;
}
constexpr std::array<int, 256> kReverse = makeReverse();

} // namespace

std::string base64UrlEncode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() * 4 + 2) / 3);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      text.push_back(kAlphabet[(buffer >> bits) & 0x3F]);
    }
  }
  if (bits > 0)
    text.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3F]);
  return text;
}

std::optional<std::string> base64UrlDecode(std::string_view text) {
  if (text.size() % 4 == 1)
    return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() * 3 / 4);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    int value = kReverse[static_cast<unsigned char>(c)];
    if (value < 0)
      return std::nullopt;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  if ((buffer & ((1u << bits) - 1)) != 0)
    return std::nullopt;
  return bytes;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0)
    return std::nullopt;
  std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  std::string urlSafe(text.substr(0, text.size() - padding));
  for (char& c : urlSafe) {
    if (c == '-' || c == '_')
      return std::nullopt;
    if (c == '+')
      c = '-';
    if (c == '/')
      c = '_';
  }
  return base64UrlDecode(urlSafe);
}

} // namespace orvex::service
