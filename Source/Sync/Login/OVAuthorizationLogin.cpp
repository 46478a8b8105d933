// Logging in through the browser and logging out.
#include "OVLogger.h"
#include "Sync/Login/OVAuthorizationQueue.h"
#include "UI/OVLocalization.h"

namespace orvex {

namespace {

std::string withTitle(std::string text, const std::string& title) {
  if (auto at = text.find("%@"); at != std::string::npos)
    text.replace(at, 2, title);
  return text;
}

bool audienceHolds(const nlohmann::json& audience, const std::string& clientId) {
  if (audience.is_string())
    return audience.get<std::string>() == clientId;
  if (audience.is_array())
    for (const auto& item : audience)
      if (item.is_string() && item.get<std::string>() == clientId)
        return true;
  return false;
}

} // namespace

WireResult<OIDCConfiguration> OVAuthorization::discover(bool fresh) {
  if (discovered_ && !fresh)
    return *discovered_;
  auto configuration = oidc_.discover(config_.issuer);
  if (configuration)
    discovered_ = configuration.value();
  return configuration;
}

void OVAuthorization::performAuth() {
  if (!parts_.internetReachable()) {
    showNoInternet();
    return;
  }
  loginStarting_ = true;
  ++loginsStarted_;
  onAuthQueue([this] { return discover(true); },
              [this](const WireResult<OIDCConfiguration>& configuration) { startLogin(configuration); });
}

void OVAuthorization::startLogin(const WireResult<OIDCConfiguration>& configuration) {
  loginStarting_ = false;
  if (!configuration) {
    OVLog(kLogMain, "<AUTH> Error retrieving discovery document: {}", configuration.error());
    return;
  }
  try {
    pending_ = OIDCAuthorizationRequest::make(configuration.value(), registration(), {{"acr_values", getAuthValues()}});
  } catch (const std::exception& e) {
    OVLog(kLogMain, "Error! Cannot prepare the login: {}", e.what());
    return;
  }
  if (!parts_.browser.openURL(pending_->url())) {
    OVLog(kLogMain, "<AUTH> Cannot open the login page in a browser");
    pending_.reset();
    changeAuthState(std::nullopt);
  }
}

void OVAuthorization::handleGetURLEvent(const std::string& url) {
  if (!pending_) {
    OVLog(kLogMain, "Warning! <AUTH> An address arrived while no login was waiting; ignored");
    return;
  }
  OIDCRedirectOutcome outcome = pending_->handleRedirect(url);
  switch (outcome.kind) {
    case OIDCRedirectOutcome::Kind::NotOurs:
      OVLog(kLogMain, "Warning! <AUTH> An address that is not the login redirect arrived; ignored");
      return;
    case OIDCRedirectOutcome::Kind::Refused:
      // The login stays pending: the user's own redirect may still come.
      OVLog(kLogMain, "Warning! <AUTH> Refused a login redirect ({}); it may be forged", outcome.message);
      return;
    case OIDCRedirectOutcome::Kind::Failed:
      OVLog(kLogMain, "<AUTH> Login failed: {}", outcome.message);
      pending_.reset();
      changeAuthState(std::nullopt);
      return;
    case OIDCRedirectOutcome::Kind::Code:
      break;
  }
  OIDCAuthorizationRequest request = std::move(*pending_);
  pending_.reset();
  exchangeCode(std::move(request), std::move(outcome.code));
}

void OVAuthorization::exchangeCode(OIDCAuthorizationRequest request, std::string code) {
  onAuthQueue([this, request = std::move(request),
               code = std::move(code)] { return std::make_pair(request, oidc_.exchangeCode(request, code)); },
              [this](const std::pair<OIDCAuthorizationRequest, OIDCTokenResult>& done) {
                finishLogin(done.first, done.second);
              });
}

void OVAuthorization::finishLogin(const OIDCAuthorizationRequest& request, const OIDCTokenResult& result) {
  if (!result.tokens) {
    OVLog(kLogMain, "<AUTH> Error exchanging the authorization code: {}", result.error);
    changeAuthState(std::nullopt);
    return;
  }
  if (!result.tokens->idToken || !idTokenFits(request, *result.tokens->idToken)) {
    changeAuthState(std::nullopt);
    return;
  }
  OIDCAuthState state;
  state.issuer = config_.issuer;
  state.scope = request.client.scope;
  state.authorizationState = request.state;
  state.apply(*result.tokens, parts_.clock.wallNow());
  changeAuthState(std::move(state));
  parts_.shell.loginPerformed();
  parts_.shell.showPreferences();
}

// The ID token came straight from the token endpoint over TLS, which vouches
// for its origin; what is left to check is that it was made for this client
// and this login (the nonce keeps a token of another login from being replayed).
bool OVAuthorization::idTokenFits(const OIDCAuthorizationRequest& request, const std::string& idToken) const {
  auto claims = jwtPayload(idToken);
  std::string problem;
  if (!claims)
    problem = "it cannot be read";
  else if (claims->value("iss", nlohmann::json()) != request.configuration.issuer)
    problem = "another issuer";
  else if (!audienceHolds(claims->value("aud", nlohmann::json()), request.client.clientId))
    problem = "another audience";
  else if (claims->value("nonce", nlohmann::json()) != request.nonce)
    problem = "another nonce";
  if (!problem.empty())
    OVLog(kLogMain, "<AUTH> Refused the ID token of the login: {}", problem);
  return problem.empty();
}

void OVAuthorization::logoutFromAuth(bool silent) {
  if (!parts_.internetReachable()) {
    showNoInternet();
    return;
  }
  if (!silent && !confirmLogout())
    return;
  std::string authorizationState = lastAuthorizationState_;
  onAuthQueue([this] { return discover(true); },
              [this, authorizationState, logins = loginsStarted_](const WireResult<OIDCConfiguration>& configuration) {
                finishLogout(configuration, authorizationState, logins);
              });
}

bool OVAuthorization::confirmLogout() {
  OVAlert alert;
  alert.messageText = withTitle(OVLocalizedString("Logout from %@?"), config_.appTitle);
  if (parts_.shell.hasUploads()) {
    alert.informativeText =
        OVLocalizedString("You cannot logout because you have pending uploads. Please try again later.");
    alert.buttons = {OVLocalizedString("Cancel")};
    parts_.alerts.runModal(alert);
    return false;
  }
  alert.informativeText = withTitle(
      OVLocalizedString("Do you really want to logout from the %@, deleting all cached files and login information?"),
      config_.appTitle);
  alert.buttons = {OVLocalizedString("Logout"), OVLocalizedString("Cancel")};
  return parts_.alerts.runModal(alert).button == 0;
}

void OVAuthorization::finishLogout(const WireResult<OIDCConfiguration>& configuration,
                                   const std::string& authorizationState, std::uint64_t loginsAtLogout) {
  if (!configuration) {
    OVLog(kLogMain, "<AUTH> Logout stopped, no discovery document: {}", configuration.error());
    return;
  }
  auto url = oidc_.endSessionURL(configuration.value(), authorizationState);
  if (!url) {
    OVLog(kLogMain, "<AUTH> Logout stopped: the provider has no end-session endpoint");
    return;
  }
  if (!parts_.browser.openURL(*url)) {
    OVLog(kLogMain, "<AUTH> Logout stopped: cannot open the logout page in a browser");
    return;
  }
  // A login asked for after this logout (the first start discards the saved
  // login while the new one is already offered) is not the one logged out.
  if (loginsStarted_ == loginsAtLogout)
    pending_.reset();
  changeAuthState(std::nullopt);
  parts_.shell.logoutPerformed();
  parts_.shell.openStatusMenu();
}

} // namespace orvex
