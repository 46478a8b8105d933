// RP-initiated logout. The provider keeps no browser session, so signing out
// is a matter of checking the request and sending the browser back, but only
// ever to the registered post-logout address.
#include "Identity/IdentityProvider.h"

#include "Crypto/Jwt.h"
#include "Identity/FormCodec.h"
#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"

#include <httplib.h>

namespace orvex::service {

void IdentityProvider::serveEndSession(const FormParameters& parameters, httplib::Response& response) {
  auto refuse = [&](std::string_view why) { replyPage(response, 400, "Sign-out failed", why); };
  if (!parameters.repeated.empty())
    return refuse("A parameter was sent more than once.");
  std::string clientId = parameters.get("client_id");
  if (!clientId.empty() && clientId != kClientId)
    return refuse("The application is not known here.");

  // The client sends an empty hint; an empty parameter counts as none. A
  // given hint must be an ID token of ours for this client; an expired one is
  // still a fine hint.
  std::string hint = parameters.get("id_token_hint");
  if (!hint.empty()) {
    auto claims = verifyJwt(hint, key_, "JWT");
    if (!claims || claims->value("iss", "") != config_.issuer || claims->value("aud", "") != kClientId) {
      return refuse("The sign-out request carries a token this service did not issue.");
    }
  }

  std::string postLogout = parameters.get("post_logout_redirect_uri");
  if (postLogout.empty())
    return replyPage(response, 200, "Signed out", "You are signed out.");
  if (postLogout != kLogoutRedirectUri)
    return refuse("The return address is not registered for this application.");
  replyRedirect(response, appendQuery(postLogout, {{"state", parameters.get("state")}}));
}

} // namespace orvex::service
