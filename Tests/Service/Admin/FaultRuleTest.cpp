#include "Admin/FaultInjector.h"
#include "Admin/FaultRule.h"
#include "Admin/RequestLog.h"
#include "Config/ConfigReader.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>

namespace orvex::service {
namespace {

TEST(FaultRuleTest, GlobPatterns) {
  EXPECT_TRUE(globMatches("/api/shares/*/files/*", "/api/shares/docs/files/x", false));
  EXPECT_TRUE(globMatches("/api/*", "/api/shares/docs/files/x", false)); // "*" crosses "/"
  EXPECT_TRUE(globMatches("*", "", false));
  EXPECT_TRUE(globMatches("/l/?", "/l/a", false));
  EXPECT_FALSE(globMatches("/l/?", "/l/", false));
  EXPECT_FALSE(globMatches("/api/shares/*/files/*", "/api/shares/docs/files", false));
  EXPECT_FALSE(globMatches("/API/*", "/api/x", false));
  EXPECT_TRUE(globMatches("FILES.*", "files.a.example", true));
  EXPECT_TRUE(globMatches("*a*b*c*", "xxaxxbxxcxx", false));
  // Backtracking stays bounded on a pattern that cannot match.
  EXPECT_FALSE(globMatches("*a*a*a*a*a*a*b", std::string(5000, 'a'), false));
}

TEST(FaultRuleTest, RulesThatCannotActAreRefusedWithTheKeyNamed) {
  auto refusal = [](const nlohmann::json& json) {
    try {
      FaultRule::fromJson(json);
    } catch (const ConfigError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_NE(refusal({{"Path", "/x"}}).find("\"Status\""), std::string::npos); // no action at all
  EXPECT_NE(refusal({{"Body", "x"}}).find("\"Body\""), std::string::npos);
  EXPECT_NE(refusal({{"Stall", true}, {"DelayMs", 5}}).find("\"Stall\""), std::string::npos);
  EXPECT_NE(refusal({{"Status", 500}, {"Times", 0}}).find("\"Times\""), std::string::npos);
  EXPECT_NE(refusal({{"Status", 500}, {"Hots", "x"}}).find("\"Hots\""), std::string::npos);
  EXPECT_EQ(refusal({{"DropAfterBytes", 0}}), "");

  const FaultRule rule = FaultRule::fromJson({{"Status", 400}, {"Body", {{"Code", 7}}}});
  EXPECT_EQ(rule.body, R"({"Code":7})");
}

TEST(FaultRuleTest, EndpointsCountedWithoutTheirIds) {
  EXPECT_EQ(endpointOf("/api/shares/docs/files/abc"), "/api/shares/{ShareId}/files/{Id}");
  EXPECT_EQ(endpointOf("/api/shares/docs/files"), "/api/shares/{ShareId}/files");
  EXPECT_EQ(endpointOf("/api/uploads/0123"), "/api/uploads/{Address}");
  EXPECT_EQ(endpointOf("/api/client/catchup"), "/api/client/catchup");
  EXPECT_EQ(endpointOf("/files"), "/files"); // not below a share
  EXPECT_EQ(endpointOf("/"), "/");
}

TEST(FaultInjectorTest, ADelayEndsWhenTheServiceClockHasMoved) {
  ManualClock clock;
  bool forwarded = false;
  FaultInjector faults(clock,
                       [&](const httplib::Request&, httplib::Response&, const std::string&) { forwarded = true; });
  FaultRule rule = faults.add(FaultRule::fromJson({{"DelayMs", 5000}}));
  httplib::Request request;
  request.method = "GET";
  request.path = "/x";
  httplib::Response response;
  auto answered = std::async(std::launch::async, [&] { return faults.beforeHandling(request, "h", response); });
  ASSERT_TRUE(faults.waitFor(rule.id, 1, 1, std::chrono::seconds(30)));
  clock.advance(std::chrono::milliseconds(4999));
  EXPECT_EQ(faults.describe(rule.id).value()["Held"], 1);
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(answered.get()); // the service answers it as usual
  EXPECT_FALSE(forwarded);
  EXPECT_EQ(faults.describe(rule.id).value()["Held"], 0);
}

TEST(FaultInjectorTest, ShuttingDownLetsHeldRequestsGoAndHoldsNoMore) {
  ManualClock clock;
  FaultInjector faults(clock, [](const httplib::Request&, httplib::Response&, const std::string&) {});
  FaultRule rule = faults.add(FaultRule::fromJson({{"Stall", true}}));
  httplib::Request request;
  httplib::Response first, second;
  auto held = std::async(std::launch::async, [&] { return faults.beforeHandling(request, "h", first); });
  ASSERT_TRUE(faults.waitFor(rule.id, 1, 1, std::chrono::seconds(30)));
  faults.shutDown();
  EXPECT_TRUE(held.get());
  EXPECT_EQ(first.status, 503);
  EXPECT_TRUE(faults.beforeHandling(request, "h", second));
  EXPECT_EQ(second.status, 503);
}

} // namespace
} // namespace orvex::service
