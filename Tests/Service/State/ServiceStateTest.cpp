#include "State/ContentSource.h"
#include "State/SeededContent.h"
#include "StateTestSupport.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

namespace orvex::service::test {
namespace {

class ServiceStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = makeState(clock);
    ASSERT_TRUE(state->addShare(shareInfo("docs")));
  }

  void folder(const std::string& id, const std::string& parent = "docs", const Actor& actor = kAlice) {
    auto created = state->create("docs", spec(id, parent, id, false), actor, "t-" + id);
    ASSERT_TRUE(created) << created.error().message;
  }
  void file(const std::string& id, const std::string& parent, const std::string& bytes) {
    auto put = state->putFile("docs", spec(id, parent, id, true), bytes, kAlice);
    ASSERT_TRUE(put) << put.error().message;
  }
  std::vector<std::string> idsAfter(std::int64_t from, std::int64_t take = 100) {
    std::vector<std::string> ids;
    auto page = state->catchUp("docs", from, take);
    for (const OVVirtualFile& node : *page->OvVirtualFiles)
      ids.push_back(*node.InternalName + "@" + std::to_string(node.Tick));
    return ids;
  }
  std::string contentOf(const std::string& shareId, const std::string& uploadName) {
    auto view = state->content(shareId, uploadName);
    if (!view)
      return "<" + std::to_string(view.error().status) + ">";
    std::string bytes(static_cast<std::size_t>(view->content->size()), '\0');
    EXPECT_TRUE(view->content->read(0, bytes.data(), bytes.size()));
    return bytes;
  }

  ManualClock clock;
  std::unique_ptr<ServiceState> state;
};

TEST_F(ServiceStateTest, EveryChangeAdvancesTheTickAndCatchUpShowsEachNodeOnceAtItsLatestTick) {
  folder("f1");
  file("g1", "f1", "hello");
  ASSERT_TRUE(state->rename("docs", "f1", "renamed", "docs", kAlice, "t"));
  EXPECT_EQ(idsAfter(-1), (std::vector<std::string>{"g1@2", "f1@3"}));
  EXPECT_EQ(idsAfter(2), (std::vector<std::string>{"f1@3"}));
  auto page = state->catchUp("docs", -1, 100);
  EXPECT_EQ(page->ShareTick, 3);
  EXPECT_EQ(page->LargestTick, 3);
  const OVVirtualFile& renamed = page->OvVirtualFiles->back();
  EXPECT_EQ(renamed.PublicName, "renamed");
  EXPECT_EQ(renamed.CreateTick, 1);
  EXPECT_EQ(renamed.User, kAlice.user);
}

TEST_F(ServiceStateTest, CatchUpPagesHoldAtMostTicktakeNodes) {
  for (int i = 1; i <= 5; ++i)
    folder("f" + std::to_string(i));
  auto full = state->catchUp("docs", -1, 5);
  EXPECT_EQ(full->OvVirtualFiles->size(), 5u);
  EXPECT_EQ(full->LargestTick, 5);
  auto first = state->catchUp("docs", -1, 3);
  EXPECT_EQ(first->OvVirtualFiles->size(), 3u);
  EXPECT_EQ(first->LargestTick, 3);
  EXPECT_EQ(first->ShareTick, 5);
  EXPECT_EQ(idsAfter(3, 3), (std::vector<std::string>{"f4@4", "f5@5"}));
  auto empty = state->catchUp("docs", 5, 3);
  EXPECT_TRUE(empty->OvVirtualFiles->empty());
  EXPECT_EQ(empty->LargestTick, 5);
  EXPECT_EQ(state->catchUp("docs", -1, 0).error().status, 400);
  EXPECT_EQ(state->catchUp("nope", -1, 10).error().status, 404);
}

TEST_F(ServiceStateTest, DeletingAFolderDeletesItsSubtreeChildrenFirst) {
  folder("f");
  folder("sub", "f");
  file("g", "sub", "x");
  auto deleted = state->remove("docs", "f", kBob, "t-del");
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->ShareTick, 6);
  EXPECT_EQ(idsAfter(3), (std::vector<std::string>{"g@4", "sub@5", "f@6"}));
  auto page = state->catchUp("docs", 3, 10);
  for (const OVVirtualFile& node : *page->OvVirtualFiles)
    EXPECT_TRUE(node.Deleted) << *node.InternalName;
  EXPECT_EQ(state->remove("docs", "f", kBob, "t").error().code, kCodeUnknownNode);
  EXPECT_EQ(state->rename("docs", "g", "x", "docs", kBob, "t").error().code, kCodeUnknownNode);
}

