#include "Sync/Login/OIDCClient.h"

#include <fmt/format.h>

namespace orvex {

namespace {

std::string formComponent(std::string_view text) {
  std::string encoded = percentEncode(text);
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded.compare(i, 3, "%20") == 0) {
      out += '+';
      i += 2;
    } else {
      out += encoded[i];
    }
  }
  return out;
}

std::string describe(const HttpError& error) {
  return fmt::format("{} (curl {})", error.message, error.code);
}

} // namespace

OIDCClient::OIDCClient(HttpClient& http, OIDCClientRegistration registration, std::chrono::milliseconds timeout)
    : http_(http), registration_(std::move(registration)), timeout_(timeout) {}

HttpBasicAuth OIDCClient::basicCredentials(const OIDCClientRegistration& registration) {
  return {formComponent(registration.clientId), formComponent(registration.clientSecret)};
}

WireResult<OIDCConfiguration> OIDCClient::discover(const std::string& issuer) const {
  HttpRequest request;
  request.url = OIDCConfiguration::discoveryURL(issuer);
  request.timeout = timeout_;
  request.headers.set("Accept", "application/json");
  HttpResult result = http_.send(request);
  if (!result.ok())
    return WireError{describe(result.error())};
  if (result.response().status != 200)
    return WireError{fmt::format("HTTP status {} for {}", result.response().status, request.url)};
  return OIDCConfiguration::fromJSONText(result.response().body, issuer);
}

OIDCTokenResult OIDCClient::exchangeCode(const OIDCAuthorizationRequest& request, const std::string& code) const {
  return tokenRequest(request.configuration, {{"grant_type", "authorization_code"},
                                              {"code", code},
                                              {"redirect_uri", request.client.redirectURI},
                                              {"code_verifier", request.codeVerifier}});
}

OIDCTokenResult OIDCClient::refresh(const OIDCConfiguration& configuration, const std::string& refreshToken) const {
  return tokenRequest(configuration, {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}});
}

OIDCTokenResult OIDCClient::tokenRequest(const OIDCConfiguration& configuration,
                                         const std::vector<std::pair<std::string, std::string>>& form) const {
  HttpRequest request;
  request.method = "POST";
  request.url = configuration.tokenEndpoint;
  request.timeout = timeout_;
  request.basicAuth = basicCredentials(registration_);
  request.headers.set("Accept", "application/json");
  request.setFormBody(form);
  HttpResult result = http_.send(request);
  if (!result.ok())
    return {std::nullopt, describe(result.error()), false};
  const HttpResponse& response = result.response();
  if (response.status != 200) {
    auto error = OIDCTokenError::fromJSONText(response.body);
    if (!error)
      return {std::nullopt, fmt::format("HTTP status {} from the token endpoint", response.status), false};
    return {std::nullopt, fmt::format("{} {} (HTTP status {})", error->error, error->description, response.status),
            error->refusesGrant()};
  }
  auto tokens = OIDCTokenResponse::fromJSONText(response.body);
  if (!tokens)
    return {std::nullopt, tokens.error(), false};
  return {std::move(tokens.value()), "", false};
}

std::optional<std::string> OIDCClient::endSessionURL(const OIDCConfiguration& configuration,
                                                     const std::string& authorizationState) const {
  if (!configuration.endSessionEndpoint)
    return std::nullopt;
  // No ID token hint: the provider then asks the user, which is what a
  // logout started from the menu wants anyway.
  return appendQuery(*configuration.endSessionEndpoint,
                     {{"id_token_hint", ""},
                      {"post_logout_redirect_uri", registration_.postLogoutRedirectURI},
                      {"state", authorizationState},
                      {"redirect_uri", registration_.postLogoutRedirectURI}});
}

} // namespace orvex
