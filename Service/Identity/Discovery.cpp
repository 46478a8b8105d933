// The documents a relying party reads before talking to the provider: the
// OpenID configuration and the key set that verifies its tokens.
#include "Identity/IdentityProvider.h"

#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"

#include <httplib.h>

namespace orvex::service {

void IdentityProvider::serveDiscovery(httplib::Response& response) const {
  auto at = [this](std::string_view path) { return config_.issuer + std::string(path); };
  replyJson(
      response,
      {
          {"issuer", config_.issuer},
          {"authorization_endpoint", at(kAuthorizePath)},
          {"token_endpoint", at(kTokenPath)},
          {"jwks_uri", at(kJwksPath)},
          {"end_session_endpoint", at(kEndSessionPath)},
          {"response_types_supported", {"code"}},
          {"response_modes_supported", {"query"}},
          {"grant_types_supported", {"authorization_code", "refresh_token"}},
          {"subject_types_supported", {"public"}},
          {"id_token_signing_alg_values_supported", {"RS256"}},
          {"token_endpoint_auth_methods_supported", {"client_secret_basic"}},
          {"code_challenge_methods_supported", {"S256"}},
          {"scopes_supported", kKnownScopes},
          {"claims_supported",
           {"iss", "sub", "aud", "iat", "exp", "auth_time", "nonce", "email", "name", "primary_domain", "domains"}},
          {"authorization_response_iss_parameter_supported", true},
      });
}

std::string IdentityProvider::jwksJson() const {
  return nlohmann::json{{"keys", nlohmann::json::array({key_.publicJwk()})}}.dump();
}

} // namespace orvex::service