TEST_F(ServiceStateTest, AFileLockedByAnotherUserRefusesChangesWithTheHolder) {
  folder("f");
  file("g", "f", "x");
  ASSERT_TRUE(state->setLock("docs", "g", true, kAlice, "t"));
  auto refused = state->setLock("docs", "g", true, kBob, "t");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().status, 423);
  EXPECT_EQ(refused.error().lock->LockedBy, kAlice.user);
  EXPECT_EQ(refused.error().lock->DeviceId, kAlice.deviceId);
  EXPECT_EQ(state->setLock("docs", "g", false, kBob, "t").error().status, 423);
  EXPECT_EQ(state->rename("docs", "g", "y", "docs", kBob, "t").error().status, 423);
  EXPECT_EQ(state->announceContents("docs", spec("g", "f", "g", true, 3), kBob, "t").error().status, 423);
  EXPECT_EQ(state->remove("docs", "f", kBob, "t").error().status, 423); // the lock is inside the folder
  EXPECT_TRUE(state->setLock("docs", "g", true, kAlice, "t"));          // the holder may lock again
  ASSERT_TRUE(state->setLock("docs", "g", false, kAlice, "t"));
  EXPECT_FALSE(state->node("docs", "g")->FileLock.has_value());
  EXPECT_TRUE(state->setLock("docs", "g", true, kBob, "t"));
}

TEST_F(ServiceStateTest, UnknownNodesParentsAndBadNamesAreRefused) {
  folder("f");
  EXPECT_EQ(state->create("docs", spec("n", "missing", "n", false), kAlice, "t").error().code, kCodeUnknownNode);
  EXPECT_EQ(state->rename("docs", "missing", "n", "docs", kAlice, "t").error().code, kCodeUnknownNode);
  EXPECT_EQ(state->announceContents("docs", spec("missing", "docs", "m", true, 4), kAlice, "t").error().code,
            kCodeUnknownNode);
  EXPECT_EQ(state->rename("docs", "f", "f", "missing", kAlice, "t").error().code, kCodeUnknownNode);
  for (const char* id : {"../etc", "a/b", "", "x y"}) {
    auto refused = state->create("docs", spec(id, "docs", "n", false), kAlice, "t");
    EXPECT_EQ(refused.error().status, 400) << id;
    EXPECT_FALSE(refused.error().code.has_value()) << id;
  }
  for (const char* name : {"a/b", "..", "."})
    EXPECT_EQ(state->create("docs", spec("n1", "docs", name, false), kAlice, "t").error().status, 400) << name;
  folder("inner", "f");
  EXPECT_EQ(state->rename("docs", "f", "f", "inner", kAlice, "t").error().status, 400); // into itself
  EXPECT_EQ(state->catchUp("docs", -1, 100)->ShareTick, 2);
}

TEST_F(ServiceStateTest, ReadOnlySharesRefuseClientsButNotPrivilegedActors) {
  ASSERT_TRUE(state->addShare(shareInfo("ro", 0)));
  auto refused = state->create("ro", spec("f", "ro", "f", false), kAlice, "t");
  EXPECT_EQ(refused.error().status, 403);
  Actor admin{kBob.user, "admin", true};
  ASSERT_TRUE(state->putFile("ro", spec("g", "ro", "g", true), "seed", admin));
  EXPECT_EQ(state->remove("ro", "g", kAlice, "t").error().status, 403);
  EXPECT_EQ(state->setLock("ro", "g", true, kAlice, "t").error().status, 403);
}

