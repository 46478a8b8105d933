// The assembled service: the demo data as a client sees it, and what a
// client's brand file needs (certificate, CA file, connect-to entries).
#include "ServiceFixture.h"

#include "State/SeededContent.h"
#include "Support/TempDir.h"
#include "Sync/ProfileRecords.h"

#include <set>

namespace orvex::service::test {
namespace {

class DemoTest : public ServiceFixture {
 protected:
  void SetUp() override {
    otherConfig = ServiceConfig::demo();
    start();
  }
  std::vector<ManagedShare> shares(const std::string& domain) {
    HttpReply reply =
        get("gateway." + domain, "/api/client/fullprofile?tick=1&api=1&associationRequired=true", "demo@orvex.example");
    EXPECT_EQ(reply.status, 200) << reply.body;
    auto profile = FullProfileData::fromJSONText(reply.body);
    return profile ? *profile->Data->ManagedShares : std::vector<ManagedShare>{};
  }
};

TEST_F(DemoTest, TheDemoUserSeesItsSharesInBothDomains) {
  std::set<std::string> names;
  for (const ManagedShare& share : shares("orvex.example"))
    names.insert(*share.ShareName + (share.isReadOnly() ? " (read-only)" : "") +
                 (share.isSubfolderShare() ? " (subfolder)" : ""));
  EXPECT_EQ(names, (std::set<std::string>{"Archive (read-only)", "Documents", "Shared With Demo (subfolder)"}));
  std::vector<ManagedShare> partner = shares("partner.example");
  ASSERT_EQ(partner.size(), 1u);
  EXPECT_EQ(partner.front().AssociationType, 2);
  EXPECT_TRUE(partner.front().isOwned());
}

TEST_F(DemoTest, TheLargeFileAndTheLockedFileAreThere) {
  OSXCatchUpResponse page = catchUp("demo-documents", -1, 10000, "demo@orvex.example", "gateway.orvex.example");
  const OVVirtualFile* video = nullptr;
  const OVVirtualFile* budget = nullptr;
  for (const OVVirtualFile& node : *page.OvVirtualFiles) {
    if (node.PublicName == "Presentation.mp4")
      video = &node;
    if (node.PublicName == "Budget 2027.xlsx")
      budget = &node;
  }
  ASSERT_TRUE(video && budget);
  EXPECT_EQ(budget->FileLock->LockedBy, "colleague@orvex.example");
  const std::int64_t size = video->EndOfFile->asInt64();
  EXPECT_EQ(size, 50 * 1024 * 1024);
  HttpReply tail = client->get("files.orvex.example", "/api/shares/demo-documents/files/" + *video->UploadName,
                               token("demo@orvex.example"),
                               {"Content-Range: bytes " + std::to_string(size - 1000) + "-" + std::to_string(size) +
                                "/" + std::to_string(size)});
  EXPECT_EQ(tail.body, seededBytes(14, size - 1000, 1000));
}

TEST(OrvexServiceTest, TheCertificateIsKeptWithTheStateWhileTheHostsStayTheSame) {
  orvex::test::TempDir dir;
  auto options = [&](std::vector<std::string> domains) {
    ServiceOptions o;
    nlohmann::json json = ServiceFixture::config();
    json["Domains"] = domains;
    json.erase("Shares");
    json.erase("Files");
    json["Users"] = {{{"Email", "a@a.example"}, {"Password", "pw"}, {"PrimaryDomain", "a.example"}}};
    o.config = ServiceConfig::fromJson(json, "test");
    o.stateDir = dir.path();
    return o;
  };
  std::string firstCa;
  {
    OrvexService service(options({"a.example"}));
    std::uint16_t port = service.start();
    ASSERT_EQ(service.caFile(), dir.path() / "tls" / "ca.pem");
    firstCa = orvex::test::readFile(*service.caFile());
    EXPECT_EQ(firstCa, service.tls().caCertificatePem);
    nlohmann::json deployment = service.brandSnippet()["Deployment"];
    EXPECT_EQ(deployment["CAFile"], service.caFile()->string());
    std::set<std::string> connectTo(deployment["ConnectTo"].begin(), deployment["ConnectTo"].end());
    for (const std::string& host : service.hosts().hostNames())
      EXPECT_EQ(connectTo.count(host + ":443:127.0.0.1:" + std::to_string(port)), 1u) << host;
    EXPECT_EQ(connectTo.size(), service.hosts().hostNames().size());
    EXPECT_EQ(service.brandSnippet()["OVAuthURL"], "https://login.orvex.example");
  }
  EXPECT_EQ(OrvexService(options({"a.example"})).tls().caCertificatePem, firstCa);
  OrvexService moved(options({"a.example", "b.example"}));
  EXPECT_NE(moved.tls().caCertificatePem, firstCa);
  EXPECT_EQ(orvex::test::readFile(*moved.caFile()), moved.tls().caCertificatePem);
}

} // namespace
} // namespace orvex::service::test
