// The download queue's bookkeeping without a server: what counts as
// downloaded, the whole-file lists, the badge queries and the expiry. The
// bearer source never answers here, so no pass starts a transfer.
#include "Network/HttpClient.h"
#include "Store/OVFileCache.h"
#include "Support/LogCapture.h"
#include "Transfers/OVDownloadQueue.h"
#include "Unit/Transfers/TransfersHarness.h"

#include <gtest/gtest.h>

namespace orvex::test {
namespace {

class DownloadQueueTest : public ::testing::Test {
 protected:
  OVDownloadQueue& queue() {
    if (!queue_) {
      OVDownloadQueueTimings timings;
      timings.chunkWait = std::chrono::milliseconds(50);
      queue_ = std::make_unique<OVDownloadQueue>(OVDownloadQueueParts{h.db(), h.database.fileCache, http, api, h.bearer,
                                                                      h.notifications, *h.settings, h.database.clock},
                                                 timings);
    }
    return *queue_;
  }
  // Stores the first `length` bytes of the file's content as the cached prefix.
  void cachePrefix(const OVFile& file, const std::string& content, std::size_t length) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    h.database.fileCache.addChunk({bytes, length}, 0, length, file);
  }

  LogCapture log;
  TransfersHarness h;
  HttpClient http;
  OVNewAPI api{Deployment{}};
  std::unique_ptr<OVDownloadQueue> queue_;
};

TEST_F(DownloadQueueTest, EmptyIgnoredAndCompleteFilesCountAsDownloaded) {
  auto empty = h.node("e", "docs", "empty.txt", true, 0);
  auto ignored = h.node("i", "docs", "~lock.docx", true, 50);
  auto complete = h.node("c", "docs", "done.txt", true, 5);
  auto partial = h.node("p", "docs", "half.txt", true, 10);
  auto missing = h.node("m", "docs", "cold.txt", true, 10);
  h.cacheComplete(complete, "hello");
  cachePrefix(partial, "0123456789", 4);

  EXPECT_TRUE(queue().isFileDownloaded(empty));
  EXPECT_TRUE(queue().isFileDownloaded(ignored));
  EXPECT_TRUE(queue().isFileDownloaded(complete));
  EXPECT_FALSE(queue().isFileDownloaded(partial));
  EXPECT_FALSE(queue().isFileDownloaded(missing));

  // None of the downloaded ones is ever queued.
  for (const auto& file : {empty, ignored, complete}) {
    queue().downloadFileManually(file);
  }
  EXPECT_EQ(queue().queueLen(), 0);
}

TEST_F(DownloadQueueTest, ManualRequestMovesAQueuedFileToThePriorityListOnce) {
  auto a = h.node("a", "docs", "a.bin", true, 1000);
  auto b = h.node("b", "docs", "b.bin", true, 300);
  queue().downloadFileAutomatically(a);
  queue().downloadFileAutomatically(b);
  queue().downloadFileManually(a);
  queue().downloadFileManually(a);
  queue().downloadFileAutomatically(a);

  EXPECT_EQ(queue().queueLen(), 2);
  EXPECT_EQ(queue().queueBytes(), 1300);
  EXPECT_TRUE(queue().isFileInQueue(a));

  // Not started yet: cancelling removes it at once.
  queue().cancelFilesDownload({a});
  EXPECT_EQ(queue().queueLen(), 1);
  EXPECT_EQ(queue().queueBytes(), 300);
  EXPECT_FALSE(queue().isFileInQueue(a));
}

TEST_F(DownloadQueueTest, FolderBadgeFollowsQueuedFilesUpwardsOnly) {
  h.node("A", "docs", "A", false);
  h.node("B", "A", "B", false);
  auto inB = h.node("f", "B", "f.bin", true, 100);
  queue().downloadFileAutomatically(inB);

  EXPECT_TRUE(queue().pathHasDownloads("/Documents/A/B"));
  EXPECT_TRUE(queue().pathHasDownloads("/Documents/A"));
  EXPECT_TRUE(queue().pathHasDownloads("/Documents"));
  EXPECT_FALSE(queue().pathHasDownloads("/Documents/A/B/C"));
  EXPECT_FALSE(queue().pathHasDownloads("/Documents/A/Bee"));
  EXPECT_FALSE(queue().pathHasDownloads("/Other"));
}

TEST_F(DownloadQueueTest, FolderDownloadQueuesEveryMissingFileOfTheSubtree) {
  h.node("A", "docs", "A", false);
  h.node("B", "A", "B", false);
  auto top = h.node("t", "A", "top.bin", true, 10);
  auto deep = h.node("d", "B", "deep.bin", true, 20);
  auto cached = h.node("c", "B", "cached.bin", true, 5);
  auto outside = h.node("o", "docs", "outside.bin", true, 40);
  h.cacheComplete(cached, "12345");

  queue().downloadFolder(*h.db().fileWithId("A", false));
  EXPECT_TRUE(queue().isFileInQueue(top));
  EXPECT_TRUE(queue().isFileInQueue(deep));
  EXPECT_FALSE(queue().isFileInQueue(cached));
  EXPECT_FALSE(queue().isFileInQueue(outside));
  EXPECT_EQ(queue().queueBytes(), 30);

  // Cancelling the folders drops what waits and marks them not kept offline.
  h.db().markItemSynchronized("B", true);
  queue().cancelDownloadForFolders({"A", "B"});
  EXPECT_EQ(queue().queueLen(), 0);
  EXPECT_FALSE(h.db().itemSynchronized("B", false));
}

TEST_F(DownloadQueueTest, SyncedPathsAreTheExactPathsOfSyncedSharesAndFolders) {
  auto folder = h.node("A", "docs", "A", false);
  h.node("x", "A", "x.txt");
  queue().changeSycStatus("docs", true);
  EXPECT_TRUE(queue().pathIsSynchronized("/Documents"));
  EXPECT_FALSE(queue().pathIsSynchronized("/Documents/A"));
  EXPECT_FALSE(queue().pathIsSynchronized("/Documents/A/x.txt"));

  queue().changeSycStatus("docs", false);
  queue().changeSycStatus("A", true);
  EXPECT_FALSE(queue().pathIsSynchronized("/Documents"));
  EXPECT_TRUE(queue().pathIsSynchronized("/Documents/A"));

  // Turning a synced folder's state off cancels what it had queued.
  queue().refreshSyncStatus(folder);
  EXPECT_EQ(queue().queueLen(), 1);
  queue().changeSycStatus("A", false);
  queue().refreshSyncStatus(folder);
  EXPECT_EQ(queue().queueLen(), 0);
}

TEST_F(DownloadQueueTest, ReadsInsideTheCachedPrefixAskNothingAndReadsPastTheEndAreCut) {
  auto file = h.node("p", "docs", "p.txt", true, 10);
  cachePrefix(file, "0123456789", 6);

  EXPECT_EQ(queue().downloadChunk(2, 4, file, "/Documents/p.txt"), "2345");
  EXPECT_EQ(queue().downloadChunk(11, 4, file, "/Documents/p.txt"), std::nullopt);
  EXPECT_EQ(queue().downloadChunk(10, 4, file, "/Documents/p.txt"), "");
  EXPECT_EQ(h.bearer.fetches(), 0);

  // Past the prefix the reader waits for the queue, which gets no bearer here.
  EXPECT_EQ(queue().downloadChunk(4, 100, file, "/Documents/p.txt"), std::nullopt);
  EXPECT_GE(h.bearer.fetches(), 1);
}

TEST_F(DownloadQueueTest, NothingStartsOnceTheApplicationTerminates) {
  auto file = h.node("p", "docs", "p.txt", true, 10);
  h.db().beginTermination();
  EXPECT_EQ(queue().downloadChunk(0, 4, file, "/Documents/p.txt"), std::nullopt);
  queue().downloadFileManually(file);
  queue().runThread();
  h.database.clock.advance(std::chrono::seconds(10));
  EXPECT_EQ(queue().downloadChunk(0, 4, file, "/Documents/p.txt"), std::nullopt);
  EXPECT_EQ(h.bearer.fetches(), 0);
}

TEST_F(DownloadQueueTest, ReadOfANodeWhoseShareIsGoneMovesItToTheShareOfItsPath) {
  auto file = h.node("p", "docs", "p.txt", true, 10);
  OVFile stale = file;
  stale.shareId = "gone";
  queue().downloadChunk(0, 4, stale, "/Documents/p.txt");
  EXPECT_EQ(h.db().fileWithId("p", false)->shareId, "docs");
}

class DownloadExpiryTest : public DownloadQueueTest {
 protected:
  // A file downloaded `hoursAgo` before now, then expiry with the setting `days`.
  std::vector<std::string> expireWithSetting(std::int64_t days, int hoursAgo) {
    auto file = h.node("f", "docs", "f.bin", true, 10);
    h.db().markFileDownloaded(file);
    h.database.clock.advance(std::chrono::hours(hoursAgo));
    h.settings->setStoreDownloadedFiles(days);
    queue().checkDownloadsToDelete(-1);
    return h.database.cacheEraser.deletedCaches();
  }
};

TEST_F(DownloadExpiryTest, SettingMinusOneKeepsEverything) {
  EXPECT_TRUE(expireWithSetting(-1, 24 * 365).empty());
}

TEST_F(DownloadExpiryTest, SettingZeroKeepsFourHours) {
  EXPECT_TRUE(expireWithSetting(0, 3).empty());
  h.database.clock.advance(std::chrono::hours(2));
  queue().checkDownloadsToDelete(-1);
  EXPECT_EQ(h.database.cacheEraser.deletedCaches(), std::vector<std::string>{"f"});
}

TEST_F(DownloadExpiryTest, SettingInDaysKeepsThatManyDays) {
  EXPECT_TRUE(expireWithSetting(7, 167).empty());
  h.database.clock.advance(std::chrono::hours(2));
  queue().checkDownloadsToDelete(-1);
  EXPECT_EQ(h.database.cacheEraser.deletedCaches(), std::vector<std::string>{"f"});
}

TEST_F(DownloadExpiryTest, ExplicitHoursIgnoreTheSetting) {
  EXPECT_TRUE(expireWithSetting(-1, 1).empty());
  queue().checkDownloadsToDelete(0); // the preferences' clean-up: everything older than now
  EXPECT_EQ(h.database.cacheEraser.deletedCaches(), std::vector<std::string>{"f"});
}

} // namespace
} // namespace orvex::test