TEST_F(ServiceStateTest, ASubfolderShareShowsOnlyItsFolderAndCountsItsParentsTicks) {
  folder("s");
  folder("outside");
  file("x", "s", "inside");
  ShareInfo sub = shareInfo("sub");
  sub.parentShareId = "docs";
  sub.internalName = "s";
  ASSERT_TRUE(state->addShare(sub));
  auto page = state->catchUp("sub", -1, 100);
  ASSERT_EQ(page->OvVirtualFiles->size(), 1u);
  EXPECT_EQ(page->OvVirtualFiles->front().InternalName, "x");
  EXPECT_EQ(page->OvVirtualFiles->front().ShareId, "sub");
  EXPECT_EQ(page->OvVirtualFiles->front().ParentShareId, "docs");
  EXPECT_EQ(page->ShareTick, 3);
  // The share's id names its top level, which is folder "s".
  auto created = state->create("sub", spec("y", "sub", "y", false), kAlice, "t");
  ASSERT_TRUE(created);
  EXPECT_EQ(state->node("docs", "y")->ParrentId, "s");
  EXPECT_EQ(state->rename("sub", "outside", "o", "sub", kAlice, "t").error().code, kCodeUnknownNode);
  EXPECT_EQ(state->remove("sub", "s", kAlice, "t").error().code, kCodeUnknownNode);
  ShareInfo bad = shareInfo("bad");
  bad.parentShareId = "docs";
  bad.internalName = "x"; // a file, not a folder
  EXPECT_EQ(state->addShare(bad).error().status, 400);
}

TEST_F(ServiceStateTest, AnUploadCompletesOnlyWithChunksAtTheServersPosition) {
  auto announced = state->create("docs", spec("g", "docs", "g.bin", true, 10), kAlice, "t-up");
  ASSERT_TRUE(announced);
  ASSERT_TRUE(announced->uploadAddress);
  EXPECT_EQ(announced->data.ExpectedLength->asInt64(), 10);
  const std::string address = *announced->uploadAddress;
  EXPECT_FALSE(state->node("docs", "g")); // nothing is visible before the bytes are in
  auto wrong = state->writeChunk(address, 5, 9, 10, "56789");
  EXPECT_EQ(wrong.error().code, kCodeWrongPosition);
  EXPECT_EQ(wrong.error().currentPosition, 0);
  EXPECT_EQ(state->writeChunk(address, 0, 3, 11, "0123").error().status, 400); // total differs
  EXPECT_EQ(state->writeChunk(address, 0, 4, 10, "0123").error().status, 400); // length differs
  auto partial = state->writeChunk(address, 0, 3, 10, "0123");
  ASSERT_TRUE(partial);
  EXPECT_FALSE(partial->complete);
  EXPECT_EQ(partial->position, 4);
  EXPECT_EQ(state->writeChunk(address, 0, 3, 10, "0123").error().currentPosition, 4);
  auto done = state->writeChunk(address, 4, 9, 10, "456789");
  ASSERT_TRUE(done);
  ASSERT_TRUE(done->complete);
  EXPECT_EQ(done->event->TransmitId, "t-up");
  EXPECT_EQ(done->event->ShareTick, 1);
  const OVVirtualFile& node = *done->event->OvVirtualFile;
  EXPECT_EQ(node.EndOfFile->asInt64(), 10);
  EXPECT_EQ(node.FilehHash, "84d89877f0d4041efb6bf91a16f0248f2fd573e6af05c19f96bedb9f882f7882"); // SHA-256
  EXPECT_EQ(contentOf("docs", *node.UploadName), "0123456789");
  EXPECT_EQ(state->writeChunk(address, 10, 10, 10, "x").error().status, 404); // the address is used up
}

TEST_F(ServiceStateTest, NewContentsGetANewUploadNameAndEmptyFilesNeedNoUpload) {
  file("g", "docs", "old");
  const std::string oldName = *state->node("docs", "g")->UploadName;
  auto announced = state->announceContents("docs", spec("g", "docs", "g", true, 3), kBob, "t");
  ASSERT_TRUE(announced);
  auto done = state->writeChunk(*announced->uploadAddress, 0, 2, 3, "new");
  ASSERT_TRUE(done && done->complete);
  EXPECT_EQ(done->event->ClientJournalEventType, 3);
  EXPECT_EQ(done->event->OvVirtualFile->LastUploadName, oldName);
  EXPECT_EQ(contentOf("docs", *done->event->OvVirtualFile->UploadName), "new");
  EXPECT_EQ(contentOf("docs", oldName), "<404>");
  auto empty = state->create("docs", spec("e", "docs", "e", true, 0), kAlice, "t");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 201);
  EXPECT_FALSE(empty->uploadAddress);
  EXPECT_EQ(contentOf("docs", *empty->data.ClientJournalEvent->OvVirtualFile->UploadName), "");
}

