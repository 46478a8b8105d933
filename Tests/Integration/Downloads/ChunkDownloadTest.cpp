// Contents on demand against the service: the bytes, the request sizes, the
// transfer limits, and what a stalled or misbehaving server leaves behind.
#include "DownloadFixture.h"

#include "Store/OVFileCache.h"

#include <future>
#include <random>
#include <thread>

namespace orvex::test {
namespace {

using ChunkDownloadTest = DownloadFixture;

std::int64_t downloadsRecorded(OVDatabase& db, const OVFile& file) {
  return db.queryLong("SELECT COUNT(*) FROM downloads WHERE internalName = ?", {file.internalName}).value_or(-1);
}

TEST_F(ChunkDownloadTest, ReadsFromAFewBytesToFiftyMebibytesMatchTheService) {
  const auto& tiny = file("tiny.txt");
  EXPECT_EQ(read(tiny, 0, 4096), "hello");

  // As a program reads: 128 KiB at a time, front to back.
  const auto& mid = file("mid.bin");
  EXPECT_EQ(readFrontToBack(mid, 131072), content(mid));
  EXPECT_TRUE(completeInCache(mid));
  EXPECT_EQ(downloadsRecorded(h.db(), mid), 1); // the expiry can find it

  const auto& big = file("big.bin");
  auto all = read(big, 0, big.fileSize);
  ASSERT_TRUE(all);
  EXPECT_TRUE(*all == content(big));
  EXPECT_TRUE(completeInCache(big));
}

TEST_F(ChunkDownloadTest, RandomOffsetsOfAFileNeverDownloaded) {
  const auto& big = file("big.bin");
  const auto expected = content(big);
  std::mt19937 random(42);
  std::uniform_int_distribution<std::uint64_t> offsets(0, big.fileSize - 1);
  for (int i = 0; i < 12; ++i) {
    const auto offset = offsets(random);
    auto piece = read(big, offset, 4096);
    ASSERT_TRUE(piece) << offset;
    EXPECT_EQ(*piece, expected.substr(offset, 4096)) << offset;
  }
  EXPECT_FALSE(completeInCache(big));
}

TEST_F(ChunkDownloadTest, RequestsStartAtThePrefixAndGrowWhileReadsFollowItWhileJumpsStaySmall) {
  const auto& big = file("big.bin");
  ASSERT_TRUE(read(big, 0, 10));             // at the prefix's end (empty): 256 KiB
  ASSERT_TRUE(read(big, 262144, 10));        // where that ended: the stream goes on, 1 MiB
  ASSERT_TRUE(read(big, 2000000, 10));       // a little beyond the prefix: from the prefix, 4 MiB
  ASSERT_TRUE(read(big, 40000000, 10));      // far beyond it: 1 MiB of its own
  ASSERT_TRUE(read(big, 52428000, 2000000)); // far beyond, past the end: cut to the end
  ASSERT_TRUE(read(big, 5505024, 10));       // the prefix again: a new stream starts small
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{
                                  "bytes 0-262144/52428800",
                                  "bytes 262144-1310720/52428800",
                                  "bytes 1310720-5505024/52428800",
                                  "bytes 40000000-41048576/52428800",
                                  "bytes 52428000-52428800/52428800",
                                  "bytes 5505024-5767168/52428800",
                              }));

  // Entirely inside the cached prefix: answered without a request.
  const auto before = lastSequence();
  EXPECT_EQ(read(big, 100, 5000000), content(big).substr(100, 5000000));
  EXPECT_TRUE(downloadRanges(before).empty());
}

TEST_F(ChunkDownloadTest, AFileReadFrontToBackIsFetchedOnceInGrowingRequestsAndEndsCompleteInTheCache) {
  const auto& big = file("big.bin");
  EXPECT_TRUE(readFrontToBack(big, 1048576) == content(big));
  EXPECT_TRUE(completeInCache(big));
  EXPECT_EQ(downloadsRecorded(h.db(), big), 1);
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{
                                  "bytes 0-1048576/52428800",
                                  "bytes 1048576-5242880/52428800",
                                  "bytes 5242880-22020096/52428800",
                                  "bytes 22020096-52428800/52428800",
                              }));
}

TEST_F(ChunkDownloadTest, TheWholeContentComesAsTheRestOfTheFileInOneRequest) {
  const auto& big = file("big.bin");
  ASSERT_TRUE(read(big, 0, 4096));
  EXPECT_TRUE(queue->downloadWholeContent(big, "/Documents/big.bin"));
  EXPECT_TRUE(completeInCache(big));
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{"bytes 0-262144/52428800", "bytes 262144-52428800/52428800"}));
  // Complete already: nothing more is asked.
  const auto before = lastSequence();
  EXPECT_TRUE(queue->downloadWholeContent(big, "/Documents/big.bin"));
  EXPECT_TRUE(downloadRanges(before).empty());
}

TEST_F(ChunkDownloadTest, ClosingAFileStopsTheTransferNoReaderWaitsFor) {
  const auto& big = file("big.bin");
  const auto stall = addFault({{"StallAfterBytes", 100000}, {"Times", 1}}, &big);
  // Released with the last bytes before the server stops sending.
  EXPECT_EQ(read(big, 95904, 4096), content(big).substr(95904, 4096));
  ASSERT_TRUE(waitForFault(stall, 1, 1));

  queue->fileClosed(big.internalName);
  ASSERT_TRUE(waitForFault(stall, 0, 1)); // the client went away
  // The next read asks again from what was kept, instead of waiting for the stalled transfer.
  EXPECT_EQ(read(big, 200000, 4096), content(big).substr(200000, 4096));
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{"bytes 0-262144/52428800", "bytes 100000-362144/52428800"}));
  EXPECT_EQ(partialDownload(big), content(big).substr(0, 362144));
}

