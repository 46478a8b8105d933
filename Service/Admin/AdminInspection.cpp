// What a test reads of the service's traffic and identity provider (the
// request log, per-endpoint counters, the last acr_values) and the token
// operations it needs (issue, expire every access token, revoke a user's).
#include "Admin/AdminApi.h"

#include "Api/Replies.h"
#include "Config/ConfigReader.h"

#include <httplib.h>

namespace orvex::service {
namespace {

std::string userOf(const AdminCall& call) {
  const nlohmann::json json = call.body();
  ConfigObject body(json, "request", "");
  body.allowOnly({"User"});
  return body.string("User");
}

} // namespace

void AdminApi::addInspectionRoutes() {
  RequestLog& requests = context_.requests;
  IdentityProvider& identity = context_.identity;

  add("GET", "/requests", [&requests](const AdminCall& call) {
    replyJson(call.response, 200, requests.entriesAfter(call.queryInteger("after", 0)).dump());
  });
  add("DELETE", "/requests", [&requests](const AdminCall& call) {
    requests.clearEntries();
    replyJson(call.response, 200, "{}");
  });
  add("GET", "/counters",
      [&requests](const AdminCall& call) { replyJson(call.response, 200, requests.counters().dump()); });
  add("DELETE", "/counters", [&requests](const AdminCall& call) {
    requests.clearCounters();
    replyJson(call.response, 200, "{}");
  });
  add("GET", "/identity/acr-values", [&identity](const AdminCall& call) {
    std::optional<std::string> acr = identity.lastAcrValues();
    replyJson(call.response, 200, nlohmann::json{{"AcrValues", acr ? nlohmann::json(*acr) : nlohmann::json()}}.dump());
  });

  add("POST", "/tokens", [&identity](const AdminCall& call) {
    const std::string user = userOf(call);
    std::optional<TokenSet> tokens = identity.issueTokens(user);
    if (!tokens)
      return replyMessage(call.response, 404, "No user " + user);
    replyJson(call.response, 200,
              nlohmann::json{{"access_token", tokens->accessToken},
                             {"refresh_token", tokens->refreshToken},
                             {"id_token", tokens->idToken},
                             {"expires_in", tokens->expiresIn}}
                  .dump());
  });
  add("POST", "/tokens/expire", [&identity](const AdminCall& call) {
    identity.expireAccessTokens();
    replyJson(call.response, 200, "{}");
  });
  add("POST", "/tokens/revoke", [&identity](const AdminCall& call) {
    identity.revokeTokensOf(userOf(call));
    replyJson(call.response, 200, "{}");
  });
}

} // namespace orvex::service
