#include "Crypto/Jwt.h"

#include "Crypto/Base64Url.h"

#include <array>

namespace orvex::service {

namespace {

// The three dot-separated parts, or nullopt when there are not exactly three.
std::optional<std::array<std::string_view, 3>> splitToken(std::string_view token) {
  auto first = token.find('.');
  if (first == std::string_view::npos)
    return std::nullopt;
  auto second = token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
    return std::nullopt;
  return std::array<std::string_view, 3>{token.substr(0, first), token.substr(first + 1, second - first - 1),
                                         token.substr(second + 1)};
}

std::optional<nlohmann::json> decodeObject(std::string_view part) {
  auto text = base64UrlDecode(part);
  if (!text)
    return std::nullopt;
  auto json = nlohmann::json::parse(*text, nullptr, false);
  if (json.is_discarded() || !json.is_object())
    return std::nullopt;
  return json;
}

bool isText(const nlohmann::json& object, const char* name, std::string_view expected) {
  auto it = object.find(name);
  return it != object.end() && it->is_string() && it->get_ref<const std::string&>() == expected;
}

} // namespace

std::string signJwt(const nlohmann::json& claims, const RsaKey& key, std::string_view type) {
  nlohmann::json header = {{"alg", "RS256"}, {"typ", type}, {"kid", key.keyId()}};
  std::string signingInput = base64UrlEncode(header.dump()) + "." + base64UrlEncode(claims.dump());
  return signingInput + "." + base64UrlEncode(key.signSha256(signingInput));
}

std::optional<nlohmann::json> verifyJwt(std::string_view token, const RsaKey& key, std::string_view type) {
  auto parts = splitToken(token);
  if (!parts)
    return std::nullopt;
  auto header = decodeObject((*parts)[0]);
  if (!header || !isText(*header, "alg", "RS256") || !isText(*header, "typ", type) ||
      !isText(*header, "kid", key.keyId())) {
    return std::nullopt;
  }
  auto signature = base64UrlDecode((*parts)[2]);
  if (!signature)
    return std::nullopt;
  std::string_view signingInput = token.substr(0, (*parts)[0].size() + 1 + (*parts)[1].size());
  if (!key.verifySha256(signingInput, *signature))
    return std::nullopt;
  return decodeObject((*parts)[1]);
}

std::optional<nlohmann::json> decodeJwtClaims(std::string_view token) {
  auto parts = splitToken(token);
  if (!parts)
    return std::nullopt;
  return decodeObject((*parts)[1]);
}

} // namespace orvex::service
