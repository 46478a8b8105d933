// Alerts without a desktop: reported on the log and standard error and
// answered with their default.
#include "UI/OVHeadlessAlerts.h"

#include "Support/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace orvex {
namespace {

using ::testing::HasSubstr;

OVAlert logoutQuestion() {
  OVAlert alert;
  alert.messageText = "Logout from Orvex?";
  alert.informativeText =
      "Do you really want to logout from the Orvex, deleting all cached files and login information?";
  alert.buttons = {"Logout", "Cancel"};
  alert.defaultButton = 1;
  return alert;
}

TEST(HeadlessAlertsTest, ReportsTheAlertAndTakesItsDefault) {
  test::LogCapture log;
  std::ostringstream err;
  OVHeadlessAlerts alerts(err);
  EXPECT_EQ(alerts.runModal(logoutQuestion()).button, 1u);
  EXPECT_THAT(err.str(), HasSubstr("Logout from Orvex? - Do you really want to logout"));
  EXPECT_THAT(err.str(), HasSubstr("answered \"Cancel\""));
  EXPECT_THAT(log.find(0, "Alert: Logout from Orvex?"), HasSubstr("answered \"Cancel\""));

  OVAlert remind;
  remind.messageText = "New app available!";
  remind.buttons = {"Go to App Store", "Not now"};
  remind.defaultButton = 7; // out of range: the first button
  remind.checkboxText = "Remind me later";
  remind.checkboxState = true;
  auto answer = alerts.runModal(remind);
  EXPECT_EQ(answer.button, 0u);
  EXPECT_TRUE(answer.checkboxState);

  OVAlert noInternet;
  noInternet.messageText = "There is no internet";
  alerts.runModal(noInternet);
  EXPECT_THAT(err.str(), HasSubstr("There is no internet [answered \"OK\""));
}

} // namespace
} // namespace orvex
