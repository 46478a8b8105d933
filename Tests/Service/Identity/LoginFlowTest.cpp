// The browser half of the login (authorize, sign-in form, auto-approve) and
// the code exchange, over TLS, with the failures a real provider must refuse.
#include "IdentityServer.h"

#include "Crypto/Jwt.h"

#include <gtest/gtest.h>

namespace orvex::service::test {
namespace {

using orvex::test::HttpReply;

std::string loginIdOf(const HttpReply& page) {
  const std::string field = "name=\"login\" value=\"";
  auto start = page.body.find(field);
  if (start == std::string::npos)
    return "";
  start += field.size();
  return page.body.substr(start, page.body.find('"', start) - start);
}

nlohmann::json jsonOf(const HttpReply& reply) {
  return nlohmann::json::parse(reply.body);
}

TEST(IdentityLogin, SignInFormWithPkceEndsInVerifiedTokens) {
  IdentityServer server({alice(), bob()});
  Pkce pkce = makePkce();

  HttpReply form = server.get(IdentityServer::authorizeTarget(pkce));
  ASSERT_EQ(form.status, 200);
  std::string loginId = loginIdOf(form);
  ASSERT_FALSE(loginId.empty());
  EXPECT_EQ(server.provider.lastAcrValues(),
            "tenant:T localAuth:L deviceId:D deviceName:My Laptop deviceType:Linux deviceOs:Linux 6.1.0");

  HttpReply wrong = server.postForm("/oauth2/login", "login=" + loginId + "&email=alice%40orvex.example&password=x");
  EXPECT_EQ(wrong.status, 200);
  EXPECT_NE(wrong.body.find("Wrong e-mail address or password."), std::string::npos);
  EXPECT_EQ(loginIdOf(wrong), loginId) << "the form is shown again for the same request";

  HttpReply signedIn =
      server.postForm("/oauth2/login", "login=" + loginId + "&email=Alice%40orvex.example&password=wonderland");
  ASSERT_EQ(signedIn.status, 302);
  std::string location = signedIn.header("Location");
  EXPECT_EQ(location.rfind(std::string(kLoginRedirect) + "?", 0), 0u) << location;
  FormParameters back = redirectParameters(signedIn);
  EXPECT_EQ(back.get("state"), "state-123");
  EXPECT_EQ(back.get("iss"), kIssuer);

  HttpReply tokens = server.exchange(back.get("code"), pkce.verifier);
  ASSERT_EQ(tokens.status, 200) << tokens.body;
  EXPECT_EQ(tokens.header("Cache-Control"), "no-store");
  auto body = jsonOf(tokens);
  EXPECT_EQ(body["token_type"], "Bearer");
  EXPECT_EQ(body["expires_in"], 30);
  EXPECT_TRUE(body.contains("refresh_token"));

  auto claims = server.provider.verifyAccessToken(body["access_token"].get<std::string>());
  ASSERT_TRUE(claims);
  EXPECT_EQ(claims->subject, "alice@orvex.example");
  EXPECT_EQ(claims->primaryDomain, "orvex.example");
  EXPECT_EQ(claims->domains, std::vector<std::string>{"partner.example"});
  EXPECT_EQ(claims->expiresAt - claims->issuedAt, 30);

  auto idToken = decodeJwtClaims(body["id_token"].get<std::string>());
  ASSERT_TRUE(idToken);
  EXPECT_EQ((*idToken)["nonce"], "nonce-456");
  EXPECT_EQ((*idToken)["aud"], "orvex.macclient");

  // The form was used up by the sign-in.
  EXPECT_EQ(
      server.postForm("/oauth2/login", "login=" + loginId + "&email=alice%40orvex.example&password=wonderland").status,
      400);
}

TEST(IdentityLogin, AutoApproveNeedsOneUserOrAHint) {
  Pkce pkce = makePkce();
  IdentityServer single({alice()}, true);
  EXPECT_EQ(single.get(IdentityServer::authorizeTarget(pkce)).status, 302);

  IdentityServer two({alice(), bob()}, true);
  EXPECT_EQ(two.get(IdentityServer::authorizeTarget(pkce)).status, 200) << "no hint: the form decides";
  HttpReply hinted = two.get(IdentityServer::authorizeTarget(pkce, {{"login_hint", "bob@orvex.example"}}));
  ASSERT_EQ(hinted.status, 302);
  auto tokens = jsonOf(two.exchange(redirectParameters(hinted).get("code"), pkce.verifier));
  EXPECT_EQ(two.provider.verifyAccessToken(tokens["access_token"].get<std::string>())->subject, "bob@orvex.example");

  two.provider.setAutoApprove(false);
  EXPECT_EQ(two.get(IdentityServer::authorizeTarget(pkce, {{"login_hint", "bob@orvex.example"}})).status, 200);
  EXPECT_EQ(redirectParameters(two.get(IdentityServer::authorizeTarget(pkce, {{"prompt", "none"}}))).get("error"),
            "login_required");
}

// Without a known client and its exact redirect URI nothing may be redirected.
TEST(IdentityLogin, AuthorizeShowsAPageForUnknownClientOrForeignRedirect) {
  IdentityServer server({alice()}, true);
  Pkce pkce = makePkce();
  for (auto changes : std::vector<std::map<std::string, std::string>>{
           {{"client_id", "someone.else"}},
           {{"client_id", ""}},
           {{"redirect_uri", "https://evil.example/callback"}},
           {{"redirect_uri", "com.orvex.macclient:/oauth2callback/"}},
           {{"redirect_uri", kLogoutRedirect}},
           {{"redirect_uri", ""}},
       }) {
    HttpReply reply = server.get(IdentityServer::authorizeTarget(pkce, changes));
    EXPECT_EQ(reply.status, 400) << changes.begin()->first << "=" << changes.begin()->second;
    EXPECT_EQ(reply.header("Location"), "");
  }
}

TEST(IdentityLogin, AuthorizeErrorsGoBackToTheClient) {
  IdentityServer server({alice()}, true);
  Pkce pkce = makePkce();
  struct Case {
    std::map<std::string, std::string> changes;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{
           {{{"code_challenge", ""}}, "invalid_request"},
           {{{"code_challenge_method", ""}}, "invalid_request"},
           {{{"code_challenge_method", "plain"}}, "invalid_request"},
           {{{"code_challenge", "too-short"}}, "invalid_request"},
           {{{"response_type", ""}}, "invalid_request"},
           {{{"response_type", "token"}}, "unauthorized_client"},
           {{{"response_type", "code id_token"}}, "unauthorized_client"},
           {{{"response_type", "magic"}}, "unsupported_response_type"},
           {{{"scope", "profile domain_api"}}, "invalid_scope"},
           {{{"scope", "openid admin"}}, "invalid_scope"},
       }) {
    HttpReply reply = server.get(IdentityServer::authorizeTarget(pkce, c.changes));
    ASSERT_EQ(reply.status, 302) << c.changes.begin()->first;
    FormParameters back = redirectParameters(reply);
    EXPECT_EQ(back.get("error"), c.error) << c.changes.begin()->first << "=" << c.changes.begin()->second;
    EXPECT_EQ(back.get("state"), "state-123");
    EXPECT_EQ(back.get("code"), "");
  }
  HttpReply repeated = server.get(IdentityServer::authorizeTarget(pkce) + "&state=again");
  EXPECT_EQ(redirectParameters(repeated).get("error"), "invalid_request");
}

TEST(IdentityLogin, CodeIsSpentByAnyExchangeAttempt) {
  IdentityServer server({alice()}, true);
  Pkce pkce = makePkce();

  std::string code = server.codeFor(pkce);
  HttpReply wrongVerifier = server.exchange(code, makePkce().verifier);
  EXPECT_EQ(wrongVerifier.status, 400);
  EXPECT_EQ(jsonOf(wrongVerifier)["error"], "invalid_grant");
  EXPECT_EQ(jsonOf(server.exchange(code, pkce.verifier))["error"], "invalid_grant") << "no second guess";

  code = server.codeFor(pkce);
  EXPECT_EQ(jsonOf(server.exchange(code, pkce.verifier, "com.orvex.macclient:/other"))["error"], "invalid_grant");

  code = server.codeFor(pkce);
  EXPECT_EQ(jsonOf(server.exchange(code, "short"))["error"], "invalid_request");
  EXPECT_EQ(server.exchange(code, pkce.verifier).status, 200) << "a malformed request does not spend the code";

  code = server.codeFor(pkce);
  server.clock.advance(std::chrono::seconds(61));
  EXPECT_EQ(jsonOf(server.exchange(code, pkce.verifier))["error"], "invalid_grant") << "expired";
}

TEST(IdentityLogin, ReplayedCodeRevokesWhatItGranted) {
  IdentityServer server({alice()}, true);
  Pkce pkce = makePkce();
  std::string code = server.codeFor(pkce);
  auto first = jsonOf(server.exchange(code, pkce.verifier));
  std::string access = first["access_token"];
  ASSERT_TRUE(server.provider.verifyAccessToken(access));

  EXPECT_EQ(jsonOf(server.exchange(code, pkce.verifier))["error"], "invalid_grant");
  EXPECT_FALSE(server.provider.verifyAccessToken(access));
  EXPECT_EQ(jsonOf(server.refresh(first["refresh_token"]))["error"], "invalid_grant");
}

TEST(IdentityLogin, TokenEndpointAuthenticatesTheClientWithBasic) {
  IdentityServer server({alice()}, true);
  Pkce pkce = makePkce();
  std::string code = server.codeFor(pkce);
  std::string body = "grant_type=authorization_code&code=" + code + "&redirect_uri=" + percentEncode(kLoginRedirect) +
                     "&code_verifier=" + pkce.verifier;
  for (const std::string& authorization : {std::string(), basicAuthorization("orvex.macclient", "wrong"),
                                           basicAuthorization("other.client", "kqzmvw"), std::string("Bearer x")}) {
    HttpReply reply = server.postForm("/oauth2/token", body, authorization);
    EXPECT_EQ(reply.status, 401) << authorization;
    EXPECT_EQ(jsonOf(reply)["error"], "invalid_client");
    EXPECT_EQ(reply.header("WWW-Authenticate").rfind("Basic", 0), 0u);
  }
  HttpReply posted = server.postForm("/oauth2/token", body + "&client_id=orvex.macclient&client_secret=kqzmvw");
  EXPECT_EQ(posted.status, 401) << "the secret belongs in the Basic header";
  EXPECT_EQ(server.exchange(code, pkce.verifier).status, 200) << "failed client checks leave the code alone";

  auto error = [&](const std::string& form) {
    return jsonOf(server.postForm("/oauth2/token", form, basicAuthorization("orvex.macclient", "kqzmvw")))["error"];
  };
  EXPECT_EQ(error("code=x"), "invalid_request");
  EXPECT_EQ(error("grant_type=password&username=a&password=b"), "unauthorized_client");
  EXPECT_EQ(error("grant_type=urn%3Aexample%3Amagic"), "unsupported_grant_type");
  EXPECT_EQ(error("grant_type=refresh_token&grant_type=refresh_token&refresh_token=x"), "invalid_request");
}

} // namespace
} // namespace orvex::service::test
