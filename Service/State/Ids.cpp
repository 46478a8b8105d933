#include "State/Ids.h"

#include "Crypto/Digest.h"

#include <algorithm>

namespace orvex::service {

namespace {
constexpr std::size_t kServiceIdDigits = 32;
constexpr std::size_t kMaxClientId = 128;
} // namespace

std::string hexText(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

std::string newServiceId() {
  return hexText(randomBytes(kServiceIdDigits / 2));
}

std::string newGuid() {
  std::string bytes = randomBytes(16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x40); // version 4
  bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
  std::string hex = hexText(bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

std::string derivedId(std::string_view text) {
  return hexText(sha256(text)).substr(0, kServiceIdDigits);
}

bool isServiceId(std::string_view id) {
  return id.size() == kServiceIdDigits &&
         std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isClientId(std::string_view id) {
  return !id.empty() && id.size() <= kMaxClientId && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
  });
}

} // namespace orvex::service
