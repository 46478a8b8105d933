// The token endpoint: client authentication with HTTP Basic, then the
// authorization-code grant (single-use code, redirect check, PKCE) or the
// refresh-token grant (rotation: each refresh token works once).
#include "Identity/IdentityProvider.h"

#include "Crypto/Base64Url.h"
#include "Crypto/Digest.h"
#include "Identity/AsciiCase.h"
#include "Identity/FormCodec.h"
#include "Identity/IdentityState.h"
#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"
#include "Identity/Scopes.h"

#include <httplib.h>

#include <algorithm>

namespace orvex::service {

namespace {

struct TokenError {
  const char* error;
  std::string description;
};

// Basic credentials are the form-encoded client id and secret (RFC 6749 2.3.1).
std::optional<TokenError> authenticateClient(const httplib::Request& request, const FormParameters& parameters) {
  std::string authorization = request.get_header_value("Authorization");
  if (authorization.empty()) {
    return TokenError{"invalid_client", parameters.values.contains("client_secret")
                                            ? "the client must authenticate with HTTP Basic"
                                            : "client authentication required"};
  }
  if (parameters.values.contains("client_secret")) {
    return TokenError{"invalid_request", "more than one client authentication method used"};
  }
  if (!startsWithIgnoringCase(authorization, "Basic ")) {
    return TokenError{"invalid_client", "the client must authenticate with HTTP Basic"};
  }
  auto credentials = base64Decode(std::string_view(authorization).substr(6));
  auto colon = credentials ? credentials->find(':') : std::string::npos;
  if (colon == std::string::npos)
    return TokenError{"invalid_client", "malformed client credentials"};
  auto id = percentDecode(std::string_view(*credentials).substr(0, colon), true);
  auto secret = percentDecode(std::string_view(*credentials).substr(colon + 1), true);
  if (!id || !secret || *id != kClientId || !constantTimeEquals(sha256(*secret), sha256(kClientSecret))) {
    return TokenError{"invalid_client", "client authentication failed"};
  }
  if (parameters.values.contains("client_id") && parameters.get("client_id") != *id) {
    return TokenError{"invalid_request", "client_id differs from the authenticated client"};
  }
  return std::nullopt;
}

// RFC 7636 section 4.1: 43 to 128 unreserved characters.
bool wellFormedVerifier(std::string_view verifier) {
  return verifier.size() >= 43 && verifier.size() <= 128 && std::all_of(verifier.begin(), verifier.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~';
         });
}

void replyTokens(httplib::Response& response, const TokenSet& tokens, const std::string& scope) {
  nlohmann::json body = {{"access_token", tokens.accessToken},
                         {"token_type", "Bearer"},
                         {"expires_in", tokens.expiresIn},
                         {"scope", scope}};
  if (!tokens.idToken.empty())
    body["id_token"] = tokens.idToken;
  if (!tokens.refreshToken.empty())
    body["refresh_token"] = tokens.refreshToken;
  replyJson(response, body);
}

} // namespace

void IdentityProvider::serveToken(const httplib::Request& request, httplib::Response& response) {
  auto fail = [&](const TokenError& error) { replyTokenError(response, error.error, error.description); };
  if (!startsWithIgnoringCase(request.get_header_value("Content-Type"), "application/x-www-form-urlencoded")) {
    return fail({"invalid_request", "the body must be application/x-www-form-urlencoded"});
  }
  auto parameters = parseForm(request.body);
  if (!parameters)
    return fail({"invalid_request", "the body is not properly encoded"});
  if (auto error = authenticateClient(request, *parameters))
    return fail(*error);
  if (!parameters->repeated.empty()) {
    return fail({"invalid_request", "parameter " + parameters->repeated.front() + " was sent more than once"});
  }
  std::string grantType = parameters->get("grant_type");
  if (grantType == "authorization_code")
    return exchangeCode(*parameters, response);
  if (grantType == "refresh_token")
    return refreshTokens(*parameters, response);
  if (grantType.empty())
    return fail({"invalid_request", "grant_type is required"});
  if (grantType == "password" || grantType == "client_credentials") {
    return fail({"unauthorized_client", "this client may not use the " + grantType + " grant"});
  }
  fail({"unsupported_grant_type", "grant_type \"" + grantType + "\" is not supported"});
}

void IdentityProvider::exchangeCode(const FormParameters& parameters, httplib::Response& response) {
  auto fail = [&](const char* error, const char* description) { replyTokenError(response, error, description); };
  std::string code = parameters.get("code");
  std::string redirectUri = parameters.get("redirect_uri");
  std::string verifier = parameters.get("code_verifier");
  if (code.empty())
    return fail("invalid_request", "code is required");
  if (redirectUri.empty())
    return fail("invalid_request", "redirect_uri is required");
  if (verifier.empty())
    return fail("invalid_request", "code_verifier is required");
  if (!wellFormedVerifier(verifier))
    return fail("invalid_request", "code_verifier is malformed");

  // From here on the code is spent, whatever the outcome: a guessed verifier
  // gets exactly one try.
  auto record = state_->redeemCode(code, now());
  if (!record)
    return fail("invalid_grant", "the code is unknown, expired or already used");
  if (record->request.redirectUri != redirectUri)
    return fail("invalid_grant", "redirect_uri does not match");
  if (!constantTimeEquals(base64UrlEncode(sha256(verifier)), record->request.codeChallenge)) {
    return fail("invalid_grant", "code_verifier does not match the code challenge");
  }
  auto user = state_->findUser(record->grant.email);
  if (!user)
    return fail("invalid_grant", "the user no longer exists");
  replyTokens(response, mintTokens(*user, record->grant, true), record->grant.scope);
}

void IdentityProvider::refreshTokens(const FormParameters& parameters, httplib::Response& response) {
  auto fail = [&](const char* error, const char* description) { replyTokenError(response, error, description); };
  std::string token = parameters.get("refresh_token");
  if (token.empty())
    return fail("invalid_request", "refresh_token is required");
  std::string scope = parameters.get("scope");
  // Checked before the token is spent, so that a request for too much leaves it usable.
  auto current = state_->peekRefreshToken(token, now());
  if (current && !scope.empty() && !scopeWithin(scope, current->scope)) {
    return fail("invalid_scope", "the scope exceeds what was granted");
  }
  auto grant = state_->takeRefreshToken(token, now());
  auto user = grant ? state_->findUser(grant->email) : std::nullopt;
  if (!user)
    return fail("invalid_grant", "the refresh token is unknown, expired, revoked or already used");
  if (!scope.empty())
    grant->scope = scope;
  replyTokens(response, mintTokens(*user, *grant, false), grant->scope);
}

} // namespace orvex::service
