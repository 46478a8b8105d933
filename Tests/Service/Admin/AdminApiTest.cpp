#include "AdminFixture.h"

#include "Crypto/Digest.h"
#include "State/Ids.h"
#include "Sync/CatchUpRecords.h"

namespace orvex::service::test {
namespace {

using AdminApiTest = AdminFixture;

const OVVirtualFile* find(const OSXCatchUpResponse& page, const std::string& id) {
  for (const OVVirtualFile& file : *page.OvVirtualFiles) {
    if (file.InternalName == id)
      return &file;
  }
  return nullptr;
}

TEST_F(AdminApiTest, ChangesMadeAsAnotherUserShowInCatchUp) {
  const std::int32_t before = catchUp("docs").ShareTick;
  ASSERT_EQ(
      admin("POST", "/shares/docs/nodes",
            {{"User", kBob}, {"DeviceId", "bob-phone"}, {"InternalName", "plans"}, {"Name", "Plans"}, {"Folder", true}})
          .status,
      201);
  AdminReply file = admin(
      "POST", "/shares/docs/nodes",
      {{"User", kBob}, {"InternalName", "todo"}, {"ParentId", "plans"}, {"Name", "todo.txt"}, {"Content", "first"}});
  ASSERT_EQ(file.status, 201) << file.body;
  ASSERT_EQ(admin("PUT", "/shares/docs/nodes/todo/content", {{"User", kBob}, {"Content", "second version"}}).status,
            200);
  ASSERT_EQ(
      admin("PATCH", "/shares/docs/nodes/todo", {{"User", kBob}, {"Name", "done.txt"}, {"ParentId", "docs"}}).status,
      200);
  ASSERT_EQ(admin("PUT", "/shares/docs/nodes/todo/lock", {{"User", kBob}, {"DeviceId", "bob-phone"}}).status, 200);
  ASSERT_EQ(admin("DELETE", "/shares/docs/nodes/plans", {{"User", kBob}}).status, 200);

  const OSXCatchUpResponse page = catchUp("docs", before);
  EXPECT_EQ(page.ShareTick, before + 6);
  const OVVirtualFile* todo = find(page, "todo");
  ASSERT_NE(todo, nullptr);
  EXPECT_EQ(todo->PublicName, "done.txt");
  EXPECT_EQ(todo->ParrentId, "docs");
  EXPECT_EQ(todo->EndOfFile.value_or(0).asInt64(), 14);
  EXPECT_EQ(todo->FilehHash, hexText(sha256("second version")));
  EXPECT_EQ(todo->FileLock->LockedBy, kBob);
  EXPECT_EQ(todo->FileLock->DeviceId, "bob-phone");
  ASSERT_NE(find(page, "plans"), nullptr);
  EXPECT_TRUE(find(page, "plans")->Deleted);

  // The inspection side agrees with what the client sees.
  AdminReply contents = admin("GET", "/shares/docs/nodes/todo/content");
  EXPECT_EQ(contents.status, 200);
  EXPECT_EQ(contents.body, "second version");
  AdminReply listed = admin("GET", "/shares/docs/nodes");
  ASSERT_EQ(listed.status, 200);
  bool hashed = false;
  for (const auto& node : listed.json())
    hashed = hashed || (node["InternalName"] == "todo" && node["FilehHash"] == *todo->FilehHash);
  EXPECT_TRUE(hashed) << listed.body;

  // Alice's client is refused where Bob's lock stands.
  EXPECT_EQ(event("PUT", "docs", 2, node("todo", "docs", "x.txt", true, 14)).status, 423);
}

TEST_F(AdminApiTest, AnAdministratorWritesReadOnlySharesAndRunsIntoOthersLocks) {
  EXPECT_EQ(admin("POST", "/shares/ro/nodes", {{"User", kBob}, {"Name", "new.txt"}, {"Content", "x"}}).status, 201);
  AdminReply locked = admin("PUT", "/shares/docs/nodes/notes/content", {{"User", kAlice}, {"Content", "mine"}});
  EXPECT_EQ(locked.status, 423);
  EXPECT_EQ(locked.json()["FileLock"]["LockedBy"], kBob);
  EXPECT_EQ(admin("DELETE", "/shares/docs/nodes/ghost", {{"User", kBob}}).json()["Code"], 17);
}

TEST_F(AdminApiTest, BadRequestsGetAClear400AndChangeNothing) {
  const std::int32_t before = catchUp("docs").ShareTick;
  struct Case {
    std::string method, path;
    nlohmann::json body;
    int status;
  };
  const std::vector<Case> cases{
      {"POST", "/shares/docs/nodes", "{\"User\":", 400},                                       // malformed
      {"POST", "/shares/docs/nodes", "[1]", 400},                                              // not an object
      {"POST", "/shares/docs/nodes", {{"Name", "a"}}, 400},                                    // no user
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"Name", "a"}, {"Colour", "red"}}, 400}, // unknown key
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"Name", "../x"}}, 400},                 // not one name
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"Name", "a"}, {"Size", 3}}, 400},       // size, no seed
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"Name", "a"}, {"InternalName", "a/b"}}, 400},
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"Name", "a"}, {"Folder", true}, {"Content", "x"}}, 400},
      {"POST", "/shares/docs/nodes", {{"User", kBob}, {"InternalName", "welcome"}, {"Name", "w"}}, 409},
      {"PATCH", "/shares/docs/nodes/welcome", {{"User", kBob}}, 400}, // nothing to change
      {"PUT", "/shares/docs/acl", {{"AclToken", "t"}}, 400},
      {"POST", "/faults", {{"Status", 700}}, 400},
      {"GET", "/shares/docs/nodez", nullptr, 404},
      {"POST", "/requests", nullptr, 405},
      {"GET", "/faults/x", nullptr, 400},
  };
  for (const Case& c : cases) {
    AdminReply reply = admin(c.method, c.path, c.body);
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path << " " << c.body.dump() << ": " << reply.body;
    EXPECT_TRUE(reply.json().contains("Message")) << reply.body;
  }
  EXPECT_EQ(catchUp("docs").ShareTick, before);
  EXPECT_EQ(admin("GET", "/faults").json().size(), 0u);
}