TEST_F(ChunkDownloadTest, SixFilesReadAtOnceStartFiveTransfers) {
  const auto stall = addFault({{"Stall", true}});
  std::vector<std::future<std::optional<std::string>>> readers;
  for (int i = 1; i <= 6; ++i) {
    const auto& target = file(fmt::format("s{}.bin", i));
    readers.push_back(std::async(std::launch::async, [this, &target] { return read(target, 0, 1000); }));
  }
  ASSERT_TRUE(waitForFault(stall, 5, 5));
  queue->scheduleCheckDownloads();
  EXPECT_FALSE(waitForFault(stall, 6, 6, 500)); // the sixth waits for a free transfer

  removeFault(stall);
  for (int i = 1; i <= 6; ++i) {
    auto piece = readers[i - 1].get();
    ASSERT_TRUE(piece) << i;
    EXPECT_EQ(*piece, content(file(fmt::format("s{}.bin", i))).substr(0, 1000));
  }
  EXPECT_EQ(downloadRanges().size(), 6u);
}

TEST_F(ChunkDownloadTest, TwoReadersOfOneFileShareOneTransfer) {
  const auto& mid = file("mid.bin");
  const auto stall = addFault({{"Stall", true}, {"Times", 1}}, &mid);
  auto first = std::async(std::launch::async, [&] { return read(mid, 0, 4096); });
  ASSERT_TRUE(waitForFault(stall, 1, 1));
  auto second = std::async(std::launch::async, [&] { return read(mid, 100000, 4096); });
  queue->scheduleCheckDownloads();
  EXPECT_FALSE(waitForFault(stall, 1, 2, 500)); // the second reader starts nothing of its own

  removeFault(stall);
  EXPECT_EQ(first.get(), content(mid).substr(0, 4096));
  EXPECT_EQ(second.get(), content(mid).substr(100000, 4096));
  EXPECT_EQ(downloadRanges(), std::vector<std::string>{"bytes 0-262144/3000000"});
}

TEST_F(ChunkDownloadTest, AStalledReadFailsItsRetryAtOnceAndALaterReadAsksAgain) {
  makeQueue(std::chrono::milliseconds(1000));
  const auto& mid = file("mid.bin");
  const auto stall = addFault({{"Stall", true}, {"Times", 1}}, &mid);
  EXPECT_EQ(read(mid, 0, 4096), std::nullopt);
  // The transfer nobody waits for any more is given up.
  ASSERT_TRUE(waitForFault(stall, 0, 1));
  // The kernel asks again at once for a page it could not read: no second wait.
  EXPECT_EQ(read(mid, 0, 4096), std::nullopt);
  EXPECT_EQ(downloadRanges().size(), 1u);

  h.database.clock.advance(std::chrono::seconds(2));
  EXPECT_EQ(read(mid, 0, 4096), content(mid).substr(0, 4096));
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{"bytes 0-262144/3000000", "bytes 0-262144/3000000"}));
}

// Each reply that is not the range asked for: nothing but correct bytes stays.
class ChunkFaultTest : public DownloadFixture, public ::testing::WithParamInterface<nlohmann::json> {};

TEST_P(ChunkFaultTest, LeavesOnlyCorrectPrefixBytesAndTheNextReadAsksAgain) {
  makeQueue(std::chrono::milliseconds(1500));
  const auto& mid = file("mid.bin");
  addFault(GetParam(), &mid);
  EXPECT_EQ(read(mid, 0, 200000), std::nullopt);

  const auto kept = partialDownload(mid);
  EXPECT_EQ(kept, content(mid).substr(0, kept.size()));
  EXPECT_FALSE(completeInCache(mid));

  // Past the moment in which a retry of the failed read fails at once.
  h.database.clock.advance(std::chrono::seconds(2));
  EXPECT_EQ(read(mid, 0, 200000), content(mid).substr(0, 200000));
  // One look at the partial file: the window that answered may still be adding to it.
  const std::string after = partialDownload(mid);
  const std::string expected = content(mid).substr(0, after.size());
  const auto mismatch = std::mismatch(after.begin(), after.end(), expected.begin());
  EXPECT_TRUE(mismatch.first == after.end()) << "kept " << after.size() << " bytes, first wrong at "
                                             << (mismatch.first - after.begin()) << "; before the read " << kept.size();
}

INSTANTIATE_TEST_SUITE_P(Replies, ChunkFaultTest,
                         ::testing::Values(nlohmann::json::parse(R"({"Status": 500, "Body": "boom", "Times": 1})"),
                                           nlohmann::json::parse(R"({"Status": 200, "Body": "short", "Times": 1})"),
                                           // More than the range: the whole file where a part was asked.
                                           nlohmann::json{
                                               {"Status", 200}, {"Body", std::string(300000, 'x')}, {"Times", 1}},
                                           nlohmann::json::parse(R"({"DropAfterBytes": 100000, "Times": 1})"),
                                           nlohmann::json::parse(R"({"StallAfterBytes": 100000, "Times": 1})")));

} // namespace
} // namespace orvex::test
