#include "ServiceFixture.h"

#include "Server/RequestObserver.h"
#include "Sync/ProfileRecords.h"
#include "Sync/PublicLinkRecords.h"

#include <httplib.h>

#include <map>

namespace orvex::service::test {
namespace {

class GatewayTest : public ServiceFixture {
 protected:
  void SetUp() override { start(); }

  ClientLoginResponse profile(const std::string& host, const std::string& user = kAlice) {
    HttpReply reply = get(host, "/api/client/fullprofile?tick=1&api=1&associationRequired=true", user);
    EXPECT_EQ(reply.status, 200) << reply.body;
    auto parsed = FullProfileData::fromJSONText(reply.body);
    EXPECT_TRUE(parsed && parsed->Data) << parsed.error();
    return parsed && parsed->Data ? *parsed->Data : ClientLoginResponse{};
  }
};

TEST_F(GatewayTest, RequestsGoByHostHeaderAndNeedATokenForTheHostsDomain) {
  const std::string path = "/api/client/fullprofile?tick=1&api=1&associationRequired=true";
  EXPECT_EQ(client->get(kGateway, path, token(), {"Host: gateway.c.example"}).status, 421);
  EXPECT_EQ(client->get(kGateway, path, token(), {"Host: GATEWAY.A.Example:8443"}).status, 200);
  EXPECT_EQ(client->get(kGateway, path).status, 401);
  EXPECT_EQ(client->get(kGateway, path, "not.a.token").status, 401);
  EXPECT_EQ(get("gateway.b.example", path, kAlice).status, 200);
  EXPECT_EQ(get("gateway.b.example", path, kBob).status, 403);
  std::string bobsToken = token(kBob);
  service->identity().revokeTokensOf(kBob);
  EXPECT_EQ(client->get(kGateway, path, bobsToken).status, 401);
  EXPECT_EQ(get(kGateway, "/api/client/nothing").status, 404);
  EXPECT_EQ(client->sendJson("POST", kGateway, "/api/client/catchup", "{}", token()).status, 405);
}

TEST_F(GatewayTest, TheProfileListsTheDomainsSharesForTheUser) {
  HttpReply reply = get(kGateway, "/api/client/fullprofile?tick=1&api=1&associationRequired=true");
  ClientLoginResponse mine = profile(kGateway);
  EXPECT_EQ(mine.User->UserId, "alice-id");
  EXPECT_EQ(mine.User->Email, kAlice);
  std::map<std::string, ManagedShare> shares;
  for (const ManagedShare& share : *mine.ManagedShares)
    shares[*share.ShareId] = share;
  ASSERT_EQ(shares.size(), 3u); // docs, ro, sub; not bob's share, not the other domain's
  EXPECT_EQ(shares["docs"].ShareAcl->AclToken, "docs-token");
  EXPECT_TRUE(shares["ro"].isReadOnly());
  EXPECT_TRUE(shares["docs"].isOwned());
  EXPECT_TRUE(shares["sub"].isSubfolderShare());
  EXPECT_EQ(shares["sub"].ParentShareId, "docs");
  EXPECT_EQ(shares["sub"].InternalName, "team");
  EXPECT_EQ(shares["docs"].CompanyName, "Home Co");
  ASSERT_TRUE(mine.Cookie && !mine.Cookie->empty());
  EXPECT_NE(profile(kGateway).Cookie, mine.Cookie); // fresh for every profile
  EXPECT_EQ(service->state().hubCookieUser(*mine.Cookie), kAlice);
  EXPECT_EQ(reply.header("Set-Cookie").rfind(".ASPXAUTH=", 0), 0u);
  EXPECT_EQ(*mine.FilecacheUrls, std::vector<std::string>{"https://files.a.example"});
  ASSERT_EQ(mine.SharingCompanies->size(), 1u);
  EXPECT_EQ(mine.SharingCompanies->front().AssociationType, 1);

  ClientLoginResponse partner = profile("gateway.b.example");
  ASSERT_EQ(partner.ManagedShares->size(), 1u);
  EXPECT_EQ(partner.ManagedShares->front().ShareId, "partner");
  EXPECT_EQ(partner.SharingCompanies->front().CompanyId, "far");
  EXPECT_EQ(partner.SharingCompanies->front().AssociationType, 2);
}

TEST_F(GatewayTest, CatchUpNeedsTheSharesTokenAndPagesAtExactlyTicktake) {
  OSXCatchUpResponse all = catchUp("docs");
  ASSERT_EQ(all.OvVirtualFiles->size(), 4u); // seeding: 2 files, a folder, a file, its lock
  EXPECT_EQ(all.ShareTick, 5);
  OSXCatchUpResponse first = catchUp("docs", -1, 2);
  EXPECT_EQ(first.OvVirtualFiles->size(), 2u);
  EXPECT_EQ(first.LargestTick, first.OvVirtualFiles->back().Tick);
  OSXCatchUpResponse rest = catchUp("docs", first.LargestTick, 2);
  EXPECT_EQ(rest.OvVirtualFiles->size(), 2u);
  EXPECT_TRUE(catchUp("docs", rest.LargestTick, 2).OvVirtualFiles->empty());
  EXPECT_EQ(catchUp("ro").OvVirtualFiles->size(), 1u);
  const std::string query = "&tickfrom=-1&tickstart=-1&ticktake=10000";
  EXPECT_EQ(get(kGateway, "/api/client/catchup?token=ro-token&shareId=docs" + query).status, 403);
  EXPECT_EQ(get(kGateway, "/api/client/catchup?token=x&shareId=hidden" + query).status, 403);
  EXPECT_EQ(get(kGateway, "/api/client/catchup?token=x&shareId=partner" + query).status, 404); // other domain
  EXPECT_EQ(get(kGateway, "/api/client/catchup?token=docs-token&shareId=docs&tickfrom=x").status, 400);
}

TEST_F(GatewayTest, APublicLinkServesTheFileToAnyoneOnTheFrontEnd) {
  OVNewAPICreatePublicLink request;
  request.ShareId = "docs";
  request.InternalName = "welcome";
  HttpReply reply = client->sendJson("POST", kGateway, "/api/publiclinks", request.toJSONText(), token());
  ASSERT_EQ(reply.status, 201) << reply.body;
  auto created = OVNewAPICreatePublicLinkResponce::fromJSONText(reply.body);
  const std::string link = *created->Data->FullLink;
  const std::string prefix = "https://www.a.example";
  ASSERT_EQ(link.rfind(prefix, 0), 0u) << link;
  HttpReply fetched = client->get("www.a.example", link.substr(prefix.size())); // no token
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body, "Welcome!");
  EXPECT_NE(fetched.header("Content-Disposition").find("Welcome.txt"), std::string::npos);
  EXPECT_EQ(client->get("www.a.example", "/l/00000000000000000000000000000000").status, 404);
  request.InternalName = "missing";
  EXPECT_EQ(client->sendJson("POST", kGateway, "/api/publiclinks", request.toJSONText(), token()).status, 400);
  EXPECT_EQ(client->sendJson("POST", kGateway, "/api/publiclinks", "{not json", token()).status, 400);
}

// Stands in for the admin API's fault injection and request log.
class FakeObserver : public RequestObserver {
 public:
  bool beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) override {
    seen.push_back(request.method + " " + host + " " + request.path + " ? " + rawQuery(request) + " " +
                   request.get_header_value("Authorization").substr(0, 7));
    if (request.path != "/api/publiclinks")
      return false;
    response.status = 503;
    return true;
  }
  void afterHandling(const httplib::Request&, const std::string&, const httplib::Response& response) override {
    statuses.push_back(response.status);
  }
  std::vector<std::string> seen;
  std::vector<int> statuses;
};

TEST_F(GatewayTest, ObserversSeeEveryRequestFirstAndMayAnswerInstead) {
  auto observer = std::make_shared<FakeObserver>();
  service->observers().add(observer);
  get(kGateway, "/api/client/catchup?token=docs-token&shareId=docs&tickfrom=-1&tickstart=-1&ticktake=5");
  client->sendJson("POST", kGateway, "/api/publiclinks", "{}", token());
  client->get("www.a.example", "/", std::nullopt, {"Host: nowhere.example"});
  service->observers().remove(observer);
  client->get("www.a.example", "/");
  ASSERT_EQ(observer->seen.size(), 3u);
  EXPECT_EQ(observer->seen[0],
            "GET gateway.a.example /api/client/catchup ? "
            "token=docs-token&shareId=docs&tickfrom=-1&tickstart=-1&ticktake=5 Bearer ");
  EXPECT_EQ(observer->statuses, (std::vector<int>{200, 503, 421}));
}

} // namespace
} // namespace orvex::service::test