TEST_F(AdminApiTest, AnswersOnlyUnderItsLoopbackName) {
  httplib::Client http("127.0.0.1", adminPort);
  auto rebound = http.Get("/shares", {{"Host", "attacker.example"}});
  ASSERT_TRUE(rebound);
  EXPECT_EQ(rebound->status, 421);
  // The TLS hosts know nothing of it.
  EXPECT_EQ(client->get(kFiles, "/faults", token()).status, 404);
}

TEST_F(AdminApiTest, SharesAddedRenamedAndRemovedShowInTheProfile) {
  ASSERT_EQ(admin("POST", "/shares", {{"ShareId", "extra"}, {"Name", "Extra"}, {"Domain", "a.example"}}).status, 201);
  ASSERT_EQ(admin("PATCH", "/shares/extra", {{"Name", "Renamed"}}).status, 200);
  ASSERT_EQ(admin("PUT", "/shares/extra/acl", {{"AclType", 0}, {"AclToken", "new-token"}}).status, 200);
  auto profile =
      nlohmann::json::parse(get(kGateway, "/api/client/fullprofile?tick=1&api=1&associationRequired=true").body);
  bool shown = false;
  for (const auto& share : profile["Data"]["ManagedShares"]) {
    if (share["ShareId"] == "extra") {
      shown = true;
      EXPECT_EQ(share["ShareName"], "Renamed");
      EXPECT_EQ(share["ShareAcl"]["AclType"], 0);
      EXPECT_EQ(share["ShareAcl"]["AclToken"], "new-token");
    }
  }
  EXPECT_TRUE(shown) << profile.dump();
  EXPECT_EQ(admin("POST", "/shares", {{"ShareId", "x"}, {"Name", "X"}, {"Domain", "nowhere.example"}}).status, 400);
  ASSERT_EQ(admin("DELETE", "/shares/extra").status, 200);
  EXPECT_EQ(admin("GET", "/shares/extra/nodes").status, 404);
}

