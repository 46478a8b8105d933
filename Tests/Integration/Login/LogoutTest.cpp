#include "LoginFixture.h"

namespace orvex::test {
namespace {

using Logout = LoginFixture;

TEST_F(Logout, AConfirmedLogoutReachesTheEndSessionEndpointAndClearsTheState) {
  login();
  std::string loginState = auth->authState()->authorizationState;
  onMain([this] { auth->logoutFromAuth(false); });
  ASSERT_TRUE(shell.waitFor(shell.logouts, 1));

  ASSERT_EQ(alerts.shown().size(), 1u);
  EXPECT_EQ(alerts.shown()[0].messageText, brand.bundleName.empty() ? "" : "Logout from " + brand.bundleName + "?");
  EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"Logout", "Cancel"}));
  EXPECT_FALSE(auth->isLoggedIn());
  EXPECT_EQ(settings->value("authState"), nlohmann::json::object());
  EXPECT_EQ(shell.menuTitle(), "Log in");

  auto pages = browser.waitForPages(2);
  HttpReply reply = visit(pages.back());
  EXPECT_EQ(reply.header("Location").rfind("com.orvex.macclient:/signout-callback-oidc", 0), 0u)
      << reply.status << reply.body;
  auto ended = received("/oauth2/logout");
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_NE(ended[0].find("state=" + loginState), std::string::npos) << ended[0];
}

TEST_F(Logout, PendingUploadsCancelledAnswersOrNoInternetKeepTheLogin) {
  login();
  shell.uploads = true;
  onMain([this] { auth->logoutFromAuth(false); });
  ASSERT_EQ(alerts.shown().size(), 1u);
  EXPECT_EQ(alerts.shown()[0].buttons, std::vector<std::string>{"Cancel"});

  shell.uploads = false;
  alerts.queueAnswer({1, false}); // "Cancel"
  onMain([this] { auth->logoutFromAuth(false); });

  internet = false;
  onMain([this] { auth->logoutFromAuth(true); });
  ASSERT_EQ(alerts.shown().size(), 3u);
  EXPECT_EQ(alerts.shown()[2].messageText, "There is no internet");

  onMain([] {});
  EXPECT_TRUE(auth->isLoggedIn());
  EXPECT_EQ(shell.logouts.load(), 0);
  EXPECT_TRUE(received("/oauth2/logout").empty());
}

} // namespace
} // namespace orvex::test
