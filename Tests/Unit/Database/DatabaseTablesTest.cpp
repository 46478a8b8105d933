// The bookkeeping tables and the pending-upload queries of the metadata store.
#include "DatabaseTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class DatabaseTablesTest : public ::testing::Test {
 protected:
  void SetUp() override { db().load(false); }
  OVDatabase& db() { return *harness.database; }
  OVFile add(const std::string& id, const std::string& parent, std::uint64_t status = kFileStatusSynchronized,
             const std::string& name = "") {
    auto file = makeFile(id, parent, name.empty() ? id : name, harness.clock);
    file.status = status;
    EXPECT_TRUE(insertRow(db(), file));
    return file;
  }

  DatabaseHarness harness;
};

TEST_F(DatabaseTablesTest, UnknownTicksAreStoredAsMinusOneAndReadBack) {
  add("n1", "S1");
  EXPECT_EQ(db().queryLong("SELECT tick FROM files WHERE internalName = ?", {"n1"}), -1);
  auto file = db().queryFile("SELECT * FROM files WHERE internalName = ?", {"n1"});
  ASSERT_TRUE(file);
  EXPECT_EQ(file->tick, kUnknownTick);
  EXPECT_EQ(file->updateTick, kUnknownTick);
  EXPECT_EQ(file->createTime, OVDate{harness.clock.wallNow()});
  EXPECT_EQ(file->status, kFileStatusSynchronized);
}

TEST_F(DatabaseTablesTest, UploadsArePagedDeletedFirstThenByDescendingStatus) {
  // 70 pending rows in a known order of (deleted, status), plus rows that are not pending.
  std::vector<std::pair<bool, std::uint64_t>> expected;
  int n = 0;
  for (auto [deleted, status, count] : {std::tuple{true, 3, 15}, {false, 3, 20}, {false, 2, 20}, {false, 1, 15}}) {
    for (int i = 0; i < count; ++i) {
      auto file = makeFile("p" + std::to_string(n++), "S1", "f", harness.clock);
      file.deleted = deleted;
      file.status = static_cast<std::uint64_t>(status);
      insertRow(db(), file);
      expected.emplace_back(deleted, status);
    }
  }
  add("done", "S1", kFileStatusSynchronized);
  add("shadow", "S1", kFileStatusShadow);
  add("ignored", "S1", kFileStatusIgnored);

  auto page = db().uploadsFromIndex(40);
  ASSERT_EQ(page.size(), 20u);
  for (std::size_t i = 0; i < page.size(); ++i) {
    EXPECT_EQ(std::pair(page[i].deleted, page[i].status), expected[40 + i]) << "row " << 41 + i;
  }
  EXPECT_EQ(db().uploadsFromIndex(60).size(), 10u);
  EXPECT_TRUE(db().uploadsFromIndex(80).empty());
}

TEST_F(DatabaseTablesTest, FinderFolderFilesNeverCountAsPendingUploads) {
  auto dsStore = makeFile("d1", "S1", ".DS_Store", harness.clock);
  dsStore.fileSize = 1000;
  dsStore.status = kFileStatusNew;
  insertRow(db(), dsStore);
  dsStore.internalName = "d2";
  dsStore.status = kFileStatusModified;
  insertRow(db(), dsStore);
  auto real = makeFile("r1", "S1", "report", harness.clock);
  real.fileSize = 7;
  insertRow(db(), real); // status 1 by default

  EXPECT_EQ(db().uploadsNumber(), 1);
  EXPECT_EQ(db().uploadsSize(), 7);
  EXPECT_THAT(*db().queryStrings("SELECT status FROM files WHERE publicName = '.DS_Store'"), ElementsAre("6", "6"));
  EXPECT_THAT(db().foldersWithUploads(), ElementsAre("S1"));
}

TEST_F(DatabaseTablesTest, NothingPendingCountsAsZero) {
  EXPECT_EQ(db().uploadsNumber(), 0);
  EXPECT_EQ(db().uploadsSize(), 0);
  EXPECT_EQ(db().totalFileSize(), 0);
}

TEST_F(DatabaseTablesTest, OfflineMarkCoversDescendantsOnlyWhenRecursing) {
  add("folder", "S1");
  add("sub", "folder");
  add("leaf", "sub");
  db().markItemSynchronized("folder", true);
  EXPECT_TRUE(db().itemSynchronized("leaf", true));
  EXPECT_FALSE(db().itemSynchronized("leaf", false));
  EXPECT_TRUE(db().itemSynchronized("folder", false));
  EXPECT_TRUE(db().shareSynchronized("folder"));
  EXPECT_THAT(db().syncedFolders(), ElementsAre("folder"));
  db().markItemSynchronized("folder", false);
  EXPECT_FALSE(db().itemSynchronized("leaf", true));
  EXPECT_FALSE(db().itemSynchronized("", true));
}

