#include "LoginFixture.h"

#include "Support/LogCapture.h"

namespace orvex::test {
namespace {

using Tokens = LoginFixture;

TEST_F(Tokens, AnExpiredAccessTokenIsRefreshedAndTheNewOneIsAccepted) {
  login();
  auto [ok, before] = bearer();
  ASSERT_TRUE(ok);
  EXPECT_EQ(bearer().second, before); // still fresh: no refresh
  EXPECT_EQ(received("/oauth2/token").size(), 1u);

  clock.advance(kTokenLifetime);
  auto [refreshed, after] = bearer();
  ASSERT_TRUE(refreshed);
  EXPECT_NE(after, before);
  EXPECT_EQ(after.rfind("Bearer ", 0), 0u);
  EXPECT_TRUE(service->identity().verifyAccessToken(after.substr(7)));
  ASSERT_EQ(received("/oauth2/token").size(), 2u);
  EXPECT_NE(received("/oauth2/token")[1].find("grant_type=refresh_token"), std::string::npos);
  // The provider rotates refresh tokens: the stored state holds the new one.
  EXPECT_EQ(OIDCAuthState::fromJSON(*settings->value("authState"))->accessToken, after.substr(7));
}

TEST_F(Tokens, ConcurrentCallersShareOneRefresh) {
  login();
  clock.advance(kTokenLifetime);
  constexpr int kCallers = 8;
  std::vector<std::promise<std::string>> results(kCallers);
  std::vector<std::thread> callers;
  for (auto& result : results)
    callers.emplace_back([this, &result] {
      auth->fetchAuthBearerWithCompletion([&result](bool, std::string value) { result.set_value(value); });
    });
  for (auto& caller : callers)
    caller.join();
  std::string first = results[0].get_future().get();
  for (int i = 1; i < kCallers; ++i)
    EXPECT_EQ(results[i].get_future().get(), first);
  EXPECT_EQ(received("/oauth2/token").size(), 2u); // the code exchange and one refresh
}

TEST_F(Tokens, ARefusedRefreshIsReportedToTheCallerAndEndsTheLogin) {
  login();
  service->identity().revokeTokensOf(kUser);
  clock.advance(kTokenLifetime);
  LogCapture log;
  std::promise<std::pair<bool, bool>> done;
  orvex::HttpRequest request;
  request.url = "https://gateway.orvex.example/api/profile";
  auth->fetchUrlRequestWithCompletion(request, [&done](bool ok, std::optional<orvex::HttpRequest> changed) {
    done.set_value({ok, changed.has_value()});
  });
  EXPECT_EQ(done.get_future().get(), std::make_pair(false, false));
  EXPECT_NE(log.find(0, "Error fetching fresh tokens: invalid_grant"), "");
  // A login the provider no longer honours ends with a silent logout.
  ASSERT_TRUE(shell.waitFor(shell.logouts, 1));
  EXPECT_FALSE(auth->isLoggedIn());
  EXPECT_TRUE(alerts.shown().empty());
}

TEST_F(Tokens, TheRequestGetsTheAuthorizationHeaderAdded) {
  login();
  std::promise<std::optional<orvex::HttpRequest>> done;
  orvex::HttpRequest request;
  request.headers.add("Authorization", "Basic earlier");
  auth->fetchUrlRequestWithCompletion(
      request, [&done](bool, std::optional<orvex::HttpRequest> changed) { done.set_value(changed); });
  auto changed = done.get_future().get();
  ASSERT_TRUE(changed);
  ASSERT_EQ(changed->headers.fields().size(), 2u);
  EXPECT_EQ(changed->headers.fields()[1].second, bearer().second);
}

TEST_F(Tokens, LoggedOutCallersGetNoToken) {
  EXPECT_EQ(bearer(), std::make_pair(false, std::string()));
}

} // namespace
} // namespace orvex::test

namespace orvex::test {
namespace {

TEST_F(Tokens, AMalformedTokenReplyIsLoggedAndChangesNothing) {
  login();
  auto before = auth->authState();
  auto stored = settings->value("authState");
  requests->answerWith("/oauth2/token", R"({"token_type": "Bearer", "expires_in": 60})");
  clock.advance(kTokenLifetime);
  LogCapture log;
  EXPECT_EQ(bearer(), std::make_pair(false, std::string()));
  EXPECT_EQ(auth->authState(), before);
  EXPECT_EQ(settings->value("authState"), stored);
  EXPECT_EQ(shell.logouts.load(), 0);

  // At login the same reply ends the attempt without a state.
  onMain([this] { auth->changeAuthState(std::nullopt); });
  requests->answerWith("/oauth2/token", "<html>not json</html>");
  onMain([this] { auth->performAuth(); });
  HttpReply reply = visit(browser.waitForPages(2).back());
  const int titles = shell.titleUpdates.load();
  ASSERT_TRUE(openURL(reply.header("Location")));
  ASSERT_TRUE(shell.waitFor(shell.titleUpdates, titles + 1)); // the failed login installs no state
  EXPECT_NE(log.find(0, "<AUTH> Error exchanging the authorization code: the token reply is not a JSON object"), "");
  EXPECT_FALSE(auth->isLoggedIn());
}

} // namespace
} // namespace orvex::test
