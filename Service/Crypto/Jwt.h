// Compact JSON Web Tokens signed with RS256, the only algorithm the service
// issues or accepts.
#pragma once

#include "Crypto/RsaKey.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace orvex::service {

// header.payload.signature with header {"alg":"RS256","typ":type,"kid":key id}.
// Throws std::runtime_error when the key cannot sign.
std::string signJwt(const nlohmann::json& claims, const RsaKey& key, std::string_view type = "JWT");

// The claims of `token` when it is three base64url parts, its header has
// "alg" exactly "RS256" (so "none" and every other algorithm are refused),
// "typ" exactly `type` and "kid" naming `key`, its payload is a JSON object,
// and the signature verifies. Lifetime, issuer and audience are the caller's.
std::optional<nlohmann::json> verifyJwt(std::string_view token, const RsaKey& key, std::string_view type = "JWT");

// The claims without any check: for reading an id_token_hint's subject after
// the caller has verified it, or for tests.
std::optional<nlohmann::json> decodeJwtClaims(std::string_view token);

} // namespace orvex::service
