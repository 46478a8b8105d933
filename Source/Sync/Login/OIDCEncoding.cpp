#include "Sync/Login/OIDCEncoding.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <charconv>
#include <stdexcept>
#include <vector>

namespace orvex {

std::string base64UrlEncode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  while (!out.empty() && out.back() == '=')
    out.pop_back();
  for (char& c : out)
    c = c == '+' ? '-' : c == '/' ? '_' : c;
  return out;
}

std::optional<std::string> base64UrlDecode(std::string_view text) {
  while (!text.empty() && text.back() == '=')
    text.remove_suffix(1);
  if (text.size() % 4 == 1)
    return std::nullopt;
  std::string standard(text);
  for (char& c : standard) {
    if (c == '-')
      c = '+';
    else if (c == '_')
      c = '/';
    else if (c == '+' || c == '/')
      return std::nullopt; // the standard alphabet is not what a JWT uses
  }
  const std::size_t padding = (4 - standard.size() % 4) % 4;
  standard.append(padding, '=');
  std::string out(standard.size() / 4 * 3, '\0');
  int length =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(standard.data()), static_cast<int>(standard.size()));
  if (length < 0)
    return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  out.resize(static_cast<std::size_t>(length) - padding);
  return out;
}

std::string randomUrlSafeText(std::size_t bytes) {
  std::vector<unsigned char> buffer(bytes);
  if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1)
    throw std::runtime_error("the random generator failed");
  return base64UrlEncode(std::string_view(reinterpret_cast<const char*>(buffer.data()), buffer.size()));
}

std::string pkceChallengeS256(std::string_view verifier) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
  return base64UrlEncode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

namespace {

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      if (i + 2 >= text.size())
        return std::nullopt;
      unsigned value = 0;
      auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      if (ec != std::errc() || end != text.data() + i + 3)
        return std::nullopt;
      out += static_cast<char>(value);
      i += 2;
    }
  }
  return out;
}

} // namespace

std::optional<std::map<std::string, std::string>> parseQuery(std::string_view query) {
  std::map<std::string, std::string> values;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty())
      continue;
    std::size_t eq = pair.find('=');
    auto name = percentDecode(pair.substr(0, eq));
    auto value = percentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
    if (!name || !value || !values.emplace(*name, *value).second)
      return std::nullopt;
  }
  return values;
}

} // namespace orvex
