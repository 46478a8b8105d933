// The upload queue's status answers over store rows.
#include "Support/LogCapture.h"
#include "Transfers/OVUploadQueue.h"
#include "Unit/Transfers/TransfersHarness.h"

#include <gtest/gtest.h>

namespace orvex::test {
namespace {

class UploadQueueTest : public ::testing::Test {
 protected:
  LogCapture log;
  TransfersHarness h;
  OVUploadQueue queue{h.db(), h.database.clock};
};

TEST_F(UploadQueueTest, CountsNewAndChangedRowsButNeverDsStore) {
  EXPECT_FALSE(queue.hasUploads());
  h.node("ds", "docs", ".DS_Store", true, 4000, kFileStatusNew);
  h.node("sent", "docs", "sent.txt", true, 8000, kFileStatusUploaded);
  h.node("moved", "docs", "moved.txt", true, 16000, kFileStatusChanged);
  EXPECT_FALSE(queue.hasUploads());
  EXPECT_EQ(queue.queueLen(), 0);

  h.node("new", "docs", "new.txt", true, 100, kFileStatusNew);
  h.node("mod", "docs", "mod.txt", true, 20, kFileStatusModified);
  EXPECT_TRUE(queue.hasUploads());
  EXPECT_EQ(queue.queueLen(), 2);
  EXPECT_EQ(queue.queueBytes(), 120);
}

TEST_F(UploadQueueTest, OnlyChangedContentsOfFilesAreInTheQueue) {
  auto modified = h.node("m", "docs", "m.txt", true, 10, kFileStatusModified);
  auto created = h.node("n", "docs", "n.txt", true, 10, kFileStatusNew);
  auto folder = h.node("f", "docs", "F", false, 0, kFileStatusModified);
  EXPECT_TRUE(queue.isFileInUploadQueue(modified));
  EXPECT_FALSE(queue.isFileInUploadQueue(created));
  EXPECT_FALSE(queue.isFileInUploadQueue(folder));
}

TEST_F(UploadQueueTest, FolderBadgeCoversTheFolderOfAPendingFileAndBelow) {
  h.node("A", "docs", "A", false);
  h.node("B", "A", "B", false);
  h.node("n", "A", "new.txt", true, 10, kFileStatusNew);
  EXPECT_TRUE(queue.pathHasUploads("/Documents/A"));
  EXPECT_TRUE(queue.pathHasUploads("/Documents/A/B"));
  EXPECT_FALSE(queue.pathHasUploads("/Documents"));
  EXPECT_FALSE(queue.pathHasUploads("/Documents/Another"));

  // A new file in the share's root marks the share and everything in it.
  h.node("r", "docs", "root.txt", true, 10, kFileStatusNew);
  EXPECT_TRUE(queue.pathHasUploads("/Documents"));
  EXPECT_TRUE(queue.pathHasUploads("/Documents/Another"));
}

} // namespace
} // namespace orvex::test
