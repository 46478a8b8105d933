#include "Config/ServiceConfig.h"
#include "Config/StateSeeding.h"
#include "State/ServiceState.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvex::service {
namespace {

nlohmann::json validConfig() {
  return nlohmann::json::parse(R"({
    "Domains": ["a.example", "b.example"],
    "Users": [{"Email": "alice@a.example", "Password": "pw", "PrimaryDomain": "a.example", "Domains": ["b.example"]}],
    "Companies": [{"CompanyId": "acme", "AssociationType": 2}],
    "Shares": [
      {"ShareId": "docs", "Name": "Docs", "Domain": "a.example", "CompanyId": "acme"},
      {"ShareId": "sub", "Name": "Sub", "Domain": "a.example", "ParentShareId": "docs", "InternalName": "f1"}
    ],
    "Files": [
      {"Share": "docs", "Path": "Team", "Folder": true, "InternalName": "f1"},
      {"Share": "docs", "Path": "Team/notes.txt", "Text": "hi", "LockedBy": "bob@a.example"},
      {"Share": "docs", "Path": "big.bin", "Size": 4096, "Seed": 3}
    ]
  })");
}

std::string errorOf(const std::function<void(nlohmann::json&)>& change) {
  nlohmann::json config = validConfig();
  change(config);
  try {
    ServiceConfig::fromJson(config, "test.json");
  } catch (const ConfigError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(ServiceConfigTest, BadValuesAreRefusedNamingTheirKey) {
  struct Case {
    std::function<void(nlohmann::json&)> change;
    const char* named;
  };
  const Case cases[] = {
      {[](auto& c) { c["Domains"] = nlohmann::json::array(); }, "\"Domains\""},
      {[](auto& c) { c["Domains"][1] = "bad domain"; }, "\"Domains[1]\""},
      {[](auto& c) { c["Sharez"] = 1; }, "\"Sharez\" is not a known key"},
      {[](auto& c) { c["Users"][0]["PrimaryDomain"] = "c.example"; }, "\"Users[0].PrimaryDomain\""},
      {[](auto& c) { c["Users"][0]["Domains"] = {"c.example"}; }, "\"Users[0].Domains\""},
      {[](auto& c) { c["Shares"][0]["AclType"] = "read"; }, "\"Shares[0].AclType\" must be an integer"},
      {[](auto& c) { c["Shares"][0]["Users"] = {"nobody@a.example"}; }, "\"Shares[0].Users\""},
      {[](auto& c) { c["Shares"][0]["ShareId"] = "../x"; }, "\"Shares[0].ShareId\""},
      {[](auto& c) { c["Shares"][1]["InternalName"] = "f2"; }, "\"Shares[1].InternalName\" names no folder"},
      {[](auto& c) { c["Shares"][1].erase("ParentShareId"); }, "\"Shares[1].ParentShareId\""},
      {[](auto& c) { c["Files"][1]["Path"] = "Team/../notes.txt"; }, "\"Files[1].Path\""},
      {[](auto& c) { c["Files"][1]["Path"] = "/notes.txt"; }, "\"Files[1].Path\""},
      {[](auto& c) { c["Files"][2]["Text"] = "x"; }, "\"Files[2].Folder\""},
      {[](auto& c) { c["Files"][2]["Size"] = -1; }, "\"Files[2].Size\""},
      {[](auto& c) { c["Files"][2]["Share"] = "sub"; }, "\"Files[2].Share\""},
      {[](auto& c) {
         c["Deployment"] = {{"FileCacheHostLabel", "no label"}};
       },
       "\"Deployment.FileCacheHostLabel\""},
      {[](auto& c) { c["Issuer"] = "http://login.a.example/"; }, "\"Issuer\""},
  };
  for (const Case& c : cases) {
    std::string error = errorOf(c.change);
    EXPECT_NE(error.find(c.named), std::string::npos) << "expected " << c.named << ", got: " << error;
    EXPECT_EQ(error.rfind("test.json: ", 0), 0u) << error;
  }
  EXPECT_EQ(errorOf([](auto&) {}), "accepted");
}

TEST(ServiceConfigTest, TheDeploymentDecidesHostsAndIssuer) {
  nlohmann::json json = validConfig();
  json["Deployment"] = {{"IdentityProviderHostLabel", "id"}, {"DefaultDomain", "a.example"}};
  ServiceConfig config = ServiceConfig::fromJson(json, "test.json");
  EXPECT_EQ(config.issuer, "https://id.a.example");
  EXPECT_EQ(config.issuerHost(), "id.a.example");
  json["Issuer"] = "https://sso.a.example";
  EXPECT_EQ(ServiceConfig::fromJson(json, "test.json").issuerHost(), "sso.a.example");
}

TEST(ServiceConfigTest, TheDemoHoldsEverythingItPromises) {
  ServiceConfig demo = ServiceConfig::demo();
  const UserConfig& user = demo.users.front();
  EXPECT_EQ(user.identity.domains.size() + 1, 2u); // primary domain and one more
  auto anyShare = [&](auto test) { return std::any_of(demo.shares.begin(), demo.shares.end(), test); };
  EXPECT_TRUE(anyShare([](const ShareInfo& s) { return s.isReadOnly(); }));
  EXPECT_TRUE(anyShare([](const ShareInfo& s) { return s.isSubfolder(); }));
  EXPECT_TRUE(anyShare(
      [&](const ShareInfo& s) { return s.domain != user.identity.primaryDomain && s.companyId == "partner-co"; }));
  EXPECT_TRUE(std::any_of(demo.companies.begin(), demo.companies.end(),
                          [](const CompanyInfo& c) { return c.associationType == 2; }));
  auto anyFile = [&](auto test) { return std::any_of(demo.files.begin(), demo.files.end(), test); };
  EXPECT_TRUE(anyFile([&](const SeedFile& f) { return f.lockedBy && *f.lockedBy != user.identity.email; }));
  EXPECT_TRUE(anyFile([](const SeedFile& f) { return f.size == 50 * 1024 * 1024; }));
  EXPECT_TRUE(anyFile([](const SeedFile& f) { return !f.folder && f.size <= 8 * 1024; }));
}

TEST(ServiceConfigTest, SeedingGivesStableIdsLocksAndSubfolderShares) {
  ServiceConfig config = ServiceConfig::fromJson(validConfig(), "test.json");
  ManualClock clock;
  std::vector<std::string> ids[2];
  for (auto& run : ids) {
    ServiceState state(memoryStateStore(), BlobStore::temporary(), clock);
    seedState(config, state, clock);
    auto docs = state.nodes("docs");
    for (const OVVirtualFile& node : *docs)
      run.push_back(*node.InternalName);
    auto page = state.catchUp("sub", -1, 100);
    ASSERT_EQ(page->OvVirtualFiles->size(), 1u);
    const OVVirtualFile& notes = page->OvVirtualFiles->front();
    EXPECT_EQ(notes.PublicName, "notes.txt");
    EXPECT_EQ(notes.FileLock->LockedBy, "bob@a.example");
    EXPECT_EQ(page->ShareTick, 4); // folder, file, its lock, the seeded file
  }
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[0].size(), 3u);
}

} // namespace
} // namespace orvex::service
