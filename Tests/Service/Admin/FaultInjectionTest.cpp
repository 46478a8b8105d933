#include "AdminFixture.h"

#include <future>
#include <thread>

namespace orvex::service::test {
namespace {

class FaultInjectionTest : public AdminFixture {
 protected:
  std::string downloadPath(const std::string& id = "big") {
    return "/api/shares/docs/files/" + *service->state().node("docs", id)->UploadName;
  }
  std::string catchUpTarget() {
    return "/api/client/catchup?token=docs-token&shareId=docs&tickfrom=-1&tickstart=-1&ticktake=10000";
  }
  // A TLS client of its own, for a request made on another thread.
  std::unique_ptr<httplib::SSLClient> tlsClient() {
    auto tls = std::make_unique<httplib::SSLClient>("127.0.0.1", client->port());
    tls->enable_server_certificate_verification(false); // the gateway tests check the certificate
    return tls;
  }
};

TEST_F(FaultInjectionTest, AStatusRuleActsOnItsNumberOfMatchingRequestsThenStops) {
  const std::int64_t id = addFault({{"Host", "FILES.a.example"},
                                    {"Method", "get"},
                                    {"Path", "/api/shares/*/files/*"},
                                    {"Status", 500},
                                    {"Times", 2}});
  const std::string bearer = token();
  EXPECT_EQ(client->get(kGateway, catchUpTarget(), bearer).status, 200); // another host: untouched
  EXPECT_EQ(client->get(kFiles, downloadPath(), bearer).status, 500);
  EXPECT_EQ(client->get(kFiles, downloadPath("welcome"), bearer).status, 500);
  HttpReply third = client->get(kFiles, downloadPath("welcome"), bearer);
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.body, "Welcome!");
  EXPECT_EQ(admin("GET", "/faults/" + std::to_string(id)).json()["Hits"], 2);
}

TEST_F(FaultInjectionTest, AGivenBodyPassesThroughByteForByte) {
  const std::string body =
      R"({"Message":"Wrong position",  "Code":16,"Data":{"CurrentPosition":5,"ExpectedLength":9}})";
  addFault({{"Path", "/api/uploads/*"}, {"Status", 400}, {"Body", body}});
  addFault({{"Method", "PUT"}, {"Status", 423}, {"Body", "locked"}, {"ContentType", "text/plain"}});
  HttpReply announced = event("POST", "docs", 0, node("n1", "docs", "n1.txt", true, 9));
  ASSERT_EQ(announced.status, 200) << announced.body;
  const std::string url = nlohmann::json::parse(announced.body)["Data"]["Url"];
  HttpReply refused = chunk(url, 0, "12345", 9);
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body, body);
  EXPECT_EQ(refused.header("Content-Type"), "application/json; charset=utf-8");
  HttpReply locked = event("PUT", "docs", 2, node("welcome", "docs", "W.txt", true, 8));
  EXPECT_EQ(locked.status, 423);
  EXPECT_EQ(locked.body, "locked");
  EXPECT_EQ(service->state().node("docs", "welcome")->PublicName, "Welcome.txt");

  ASSERT_EQ(admin("DELETE", "/faults").status, 200);
  EXPECT_EQ(chunk(url, 0, "123456789", 9).status, 201);
}

TEST_F(FaultInjectionTest, ADelayedRequestIsHeldWhereTestsCanSeeItUntilReleased) {
  const std::int64_t id = addFault({{"Path", "/api/client/catchup"}, {"DelayMs", 3600000}});
  const std::string bearer = token();
  auto delayed = std::async(std::launch::async, [&] {
    return tlsClient()->Get(catchUpTarget(), {{"Host", kGateway}, {"Authorization", "Bearer " + bearer}});
  });
  EXPECT_EQ(waitForFault(id, "held=1")["Held"], 1);
  const nlohmann::json log = requestsAfter();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back()["Path"], "/api/client/catchup");
  EXPECT_TRUE(log.back()["Status"].is_null()); // seen, not answered yet
  // Other requests go on while it waits.
  EXPECT_EQ(client->get(kFiles, downloadPath("welcome"), bearer).status, 200);

  ASSERT_EQ(admin("POST", "/faults/" + std::to_string(id) + "/release").status, 200);
  auto reply = delayed.get();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200); // the service then answered as usual
  EXPECT_EQ(requestsAfter(log.back()["Sequence"].get<std::int64_t>() - 1)[0]["Status"], 200);
}

TEST_F(FaultInjectionTest, AStallEndsWhenItsClientGoesAway) {
  const std::int64_t id = addFault({{"Host", kFiles}, {"Stall", true}, {"Times", 1}});
  const std::string bearer = token();
  auto tls = tlsClient();
  auto stalled = std::async(std::launch::async, [&] {
    return tls->Get(downloadPath(), {{"Host", kFiles}, {"Authorization", "Bearer " + bearer}});
  });
  waitForFault(id, "held=1");
  tls->stop(); // closes the connection under the waiting request
  EXPECT_FALSE(stalled.get());
  EXPECT_EQ(waitForFault(id, "held=0")["Hits"], 1);
  EXPECT_EQ(client->get(kFiles, downloadPath("welcome"), bearer).status, 200); // used up
}

TEST_F(FaultInjectionTest, ADroppedConnectionLeavesTheClientAShortBody) {
  addFault({{"Path", "/api/shares/docs/files/*"}, {"Method", "GET"}, {"DropAfterBytes", 1000}, {"Times", 1}});
  addFault({{"Path", "/api/client/catchup"}, {"DropAfterBytes", 10}, {"Status", 200}, {"Body", "0123456789abcdef"}});
  const std::string bearer = token();
  HttpReply streamed = client->get(kFiles, downloadPath(), bearer);
  EXPECT_EQ(streamed.body.size(), 1000u);
  EXPECT_FALSE(streamed.error.empty());
  HttpReply given = client->get(kGateway, catchUpTarget(), bearer);
  EXPECT_EQ(given.body, "0123456789");
  EXPECT_FALSE(given.error.empty());

  HttpReply whole = client->get(kFiles, downloadPath(), bearer); // the rule is used up
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body.size(), static_cast<std::size_t>(kBigSize));
}

} // namespace
} // namespace orvex::service::test
