// The service's OpenID Connect provider: discovery, authorize (login form or
// auto-approve), token (authorization code with PKCE, refresh with rotation),
// JWKS and end-session, served on the issuer host.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Crypto/RsaKey.h"
#include "Dispatch/Clock.h"

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace orvex::service {

struct ServiceUser {
  std::string email;
  std::string password;
  std::string primaryDomain;
  std::vector<std::string> domains;
  bool domainsAsText = false; // the "domains" claim as one text
  std::string displayName;
};

struct IdentityConfig {
  std::string issuer; // "https://login.orvex.example" (no trailing slash)
  std::chrono::seconds accessTokenLifetime{3600};
  std::chrono::seconds refreshTokenLifetime{30 * 24 * 3600};
  // Demo and tests: authorize issues the code at once, without the login form,
  // when there is exactly one user or the request's login_hint names a user.
  bool autoApprove = false;
  // Where the signing key and the issued tokens are kept across restarts
  // (created when missing); without it they live only as long as the provider.
  std::optional<std::filesystem::path> keptIn;
};

struct AccessClaims {
  std::string subject;
  std::string primaryDomain;
  std::vector<std::string> domains; // the "domains" claim: the further domains, as a list even when sent as one text
  std::int64_t issuedAt = 0;
  std::int64_t expiresAt = 0;

  // True for the primary domain and each further domain (names compared without regard to case).
  bool allowsDomain(std::string_view domain) const;
};

struct TokenSet {
  std::string accessToken;
  std::string refreshToken;
  std::string idToken;
  std::int64_t expiresIn = 0;
};

class IdentityFiles;
class IdentityState;
struct FormParameters;
struct AuthorizationRequest;
struct Grant;

// Thread-safe: every changing value lives in one IdentityState and is guarded
// by its one mutex; the HTTP server calls in from its worker threads. The
// configuration and the signing key are constant after construction. With
// `keptIn` the key and the tokens are kept in that folder (IdentityState saves
// the tokens under its mutex), so tokens outlive a restart; without it a new
// key is made per provider and tokens do not outlive the process.
class IdentityProvider {
 public:
  IdentityProvider(IdentityConfig config, std::vector<ServiceUser> users, orvex::Clock& clock);
  ~IdentityProvider();
  IdentityProvider(const IdentityProvider&) = delete;
  IdentityProvider& operator=(const IdentityProvider&) = delete;

  // Serves a request addressed to the issuer host; false when the path is not one of the provider's.
  bool handle(const httplib::Request& request, httplib::Response& response);
  // A Bearer token's claims when its signature, issuer, lifetime and revocation state are good.
  std::optional<AccessClaims> verifyAccessToken(std::string_view token) const;
  // For tests, the demo and the admin API: tokens for a user without the browser dance.
  std::optional<TokenSet> issueTokens(const std::string& email);
  void revokeTokensOf(const std::string& email); // access and refresh tokens stop working
  void expireAccessTokens();                     // every access token issued so far counts as expired
  std::optional<std::string> lastAcrValues() const;
  void setAutoApprove(bool on);
  void setUsers(std::vector<ServiceUser> users);

  const IdentityConfig& config() const { return config_; }
  // The JSON Web Key Set the provider publishes (its one signing key).
  std::string jwksJson() const;

 private:
  void route(const httplib::Request& request, httplib::Response& response);
  // One file per endpoint; each writes the whole reply.
  void serveDiscovery(httplib::Response& response) const;
  void serveAuthorize(const FormParameters& parameters, httplib::Response& response);
  void serveLogin(const httplib::Request& request, httplib::Response& response);
  void serveToken(const httplib::Request& request, httplib::Response& response);
  void serveEndSession(const FormParameters& parameters, httplib::Response& response);

  void redirectWithCode(const AuthorizationRequest& request, const ServiceUser& user, httplib::Response& response);
  void exchangeCode(const FormParameters& parameters, httplib::Response& response);
  void refreshTokens(const FormParameters& parameters, httplib::Response& response);
  // Signs and records an access token, an ID token and, for offline access, a
  // refresh token of `grant`'s family.
  TokenSet mintTokens(const ServiceUser& user, const Grant& grant, bool withNonce);
  std::int64_t now() const; // Unix seconds on clock_
  void keepTokens();        // restores the saved tokens and saves every later change

  const IdentityConfig config_;
  orvex::Clock& clock_;
  std::unique_ptr<IdentityFiles> files_; // before key_: the key may come from it
  const RsaKey key_;
  std::unique_ptr<IdentityState> state_; // its own mutex guards everything inside
};

} // namespace orvex::service
