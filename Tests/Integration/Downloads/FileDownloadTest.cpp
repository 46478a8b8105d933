// Whole-file downloads against the service: the cached result, the notices,
// failures, and folders kept available offline.
#include "DownloadFixture.h"

namespace orvex::test {
namespace {

using FileDownloadTest = DownloadFixture;
using Entries = std::vector<NotificationRecorder::Entry>;

// The finished notice of `file` has been posted.
std::function<bool(const Entries&)> finished(const OVFile& file) {
  return [id = file.internalName](const Entries& entries) {
    return std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
      return entry.file == id && entry.name == kOVNotificationFileDownloadFinished;
    });
  };
}

TEST_F(FileDownloadTest, DownloadsTheWholeFileWithThrottledProgress) {
  const auto& mid = file("mid.bin");
  queue->downloadFileManually(mid);
  EXPECT_TRUE(queue->isFileInQueue(mid));
  ASSERT_TRUE(h.recorder.waitFor(finished(mid)));

  EXPECT_TRUE(completeInCache(mid));
  EXPECT_EQ(readFile(*h.database.fileCache.pathForFileCache(mid)), content(mid));
  EXPECT_EQ(h.recorder.of(mid.internalName, kOVNotificationFileDownloadStarted).size(), 1u);
  const auto finishedNotices = h.recorder.of(mid.internalName, kOVNotificationFileDownloadFinished);
  ASSERT_EQ(finishedNotices.size(), 1u);
  EXPECT_FALSE(finishedNotices[0].error);

  const auto progress = h.recorder.of(mid.internalName, kOVNotificationFileDownloadProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front().progress, 0);
  for (std::size_t i = 1; i < progress.size(); ++i) {
    const auto step = *progress[i].progress - *progress[i - 1].progress;
    EXPECT_GT(step, 65536);
    EXPECT_GT(step, 3000000 / 100);
  }
  EXPECT_FALSE(queue->isFileInQueue(mid));
  EXPECT_EQ(queue->queueBytes(), 0);
  EXPECT_EQ(queue->queueLen(), 0);
  EXPECT_NE(log.find(0, "File mid.bin download finished."), "");
}

TEST_F(FileDownloadTest, PassWithoutATokenStartsNothingAndTheNextOneDoes) {
  h.bearer.failNext(1);
  const auto& mid = file("mid.bin");
  queue->downloadFileManually(mid);
  queue->scheduleCheckDownloads();
  ASSERT_TRUE(h.recorder.waitFor(finished(mid)));
  EXPECT_FALSE(h.recorder.of(mid.internalName, kOVNotificationFileDownloadFinished).at(0).error);
  EXPECT_NE(log.find(0, "Download - Error getting access token"), "");
  EXPECT_EQ(downloadRanges().size(), 1u);
}

class FileFaultTest : public DownloadFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(FileFaultTest, FailsWithAnErrorNoticeAndNoCompleteFile) {
  const auto& mid = file("mid.bin");
  addFault(nlohmann::json::parse(GetParam()), &mid);
  queue->downloadFileManually(mid);
  ASSERT_TRUE(h.recorder.waitFor(finished(mid)));

  const auto notices = h.recorder.of(mid.internalName, kOVNotificationFileDownloadFinished);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].error);
  EXPECT_FALSE(completeInCache(mid));
  const auto kept = partialDownload(mid);
  EXPECT_EQ(kept, content(mid).substr(0, kept.size()));
  EXPECT_EQ(queue->queueLen(), 0);
  EXPECT_EQ(queue->queueBytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, FileFaultTest,
                         ::testing::Values(R"({"Status": 404, "Body": "gone"})", R"({"Status": 200, "Body": "short"})",
                                           R"({"DropAfterBytes": 1000000})"));

TEST_F(FileDownloadTest, SyncedFolderDownloadsEveryFileBelowIt) {
  const auto& folder = file("Offline");
  queue->changeSycStatus(folder.internalName, true);
  EXPECT_TRUE(queue->pathIsSynchronized("/Documents/Offline"));
  queue->checkAutomaticDownloads();

  for (const char* name : {"o1.bin", "o2.bin", "o3.bin"}) {
    const auto& target = file(name);
    ASSERT_TRUE(h.recorder.waitFor(finished(target))) << name;
    EXPECT_TRUE(completeInCache(target)) << name;
  }
  EXPECT_FALSE(completeInCache(file("mid.bin")));
}

TEST_F(FileDownloadTest, RunThreadChecksSyncedSharesFiveSecondsLater) {
  h.db().markItemSynchronized("docs", true);
  queue->runThread();
  h.database.clock.advance(std::chrono::seconds(5));
  for (const char* name : {"tiny.txt", "mid.bin", "s1.bin", "o3.bin"}) {
    ASSERT_TRUE(h.recorder.waitFor(finished(file(name)))) << name;
  }
  EXPECT_TRUE(queue->pathIsSynchronized("/Documents"));
}

TEST_F(FileDownloadTest, CancelledSyncedFolderStopsItsDownloads) {
  const auto stall = addFault({{"Stall", true}});
  const auto& folder = file("Offline");
  queue->changeSycStatus(folder.internalName, true);
  queue->refreshSyncStatus(folder);
  ASSERT_TRUE(waitForFault(stall, 3, 3));
  EXPECT_TRUE(queue->pathHasDownloads("/Documents/Offline"));

  queue->changeSycStatus(folder.internalName, false);
  queue->refreshSyncStatus(folder);
  removeFault(stall); // running downloads stop at their next data

  for (const char* name : {"o1.bin", "o2.bin", "o3.bin"}) {
    const auto& target = file(name);
    ASSERT_TRUE(h.recorder.waitFor(finished(target))) << name;
    const auto notices = h.recorder.of(target.internalName, kOVNotificationFileDownloadFinished);
    EXPECT_TRUE(notices.at(0).error) << name;
    EXPECT_FALSE(completeInCache(target)) << name;
  }
  EXPECT_EQ(queue->queueLen(), 0);
  EXPECT_FALSE(queue->pathHasDownloads("/Documents/Offline"));
  EXPECT_FALSE(queue->pathIsSynchronized("/Documents/Offline"));
}

} // namespace
} // namespace orvex::test
