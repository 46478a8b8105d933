// Public links against the service: the link the handler gets serves the file
// without a login; every failure is logged and calls no handler.
#include "ConnectorFixture.h"

#include <future>

namespace orvex::test {
namespace {

constexpr const char* kLinksPath = "/api/publiclinks";

class PublicLinks : public ConnectorFixture {
 protected:
  void SetUp() override {
    ConnectorFixture::SetUp();
    logIn();
    profilesAndCatchUps();
    auto file = db->fileWithId(nodeId("docs", "readme.txt"), false);
    ASSERT_TRUE(file);
    readme = *file;
  }

  // Asks for a link of `file`; once `logged` shows (or the handler ran), answers
  // what the handler got, or nothing when it was not called.
  std::optional<std::optional<std::string>> linkFor(const OVFile& file, const std::string& logged = "") {
    auto result = std::make_shared<std::promise<std::optional<std::string>>>();
    auto onMainThread = std::make_shared<std::atomic<bool>>(false);
    connector->createFilePublicLink(file, [this, result, onMainThread](std::optional<std::string> link) {
      *onMainThread = mainQueue->isMainThread();
      result->set_value(std::move(link));
      signal.notify();
    });
    auto answer = result->get_future();
    if (!logged.empty()) {
      EXPECT_TRUE(log.waitFor(logged));
      onMain([] {}); // a handler posted before the line was logged has run by now
      return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready
                 ? std::optional<std::optional<std::string>>(answer.get())
                 : std::nullopt;
    }
    EXPECT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(*onMainThread);
    return answer.get();
  }

  OVFile readme;
};

TEST_F(PublicLinks, TheLinkServesTheFileWithoutALogin) {
  auto link = linkFor(readme);
  ASSERT_TRUE(link && *link);
  const std::string prefix = "https://";
  ASSERT_EQ(link->value().rfind(prefix, 0), 0u) << **link;
  const std::string rest = link->value().substr(prefix.size());
  const std::string host = rest.substr(0, rest.find('/'));
  EXPECT_EQ(host, "www.orvex.example");
  HttpReply fetched = browserClient->get(host, rest.substr(host.size()));
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body, "hello");
  EXPECT_EQ(log.matching("Creating the file public link for file readme.txt...").size(), 1u);
}

TEST_F(PublicLinks, EveryFailureIsLoggedAndCallsNoHandler) {
  const std::vector<FaultCase> cases = {
      {{{"Status", 403}, {"Body", R"({"Message":"Not yours"})"}},
       "createFilePublicLink for readme.txt : error 403, message Not yours"},
      {{{"Status", 500}, {"Body", ""}},
       "Failed to receive reply for create public link request. HTTP status code: 500."},
      {{{"Status", 201}, {"Body", "<html>"}}, "Cannot parse create public link responce for readme.txt: <html>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    answerWith(kLinksPath, c.fault);
    EXPECT_FALSE(linkFor(readme, c.logged));
  }

  OVFile stranger = readme;
  stranger.shareId = "no-such-share";
  EXPECT_FALSE(linkFor(stranger, "createFilePublicLink for readme.txt : cannot retrieve domain url."));
}

TEST_F(PublicLinks, AReplyWithoutDataGivesTheHandlerNoLink) {
  addFault({{"Path", kLinksPath}, {"Status", 200}, {"Body", R"({"Message":"ok"})"}});
  auto link = linkFor(readme);
  ASSERT_TRUE(link);
  EXPECT_FALSE(*link);
}

} // namespace
} // namespace orvex::test