TEST_F(AdminApiTest, TokensIssuedExpiredAndRevoked) {
  AdminReply issued = admin("POST", "/tokens", {{"User", kBob}});
  ASSERT_EQ(issued.status, 200) << issued.body;
  const std::string bobs = issued.json()["access_token"];
  const std::string profile = "/api/client/fullprofile?tick=1&api=1&associationRequired=true";
  EXPECT_EQ(client->get(kGateway, profile, bobs).status, 200);
  EXPECT_EQ(admin("POST", "/tokens", {{"User", "nobody@a.example"}}).status, 404);

  ASSERT_EQ(admin("POST", "/tokens/expire").status, 200);
  EXPECT_EQ(client->get(kGateway, profile, bobs).status, 401);

  const std::string alices = admin("POST", "/tokens", {{"User", kAlice}}).json()["access_token"];
  const std::string bobsNext = admin("POST", "/tokens", {{"User", kBob}}).json()["access_token"];
  ASSERT_EQ(admin("POST", "/tokens/revoke", {{"User", kBob}}).status, 200);
  EXPECT_EQ(client->get(kGateway, profile, bobsNext).status, 401);
  EXPECT_EQ(client->get(kGateway, profile, alices).status, 200);
  EXPECT_TRUE(admin("GET", "/identity/acr-values").json()["AcrValues"].is_null());
}

TEST_F(AdminApiTest, TheRequestLogKeepsTheFixedHeadersButNeverTheToken) {
  const nlohmann::json earlier = requestsAfter();
  const std::int64_t after = earlier.empty() ? 0 : earlier.back()["Sequence"].get<std::int64_t>();
  const std::string bearer = token();
  const std::string uploadName = *service->state().node("docs", "big")->UploadName;
  HttpReply download =
      client->get(kFiles, "/api/shares/docs/files/" + uploadName, bearer, {"Content-Range: bytes 100-200/300001"});
  ASSERT_EQ(download.status, 200);
  ASSERT_EQ(event("PUT", "docs", 13, node("welcome", "docs", "Welcome.txt", true, 8)).status, 200);
  catchUp("docs", 5, 7);

  const nlohmann::json log = requestsAfter(after);
  ASSERT_EQ(log.size(), 3u) << log.dump();
  EXPECT_EQ(log[0]["Method"], "GET");
  EXPECT_EQ(log[0]["Host"], kFiles);
  EXPECT_EQ(log[0]["Path"], "/api/shares/docs/files/" + uploadName);
  EXPECT_EQ(log[0]["ContentRange"], "bytes 100-200/300001");
  EXPECT_EQ(log[0]["Authorization"], true);
  EXPECT_TRUE(log[0]["ContentType"].is_null());
  EXPECT_EQ(log[0]["Status"], 200);
  EXPECT_EQ(log[1]["ContentType"], "application/json");
  EXPECT_EQ(log[2]["Query"], "token=docs-token&shareId=docs&tickfrom=5&tickstart=5&ticktake=7");
  EXPECT_EQ(log.dump().find(bearer), std::string::npos);

  client->get(kFiles, "/api/shares/docs/files/" + *service->state().node("docs", "welcome")->UploadName, bearer);
  int downloads = 0;
  for (const auto& counter : admin("GET", "/counters").json()) {
    if (counter["Endpoint"] == "/api/shares/{ShareId}/files/{Id}" && counter["Method"] == "GET")
      downloads = counter["Statuses"].value("200", 0);
  }
  EXPECT_EQ(downloads, 2);
}

} // namespace
} // namespace orvex::service::test
