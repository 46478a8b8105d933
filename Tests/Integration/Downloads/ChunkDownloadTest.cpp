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
  std::string whole;
  for (std::uint64_t offset = 0; offset < mid.fileSize; offset += 131072) {
    auto piece = read(mid, offset, 131072);
    ASSERT_TRUE(piece) << offset;
    whole += *piece;
  }
  EXPECT_EQ(whole, content(mid));
  EXPECT_TRUE(completeInCache(mid));
  EXPECT_EQ(downloadsRecorded(h.db(), mid), 1); // the expiry can find it

  const auto& big = file("big.bin");
  auto all = read(big, 0, big.fileSize);
  ASSERT_TRUE(all);
  EXPECT_TRUE(*all == content(big));
  EXPECT_TRUE(completeInCache(big));
}

TEST_F(ChunkDownloadTest, RandomOffsetsOfAFileNeverDownloaded) {
  const auto& mid = file("mid.bin");
  const auto expected = content(mid);
  std::mt19937 random(42);
  std::uniform_int_distribution<std::uint64_t> offsets(0, mid.fileSize - 1);
  for (int i = 0; i < 12; ++i) {
    const auto offset = offsets(random);
    auto piece = read(mid, offset, 4096);
    ASSERT_TRUE(piece) << offset;
    EXPECT_EQ(*piece, expected.substr(offset, 4096)) << offset;
  }
  EXPECT_FALSE(completeInCache(mid));
}

TEST_F(ChunkDownloadTest, RequestSizesFollowTheCachedPrefix) {
  const auto& mid = file("mid.bin");
  ASSERT_TRUE(read(mid, 0, 10));            // at the prefix's end (empty): 256 KiB
  ASSERT_TRUE(read(mid, 262144, 10));       // exactly at its end again
  ASSERT_TRUE(read(mid, 524288, 400000));   // longer than 256 KiB: the read's length
  ASSERT_TRUE(read(mid, 1000000, 10));      // beyond the prefix: 1 MiB
  ASSERT_TRUE(read(mid, 2500000, 2000000)); // past the end: cut to the end
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{
                                  "bytes 0-262144/3000000",
                                  "bytes 262144-524288/3000000",
                                  "bytes 524288-924288/3000000",
                                  "bytes 1000000-2048576/3000000",
                                  "bytes 2500000-3000000/3000000",
                              }));

  // Entirely inside the cached prefix: answered without a request.
  const auto before = lastSequence();
  EXPECT_EQ(read(mid, 100, 900000), content(mid).substr(100, 900000));
  EXPECT_TRUE(downloadRanges(before).empty());
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

TEST_F(ChunkDownloadTest, StalledServerFailsTheReadAndALaterReadSucceeds) {
  makeQueue(std::chrono::milliseconds(1000));
  const auto& mid = file("mid.bin");
  const auto stall = addFault({{"Stall", true}, {"Times", 1}}, &mid);
  EXPECT_EQ(read(mid, 0, 4096), std::nullopt);

  // The transfer the reader gave up on goes on once the server answers, and
  // its bytes serve the next read: no second request.
  removeFault(stall);
  EXPECT_EQ(read(mid, 0, 4096), content(mid).substr(0, 4096));
  EXPECT_EQ(downloadRanges(), std::vector<std::string>{"bytes 0-262144/3000000"});
}

// Each reply that is not the range asked for: nothing but correct bytes stays.
class ChunkFaultTest : public DownloadFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(ChunkFaultTest, LeavesOnlyCorrectPrefixBytesAndTheNextReadAsksAgain) {
  makeQueue(std::chrono::milliseconds(1500));
  const auto& mid = file("mid.bin");
  addFault(nlohmann::json::parse(GetParam()), &mid);
  EXPECT_EQ(read(mid, 0, 200000), std::nullopt);

  const auto kept = partialDownload(mid);
  EXPECT_EQ(kept, content(mid).substr(0, kept.size()));
  EXPECT_FALSE(completeInCache(mid));

  EXPECT_EQ(read(mid, 0, 200000), content(mid).substr(0, 200000));
}

INSTANTIATE_TEST_SUITE_P(Replies, ChunkFaultTest,
                         ::testing::Values(R"({"Status": 500, "Body": "boom", "Times": 1})",
                                           R"({"Status": 200, "Body": "short", "Times": 1})",
                                           R"({"DropAfterBytes": 100000, "Times": 1})"));

} // namespace
} // namespace orvex::test
