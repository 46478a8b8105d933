// Catch-up against the service: the store follows the server's tree page by
// page, failures leave the share where it was, and requests in flight decide
// which new ones go out.
#include "ConnectorFixture.h"

#include "Store/OVFile.h"

#include <algorithm>

namespace orvex::test {
namespace {

using CatchUp = ConnectorFixture;

constexpr const char* kCatchUpPath = "/api/client/catchup";

TEST_F(CatchUp, TheFirstCatchUpFillsTheStoreWithTheServersTree) {
  logIn();
  profilesAndCatchUps();
  const auto queries = queriesOf(kCatchUpPath);
  EXPECT_NE(std::ranges::find(queries, "token=docs-token&shareId=docs&tickfrom=-1&tickstart=-1&ticktake=10000"),
            queries.end());

  for (const std::string shareId : {"docs", "px"}) {
    SCOPED_TRACE(shareId);
    const auto expected = serviceNodes(shareId);
    const auto stored = storedNodes(shareId);
    ASSERT_EQ(stored.size(), expected.size());
    for (const auto& [id, node] : expected) {
      ASSERT_TRUE(stored.contains(id)) << id;
      const OVFile& row = stored.at(id);
      EXPECT_EQ(row.publicName, node.value("PublicName", ""));
      EXPECT_EQ(row.parentId, node.value("ParrentId", ""));
      EXPECT_EQ(row.isFile, node.value("IsFile", true));
      EXPECT_EQ(row.fileSize, node.value("EndOfFile", std::uint64_t{0}));
      EXPECT_EQ(row.tick, node.value("Tick", std::uint64_t{0}));
      EXPECT_EQ(row.status, static_cast<std::uint64_t>(kFileStatusSynchronized));
    }
    EXPECT_EQ(db->shareWithId(shareId)->LastApplyedJournalTick, serviceShareTick(shareId));
  }
  EXPECT_GE(shareList.reloads.load(), 1);
  EXPECT_EQ(shareList.lastCount.load(), 3u); // both shares and the temporary-files share
}

TEST_F(CatchUp, RemoteChangesArriveAndLocallyModifiedNodesStay) {
  logIn();
  profilesAndCatchUps();
  const std::string readme = nodeId("docs", "readme.txt");
  const std::string q1 = nodeId("docs", "q1.txt");
  const std::string old = nodeId("docs", "old.txt");
  const std::string notes = nodeId("docs", "notes.txt");
  ASSERT_TRUE(db->updateFileWithId(notes, "docs", kFileStatusModified));
  const auto reached = db->shareWithId("docs")->LastApplyedJournalTick;

  const nlohmann::json bob = {{"User", "bob@orvex.example"}, {"DeviceId", "bobs-pc"}};
  auto as = [&](nlohmann::json body) {
    body.update(bob);
    return body;
  };
  ASSERT_EQ(admin("POST", "/shares/docs/nodes", as({{"Name", "new.txt"}, {"Content", "fresh"}})).status, 201);
  ASSERT_EQ(admin("PUT", "/shares/docs/nodes/" + readme + "/content", as({{"Content", "hello again"}})).status, 200);
  ASSERT_EQ(admin("PATCH", "/shares/docs/nodes/" + q1, as({{"Name", "q1-final.txt"}})).status, 200);
  ASSERT_EQ(admin("DELETE", "/shares/docs/nodes/" + old, bob).status, 200);
  ASSERT_EQ(admin("PATCH", "/shares/docs/nodes/" + notes, as({{"Name", "their-notes.txt"}})).status, 200);
  catchUpAndWait("docs");

  const auto stored = storedNodes("docs");
  EXPECT_EQ(stored.at(readme).fileSize, std::string("hello again").size());
  EXPECT_EQ(stored.at(q1).publicName, "q1-final.txt");
  EXPECT_FALSE(stored.contains(old));
  EXPECT_TRUE(stored.contains(nodeId("docs", "new.txt")));
  EXPECT_EQ(stored.at(notes).publicName, "notes.txt");
  EXPECT_EQ(stored.at(notes).status, static_cast<std::uint64_t>(kFileStatusModified));
  // The request started from the tick the first catch-up reached.
  EXPECT_NE(queriesOf(kCatchUpPath).back().find("shareId=docs&tickfrom=" + std::to_string(reached) + "&"),
            std::string::npos);
}

TEST_F(CatchUp, AFailedPageLeavesTheTickAndTheNextCatchUpStartsThere) {
  logIn();
  profilesAndCatchUps();
  const auto tick = db->shareWithId("docs")->LastApplyedJournalTick;
  admin("POST", "/shares/docs/nodes", {{"User", "bob@orvex.example"}, {"Name", "late.txt"}, {"Content", "x"}});

  const std::vector<FaultCase> cases = {
      {{{"Status", 500}, {"Body", "{}"}},
       "Warning! Error with catchup responce for share docs: (null), HTTP status code: 500"},
      {{{"Status", 200}, {"Body", "[1,2"}}, "Warning! Cannot parse catchup responce for share Documents: error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    nlohmann::json rule = c.fault;
    rule["Times"] = 1;
    answerWith(kCatchUpPath, rule);
    catchUpAndWait("docs");
    EXPECT_EQ(log.matching(c.logged).size(), 1u);
    EXPECT_EQ(db->shareWithId("docs")->LastApplyedJournalTick, tick);
  }
  catchUpAndWait("docs");
  EXPECT_GT(db->shareWithId("docs")->LastApplyedJournalTick, tick);
  EXPECT_TRUE(storedNodes("docs").contains(nodeId("docs", "late.txt")));
}

TEST_F(CatchUp, ARequestInFlightRefusesTheSameOrALaterTickAndLetsAnEarlierOneGo) {
  logIn();
  profilesAndCatchUps();
  ManagedShare docs = *db->shareWithId("docs");
  const auto held = addFault({{"Path", kCatchUpPath}, {"Stall", true}});
  connector->sendCatchupRequest(docs, 50);
  waitForFault(held, "held=1");
  connector->sendCatchupRequest(docs, 50);
  connector->sendCatchupRequest(docs, 60);
  EXPECT_EQ(log.matching("sendCatchupRequest: share Documents is already being catched up from tick 50.").size(), 2u);
  connector->sendCatchupRequest(docs, 40);
  waitForFault(held, "held=2");
  EXPECT_EQ(connector->activeCatchupRequests().at("docs"), 40);
  // A share never caught up counts 0 as -1.
  docs.LastApplyedJournalTick = 0;
  connector->catchUp(docs);
  waitForFault(held, "held=3");

  const int settled = downloads.checks.load();
  admin("DELETE", "/faults");
  ASSERT_TRUE(
      waitUntil([&] { return downloads.checks.load() > settled && connector->activeCatchupRequests().empty(); }));
  auto queries = queriesOf(kCatchUpPath);
  ASSERT_GE(queries.size(), 3u);
  EXPECT_NE(queries[queries.size() - 3].find("tickfrom=50&tickstart=50"), std::string::npos);
  EXPECT_NE(queries[queries.size() - 2].find("tickfrom=40&tickstart=40"), std::string::npos);
  EXPECT_NE(queries.back().find("tickfrom=-1&tickstart=-1"), std::string::npos);
}

TEST_F(CatchUp, WithoutInternetOrDomainNothingIsSent) {
  logIn();
  ManagedShare share;
  share.ShareId = "docs";
  share.ShareName = "Documents";
  connector->sendCatchupRequest(share, -1);
  EXPECT_EQ(log.matching("sendCatchupRequest: domain (null) is not reachable, will try again later.").size(), 1u);
  share.GateWayUrl = kPrimary;
  network->setDisableInternetConnection(true);
  connector->catchUp(share);
  EXPECT_TRUE(connector->activeCatchupRequests().empty());
  EXPECT_TRUE(queriesOf(kCatchUpPath).empty());
}

TEST_F(CatchUp, APageNamingOtherSharesOrUnsafeIdsTouchesOnlyItsOwnShare) {
  logIn();
  profilesAndCatchUps();
  const std::string contract = nodeId("px", "contract.txt");
  // Records shaped as the server sends them, with the ids and names changed.
  const nlohmann::json shape = serviceNodes("docs").begin()->second;
  const auto node = [&](const std::string& share, const std::string& id, const std::string& name) {
    nlohmann::json record = shape;
    record.update({{"ShareId", share},
                   {"InternalName", id},
                   {"ParrentId", share},
                   {"PublicName", name},
                   {"Tick", 90},
                   {"ShareTick", 90}});
    return record;
  };
  const nlohmann::json page = {{"OvVirtualFiles",
                                {node("px", contract, "hijacked.txt"), node("docs", "../../escape", "escape.txt"),
                                 node("docs", "fine-id", "slash/name.txt"), node("docs", "good-id", "good.txt")}},
                               {"ShareTick", 90},
                               {"LargestTick", 90}};
  addFault({{"Path", kCatchUpPath}, {"Status", 200}, {"Body", page.dump()}, {"Times", 1}});
  catchUpAndWait("docs");

  EXPECT_EQ(storedNodes("px").at(contract).publicName, "contract.txt");
  const auto docs = storedNodes("docs");
  EXPECT_TRUE(docs.contains("good-id"));
  EXPECT_FALSE(docs.contains("../../escape"));
  EXPECT_FALSE(docs.contains("fine-id"));
  EXPECT_EQ(log.matching("Catchup of share Documents brought node").size(), 3u);
  EXPECT_EQ(db->shareWithId("docs")->LastApplyedJournalTick, 90);
}

} // namespace
} // namespace orvex::test
