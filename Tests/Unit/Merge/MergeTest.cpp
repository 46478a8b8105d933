// The merge of the server's records into the store: which local rows a record
// may replace, what a remote deletion removes, the transaction around large
// batches, folder shares, and how catch-up pages and single events advance
// their share.
#include "MergeFixture.h"
#include "OVLogger.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/JournalRecords.h"
#include "Sync/RealTimeRecords.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// True when another connection cannot begin writing right now, which is the
// case exactly while the store's exclusive transaction is open. Never waits.
bool writersLockedOut(const std::filesystem::path& path) {
  sqlite3* other = nullptr;
  sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
  const int rc = sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_close(other);
  return rc == SQLITE_BUSY;
}

class MergeTest : public MergeFixture {
 protected:
  OVVirtualFile record(const std::string& id, const std::string& parent, const std::string& name, bool isFile = true) {
    OVVirtualFile remote;
    remote.ShareId = "S1";
    remote.InternalName = id;
    remote.ParrentId = parent;
    remote.PublicName = name;
    remote.IsFile = isFile;
    remote.Tick = 7;
    remote.LastWriteTime = OVDate{clock.wallNow()};
    return remote;
  }
  void merge(const std::vector<OVVirtualFile>& records) { db.updateFilesInShare(records, *shares.shareWithId("S1")); }
};

TEST_F(MergeTest, RecordOfANodeBeingUploadedLeavesItsRowUntouched) {
  node("A", "S1", "draft", kFileStatusModified);
  node("B", "S1", "other");
  uploads.operations = {"A"};

  merge({record("A", "S1", "renamed remotely"), record("B", "S1", "other renamed")});

  ASSERT_EQ(rows("A").size(), 1u);
  EXPECT_EQ(rows("A")[0].publicName, "draft");
  EXPECT_EQ(rows("A")[0].status, kFileStatusModified);
  EXPECT_EQ(rows("B")[0].publicName, "other renamed"); // the rest of the batch applies
}

TEST_F(MergeTest, PendingLocalChangesWinOverRemoteUpdates) {
  OVFile renamed = node("A", "D", "local name", kFileStatusChanged);
  node("M", "S1", "edited", kFileStatusModified);

  merge({record("A", "S1", "remote name"), record("M", "S1", "remote edit")});

  EXPECT_EQ(rows("A")[0], renamed);
  EXPECT_EQ(rows("M")[0].publicName, "edited");
  EXPECT_FALSE(log.find(kLogMain, "File local name was modified locally, but also updated remotely.").empty());
}

TEST_F(MergeTest, RemoteDeletionKeepsOnlyFilesWithPendingChanges) {
  folder("D", "S1", "dir", kFileStatusChanged);
  node("D", "S1", "dir", kFileStatusShadow, false);
  OVFile pending = node("P", "D", "pending", kFileStatusModified);
  OVFile synced = node("F", "D", "synced");
  writeCache(synced, "cached");
  db.markFileDownloaded(synced);
  node("X", "S1", "left over", kFileStatusShadow);

  auto deleted = [&](const std::string& id, const std::string& parent, bool isFile) {
    OVVirtualFile remote = record(id, parent, id, isFile);
    remote.Deleted = true;
    return remote;
  };
  merge({deleted("P", "D", true), deleted("F", "D", true), deleted("X", "S1", true), deleted("D", "S1", false)});

  EXPECT_THAT(rows("P"), ElementsAre(pending));
  EXPECT_FALSE(log.find(kLogMain, "File pending was deleted remotely, but was not uploaded yet.").empty());
  EXPECT_THAT(rows("F"), IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(cachePath(synced)));
  EXPECT_EQ(db.queryLong("SELECT COUNT(*) FROM downloads"), 0);
  EXPECT_THAT(rows("X"), IsEmpty());
  EXPECT_THAT(rows("D"), IsEmpty()); // a folder goes whatever its state, shadow included
  // The deleted folder is not refreshed, the share's top folder is.
  EXPECT_THAT(finder.refreshed, ElementsAre(std::set<std::string>{"S1"}));
}

TEST_F(MergeTest, NewContentOnTheServerDropsTheCacheButKeepsLocalPermissions) {
  OVFile local = node("A", "S1", "report");
  writeCache(local, "old content");
  downloads.downloaded = {"A"};
  OVVirtualFile remote = record("A", "S1", "report v2");
  remote.POSIXPermissions = WireNumber(0600);
  remote.LastWriteTime = OVDate{clock.wallNow() + std::chrono::seconds(30)};

  merge({remote});

  ASSERT_EQ(rows("A").size(), 1u);
  EXPECT_EQ(rows("A")[0].publicName, "report v2");
  EXPECT_EQ(rows("A")[0].permissions, 0640u);
  EXPECT_EQ(rows("A")[0].status, kFileStatusSynchronized);
  EXPECT_FALSE(std::filesystem::exists(cachePath(local)));
  EXPECT_FALSE(log.find(kLogMain, "Deleting file report download since it was updated remotely from tick -1 to tick 7.")
                   .empty());
}

