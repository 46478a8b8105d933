// The client's requests to an OpenID provider: the discovery document, the
// code exchange and the refresh at the token endpoint (client_secret_basic),
// and the end-session address. Each call blocks until the provider answers.
#pragma once

#include "Network/HttpClient.h"
#include "Sync/Login/OIDCAuthorizationRequest.h"
#include "Sync/Login/OIDCRecords.h"

#include <chrono>
#include <optional>
#include <string>

namespace orvex {

// What a token request came to: tokens, or why not.
struct OIDCTokenResult {
  std::optional<OIDCTokenResponse> tokens;
  std::string error;         // for the log: never a token
  bool grantRefused = false; // the provider refused the code or refresh token itself
};

// Thread-safe as far as the HTTP client is; holds nothing that changes. Its
// calls block, so they run on a queue of their own, never the main thread.
class OIDCClient {
 public:
  OIDCClient(HttpClient& http, OIDCClientRegistration registration,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // The document of `issuer`, checked to be its own.
  WireResult<OIDCConfiguration> discover(const std::string& issuer) const;
  // Exchanges the code of `request`'s redirect.
  OIDCTokenResult exchangeCode(const OIDCAuthorizationRequest& request, const std::string& code) const;
  OIDCTokenResult refresh(const OIDCConfiguration& configuration, const std::string& refreshToken) const;
  // The RP-initiated logout address; nullopt when the provider has no end-session endpoint.
  std::optional<std::string> endSessionURL(const OIDCConfiguration& configuration,
                                           const std::string& authorizationState) const;

  const OIDCClientRegistration& registration() const { return registration_; }

  // RFC 6749 §2.3.1: client id and secret are form-encoded before they become
  // the user and password of HTTP Basic authentication.
  static HttpBasicAuth basicCredentials(const OIDCClientRegistration& registration);

 private:
  OIDCTokenResult tokenRequest(const OIDCConfiguration& configuration,
                               const std::vector<std::pair<std::string, std::string>>& form) const;

  // Constant after construction.
  HttpClient& http_;
  const OIDCClientRegistration registration_;
  const std::chrono::milliseconds timeout_;
};

} // namespace orvex