TEST_F(DatabaseTablesTest, ParentCycleEndsTheOfflineWalk) {
  add("a", "b");
  add("b", "a");
  EXPECT_FALSE(db().itemSynchronized("a", true));
}

TEST_F(DatabaseTablesTest, ExpiredDownloadsDeleteOnlySynchronizedContentNotKeptOffline) {
  add("plain", "S1", kFileStatusSynchronized);
  add("modified", "S1", kFileStatusModified);
  add("offlineFolder", "S1");
  add("offline", "offlineFolder", kFileStatusSynchronized);
  for (const char* id : {"plain", "modified", "offline", "vanished"}) {
    db().markFileDownloaded(makeFile(id, "S1", id, harness.clock));
  }
  db().markItemSynchronized("offlineFolder", true);
  const OVDate cutoff{harness.clock.wallNow() + std::chrono::seconds(1)};
  harness.clock.advance(std::chrono::hours(2));
  db().markFileDownloaded(makeFile("recent", "S1", "recent", harness.clock));
  add("recent", "S1");

  db().deleteDownloadsOlderThen(cutoff);

  EXPECT_THAT(harness.cacheEraser.deletedCaches(), ElementsAre("plain"));
  EXPECT_THAT(*db().queryStrings("SELECT internalName FROM downloads"), ElementsAre("recent"));
}

TEST_F(DatabaseTablesTest, DownloadMarkReplacesTheRowAndForgettingDeletesThePartialFile) {
  auto file = add("n1", "S1");
  db().markFileDownloaded(file);
  db().markFileDownloaded(file);
  EXPECT_EQ(db().queryLong("SELECT COUNT(*) FROM downloads WHERE downloadStatus = 2"), 1);
  db().deleteFileDownload(file);
  EXPECT_EQ(db().queryLong("SELECT COUNT(*) FROM downloads"), 0);
  EXPECT_THAT(harness.cacheEraser.deletedDownloads(), ElementsAre("n1"));
}

TEST_F(DatabaseTablesTest, UploadStatusRoundTripsWithAndWithoutToken) {
  auto file = add("n1", "S1");
  OVFileUploadStatus status;
  status.internalName = "n1";
  status.tick = 12;
  status.startTime = OVDate{harness.clock.wallNow()};
  status.finishTime = dateFromSecondsSince1970(4102444800.0);
  status.progress = 1 << 20;
  status.fileHash = "hash";
  status.uploadName = "up";
  db().updateUploadStatus(status);
  auto read = db().uploadStatusForFile(file);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->tick, 12);
  EXPECT_EQ(read->startTime, status.startTime);
  EXPECT_EQ(read->finishTime, status.finishTime);
  EXPECT_EQ(read->progress, 1 << 20);
  EXPECT_FALSE(read->token);

  status.token = "https://upload/1";
  db().updateUploadStatus(status);
  EXPECT_EQ(db().uploadStatusForFile(file)->token, "https://upload/1");
  EXPECT_EQ(db().queryLong("SELECT COUNT(*) FROM uploads"), 1);
  db().deleteUploadStatusForFile(file);
  EXPECT_FALSE(db().uploadStatusForFile(file));
}

TEST_F(DatabaseTablesTest, TotalSizeIsRecomputedOnlyAfterTenSeconds) {
  auto file = makeFile("a", "S1", "a", harness.clock);
  file.fileSize = 10;
  insertRow(db(), file);
  file.internalName = "a";
  file.status = kFileStatusShadow; // shadows do not count
  insertRow(db(), file);
  EXPECT_EQ(db().totalFileSize(), 10);

  file.internalName = "b";
  file.status = kFileStatusNew;
  file.fileSize = 5;
  insertRow(db(), file);
  harness.clock.advance(std::chrono::seconds(10));
  EXPECT_EQ(db().totalFileSize(), 10);
  harness.clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(db().totalFileSize(), 15);
}

TEST_F(DatabaseTablesTest, ShutdownBlocksNestAndTerminationSticks) {
  EXPECT_FALSE(db().shutdownBlocked());
  db().blockShutdown();
  db().blockShutdown();
  db().unblockShutdown();
  EXPECT_TRUE(db().shutdownBlocked());
  db().unblockShutdown();
  EXPECT_FALSE(db().shutdownBlocked());
  EXPECT_FALSE(db().terminating());
  db().beginTermination();
  EXPECT_TRUE(db().terminating());
}

} // namespace
} // namespace orvex::test
