#include "Sync/Login/OIDCAuthState.h"
#include "Sync/Login/OIDCAuthorizationRequest.h"
#include "Sync/Login/OIDCClient.h"
#include "Sync/Login/OIDCEncoding.h"
#include "Sync/Login/OIDCRecords.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

constexpr const char* kIssuer = "https://login.example";

std::string discovery(nlohmann::json changes) {
  nlohmann::json document = {{"issuer", kIssuer},
                             {"authorization_endpoint", "https://login.example/authorize"},
                             {"token_endpoint", "https://login.example/token"},
                             {"end_session_endpoint", "https://login.example/logout"}};
  document.merge_patch(changes);
  return document.dump();
}

TEST(OIDCRecords, DiscoveryDocumentsThatCannotBeTrustedAreRefused) {
  EXPECT_TRUE(OIDCConfiguration::fromJSONText(discovery(nlohmann::json::object()), kIssuer));
  EXPECT_TRUE(OIDCConfiguration::fromJSONText(discovery(nlohmann::json::object()), "https://login.example/"));
  EXPECT_FALSE(
      OIDCConfiguration::fromJSONText(discovery({{"end_session_endpoint", nullptr}}), kIssuer)->endSessionEndpoint);
  for (const nlohmann::json& bad :
       {nlohmann::json{{"token_endpoint", nullptr}}, nlohmann::json{{"issuer", "https://evil.example"}},
        nlohmann::json{{"authorization_endpoint", "http://login.example/a"}},
        nlohmann::json{{"end_session_endpoint", "javascript:alert(1)"}}})
    EXPECT_FALSE(OIDCConfiguration::fromJSONText(discovery(bad), kIssuer)) << bad;
  EXPECT_EQ(OIDCConfiguration::fromJSONText("[1]", kIssuer).error(), "the discovery document is not a JSON object");
}

TEST(OIDCRecords, TokenRepliesOfDifferentProvidersAreRead) {
  auto lower = OIDCTokenResponse::fromJSONText(R"({"access_token":"a","token_type":"bearer","expires_in":"300"})");
  ASSERT_TRUE(lower) << lower.error();
  EXPECT_EQ(lower->expiresIn, 300);
  EXPECT_FALSE(lower->refreshToken);
  for (const char* bad : {"not json", R"({"token_type":"Bearer"})", R"({"access_token":"a","token_type":"DPoP"})",
                          R"({"access_token":"a","token_type":"Bearer","expires_in":"soon"})"}) {
    EXPECT_FALSE(OIDCTokenResponse::fromJSONText(bad).ok()) << bad;
  }

  auto error = OIDCTokenError::fromJSONText(R"({"error":"invalid_grant","error_description":"spent"})");
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->refusesGrant());
  EXPECT_FALSE((OIDCTokenError{"temporarily_unavailable", ""}.refusesGrant()));
}

TEST(OIDCRecords, TheStateKeepsWhatARefreshDoesNotReplace) {
  OIDCAuthState state;
  state.issuer = kIssuer;
  const Clock::WallTime now{std::chrono::seconds(1000)};
  state.apply({"a1", "Bearer", 60, "r1", "id1", std::nullopt}, now);
  state.scope = "openid offline_access";
  EXPECT_FALSE(state.needsRefresh(now + std::chrono::seconds(49), std::chrono::seconds(10)));
  EXPECT_TRUE(state.needsRefresh(now + std::chrono::seconds(50), std::chrono::seconds(10)));

  // A provider that keeps its refresh tokens, and grants less scope than asked.
  state.apply({"a2", "Bearer", std::nullopt, std::nullopt, std::nullopt, "openid"}, now);
  EXPECT_EQ(state.refreshToken, "r1");
  EXPECT_EQ(state.idToken, "id1");
  EXPECT_EQ(state.scope, "openid");
  EXPECT_FALSE(state.needsRefresh(now + std::chrono::hours(1000), {})); // no stated lifetime

  auto restored = OIDCAuthState::fromJSON(state.toJSON());
  ASSERT_TRUE(restored);
  EXPECT_EQ(*restored, state);
  EXPECT_FALSE(OIDCAuthState::fromJSON(nlohmann::json::object()));
  state.authorizationError = "invalid_grant";
  EXPECT_FALSE(OIDCAuthState::fromJSON(state.toJSON())->isAuthorized());
}

