// What an OpenID provider sends the client: its discovery document, a token
// reply, an error reply of the token endpoint, and the claims of a JWT.
// Reading never throws; a failed read says why, for the log.
#pragma once

#include "Sync/WireResult.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// The endpoints of a provider, from ".well-known/openid-configuration".
struct OIDCConfiguration {
  std::string issuer;
  std::string authorizationEndpoint;
  std::string tokenEndpoint;
  std::optional<std::string> endSessionEndpoint; // RP-initiated logout is optional for a provider

  // Refuses a document that is not a JSON object, lacks an endpoint, names an
  // endpoint that is not https, or names another issuer than `expectedIssuer`
  // (a trailing "/" aside): a document for someone else would send our code there.
  static WireResult<OIDCConfiguration> fromJSONText(std::string_view text, std::string_view expectedIssuer);
  // Where the document of `issuer` is served.
  static std::string discoveryURL(std::string_view issuer);
};

// A successful reply of the token endpoint.
struct OIDCTokenResponse {
  std::string accessToken;
  std::string tokenType;
  std::optional<std::int64_t> expiresIn;   // seconds; none: the token states no lifetime
  std::optional<std::string> refreshToken; // none on a refresh: the old one stays valid
  std::optional<std::string> idToken;
  std::optional<std::string> scope; // none: the scope asked for was granted

  // Needs "access_token" and a "token_type" of "Bearer" (any case); an
  // "expires_in" given as a number or a numeric text.
  static WireResult<OIDCTokenResponse> fromJSONText(std::string_view text);
};

// An error reply of the token endpoint ("error", "error_description").
struct OIDCTokenError {
  std::string error;
  std::string description;

  // nullopt when `text` is not such a reply.
  static std::optional<OIDCTokenError> fromJSONText(std::string_view text);
  // The grant itself is refused (revoked, expired or spent refresh token, or
  // the client no longer accepted), so retrying cannot help.
  bool refusesGrant() const;
};

// The payload of a JWT, decoded without checking its signature: the client
// only reads what its own provider put there, received over TLS. nullopt when
// `token` is not three dot-separated parts with a JSON object in the middle.
std::optional<nlohmann::json> jwtPayload(std::string_view token);

} // namespace orvex
