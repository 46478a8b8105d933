// Profile passes against the service: which profiles are requested, when a
// pass ends, and how the server's share list reaches the store.
#include "ConnectorFixture.h"

#include "Sync/ProfileRecords.h"

#include <filesystem>

namespace orvex::test {
namespace {

using Profiles = ConnectorFixture;

constexpr const char* kProfilePath = "/api/client/fullprofile";

ManagedShare shareOf(const std::string& id, const std::string& name) {
  ManagedShare share;
  share.ShareId = id;
  share.ShareName = name;
  return share;
}

TEST_F(Profiles, APassAsksEveryDomainOfTheTokenAndEndsAfterTheLastReply) {
  logIn();
  // A share of a domain the user has left, known from an earlier run.
  ClientLoginResponse old;
  old.ManagedShares = std::vector<ManagedShare>{shareOf("gone", "Gone")};
  db->updateShares(old, "gone.example");

  const auto held = addFault({{"Host", "gateway.partner.example"}, {"Path", kProfilePath}, {"Stall", true}});
  connector->getFullProfileForAllDomains();
  waitForFault(held, "held=1");
  // Both replies of the primary domain (named twice by the token) are in;
  // the pass still waits for the partner's.
  ASSERT_TRUE(waitUntil([&] { return connector->awaitingDomains() == 1; }));
  EXPECT_TRUE(db->shareWithId("gone"));
  EXPECT_TRUE(db->shareWithId("docs"));
  EXPECT_FALSE(db->shareWithId("px"));

  admin("POST", "/faults/" + std::to_string(held) + "/release");
  ASSERT_TRUE(waitUntil([&] { return connector->awaitingDomains() == 0 && !db->shareWithId("gone"); }));
  EXPECT_EQ(queriesOf(kProfilePath).size(), 3u);
  EXPECT_EQ(log.matching("Deleting share Gone data since it is not in user domains anymore.").size(), 1u);
  EXPECT_EQ(connector->domains(), (std::vector<std::string>{kPrimary, kPartner}));
  EXPECT_TRUE(connector->domainExists(std::string(kPartner)));
  EXPECT_FALSE(connector->domainExists(std::nullopt));

  auto px = db->shareWithId("px");
  ASSERT_TRUE(px);
  EXPECT_EQ(px->GateWayUrl, kPartner);
  EXPECT_EQ(px->DisplayName, "Partner Exchange");
  std::lock_guard lock(channelsMutex);
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels.at(kPrimary)->connects.load(), 2);
  EXPECT_EQ(channels.at(kPartner)->profiles.load(), 1);
}

TEST_F(Profiles, RepliesWithoutSharesOrWithErrorsLeaveTheStoredSharesAlone) {
  logIn();
  profilesAndCatchUps();
  const auto before = db->shareWithId("docs");
  ASSERT_TRUE(before);

  const std::vector<FaultCase> cases = {
      {{{"Status", 200}, {"Body", R"({"Data":{"ManagedShares":[]}})"}}, "Failed to parse full profile response"},
      {{{"Status", 200}, {"Body", "{not json"}}, "Failed to parse full profile response"},
      {{{"Status", 500}, {"Body", "{}"}},
       "Failed connection to gateway for domain: orvex.example. Error (null). HTTP status code: 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    answerWith(kProfilePath, c.fault);
    const std::size_t seen = log.matching(c.logged).size();
    connector->getFullProfilleForSingleDomain(kPrimary);
    ASSERT_TRUE(log.waitFor(c.logged, seen + 1));
    ASSERT_TRUE(waitUntil([&] { return connector->awaitingDomains() == 0; }));
    auto after = db->shareWithId("docs");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->DisplayName, before->DisplayName);
    EXPECT_EQ(after->LastApplyedJournalTick, before->LastApplyedJournalTick);
    EXPECT_TRUE(db->shareWithId("px"));
  }
}

TEST_F(Profiles, SharesRenamedOrRemovedOnTheServerFollowInTheStore) {
  logIn();
  profilesAndCatchUps();
  // The partner domain keeps a share: a profile listing none would change nothing.
  ASSERT_EQ(admin("POST", "/shares", {{"ShareId", "px2"}, {"Name", "Second"}, {"Domain", kPartner}}).status, 201);
  const std::filesystem::path pxFolder = cache->filesCachePath() / "px";
  ASSERT_TRUE(std::filesystem::is_directory(pxFolder));
  // The user's own name for a share survives a rename on the server, beside the new name.
  auto docs = db->shareWithId("docs");
  ASSERT_TRUE(db->renameShare(*docs, "Mine"));

  ASSERT_EQ(admin("PATCH", "/shares/docs", {{"Name", "Papers"}}).status, 200);
  ASSERT_EQ(admin("DELETE", "/shares/px").status, 200);
  profilesAndCatchUps();

  EXPECT_EQ(db->shareWithId("docs")->DisplayName, "Mine (Papers)");
  EXPECT_FALSE(db->shareWithId("px"));
  EXPECT_TRUE(log.waitFor("Share Partner Exchange deleted remotely - cleaning up all share data."));
  store->finishFolderRemovals();
  EXPECT_FALSE(std::filesystem::exists(pxFolder));
}

TEST_F(Profiles, ASingleDomainPassWaitsForThePassInProgressAndATokenFailureEndsIt) {
  // Logged out: no token can be had, and the pass must not stay outstanding.
  connector->getFullProfilleForSingleDomain(kPrimary);
  ASSERT_TRUE(log.waitFor("Get full profile - Error getting access token"));
  ASSERT_TRUE(waitUntil([&] { return connector->awaitingDomains() == 0; }));

  logIn();
  const auto held = addFault({{"Path", kProfilePath}, {"Stall", true}});
  connector->getFullProfilleForSingleDomain(kPrimary);
  waitForFault(held, "held=1");
  connector->getFullProfilleForSingleDomain(kPartner); // refused: the first is outstanding
  EXPECT_EQ(connector->domains(), (std::vector<std::string>{kPrimary}));

  // A logout ends the pass; replies still on their way do not take it below zero.
  connector->logout();
  EXPECT_EQ(connector->awaitingDomains(), 0);
  EXPECT_EQ(downloads.cancels.load(), 1);
  admin("DELETE", "/faults");
  ASSERT_TRUE(waitUntil([&] { return db->shareWithId("docs") != nullptr; }));
  EXPECT_EQ(connector->awaitingDomains(), 0);
  connector->getFullProfilleForSingleDomain(kPartner);
  ASSERT_TRUE(waitUntil([&] { return db->shareWithId("px") != nullptr; }));
}

} // namespace
} // namespace orvex::test