TEST_F(MergeTest, SameModificationSecondKeepsTheCacheAndTakesRemoteFields) {
  OVFile local = node("A", "S1", "report");
  writeCache(local, "content");
  OVVirtualFile remote = record("A", "S1", "report");
  remote.POSIXPermissions = WireNumber(0600);
  remote.LastWriteTime = OVDate{clock.wallNow() + std::chrono::milliseconds(700)}; // the same whole second
  remote.FileLock = FileLock{};
  remote.FileLock->IsLocked = WireNumber(1);
  remote.FileLock->LockedBy = "bob";

  merge({remote});

  EXPECT_EQ(readFile(cachePath(local)), "content");
  EXPECT_EQ(rows("A")[0].permissions, 0600u);
  EXPECT_TRUE(rows("A")[0].isLocked);
  EXPECT_EQ(rows("A")[0].lockedBy, "bob");
}

TEST_F(MergeTest, ServerRecordConfirmsTheUploadAndDropsTheShadow) {
  node("A", "S1", "sent", kFileStatusUploaded);
  node("A", "S1", "before", kFileStatusShadow);
  uploads.unconfirmed = {"A"};

  merge({record("A", "S1", "sent")});

  EXPECT_THAT(uploads.confirmed, ElementsAre("A"));
  ASSERT_EQ(rows("A").size(), 1u);
  EXPECT_EQ(rows("A")[0].status, kFileStatusSynchronized);
}

TEST_F(MergeTest, UnknownNodesAreAddedAndBrokenRecordsSkipped) {
  node("N", "S1", "old state", kFileStatusShadow);
  OVVirtualFile noParent = record("Q", "S1", "orphan");
  noParent.ParrentId.reset();
  OVVirtualFile noId = record("", "S1", "nameless");

  merge({noParent, record("N", "S1", "new node"), noId});

  ASSERT_EQ(rows("N").size(), 1u); // the leftover shadow went
  EXPECT_EQ(rows("N")[0].status, kFileStatusSynchronized);
  EXPECT_EQ(rows("N")[0].publicName, "new node");
  EXPECT_THAT(rows("Q"), IsEmpty());
  EXPECT_FALSE(
      log.find(kLogMain, "Warning! No internal name or parent id for the file orphan (Q, (null)). Ignoring it.")
          .empty());
  EXPECT_FALSE(log.find(kLogMain, "Warning! No internal name or parent id for the file nameless").empty());
}

TEST_F(MergeTest, OnlyBatchesOfMoreThanTwoRecordsRunInOneTransaction) {
  std::vector<bool> lockedOut;
  std::vector<bool> shutdownBlocked;
  uploads.onOperationQuery = [&](const std::string&) {
    lockedOut.push_back(writersLockedOut(db.databasePath()));
    shutdownBlocked.push_back(db.shutdownBlocked());
  };
  bool lockedOutAtRefresh = true;
  finder.onRefresh = [&] { lockedOutAtRefresh = writersLockedOut(db.databasePath()); };

  merge({record("a", "S1", "a"), record("b", "S1", "b")});
  EXPECT_THAT(lockedOut, ElementsAre(false, false));

  lockedOut.clear();
  merge({record("c", "S1", "c"), record("d", "S1", "d"), record("e", "S1", "e")});
  EXPECT_THAT(lockedOut, ElementsAre(true, true, true));
  EXPECT_FALSE(lockedOutAtRefresh); // the file manager is told after the commit
  EXPECT_THAT(shutdownBlocked, ElementsAre(true, true, true, true, true));
  EXPECT_FALSE(db.shutdownBlocked());
  EXPECT_EQ(rowCount(), 5);
}

