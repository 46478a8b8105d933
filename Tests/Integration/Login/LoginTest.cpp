#include "LoginFixture.h"

#include "Support/LogCapture.h"
#include "Sync/Login/OIDCEncoding.h"

#include <sys/stat.h>

namespace orvex::test {
namespace {

using Login = LoginFixture;

std::string text(const OVJWTValue& value) {
  return std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : "<list>";
}

TEST_F(Login, TheWholeLoginGoesThroughTheBrowserAndTheControlSocket) {
  LogCapture log;
  login();

  auto page = browser.waitForPages(1).at(0);
  EXPECT_NE(page.find("code_challenge_method=S256"), std::string::npos) << page;
  EXPECT_NE(page.find("scope=openid+profile+domain_api+offline_access"), std::string::npos) << page;
  EXPECT_EQ(service->identity().lastAcrValues(),
            "tenant:T1 localAuth:1 deviceId:DEV-1 deviceName:My Laptop deviceType:Linux deviceOs:Linux 6.1.0 "
            "latitude:46.758873 longitude:23.612887699999998");

  EXPECT_TRUE(auth->isLoggedIn());
  EXPECT_EQ(auth->getLoggedUserEmail(), kUser);
  EXPECT_EQ(auth->getJWTValueWithKey("domains"), OVJWTValue(std::vector<std::string>{"partner.example"}));
  EXPECT_EQ(text(auth->getJWTValueWithKey("no-such-claim")), "");
  EXPECT_EQ(shell.menuTitle(), "Logout");

  // The token request authenticated the client with HTTP Basic, not in the body.
  auto tokenRequests = received("/oauth2/token");
  ASSERT_EQ(tokenRequests.size(), 1u);
  EXPECT_EQ(tokenRequests[0].find("client_secret"), std::string::npos);

  struct stat info {};
  ASSERT_EQ(stat((folder / "settings.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);
  auto state = auth->authState();
  ASSERT_TRUE(state);
  EXPECT_TRUE(auth->isLoggedInFromUserDefaults());
  for (const auto& line : log.lines()) {
    EXPECT_EQ(line.find(state->accessToken), std::string::npos) << line;
    EXPECT_EQ(line.find(state->refreshToken), std::string::npos) << line;
  }
}

TEST_F(Login, ALoginIsRestoredAfterARestartWithoutAskingTheProvider) {
  login();
  std::string before = bearer().second;
  restartClient();
  onMain([this] { auth->loadState(); });
  EXPECT_EQ(shell.logins.load(), 2);
  EXPECT_EQ(shell.logouts.load(), 0);
  EXPECT_EQ(bearer(), std::make_pair(true, before));
  EXPECT_EQ(received("/oauth2/token").size(), 1u);
}

TEST_F(Login, ATokenOfAnotherIssuerLogsOutAtStartUp) {
  login();
  LogCapture log;
  restartClient("https://login.other.example");
  onMain([this] { auth->loadState(); });
  EXPECT_EQ(shell.logouts.load(), 1);
  EXPECT_FALSE(auth->isLoggedIn());
  EXPECT_NE(log.find(0,
                     "logged into domain https://login.orvex.example, app auth issuer "
                     "https://login.other.example "),
            "");
  EXPECT_EQ(settings->value("authState"), nlohmann::json::object());
}

TEST_F(Login, AForgedRedirectIsRefusedAndTheRealOneStillCompletesTheLogin) {
  LogCapture log;
  onMain([this] { auth->performAuth(); });
  auto page = browser.waitForPages(1).at(0);
  ASSERT_TRUE(openURL("com.orvex.macclient:/oauth2callback?code=stolen&state=forged"));
  ASSERT_TRUE(openURL("com.orvex.macclient:/oauth2callback?code=a&code=b"));
  onMain([] {});
  EXPECT_FALSE(auth->isLoggedIn());
  EXPECT_TRUE(received("/oauth2/token").empty());
  EXPECT_NE(log.find(0, "Refused a login redirect"), "");

  HttpReply reply = visit(page);
  ASSERT_TRUE(openURL(reply.header("Location")));
  ASSERT_TRUE(shell.waitFor(shell.logins, 1));
  EXPECT_TRUE(auth->isLoggedIn());
}

TEST_F(Login, AnErrorRedirectOrOneFromAnotherIssuerEndsTheLogin) {
  std::size_t attempts = 0;
  for (std::string extra : {"error=access_denied", "code=c&iss=https%3A%2F%2Fevil.example"}) {
    onMain([this] { auth->performAuth(); });
    auto pages = browser.waitForPages(++attempts);
    auto state = *parseQuery(pages.back().substr(pages.back().find('?') + 1));
    ASSERT_TRUE(openURL("com.orvex.macclient:/oauth2callback?state=" + state["state"] + "&" + extra));
    onMain([] {});
    EXPECT_FALSE(auth->isLoggedIn()) << extra;
  }
  EXPECT_TRUE(received("/oauth2/token").empty());
}

TEST_F(Login, NoInternetShowsTheAlertAndAsksNothingOfTheProvider) {
  internet = false;
  onMain([this] { auth->performAuth(); });
  ASSERT_EQ(alerts.shown().size(), 1u);
  EXPECT_EQ(alerts.shown()[0].messageText, "There is no internet");
  EXPECT_EQ(alerts.shown()[0].buttons, std::vector<std::string>{"Ok"});
  EXPECT_TRUE(received("/.well-known/openid-configuration").empty());
}

} // namespace
} // namespace orvex::test

namespace orvex::test {
namespace {

// A token as another provider might issue it: "domains" as one text, no "iss".
std::string unsignedToken(const nlohmann::json& claims) {
  return base64UrlEncode(R"({"alg":"RS256","typ":"at+jwt"})") + "." + base64UrlEncode(claims.dump()) + ".c2ln";
}

TEST_F(Login, ClaimsAreReadFromTheAccessTokenWithoutVerifyingIt) {
  OIDCAuthState state;
  state.issuer = "https://login.orvex.example";
  state.accessToken = unsignedToken({{"sub", "carol@x.example"}, {"domains", "other.example"}, {"exp", 5}});
  state.refreshToken = "r";
  onMain([&] { auth->changeAuthState(state); });
  EXPECT_EQ(auth->getJWTValueWithKey("domains"), OVJWTValue(std::string("other.example")));
  EXPECT_EQ(auth->getJWTValueWithKey("exp"), OVJWTValue(std::string("5")));
  EXPECT_EQ(auth->getLoggedUserEmail(), "carol@x.example");
  // A token without "iss" counts as issued by someone else.
  EXPECT_TRUE(auth->didChangeDomainAuthority());
  onMain([this] { auth->loadState(); });
  EXPECT_EQ(shell.logouts.load(), 1);
}

} // namespace
} // namespace orvex::test
