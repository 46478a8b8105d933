// What happens to tokens after the login: expiry on the provider's clock,
// refresh with rotation, revocation, the published documents (discovery,
// JWKS) and the end-session redirect rules.
#include "IdentityServer.h"

#include "Crypto/Jwt.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

namespace orvex::service::test {
namespace {

using orvex::test::HttpReply;

nlohmann::json jsonOf(const HttpReply& reply) {
  return nlohmann::json::parse(reply.body);
}

TEST(IdentityTokens, AccessTokenExpiresOnTheProvidersClock) {
  IdentityServer server({alice()});
  auto tokens = server.provider.issueTokens("alice@orvex.example");
  ASSERT_TRUE(tokens);
  server.clock.advance(std::chrono::seconds(29));
  EXPECT_TRUE(server.provider.verifyAccessToken(tokens->accessToken));
  server.clock.advance(std::chrono::seconds(1));
  EXPECT_FALSE(server.provider.verifyAccessToken(tokens->accessToken));
  EXPECT_EQ(server.refresh(tokens->refreshToken).status, 200) << "the refresh token outlives the access token";
}

TEST(IdentityTokens, RefreshRotatesTheRefreshToken) {
  IdentityServer server({alice()});
  auto first = server.provider.issueTokens("alice@orvex.example");

  HttpReply tooWide = server.refresh(first->refreshToken, "&scope=openid%20email");
  EXPECT_EQ(jsonOf(tooWide)["error"], "invalid_scope");

  auto second = jsonOf(server.refresh(first->refreshToken));
  ASSERT_TRUE(second.contains("refresh_token")) << "a refused scope leaves the token usable";
  EXPECT_NE(second["refresh_token"], first->refreshToken);
  EXPECT_TRUE(server.provider.verifyAccessToken(second["access_token"].get<std::string>()));
  EXPECT_FALSE(decodeJwtClaims(second["id_token"].get<std::string>())->contains("nonce"));

  HttpReply reused = server.refresh(first->refreshToken);
  EXPECT_EQ(reused.status, 400);
  EXPECT_EQ(jsonOf(reused)["error"], "invalid_grant");

  auto narrowed = jsonOf(server.refresh(second["refresh_token"], "&scope=openid%20domain_api"));
  EXPECT_EQ(narrowed["scope"], "openid domain_api");
  EXPECT_FALSE(narrowed.contains("refresh_token")) << "offline_access was not asked for";
}

// The server's workers run requests side by side: a refresh token presented
// twice at once must still be honoured once.
TEST(IdentityTokens, ConcurrentRefreshesOfOneTokenHaveOneWinner) {
  IdentityServer server({alice()});
  auto tokens = server.provider.issueTokens("alice@orvex.example");
  std::atomic<int> granted = 0;
  std::vector<std::thread> workers;
  for (int i = 0; i < 8; ++i) {
    workers.emplace_back([&] {
      httplib::Request request;
      request.method = "POST";
      request.path = "/oauth2/token";
      request.set_header("Content-Type", "application/x-www-form-urlencoded");
      request.set_header("Authorization", basicAuthorization("orvex.macclient", "kqzmvw"));
      request.body = "grant_type=refresh_token&refresh_token=" + tokens->refreshToken;
      httplib::Response response;
      ASSERT_TRUE(server.provider.handle(request, response));
      if (response.status == 200)
        ++granted;
    });
  }
  for (auto& worker : workers)
    worker.join();
  EXPECT_EQ(granted, 1);
}

TEST(IdentityTokens, RevocationAndExpiryByHand) {
  IdentityServer server({alice(), bob()});
  auto aliceTokens = server.provider.issueTokens("alice@orvex.example");
  auto bobTokens = server.provider.issueTokens("bob@orvex.example");
  EXPECT_FALSE(server.provider.issueTokens("nobody@orvex.example"));

  server.provider.revokeTokensOf("ALICE@orvex.example");
  EXPECT_FALSE(server.provider.verifyAccessToken(aliceTokens->accessToken));
  EXPECT_EQ(jsonOf(server.refresh(aliceTokens->refreshToken))["error"], "invalid_grant");
  EXPECT_TRUE(server.provider.verifyAccessToken(bobTokens->accessToken));
  EXPECT_TRUE(server.provider.verifyAccessToken(server.provider.issueTokens("alice@orvex.example")->accessToken))
      << "a new login works again";

  server.provider.expireAccessTokens();
  EXPECT_FALSE(server.provider.verifyAccessToken(bobTokens->accessToken));
  EXPECT_EQ(server.refresh(bobTokens->refreshToken).status, 200);

  auto carol = server.provider.issueTokens("bob@orvex.example");
  server.provider.setUsers({alice()});
  EXPECT_FALSE(server.provider.verifyAccessToken(carol->accessToken)) << "a removed user's tokens stop working";
}

TEST(IdentityTokens, DomainsClaimAsListOrText) {
  IdentityServer server({alice(), bob()});
  auto listed = decodeJwtClaims(server.provider.issueTokens("alice@orvex.example")->accessToken);
  EXPECT_EQ((*listed)["domains"], nlohmann::json::array({"partner.example"}));
  std::string bobToken = server.provider.issueTokens("bob@orvex.example")->accessToken;
  EXPECT_EQ((*decodeJwtClaims(bobToken))["domains"], "other.example");

  auto claims = server.provider.verifyAccessToken(bobToken);
  ASSERT_TRUE(claims);
  EXPECT_EQ(claims->domains, std::vector<std::string>{"other.example"});
  EXPECT_TRUE(claims->allowsDomain("Other.Example"));
  EXPECT_TRUE(claims->allowsDomain("orvex.example"));
  EXPECT_FALSE(claims->allowsDomain("partner.example"));
}

TEST(IdentityTokens, OnlyGenuineAccessTokensVerify) {
  IdentityServer server({alice()});
  IdentityServer other({alice()});
  auto tokens = server.provider.issueTokens("alice@orvex.example");
  EXPECT_FALSE(server.provider.verifyAccessToken(tokens->idToken)) << "an ID token is no access token";
  EXPECT_FALSE(server.provider.verifyAccessToken(other.provider.issueTokens("alice@orvex.example")->accessToken));
  std::string tampered = tokens->accessToken;
  tampered[tampered.find('.') + 5] ^= 1;
  EXPECT_FALSE(server.provider.verifyAccessToken(tampered));
  EXPECT_FALSE(server.provider.verifyAccessToken(""));
}

TEST(IdentityTokens, DiscoveryAndKeySetDescribeTheProvider) {
  IdentityServer server({alice()});
  HttpReply discovery = server.get("/.well-known/openid-configuration");
  ASSERT_EQ(discovery.status, 200);
  auto document = jsonOf(discovery);
  EXPECT_EQ(document["issuer"], kIssuer);
  EXPECT_EQ(document["code_challenge_methods_supported"], nlohmann::json::array({"S256"}));
  EXPECT_EQ(document["response_types_supported"], nlohmann::json::array({"code"}));
  EXPECT_EQ(document["token_endpoint_auth_methods_supported"], nlohmann::json::array({"client_secret_basic"}));
  for (const char* endpoint : {"authorization_endpoint", "token_endpoint", "jwks_uri", "end_session_endpoint"}) {
    std::string address = document[endpoint];
    ASSERT_EQ(address.rfind(std::string(kIssuer) + "/", 0), 0u) << endpoint;
    std::string path = address.substr(std::string(kIssuer).size());
    EXPECT_NE(server.get(path).status, 404) << endpoint;
  }

  std::string jwksPath = document["jwks_uri"].get<std::string>().substr(std::string(kIssuer).size());
  auto keys = jsonOf(server.get(jwksPath))["keys"];
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0]["alg"], "RS256");
  EXPECT_EQ(keys[0]["use"], "sig");
  auto key = RsaKey::fromJwk(keys[0]);
  ASSERT_TRUE(key);
  auto tokens = server.provider.issueTokens("alice@orvex.example");
  EXPECT_TRUE(verifyJwt(tokens->accessToken, *key, "at+jwt"));
  EXPECT_TRUE(verifyJwt(tokens->idToken, *key, "JWT"));

