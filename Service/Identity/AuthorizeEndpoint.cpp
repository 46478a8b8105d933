// Authorization requests: checked, then answered with a code at once
// (auto-approve) or with the sign-in form, whose POST lands in serveLogin.
#include "Identity/IdentityProvider.h"

#include "Crypto/Base64Url.h"
#include "Identity/FormCodec.h"
#include "Identity/IdentityState.h"
#include "Identity/LoginPage.h"
#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"
#include "Identity/Scopes.h"

#include <httplib.h>

namespace orvex::service {

namespace {

struct AuthorizeError {
  std::string error;
  std::string description;
};

bool isRepeated(const FormParameters& parameters, std::string_view name) {
  return std::find(parameters.repeated.begin(), parameters.repeated.end(), name) != parameters.repeated.end();
}

std::optional<AuthorizeError> checkResponseType(const std::string& type) {
  if (type.empty())
    return AuthorizeError{"invalid_request", "response_type is required"};
  if (type == "code")
    return std::nullopt;
  // Flows that hand tokens to the browser exist, but this client may not use them.
  if (type.find("token") != std::string::npos) {
    return AuthorizeError{"unauthorized_client", "this client may only use the authorization code flow"};
  }
  return AuthorizeError{"unsupported_response_type", "response_type must be \"code\""};
}

std::optional<AuthorizeError> checkCodeChallenge(const FormParameters& parameters) {
  std::string challenge = parameters.get("code_challenge");
  if (challenge.empty())
    return AuthorizeError{"invalid_request", "code challenge required"};
  // A missing method means "plain", which a public redirect cannot protect.
  if (parameters.get("code_challenge_method") != "S256") {
    return AuthorizeError{"invalid_request", "transform algorithm not supported"};
  }
  auto digest = base64UrlDecode(challenge);
  if (!digest || digest->size() != 32) {
    return AuthorizeError{"invalid_request", "code_challenge is not a base64url SHA-256 value"};
  }
  return std::nullopt;
}

// The checks made once the redirect URI is known to be safe to send errors to.
std::optional<AuthorizeError> checkAuthorizeRequest(const FormParameters& parameters) {
  if (!parameters.repeated.empty()) {
    return AuthorizeError{"invalid_request", "parameter " + parameters.repeated.front() + " was sent more than once"};
  }
  if (auto error = checkResponseType(parameters.get("response_type")))
    return error;
  std::string scope = parameters.get("scope");
  if (!hasScope(scope, "openid"))
    return AuthorizeError{"invalid_scope", "the openid scope is required"};
  if (!scopeKnown(scope))
    return AuthorizeError{"invalid_scope", "unknown scope requested"};
  return checkCodeChallenge(parameters);
}

} // namespace

void IdentityProvider::serveAuthorize(const FormParameters& parameters, httplib::Response& response) {
  // Until client and redirect URI are known good, errors are shown to the
  // user: redirecting them would make the provider an open redirector.
  if (isRepeated(parameters, "client_id") || parameters.get("client_id") != kClientId) {
    return replyPage(response, 400, "Sign-in failed", "The application asking you to sign in is not known here.");
  }
  if (isRepeated(parameters, "redirect_uri") || parameters.get("redirect_uri") != kLoginRedirectUri) {
    return replyPage(response, 400, "Sign-in failed", "The return address is not registered for this application.");
  }
  if (parameters.values.contains("acr_values"))
    state_->recordAcrValues(parameters.get("acr_values"));

  AuthorizationRequest request{parameters.get("redirect_uri"),   parameters.get("state"),
                               parameters.get("nonce"),          parameters.get("scope"),
                               parameters.get("code_challenge"), parameters.get("login_hint")};
  auto redirectError = [&](const std::string& error, const std::string& description) {
    replyRedirect(response, appendQuery(request.redirectUri, {{"error", error},
                                                              {"error_description", description},
                                                              {"state", request.state},
                                                              {"iss", config_.issuer}}));
  };
  if (auto error = checkAuthorizeRequest(parameters))
    return redirectError(error->error, error->description);

  if (auto user = state_->autoApprovedUser(request.loginHint))
    return redirectWithCode(request, *user, response);
  if (parameters.get("prompt") == "none")
    return redirectError("login_required", "the user must sign in");
  std::string loginId = state_->startLogin(request, now());
  response.set_header("Cache-Control", "no-store");
  response.set_content(loginPage(loginId, request.loginHint, ""), "text/html; charset=utf-8");
}

void IdentityProvider::serveLogin(const httplib::Request& request, httplib::Response& response) {
  auto form = parseForm(request.body);
  std::string loginId = form ? form->get("login") : std::string();
  auto pending = loginId.empty() ? std::nullopt : state_->pendingLogin(loginId, now());
  auto expired = [&] {
    replyPage(response, 400, "Sign-in expired", "This sign-in has expired. Start again from the application.");
  };
  if (!pending)
    return expired();
  std::string email = form->get("email");
  auto user = state_->checkPassword(email, form->get("password"));
  if (!user) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(loginPage(loginId, email, "Wrong e-mail address or password."), "text/html; charset=utf-8");
    return;
  }
  if (!state_->endLogin(loginId))
    return expired();
  redirectWithCode(*pending, *user, response);
}

void IdentityProvider::redirectWithCode(const AuthorizationRequest& request, const ServiceUser& user,
                                        httplib::Response& response) {
  Grant grant = state_->newGrant(user.email, request.scope, request.nonce, now());
  std::string code = state_->issueCode(request, std::move(grant), now());
  replyRedirect(response,
                appendQuery(request.redirectUri, {{"code", code}, {"state", request.state}, {"iss", config_.issuer}}));
}

} // namespace orvex::service