TEST(OIDCRecords, JwtPayloadsAreDecodedWithOrWithoutPadding) {
  std::string payload = base64UrlEncode(R"({"sub":"a?b>"})");
  EXPECT_EQ((*jwtPayload("h." + payload + ".s"))["sub"], "a?b>");
  EXPECT_TRUE(jwtPayload("h." + payload + "==.s"));
  for (const std::string& bad : std::vector<std::string>{"h." + payload, "h." + payload + ".s.x", "h.e30+.s",
                                                         "h." + base64UrlEncode("[]") + ".s"})
    EXPECT_FALSE(jwtPayload(bad)) << bad;
}

TEST(OIDCRecords, QueriesWithRepeatedOrBrokenParametersAreRefused) {
  auto values = parseQuery("code=a%2Bb&state=x+y&&empty=");
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)["code"], "a+b");
  EXPECT_EQ((*values)["state"], "x y");
  EXPECT_FALSE(parseQuery("state=a&state=b"));
  EXPECT_FALSE(parseQuery("code=%2"));
  EXPECT_FALSE(parseQuery("code=%zz"));
}

TEST(OIDCRecords, ClientCredentialsAreFormEncodedBeforeBasicAuthentication) {
  OIDCClientRegistration client{"my client:1", "p@ss/word", "", "", ""};
  EXPECT_EQ(OIDCClient::basicCredentials(client), (HttpBasicAuth{"my+client%3A1", "p%40ss%2Fword"}));
}

TEST(OIDCRecords, TheAuthorizationRequestCarriesPkceAndFreshSecrets) {
  OIDCConfiguration configuration{kIssuer, "https://login.example/authorize?tenant=1", "https://login.example/token",
                                  std::nullopt};
  OIDCClientRegistration client{"c", "s", "app:/cb", "app:/out", "openid profile"};
  auto first = OIDCAuthorizationRequest::make(configuration, client, {{"acr_values", "a:b c"}});
  auto second = OIDCAuthorizationRequest::make(configuration, client, {});
  EXPECT_NE(first.state, second.state);
  EXPECT_NE(first.codeVerifier, second.codeVerifier);
  EXPECT_GE(first.codeVerifier.size(), 43u);

  std::string url = first.url();
  ASSERT_EQ(url.rfind("https://login.example/authorize?tenant=1&", 0), 0u) << url;
  auto query = *parseQuery(url.substr(url.find('&') + 1));
  EXPECT_EQ(query["code_challenge"], pkceChallengeS256(first.codeVerifier));
  EXPECT_EQ(query["acr_values"], "a:b c");
  EXPECT_EQ(query["scope"], "openid profile");

  using Kind = OIDCRedirectOutcome::Kind;
  const std::string answer = "app:/cb?state=" + first.state;
  EXPECT_EQ(first.handleRedirect("app:/cbx?state=" + first.state).kind, Kind::NotOurs);
  EXPECT_EQ(first.handleRedirect(answer + "&code=k&iss=https%3A%2F%2Flogin.example").code, "k");
  EXPECT_EQ(first.handleRedirect(answer + "&code=k#fragment").code, "k");
  EXPECT_EQ(first.handleRedirect("app:/cb?code=k&state=" + second.state).kind, Kind::Refused);
  EXPECT_EQ(first.handleRedirect("app:/cb?code=k").kind, Kind::Refused);
  EXPECT_EQ(first.handleRedirect(answer).kind, Kind::Failed);
}

} // namespace
} // namespace orvex
