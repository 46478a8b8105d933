#include "Sync/Login/OVAuthorization.h"

#include "OVLogger.h"
#include "UI/OVLocalization.h"

namespace orvex {

namespace {

constexpr const char* kAuthStateKey = "authState";

} // namespace

OVAuthorizationConfig OVAuthorizationConfig::fromBrand(const BrandFile& brand) {
  OVAuthorizationConfig config;
  config.issuer = brand.issuer();
  config.tenant = brand.oauthTenant.value_or("");
  config.localAuth = brand.localAuth.value_or("");
  config.appTitle = brand.bundleName;
  return config;
}

OIDCClientRegistration OVAuthorization::registration() {
  return {"orvex.macclient", "kqzmvw", "com.orvex.macclient:/oauth2callback",
          "com.orvex.macclient:/signout-callback-oidc", "openid profile domain_api offline_access"};
}

OVAuthorization::OVAuthorization(OVAuthorizationConfig config, OVAuthorizationParts parts)
    : config_(std::move(config)), parts_(std::move(parts)), oidc_(parts_.http, registration()) {}

OVAuthorization::~OVAuthorization() = default;

bool OVAuthorization::isLoggedIn() const {
  std::lock_guard lock(mutex_);
  return state_ && state_->isAuthorized();
}

bool OVAuthorization::isLoggedInFromUserDefaults() const {
  auto stored = parts_.settings.value(kAuthStateKey);
  auto state = stored ? OIDCAuthState::fromJSON(*stored) : std::nullopt;
  return state && state->isAuthorized();
}

std::optional<OIDCAuthState> OVAuthorization::authState() const {
  std::lock_guard lock(mutex_);
  return state_ ? std::optional<OIDCAuthState>(*state_) : std::nullopt;
}

void OVAuthorization::loadState() {
  auto stored = parts_.settings.value(kAuthStateKey);
  changeAuthState(stored ? OIDCAuthState::fromJSON(*stored) : std::nullopt);
  if (!isLoggedIn() || didChangeDomainAuthority()) {
    changeAuthState(std::nullopt);
    parts_.shell.logoutPerformed();
  } else {
    parts_.shell.loginPerformed();
  }
}

void OVAuthorization::saveState() {
  auto state = authState();
  // Logged out is stored as an empty object rather than no key, as the
  // settings of earlier versions hold an empty archive then.
  parts_.settings.set(kAuthStateKey, state ? state->toJSON() : nlohmann::json::object());
}

void OVAuthorization::changeAuthState(std::optional<OIDCAuthState> state) {
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    changed = state ? !state_ || !(*state_ == *state) : state_ != nullptr;
    if (changed) {
      state_ = state ? std::make_shared<const OIDCAuthState>(std::move(*state)) : nullptr;
      ++generation_;
    }
    if (state_)
      lastAuthorizationState_ = state_->authorizationState;
  }
  if (changed)
    saveState();
  refreshLoginMenuTitle();
}

void OVAuthorization::stateChanged(OIDCAuthState state) {
  if (state.isAuthorized()) {
    changeAuthState(std::move(state));
    return;
  }
  changeAuthState(std::nullopt);
  logoutFromAuth(true);
}

void OVAuthorization::refreshLoginMenuTitle() {
  parts_.shell.setLoginMenuTitle(OVLocalizedString(isLoggedIn() ? "Logout" : "Log in"));
}

std::string OVAuthorization::getAuthValues() {
  return fmt::format(
      "tenant:{} localAuth:{} deviceId:{} deviceName:{} deviceType:Linux deviceOs:{} latitude:46.758873 "
      "longitude:23.612887699999998",
      config_.tenant, config_.localAuth, parts_.device.getDeviceId(), parts_.device.getDeviceName(),
      parts_.device.getDeviceOS());
}

OVJWTValue OVAuthorization::getJWTValueWithKey(const std::string& key) const {
  auto state = authState();
  if (!state || state->accessToken.empty())
    return std::string();
  auto payload = jwtPayload(state->accessToken);
  if (!payload || !payload->contains(key))
    return std::string();
  const nlohmann::json& claim = (*payload)[key];
  if (claim.is_string())
    return claim.get<std::string>();
  if (claim.is_array()) {
    std::vector<std::string> list;
    for (const auto& item : claim)
      if (item.is_string())
        list.push_back(item.get<std::string>());
    return list;
  }
  return claim.is_null() ? std::string() : claim.dump();
}

std::string OVAuthorization::getLoggedUserEmail() const {
  auto value = getJWTValueWithKey("sub");
  return std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
}

bool OVAuthorization::didChangeDomainAuthority() const {
  if (!isLoggedIn())
    return false;
  auto value = getJWTValueWithKey("iss");
  std::string issuer = std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
  OVLog(kLogMain, "logged into domain {}, app auth issuer {} ", issuer, config_.issuer);
  return issuer != config_.issuer;
}

void OVAuthorization::showNoInternet() {
  OVAlert alert;
  alert.messageText = OVLocalizedString("There is no internet");
  alert.buttons = {"Ok"};
  parts_.alerts.runModal(alert);
}

void OVAuthorization::authLoginButtonClicked() {
  if (isLoggedIn())
    logoutFromAuth(false);
  else
    performAuth();
}

} // namespace orvex