TEST_F(ServiceStateTest, SeededContentIsComputedNotStored) {
  OVVirtualFile big = spec("big", "docs", "big.bin", true, 3 * 1024 * 1024 + 5);
  auto put = state->putSeeded("docs", big, 42, kAlice);
  ASSERT_TRUE(put);
  auto view = state->content("docs", *put->OvVirtualFile->UploadName);
  ASSERT_TRUE(view);
  std::string tail(9, '\0');
  ASSERT_TRUE(view->content->read(3 * 1024 * 1024 - 4, tail.data(), tail.size()));
  EXPECT_EQ(tail, seededBytes(42, 3 * 1024 * 1024 - 4, 9));
  EXPECT_EQ(put->OvVirtualFile->FilehHash, contentHash(*seededContent(42, 3 * 1024 * 1024 + 5)));
}

TEST_F(ServiceStateTest, TheListenerHearsEveryChangeInTickOrder) {
  std::vector<std::int32_t> ticks;
  state->setChangeListener([&](const std::string& shareId, const OVNewAPIJournalEvent& event) {
    EXPECT_EQ(shareId, "docs");
    ticks.push_back(event.ShareTick);
  });
  folder("f");
  folder("g", "f");
  ASSERT_TRUE(state->create("docs", spec("f", "docs", "f", false), kAlice, "again")); // a repeated create
  ASSERT_TRUE(state->remove("docs", "f", kAlice, "t"));
  EXPECT_EQ(ticks, (std::vector<std::int32_t>{1, 2, 3, 4}));
}

TEST(ServiceStateRestartTest, AStateFolderKeepsNodesContentsUploadsAndLinks) {
  orvex::test::TempDir dir;
  ManualClock clock;
  std::string address;
  std::string uploadName;
  std::string link;
  {
    auto state = makeState(clock, dir.path());
    EXPECT_FALSE(state->restore());
    ASSERT_TRUE(state->addShare(shareInfo("docs")));
    ASSERT_TRUE(state->create("docs", spec("f", "docs", "f", false), kAlice, "t"));
    uploadName = *state->putFile("docs", spec("g", "f", "g", true), "kept bytes", kAlice)->OvVirtualFile->UploadName;
    address = *state->create("docs", spec("h", "f", "h", true, 6), kAlice, "t-h")->uploadAddress;
    ASSERT_TRUE(state->writeChunk(address, 0, 2, 6, "abc"));
    link = *state->createPublicLink("docs", "g");
    state->markSeeded();
  }
  auto state = makeState(clock, dir.path());
  EXPECT_TRUE(state->restore());
  EXPECT_EQ(state->node("docs", "g")->UploadName, uploadName);
  EXPECT_EQ(state->linkContent(link)->name, "g");
  EXPECT_EQ(state->writeChunk(address, 0, 2, 6, "abc").error().currentPosition, 3);
  auto done = state->writeChunk(address, 3, 5, 6, "def");
  ASSERT_TRUE(done && done->complete);
  EXPECT_EQ(done->event->TransmitId, "t-h");
  EXPECT_EQ(done->event->ShareTick, 3); // the tick goes on from where it was
  auto view = state->content("docs", *done->event->OvVirtualFile->UploadName);
  std::string bytes(6, '\0');
  ASSERT_TRUE(view->content->read(0, bytes.data(), 6));
  EXPECT_EQ(bytes, "abcdef");
}

} // namespace
} // namespace orvex::service::test

