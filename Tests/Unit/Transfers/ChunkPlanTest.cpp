// Which range each chunk request asks for: streams from the cached prefix that
// grow while a file is read front to back, and jumps that stay small.
#include "Transfers/OVChunkPlan.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvex::test {
namespace {

constexpr std::uint64_t MiB = kChunkMiB;

// Reads `file` front to back in `readSize` pieces, each request arriving
// whole before the next read; the requests made.
std::vector<ByteRange> readFrontToBack(std::uint64_t fileSize, std::uint64_t readSize) {
  std::vector<ByteRange> requests;
  OVStreamState stream;
  std::uint64_t prefix = 0;
  for (std::uint64_t offset = 0; offset < fileSize; offset += readSize) {
    if (offset + readSize <= prefix || prefix == fileSize)
      continue;
    const auto plan = planChunkRequest({offset, readSize}, prefix, fileSize, stream);
    EXPECT_TRUE(plan.extendsPrefix);
    requests.push_back(plan.range);
    prefix = plan.range.location + plan.range.length;
  }
  return requests;
}

TEST(ChunkPlanTest, AFrontToBackReadGrowsItsRequestsFromThePrefixToTheEnd) {
  const auto requests = readFrontToBack(200 * MiB + 5, MiB);
  const std::vector<std::uint64_t> lengths{MiB, 4 * MiB, 16 * MiB, 64 * MiB, 64 * MiB, 51 * MiB + 5};
  ASSERT_EQ(requests.size(), lengths.size());
  std::uint64_t next = 0;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].location, next) << i; // no byte asked twice, none skipped
    EXPECT_EQ(requests[i].length, lengths[i]) << i;
    next += requests[i].length;
  }

  // Small reads start with the smallest request and grow the same way.
  const auto small = readFrontToBack(2 * MiB, 4096);
  ASSERT_EQ(small.size(), 3u);
  EXPECT_EQ(small[0].length, 262144u);
  EXPECT_EQ(small[1].length, MiB);
  EXPECT_EQ(small[2].length, 2 * MiB - MiB - 262144);
}

TEST(ChunkPlanTest, AReadNearThePrefixIsAskedFromThePrefixSoNoByteIsLost) {
  OVStreamState stream;
  // The kernel's read-ahead arrived before the read it follows.
  auto plan = planChunkRequest({3 * MiB, MiB}, 2 * MiB, 100 * MiB, stream);
  EXPECT_TRUE(plan.extendsPrefix);
  EXPECT_EQ(plan.range.location, 2 * MiB);
  EXPECT_EQ(plan.range.length, 2 * MiB); // never shorter than the read still needs

  // Inside the prefix and past its end: only what is missing.
  stream = {};
  plan = planChunkRequest({MiB - 10, 20}, MiB, 100 * MiB, stream);
  EXPECT_EQ(plan.range.location, MiB);
  EXPECT_EQ(plan.range.length, 262144u);
}

TEST(ChunkPlanTest, AJumpFarBeyondThePrefixAsksOneMebibyteAndEndsTheStream) {
  OVStreamState stream;
  planChunkRequest({0, MiB}, 0, 100 * MiB, stream);
  ASSERT_EQ(stream.end, MiB);

  auto plan = planChunkRequest({50 * MiB, 4096}, MiB, 100 * MiB, stream);
  EXPECT_FALSE(plan.extendsPrefix);
  EXPECT_EQ(plan.range.location, 50 * MiB);
  EXPECT_EQ(plan.range.length, MiB);
  // Back at the prefix, the stream starts small again.
  plan = planChunkRequest({MiB, 4096}, MiB, 100 * MiB, stream);
  EXPECT_EQ(plan.range.length, 262144u);

  // Near the end of the file a jump is cut to it, but never shorter than the read.
  stream = {};
  plan = planChunkRequest({100 * MiB - 100, 4096}, 0, 100 * MiB, stream);
  EXPECT_EQ(plan.range.length, 100u);
  plan = planChunkRequest({50 * MiB, 3 * MiB}, 0, 100 * MiB, stream);
  EXPECT_EQ(plan.range.length, 3 * MiB);
}

TEST(ChunkPlanTest, AStreamThatDidNotArriveWholeStartsAgainSmall) {
  OVStreamState stream;
  planChunkRequest({0, MiB}, 0, 100 * MiB, stream);
  planChunkRequest({MiB, MiB}, MiB, 100 * MiB, stream);
  ASSERT_EQ(stream.window, 4 * MiB);
  // The connection broke after 1 MiB of the 4: the prefix is short of the stream's end.
  const auto plan = planChunkRequest({2 * MiB, MiB}, 2 * MiB, 100 * MiB, stream);
  EXPECT_EQ(plan.range.location, 2 * MiB);
  EXPECT_EQ(plan.range.length, MiB);
}

} // namespace
} // namespace orvex::test
