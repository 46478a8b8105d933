// One login in the browser: the authorization request with its secrets (state,
// nonce, PKCE verifier), and the check of the redirect that answers it.
#pragma once

#include "Sync/Login/OIDCRecords.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvex {

// The client as the provider knows it.
struct OIDCClientRegistration {
  std::string clientId;
  std::string clientSecret;
  std::string redirectURI;
  std::string postLogoutRedirectURI;
  std::string scope; // space-separated, in the order asked for
};

// What a redirect to the login address means for the pending request.
struct OIDCRedirectOutcome {
  enum class Kind {
    NotOurs, // another address: not an answer to a login
    Refused, // its state does not match, or it cannot be read: perhaps forged, the login stays pending
    Failed,  // the provider's own answer, but no code: an error, or another issuer (RFC 9207)
    Code,    // the code to exchange
  };
  Kind kind = Kind::NotOurs;
  std::string code;
  std::string message; // why, for the log (never a code or token)
};

// A plain value, made once per login and kept until its redirect arrives.
struct OIDCAuthorizationRequest {
  OIDCConfiguration configuration;
  OIDCClientRegistration client;
  std::string state;
  std::string nonce;
  std::string codeVerifier;
  std::vector<std::pair<std::string, std::string>> additionalParameters;

  // Fresh state, nonce and verifier for `configuration` and `client`.
  static OIDCAuthorizationRequest make(OIDCConfiguration configuration, OIDCClientRegistration client,
                                       std::vector<std::pair<std::string, std::string>> additionalParameters);
  // The address to open in the browser: code flow with PKCE S256.
  std::string url() const;
  // Reads the redirect `url` the browser was sent to.
  OIDCRedirectOutcome handleRedirect(std::string_view url) const;
};

// `endpoint` with `parameters` appended to its query.
std::string appendQuery(std::string_view endpoint, const std::vector<std::pair<std::string, std::string>>& parameters);

} // namespace orvex
