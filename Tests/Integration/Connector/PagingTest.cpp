// Paging: a full page of exactly 10000 nodes is followed by the next page.
#include "ConnectorFixture.h"

#include "State/Ids.h"
#include "State/StateTypes.h"

#include <fmt/format.h>

namespace orvex::test {
namespace {

constexpr int kNodes = 10000;

class Paging : public ConnectorFixture {
 protected:
  nlohmann::json serviceConfig() const override {
    nlohmann::json config = ConnectorFixture::serviceConfig();
    config["Shares"].push_back({{"ShareId", "big"}, {"Name", "Big"}, {"Domain", kPrimary}, {"AclToken", "big-token"}});
    return config;
  }
};

TEST_F(Paging, AFullPageIsMergedAndFollowedByTheNextOne) {
  const service::Actor seeder{"alice@orvex.example", "seed", true};
  for (int i = 0; i < kNodes; ++i) {
    const auto id = fmt::format("node-{:05}", i);
    ASSERT_TRUE(service->state().create(
        "big", service::nodeSpec(id, "big", id + ".txt", true, 0, dateFromSecondsSince1970(1.8e9)), seeder,
        service::newGuid()));
  }
  logIn();
  profilesAndCatchUps();

  std::vector<std::string> bigQueries;
  for (const auto& query : queriesOf("/api/client/catchup")) {
    if (query.find("shareId=big&") != std::string::npos) {
      bigQueries.push_back(query);
    }
  }
  ASSERT_EQ(bigQueries.size(), 2u);
  EXPECT_NE(bigQueries[0].find("tickfrom=-1&tickstart=-1&ticktake=10000"), std::string::npos);
  EXPECT_NE(bigQueries[1].find("tickfrom=9999&tickstart=9999&ticktake=10000"), std::string::npos);
  EXPECT_EQ(log.matching("sendCatchupRequest: continuing catchup for share Big, tick 9999.").size(), 1u);
  EXPECT_EQ(storedNodes("big").size(), static_cast<std::size_t>(kNodes));
  EXPECT_EQ(db->shareWithId("big")->LastApplyedJournalTick, serviceShareTick("big"));
}

} // namespace
} // namespace orvex::test