TEST_F(MergeTest, TellsTheDriveEveryPathItChangedAfterTheCommit) {
  RecordingPaths paths;
  paths.storeIsFree = [&] { return !writersLockedOut(db.databasePath()); };
  db.setPathChangeListener(&paths);
  folder("D", "S1", "docs");
  node("A", "D", "old name");
  node("B", "S1", "gone");
  node("C", "D", "moved");

  OVVirtualFile gone = record("B", "S1", "gone");
  gone.Deleted = true;
  merge({record("A", "D", "new name"), gone, record("C", "S1", "moved"), record("N", "D", "brand new")});

  ASSERT_EQ(paths.reported.size(), 1u);
  EXPECT_EQ(
      paths.reported[0],
      (std::set<std::string>{"/Projects", "/Projects/docs", "/Projects/docs/old name", "/Projects/docs/new name",
                             "/Projects/gone", "/Projects/docs/moved", "/Projects/moved", "/Projects/docs/brand new"}));
  EXPECT_TRUE(paths.freeEachTime);

  // Nothing changed, nothing told; no drive, nothing looked up.
  merge({});
  EXPECT_EQ(paths.reported.size(), 1u);
  db.setPathChangeListener(nullptr);
  merge({record("A", "D", "again")});
  EXPECT_EQ(paths.reported.size(), 1u);
}

TEST_F(MergeTest, ShareChangesTellTheDriveTheRootAndEveryShareFolder) {
  RecordingPaths paths;
  db.setPathChangeListener(&paths);
  (void)db.renameShare(*shares.shareWithId("S1"), "Renamed");
  ASSERT_EQ(paths.reported.size(), 1u);
  EXPECT_TRUE(paths.reported.back().contains("/"));
  EXPECT_TRUE(paths.reported.back().contains("/Projects"));
  db.setPathChangeListener(nullptr);
}

TEST_F(MergeTest, CatchUpOfAFolderShareStoresTopLevelNodesUnderTheSharedFolder) {
  addFolderShare();
  OSXCatchUpResponse page;
  OVVirtualFile top = record("n1", "F1", "top.txt");
  top.ShareId = "F1";
  page.OvVirtualFiles = std::vector<OVVirtualFile>{top};
  page.LargestTick = 12;

  db.updateFilesForShare(page, *shares.shareWithId("F1"));

  ASSERT_EQ(rows("n1").size(), 1u);
  EXPECT_EQ(rows("n1")[0].parentId, "fold");
  EXPECT_EQ(rows("n1")[0].shareId, "F1");
  EXPECT_EQ(rows("n1")[0].parentShareId, "S1");
  EXPECT_EQ(shares.shareWithId("F1")->LastApplyedJournalTick, 12);
  EXPECT_EQ(shares.shareWithId("F1")->ModificationDate, OVDate{clock.wallNow()});
  EXPECT_EQ(shares.delayedSaves, 1);
  EXPECT_FALSE(log.find(kLogMain, "Updating share Shared from tick 5 to tick 12. Files in update 1.").empty());

  // The same node reaching us through the share that holds the folder is left to the folder share.
  merge({record("n1", "fold", "renamed through S1")});
  EXPECT_EQ(rows("n1")[0].publicName, "top.txt");
}

TEST_F(MergeTest, EmptyCatchUpPageOnlyAdvancesTheTick) {
  OSXCatchUpResponse page;
  page.LargestTick = 40;

  db.updateFilesForShare(page, *shares.shareWithId("S1"));

  EXPECT_FALSE(shares.shareWithId("S1")->ModificationDate);
  EXPECT_EQ(shares.delayedSaves, 1);
  EXPECT_TRUE(log.find(kLogMain, "Updating share").empty()); // the tick did not move
  EXPECT_THAT(finder.refreshed, IsEmpty());
}

TEST_F(MergeTest, SingleEventsAdvanceTheirShareAndSaveSoon) {
  ClientJournalEvent event;
  event.ShareTick = 50;
  event.OvVirtualFile = record("A", "S1", "pushed");
  db.updateFile(event);
  EXPECT_EQ(rows("A")[0].publicName, "pushed");
  EXPECT_EQ(shares.shareWithId("S1")->LastApplyedJournalTick, 50);
  EXPECT_EQ(shares.delayedSavesWithRecheck, 1);

  // A record of a share nobody knows is not merged; the save is still asked for.
  event.OvVirtualFile = record("B", "elsewhere", "stray");
  event.OvVirtualFile->ShareId = "S9";
  db.updateFile(event);
  EXPECT_THAT(rows("B"), IsEmpty());
  EXPECT_EQ(shares.delayedSavesWithRecheck, 2);

  OVNewAPIJournalEvent uploaded;
  uploaded.ShareTick = 51;
  uploaded.OvVirtualFile = record("C", "S1", "uploaded");
  db.updateFileNew(uploaded);
  EXPECT_EQ(rows("C")[0].status, kFileStatusSynchronized);
  EXPECT_EQ(shares.shareWithId("S1")->LastApplyedJournalTick, 51);
  EXPECT_EQ(shares.delayedSaves, 1);
  EXPECT_EQ(shares.delayedSavesWithRecheck, 2);
}

} // namespace
} // namespace orvex::test
