#include "ServiceFixture.h"

#include "State/SeededContent.h"
#include "Sync/JournalRecords.h"

namespace orvex::service::test {
namespace {

class FileCacheTest : public ServiceFixture {
 protected:
  void SetUp() override { start(); }

  static OVNewAPIResponce reply(const HttpReply& http) {
    auto parsed = OVNewAPIResponce::fromJSONText(http.body);
    EXPECT_TRUE(parsed) << parsed.error() << " in " << http.body;
    return parsed ? parsed.value() : OVNewAPIResponce{};
  }
  std::int32_t shareTick(const std::string& shareId = "docs") { return catchUp(shareId, -1, 1).ShareTick; }
  HttpReply download(const std::string& uploadName, const std::string& range, const std::string& shareId = "docs") {
    std::vector<std::string> headers;
    if (!range.empty())
      headers.push_back("Content-Range: " + range);
    return client->get(kFiles, "/api/shares/" + shareId + "/files/" + uploadName, token(), headers);
  }
  std::string uploadNameOf(const std::string& id) { return *service->state().node("docs", id)->UploadName; }
};

TEST_F(FileCacheTest, EachEventTypeAnswersWithTheRecordedChangeAndItsTick) {
  const std::int32_t before = shareTick();
  HttpReply created = event("POST", "docs", 0, node("f1", "docs", "Folder", false));
  ASSERT_EQ(created.status, 201) << created.body;
  EXPECT_EQ(reply(created).Data->ClientJournalEvent->ShareTick, before + 1);

  HttpReply renamed = event("PUT", "docs", 2, node("f1", "team", "Moved", false));
  ASSERT_EQ(renamed.status, 200) << renamed.body;
  const OVVirtualFile moved = *reply(renamed).Data->ClientJournalEvent->OvVirtualFile;
  EXPECT_EQ(moved.ParrentId, "team");
  EXPECT_EQ(moved.PublicName, "Moved");
  EXPECT_EQ(moved.Tick, before + 2);

  HttpReply locked = event("PUT", "docs", 13, node("welcome", "docs", "Welcome.txt", true, 8));
  ASSERT_EQ(locked.status, 200) << locked.body;
  EXPECT_EQ(reply(locked).Data->ClientJournalEvent->OvVirtualFile->FileLock->LockedBy, kAlice);
  HttpReply unlocked = event("PUT", "docs", 14, node("welcome", "docs", "Welcome.txt", true, 8));
  EXPECT_EQ(unlocked.status, 200) << unlocked.body;

  HttpReply deleted = event("DELETE", "docs", 1, node("team", "docs", "Team", false), kBob);
  ASSERT_EQ(deleted.status, 200) << deleted.body;
  EXPECT_EQ(reply(deleted).Data->ClientJournalEvent->ShareTick, before + 7); // notes, f1, then team itself
  EXPECT_EQ(shareTick(), before + 7);
}

TEST_F(FileCacheTest, LocksHeldByOthersUnknownNodesAndReadOnlySharesAreRefused) {
  HttpReply locked = event("PUT", "docs", 13, node("notes", "team", "notes.txt", true, 5));
  EXPECT_EQ(locked.status, 423);
  auto body = nlohmann::json::parse(locked.body);
  EXPECT_EQ(body["FileLock"]["LockedBy"], kBob);
  EXPECT_EQ(body["FileLock"]["DeviceId"], "bob-pc");
  EXPECT_TRUE(OVNewAPIResponce::fromJSONText(locked.body)); // still the client's reply record

  for (auto [method, type] : {std::pair{"PUT", 2}, {"PUT", 3}, {"DELETE", 1}}) {
    HttpReply unknown = event(method, "docs", type, node("ghost", "docs", "ghost", true, 3));
    EXPECT_EQ(unknown.status, 400) << type;
    EXPECT_EQ(reply(unknown).Code->asInt64(), 17) << type;
  }
  EXPECT_EQ(reply(event("POST", "docs", 0, node("n", "ghost-folder", "n", false))).Code->asInt64(), 17);

  const std::int32_t before = shareTick("ro");
  EXPECT_EQ(event("POST", "ro", 0, node("n", "ro", "n", false)).status, 403);
  EXPECT_EQ(event("DELETE", "ro", 1, node("fixed", "ro", "fixed.txt", true, 5)).status, 403);
  EXPECT_EQ(shareTick("ro"), before);
  EXPECT_EQ(event("POST", "hidden", 0, node("n", "hidden", "n", false)).status, 403);
}

TEST_F(FileCacheTest, MalformedEventsGetA400AndChangeNothing) {
  const std::int32_t before = shareTick();
  const std::string token = this->token();
  EXPECT_EQ(client->sendJson("POST", kFiles, "/api/shares/docs/files", "{\"TransmitId\":", token).status, 400);
  EXPECT_EQ(client->sendJson("POST", kFiles, "/api/shares/docs/files", "{\"TransmitId\":\"x\"}", token).status, 400);
  EXPECT_EQ(event("POST", "docs", 3, node("f", "docs", "f", false)).status, 400); // wrong method for the type
  EXPECT_EQ(event("PUT", "docs", 0, node("f", "docs", "f", false)).status, 400);
  EXPECT_EQ(event("POST", "docs", 0, node("../../etc", "docs", "x", false)).status, 400);
  OVVirtualFile mismatched = node("welcome", "docs", "renamed", true);
  OVNewAPIJournalEvent rename;
  rename.TransmitId = "t";
  rename.ClientJournalEventType = 2;
  rename.OvVirtualFile = mismatched;
  EXPECT_EQ(client->sendJson("PUT", kFiles, "/api/shares/docs/files/big", rename.toJSONText(), token).status, 400);
  EXPECT_EQ(shareTick(), before);
}

TEST_F(FileCacheTest, AnUploadResumesFromTheServersPositionAfterA400With16) {
  const std::string bytes = "0123456789abcdefghij";
  HttpReply announced = event("POST", "docs", 0, node("up", "docs", "up.txt", true, 20));
  ASSERT_EQ(announced.status, 200) << announced.body;
  OVNewAPIResponceData data = *reply(announced).Data;
  EXPECT_EQ(data.CurrentPosition->asInt64(), 0);
  EXPECT_EQ(data.ExpectedLength->asInt64(), 20);
  const std::string url = *data.Url;

  HttpReply first = chunk(url, 0, bytes.substr(0, 8), 20);
  ASSERT_EQ(first.status, 202) << first.body;
  EXPECT_EQ(reply(first).Data->CurrentPosition->asInt64(), 8);
  // A client that lost track (a restart, a lost reply) starts over from 0.
  HttpReply behind = chunk(url, 0, bytes.substr(0, 8), 20);
  ASSERT_EQ(behind.status, 400);
  EXPECT_EQ(reply(behind).Code->asInt64(), 16);
  EXPECT_EQ(reply(behind).Data->CurrentPosition->asInt64(), 8);
  EXPECT_EQ(chunk(url, 8, bytes.substr(8, 12), 20, kBob).status, 403); // not bob's upload
  HttpReply done = chunk(url, 8, bytes.substr(8), 20);
  ASSERT_EQ(done.status, 201) << done.body;
  const OVNewAPIJournalEvent recorded = *reply(done).Data->ClientJournalEvent;
  EXPECT_EQ(recorded.ClientJournalEventType, 0);
  EXPECT_EQ(recorded.OvVirtualFile->EndOfFile->asInt64(), 20);
  EXPECT_EQ(recorded.OvVirtualFile->LastWriteTime, dateFromSecondsSince1970(1767225600));
  EXPECT_EQ(download(*recorded.OvVirtualFile->UploadName, "").body, bytes);
  EXPECT_EQ(chunk(url, 20, "x", 21).status, 404);
  EXPECT_EQ(chunk("https://files.a.example/api/uploads/0123456789abcdef0123456789abcdef", 0, "x", 1).status, 404);
  HttpRequest noRange{"PUT", kFiles, url.substr(std::string("https://files.a.example").size()), {}, "x", token()};
  EXPECT_EQ(client->send(noRange).status, 404); // the finished upload's address is gone
}

TEST_F(FileCacheTest, RangedDownloadsReturnExactlyTheBytesUpToOnePastTheEnd) {
  const std::string name = uploadNameOf("big");
  const std::string total = "/" + std::to_string(kBigSize);
  HttpReply head = download(name, "bytes 0-100" + total);
  ASSERT_EQ(head.status, 200) << head.body;
  EXPECT_EQ(head.body, seededBytes(kBigSeed, 0, 100));
  HttpReply tail = download(name, "bytes " + std::to_string(kBigSize - 7) + "-" + std::to_string(kBigSize) + total);
  EXPECT_EQ(tail.body, seededBytes(kBigSeed, kBigSize - 7, 7));
  HttpReply chunked = download(name, "bytes 262144-" + std::to_string(kBigSize) + total);
  EXPECT_EQ(chunked.body, seededBytes(kBigSeed, 262144, kBigSize - 262144));
  EXPECT_EQ(download(name, "bytes 5-5" + total).body, "");
  EXPECT_EQ(download(name, "").body.size(), static_cast<std::size_t>(kBigSize));
  EXPECT_EQ(download(name, "bytes 0-" + std::to_string(kBigSize + 1) + total).status, 416);
  EXPECT_EQ(download(name, "bytes 0-10/12").status, 416);
  EXPECT_EQ(download(name, "bytes 10-5" + total).status, 416);
  EXPECT_EQ(download(name, "bytes=0-10").status, 400);
  EXPECT_EQ(download(name, "", "ro").status, 404);
  EXPECT_EQ(download("welcome", "").status, 404); // an internal name is not an upload name
}

TEST_F(FileCacheTest, NewContentsReplaceTheOldUploadName) {
  const std::string old = uploadNameOf("welcome");
  HttpReply announced = event("PUT", "docs", 3, node("welcome", "docs", "Welcome.txt", true, 3));
  ASSERT_EQ(announced.status, 200) << announced.body;
  HttpReply done = chunk(*reply(announced).Data->Url, 0, "new", 3);
  ASSERT_EQ(done.status, 201) << done.body;
  EXPECT_EQ(reply(done).Data->ClientJournalEvent->OvVirtualFile->LastUploadName, old);
  EXPECT_EQ(download(old, "").status, 404);
  EXPECT_EQ(download(uploadNameOf("welcome"), "bytes 0-3/3").body, "new");
  HttpReply empty = event("POST", "docs", 0, node("empty", "docs", "empty.txt", true, 0));
  EXPECT_EQ(empty.status, 201);
  EXPECT_EQ(reply(empty).Data->ClientJournalEvent->OvVirtualFile->EndOfFile->asInt64(), 0);
}

TEST_F(FileCacheTest, ASubfolderShareWorksOnItsFolderOnly) {
  HttpReply created = event("POST", "sub", 0, node("inside", "sub", "inside", false));
  ASSERT_EQ(created.status, 201) << created.body;
  const OVVirtualFile made = *reply(created).Data->ClientJournalEvent->OvVirtualFile;
  EXPECT_EQ(made.ShareId, "sub");
  EXPECT_EQ(made.ParentShareId, "docs");
  EXPECT_EQ(made.ParrentId, "team");
  EXPECT_EQ(event("DELETE", "sub", 1, node("welcome", "docs", "Welcome.txt", true)).status, 400);
  OSXCatchUpResponse page = catchUp("sub");
  EXPECT_EQ(page.OvVirtualFiles->size(), 2u); // notes.txt and the new folder
  EXPECT_EQ(page.ShareTick, catchUp("docs").ShareTick);
}

TEST_F(FileCacheTest, RestartingOnTheStateFolderKeepsNodesContentsAndUploadAddresses) {
  client.reset();
  service.reset();
  start(/*keepState=*/true);
  HttpReply announced = event("POST", "docs", 0, node("up", "docs", "up.bin", true, 6));
  const std::string url = *reply(announced).Data->Url;
  ASSERT_EQ(chunk(url, 0, "abc", 6).status, 202);
  ASSERT_EQ(event("POST", "docs", 0, node("kept", "docs", "Kept", false)).status, 201);
  const std::int32_t tick = shareTick();
  const std::string bigName = uploadNameOf("big");

  restart();
  EXPECT_EQ(shareTick(), tick);
  EXPECT_EQ(service->state().node("docs", "kept")->PublicName, "Kept");
  EXPECT_EQ(download(bigName, "bytes 1000-1010/" + std::to_string(kBigSize)).body, seededBytes(kBigSeed, 1000, 10));
  HttpReply behind = chunk(url, 0, "abc", 6);
  EXPECT_EQ(reply(behind).Code->asInt64(), 16);
  EXPECT_EQ(reply(behind).Data->CurrentPosition->asInt64(), 3);
  HttpReply done = chunk(url, 3, "def", 6);
  ASSERT_EQ(done.status, 201) << done.body;
  EXPECT_EQ(download(uploadNameOf("up"), "").body, "abcdef");
  EXPECT_EQ(shareTick(), tick + 1);
}

} // namespace
} // namespace orvex::service::test
