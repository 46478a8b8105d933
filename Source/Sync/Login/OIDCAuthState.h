// The login as the client keeps it between runs: the tokens, when the access
// token expires, the scope granted, the state of the last authorization
// response (sent again at logout) and whether the provider has refused the grant.
#pragma once

#include "Dispatch/Clock.h"
#include "Sync/Login/OIDCRecords.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace orvex {

// A plain value; the owner replaces it whole rather than changing one shared
// between threads.
struct OIDCAuthState {
  std::string issuer; // whose tokens these are
  std::string accessToken;
  std::optional<Clock::WallTime> accessTokenExpiration; // none: no lifetime was stated
  std::string refreshToken;
  std::string idToken;
  std::string scope;
  std::string authorizationState; // the "state" of the last authorization response
  // Set when the provider refused the refresh token: the login is over.
  std::optional<std::string> authorizationError;

  // Tokens to use and no refusal from the provider.
  bool isAuthorized() const;
  // The access token is missing or expires within `tolerance` of `now`.
  bool needsRefresh(Clock::WallTime now, Clock::Duration tolerance) const;
  // Takes a token reply received at `now`. A reply without a refresh token
  // keeps the current one (providers that do not rotate them), one without a
  // scope keeps the scope held, one without an ID token keeps the current one.
  void apply(const OIDCTokenResponse& response, Clock::WallTime now);

  // The persisted form; an empty object stands for no login.
  nlohmann::json toJSON() const;
  // nullopt for an empty object or anything that is not a state written by toJSON.
  static std::optional<OIDCAuthState> fromJSON(const nlohmann::json& json);

  friend bool operator==(const OIDCAuthState&, const OIDCAuthState&) = default;
};

} // namespace orvex
