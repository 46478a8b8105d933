// The open-file list on its own, on a manual clock: when a file counts as
// quiet enough for upload, when the upload queue is told, and what an
// exchange of identities does to open handles.
#include "Drive/OVFuseFileData.h"
#include "Store/OVFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace orvex::test {
namespace {

using std::chrono::seconds;

class OpenFileListTest : public ::testing::Test {
 protected:
  OVFile node(const std::string& id) {
    OVFile file(clock);
    file.internalName = id;
    return file;
  }

  ManualClock clock;
  OVOpenFileList list{clock};
};

TEST_F(OpenFileListTest, AnOpenHandleKeepsTheFileFromUploadUntilItsLastWriteIsQuiet) {
  OVFuseFileData* handle = list.open(0, -1, 42, "A");
  EXPECT_TRUE(list.canUploadFile(node("A"))); // opened, never written
  list.noteWrite(*handle);
  clock.advance(seconds(3));
  EXPECT_FALSE(list.canUploadFile(node("A")));
  list.noteWrite(*handle);
  clock.advance(seconds(4));
  EXPECT_FALSE(list.canUploadFile(node("A"))); // 4 s after the second write
  clock.advance(seconds(2));
  EXPECT_TRUE(list.canUploadFile(node("A")));
  EXPECT_TRUE(list.canUploadFile(node("B")));
  list.close(handle);
}

TEST_F(OpenFileListTest, ClosingAWrittenHandleStartsTheQuietTimeAgain) {
  OVFuseFileData* handle = list.open(0, -1, 42, "A");
  list.noteWrite(*handle);
  clock.advance(seconds(10));
  list.close(handle);
  EXPECT_FALSE(list.canUploadFile(node("A")));
  clock.advance(seconds(6));
  EXPECT_TRUE(list.canUploadFile(node("A")));
}

TEST_F(OpenFileListTest, TheUploadQueueHearsOnceAModificationIsQuiet) {
  std::promise<void> told;
  int calls = 0;
  list.setUploadsAdded([&] {
    if (++calls == 1)
      told.set_value();
  });
  list.fileWasModified(node("A"));
  auto heard = told.get_future();
  // The first check, 3 s on, finds the change recent and plans another.
  clock.advance(seconds(3));
  EXPECT_EQ(heard.wait_for(seconds(0)), std::future_status::timeout);
  clock.advance(seconds(3));
  EXPECT_EQ(heard.wait_for(seconds(20)), std::future_status::ready);
  EXPECT_TRUE(list.canUploadFile(node("A")));
}

TEST_F(OpenFileListTest, ExchangingIdsSwapsHandlesAndModifications) {
  OVFuseFileData* first = list.open(0, -1, 1, "A");
  OVFuseFileData* second = list.open(0, -1, 2, "B");
  list.noteWrite(*first);
  list.fileWasModified(node("A"));
  clock.advance(seconds(6));
  list.fileWasModified(node("B"));

  list.exchangeFileId("A", "B");
  EXPECT_EQ(list.fileId(*first), "B");
  EXPECT_EQ(list.fileId(*second), "A");
  // B's recent modification now belongs to A, and A's old one to B.
  EXPECT_FALSE(list.canUploadFile(node("A")));
  EXPECT_TRUE(list.canUploadFile(node("B")));
  list.close(first);
  list.close(second);
}

} // namespace
} // namespace orvex::test