  EXPECT_EQ(server.get("/oauth2/elsewhere").status, 404);
  EXPECT_EQ(server.get("/oauth2/token").status, 405);
}

TEST(IdentityTokens, EndSessionRedirectsOnlyToTheRegisteredAddress) {
  IdentityServer server({alice()});
  std::string registered = percentEncode(kLogoutRedirect);
  // Exactly what the client sends: an empty hint and the address twice.
  HttpReply fromClient = server.get("/oauth2/logout?id_token_hint=&post_logout_redirect_uri=" + registered +
                                    "&state=s1&redirect_uri=" + registered);
  ASSERT_EQ(fromClient.status, 302);
  EXPECT_EQ(fromClient.header("Location"), std::string(kLogoutRedirect) + "?state=s1");

  auto tokens = server.provider.issueTokens("alice@orvex.example");
  server.clock.advance(std::chrono::hours(2));
  EXPECT_EQ(
      server.get("/oauth2/logout?id_token_hint=" + tokens->idToken + "&post_logout_redirect_uri=" + registered).status,
      302)
      << "an expired ID token is still a good hint";

  IdentityServer other({alice()});
  std::string foreignHint = other.provider.issueTokens("alice@orvex.example")->idToken;
  for (const std::string& query : {"post_logout_redirect_uri=" + percentEncode("https://evil.example/"),
                                   "post_logout_redirect_uri=" + percentEncode(kLoginRedirect),
                                   "id_token_hint=" + foreignHint + "&post_logout_redirect_uri=" + registered,
                                   "id_token_hint=" + tokens->accessToken + "&post_logout_redirect_uri=" + registered,
                                   "client_id=someone&post_logout_redirect_uri=" + registered}) {
    HttpReply refused = server.get("/oauth2/logout?" + query);
    EXPECT_EQ(refused.status, 400) << query;
    EXPECT_EQ(refused.header("Location"), "");
  }
  EXPECT_EQ(server.get("/oauth2/logout").status, 200);
}

} // namespace
} // namespace orvex::service::test