namespace orvex::service::test {
namespace {

std::size_t filesIn(const std::filesystem::path& folder) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

TEST(ServiceStateRestartTest, ShareChangesAreKeptAndARemovedShareTakesItsSubfolderSharesAndContents) {
  orvex::test::TempDir dir;
  ManualClock clock;
  {
    auto state = makeState(clock, dir.path());
    ASSERT_TRUE(state->addShare(shareInfo("docs")));
    ASSERT_TRUE(state->addShare(shareInfo("other")));
    ASSERT_TRUE(state->create("docs", spec("s", "docs", "s", false), kAlice, "t"));
    ASSERT_TRUE(state->putFile("docs", spec("g", "s", "g", true), "bytes", kAlice));
    ShareInfo sub = shareInfo("sub");
    sub.parentShareId = "docs";
    sub.internalName = "s";
    ASSERT_TRUE(state->addShare(sub));
    ASSERT_TRUE(state->renameShare("other", "Renamed"));
    ASSERT_TRUE(state->setAcl("other", 0, "new-token"));
    EXPECT_EQ(filesIn(dir / "blobs"), 1u);
    ASSERT_TRUE(state->removeShare("docs"));
    EXPECT_FALSE(state->share("sub"));
    EXPECT_EQ(filesIn(dir / "blobs"), 0u);
    EXPECT_EQ(state->addShare(shareInfo("other")).error().status, 409);
  }
  auto state = makeState(clock, dir.path());
  state->restore();
  EXPECT_FALSE(state->share("docs"));
  EXPECT_FALSE(state->share("sub"));
  EXPECT_EQ(state->catchUp("docs", -1, 10).error().status, 404);
  ShareInfo other = *state->share("other");
  EXPECT_EQ(other.name, "Renamed");
  EXPECT_TRUE(other.isReadOnly());
  EXPECT_EQ(other.aclToken, "new-token");
}

} // namespace
} // namespace orvex::service::test

namespace orvex::service::test {
namespace {

class UploadExpiryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = makeState(clock, dir.path());
    ASSERT_TRUE(state->addShare(shareInfo("docs")));
  }
  std::string announce(const std::string& id) {
    auto announced = state->create("docs", spec(id, "docs", id, true, 6), kAlice, "t-" + id);
    EXPECT_TRUE(announced && announced->uploadAddress);
    return announced ? announced->uploadAddress.value_or("") : "";
  }
  std::size_t blobFiles() { return filesIn(dir / "blobs"); }

  orvex::test::TempDir dir;
  ManualClock clock;
  std::unique_ptr<ServiceState> state;
};

TEST_F(UploadExpiryTest, EachChunkKeepsASessionAliveAndAnIdleOneAnswersAsUnknown) {
  const std::string address = announce("g");
  clock.advance(std::chrono::hours(23));
  ASSERT_TRUE(state->writeChunk(address, 0, 2, 6, "abc"));
  clock.advance(std::chrono::hours(24)); // just within the limit since that chunk
  EXPECT_TRUE(state->upload(address));
  clock.advance(std::chrono::seconds(1));
  EXPECT_FALSE(state->upload(address));
  EXPECT_EQ(state->writeChunk(address, 3, 5, 6, "def").error().status, 404);
  EXPECT_EQ(blobFiles(), 0u);
  EXPECT_FALSE(state->node("docs", "g"));
}

TEST_F(UploadExpiryTest, StartingASessionDropsIdleOnesAndTheirBytes) {
  const std::string abandoned = announce("old");
  ASSERT_TRUE(state->writeChunk(abandoned, 0, 2, 6, "abc"));
  clock.advance(std::chrono::hours(12));
  const std::string recent = announce("recent");
  clock.advance(std::chrono::hours(13));
  const std::string fresh = announce("fresh");
  EXPECT_EQ(blobFiles(), 2u); // the abandoned session's chunk is gone without anyone asking for it
  EXPECT_TRUE(state->upload(recent));
  EXPECT_TRUE(state->writeChunk(fresh, 0, 5, 6, "abcdef")->complete);
}

TEST_F(UploadExpiryTest, IdleTimeCountsAcrossARestart) {
  const std::string address = announce("g");
  state.reset();
  clock.advance(std::chrono::hours(25));
  state = makeState(clock, dir.path());
  state->restore();
  EXPECT_EQ(state->writeChunk(address, 0, 2, 6, "abc").error().status, 404);
  EXPECT_EQ(blobFiles(), 0u);
}

} // namespace
} // namespace orvex::service::test
