#include "Sync/Login/OIDCRecords.h"

#include "Network/HttpText.h"
#include "Sync/Login/OIDCEncoding.h"

#include <charconv>

namespace orvex {

namespace {

std::string_view withoutTrailingSlash(std::string_view text) {
  if (!text.empty() && text.back() == '/')
    text.remove_suffix(1);
  return text;
}

std::optional<nlohmann::json> parseObject(std::string_view text) {
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object())
    return std::nullopt;
  return json;
}

std::optional<std::string> textMember(const nlohmann::json& object, const char* name) {
  auto found = object.find(name);
  if (found == object.end() || !found->is_string())
    return std::nullopt;
  return found->get<std::string>();
}

// The reply's own "expires_in": some providers send it as a text.
std::optional<std::int64_t> secondsMember(const nlohmann::json& object, const char* name, bool& malformed) {
  auto found = object.find(name);
  if (found == object.end() || found->is_null())
    return std::nullopt;
  if (found->is_number_integer())
    return found->get<std::int64_t>();
  if (found->is_number_float())
    return static_cast<std::int64_t>(found->get<double>());
  if (found->is_string()) {
    const std::string& text = found->get_ref<const std::string&>();
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size())
      return value;
  }
  malformed = true;
  return std::nullopt;
}

} // namespace

std::string OIDCConfiguration::discoveryURL(std::string_view issuer) {
  return std::string(withoutTrailingSlash(issuer)) + "/.well-known/openid-configuration";
}

WireResult<OIDCConfiguration> OIDCConfiguration::fromJSONText(std::string_view text, std::string_view expectedIssuer) {
  auto json = parseObject(text);
  if (!json)
    return WireError{"the discovery document is not a JSON object"};
  OIDCConfiguration configuration;
  const std::pair<const char*, std::string*> required[] = {
      {"issuer", &configuration.issuer},
      {"authorization_endpoint", &configuration.authorizationEndpoint},
      {"token_endpoint", &configuration.tokenEndpoint},
  };
  for (const auto& [name, target] : required) {
    auto value = textMember(*json, name);
    if (!value)
      return WireError{std::string("the discovery document lacks \"") + name + "\""};
    *target = *value;
  }
  configuration.endSessionEndpoint = textMember(*json, "end_session_endpoint");
  if (withoutTrailingSlash(configuration.issuer) != withoutTrailingSlash(expectedIssuer))
    return WireError{"the discovery document is for the issuer " + configuration.issuer};
  for (const std::string* url : {&configuration.authorizationEndpoint, &configuration.tokenEndpoint,
                                 configuration.endSessionEndpoint ? &*configuration.endSessionEndpoint : nullptr}) {
    if (url && url->rfind("https://", 0) != 0)
      return WireError{"the discovery document names an endpoint that is not https: " + *url};
  }
  return configuration;
}

WireResult<OIDCTokenResponse> OIDCTokenResponse::fromJSONText(std::string_view text) {
  auto json = parseObject(text);
  if (!json)
    return WireError{"the token reply is not a JSON object"};
  OIDCTokenResponse response;
  auto accessToken = textMember(*json, "access_token");
  auto tokenType = textMember(*json, "token_type");
  if (!accessToken || accessToken->empty())
    return WireError{"the token reply lacks \"access_token\""};
  if (!tokenType || !equalsIgnoringAsciiCase(*tokenType, "Bearer"))
    return WireError{"the token reply's \"token_type\" is not Bearer"};
  bool malformed = false;
  response.expiresIn = secondsMember(*json, "expires_in", malformed);
  if (malformed)
    return WireError{"the token reply's \"expires_in\" is not a number"};
  response.accessToken = std::move(*accessToken);
  response.tokenType = std::move(*tokenType);
  response.refreshToken = textMember(*json, "refresh_token");
  response.idToken = textMember(*json, "id_token");
  response.scope = textMember(*json, "scope");
  return response;
}

std::optional<OIDCTokenError> OIDCTokenError::fromJSONText(std::string_view text) {
  auto json = parseObject(text);
  if (!json)
    return std::nullopt;
  auto error = textMember(*json, "error");
  if (!error)
    return std::nullopt;
  return OIDCTokenError{*error, textMember(*json, "error_description").value_or("")};
}

bool OIDCTokenError::refusesGrant() const {
  return error == "invalid_grant" || error == "invalid_client" || error == "unauthorized_client";
}

std::optional<nlohmann::json> jwtPayload(std::string_view token) {
  std::size_t first = token.find('.');
  std::size_t second = first == std::string_view::npos ? first : token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
    return std::nullopt;
  auto payload = base64UrlDecode(token.substr(first + 1, second - first - 1));
  if (!payload)
    return std::nullopt;
  return parseObject(*payload);
}

} // namespace orvex
