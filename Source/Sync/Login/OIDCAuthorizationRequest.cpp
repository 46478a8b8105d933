#include "Sync/Login/OIDCAuthorizationRequest.h"

#include "Network/HttpRequest.h"
#include "Sync/Login/OIDCEncoding.h"

namespace orvex {

namespace {

// 32 random bytes: a 43-character verifier, inside RFC 7636's 43..128.
constexpr std::size_t kSecretBytes = 32;

std::string member(const std::map<std::string, std::string>& values, const std::string& name) {
  auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

} // namespace

std::string appendQuery(std::string_view endpoint, const std::vector<std::pair<std::string, std::string>>& parameters) {
  std::string url(endpoint);
  url += url.find('?') == std::string::npos ? '?' : '&';
  return url + formEncode(parameters);
}

OIDCAuthorizationRequest OIDCAuthorizationRequest::make(
    OIDCConfiguration configuration, OIDCClientRegistration client,
    std::vector<std::pair<std::string, std::string>> additionalParameters) {
  return {std::move(configuration),        std::move(client),
          randomUrlSafeText(kSecretBytes), randomUrlSafeText(kSecretBytes),
          randomUrlSafeText(kSecretBytes), std::move(additionalParameters)};
}

std::string OIDCAuthorizationRequest::url() const {
  std::vector<std::pair<std::string, std::string>> parameters = {
      {"response_type", "code"},
      {"client_id", client.clientId},
      {"redirect_uri", client.redirectURI},
      {"scope", client.scope},
      {"state", state},
      {"nonce", nonce},
      {"code_challenge", pkceChallengeS256(codeVerifier)},
      {"code_challenge_method", "S256"},
  };
  parameters.insert(parameters.end(), additionalParameters.begin(), additionalParameters.end());
  return appendQuery(configuration.authorizationEndpoint, parameters);
}

OIDCRedirectOutcome OIDCAuthorizationRequest::handleRedirect(std::string_view url) const {
  using Kind = OIDCRedirectOutcome::Kind;
  const std::string_view base = url.substr(0, url.find_first_of("?#"));
  if (base != client.redirectURI)
    return {Kind::NotOurs, "", "not the login redirect"};
  const std::size_t queryStart = url.find('?');
  std::string_view query = queryStart == std::string_view::npos ? std::string_view() : url.substr(queryStart + 1);
  query = query.substr(0, query.find('#'));
  auto values = parseQuery(query);
  if (!values)
    return {Kind::Refused, "", "the redirect's parameters cannot be read"};
  // The state is checked first: whatever else a redirect with another state
  // says comes from someone who does not know this login.
  if (member(*values, "state") != state)
    return {Kind::Refused, "", "the redirect's state does not match the pending login"};
  if (values->contains("iss") && (*values)["iss"] != configuration.issuer)
    return {Kind::Failed, "", "the redirect comes from another issuer: " + (*values)["iss"]};
  if (std::string error = member(*values, "error"); !error.empty())
    return {Kind::Failed, "", error + " " + member(*values, "error_description")};
  std::string code = member(*values, "code");
  if (code.empty())
    return {Kind::Failed, "", "the redirect carries no code"};
  return {Kind::Code, std::move(code), ""};
}

} // namespace orvex
