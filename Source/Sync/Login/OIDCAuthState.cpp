#include "Sync/Login/OIDCAuthState.h"

namespace orvex {

namespace {

std::string textOf(const nlohmann::json& json, const char* name) {
  auto found = json.find(name);
  return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
}

} // namespace

bool OIDCAuthState::isAuthorized() const {
  return !authorizationError && (!accessToken.empty() || !refreshToken.empty());
}

bool OIDCAuthState::needsRefresh(Clock::WallTime now, Clock::Duration tolerance) const {
  if (accessToken.empty())
    return true;
  return accessTokenExpiration && now + tolerance >= *accessTokenExpiration;
}

void OIDCAuthState::apply(const OIDCTokenResponse& response, Clock::WallTime now) {
  accessToken = response.accessToken;
  accessTokenExpiration.reset();
  if (response.expiresIn)
    accessTokenExpiration = now + std::chrono::seconds(*response.expiresIn);
  if (response.refreshToken)
    refreshToken = *response.refreshToken;
  if (response.idToken)
    idToken = *response.idToken;
  if (response.scope)
    scope = *response.scope;
  authorizationError.reset();
}

nlohmann::json OIDCAuthState::toJSON() const {
  nlohmann::json json = {
      {"issuer", issuer},
      {"accessToken", accessToken},
      {"refreshToken", refreshToken},
      {"idToken", idToken},
      {"scope", scope},
      {"authorizationState", authorizationState},
  };
  if (accessTokenExpiration) {
    json["accessTokenExpiration"] =
        std::chrono::duration_cast<std::chrono::seconds>(accessTokenExpiration->time_since_epoch()).count();
  }
  if (authorizationError)
    json["authorizationError"] = *authorizationError;
  return json;
}

std::optional<OIDCAuthState> OIDCAuthState::fromJSON(const nlohmann::json& json) {
  if (!json.is_object() || json.empty() || !json.contains("issuer"))
    return std::nullopt;
  OIDCAuthState state;
  state.issuer = textOf(json, "issuer");
  state.accessToken = textOf(json, "accessToken");
  state.refreshToken = textOf(json, "refreshToken");
  state.idToken = textOf(json, "idToken");
  state.scope = textOf(json, "scope");
  state.authorizationState = textOf(json, "authorizationState");
  auto expiration = json.find("accessTokenExpiration");
  if (expiration != json.end() && expiration->is_number_integer())
    state.accessTokenExpiration = Clock::WallTime(std::chrono::seconds(expiration->get<std::int64_t>()));
  if (json.contains("authorizationError"))
    state.authorizationError = textOf(json, "authorizationError");
  return state;
}

} // namespace orvex
