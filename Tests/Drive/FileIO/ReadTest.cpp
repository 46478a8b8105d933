// Reading files on the mounted drive: whole files and random ranges of content
// that was never downloaded, served through a content source that counts its
// calls, and what the drive does when that source gives up.
#include "Drive/Support/DriveHarness.h"
#include "Support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

namespace orvex::test {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;

class ReadTest : public ::testing::Test {
 protected:
  ReadTest() : harness(DriveHarness::servedBy(content)) { content.setCache(harness.store.fileCache); }
  void SetUp() override { harness.addShare("S1", "Docs"); }

  OVFile file(const std::string& id, std::uint64_t size) { return harness.addNode("S1", id, "S1", id, true, size); }

  FakeContent content; // first: the drive calls it until the harness is gone
  DriveHarness harness;
};

TEST_F(ReadTest, WholeFilesFromAFewBytesTo50MiBMatchTheirContent) {
  TempDir expected;
  const std::uint64_t sizes[] = {5, 4096, 128 * 1024 + 3, 3 * kMiB + 17, 50 * kMiB};
  for (std::uint64_t size : sizes)
    file("F" + std::to_string(size), size);
  ASSERT_TRUE(harness.mount());

  for (std::uint64_t size : sizes) {
    const std::string id = "F" + std::to_string(size);
    writeFile(expected.path() / id, FakeContent::contentOf(id, 0, size));
    const auto compared = run("cmp " + (expected.path() / id).string() + " " + harness.at("/Docs/" + id));
    EXPECT_EQ(compared.status, 0) << id << ": " << compared.output;
  }
  // Each file is now whole in the cache: reading it again fetches nothing.
  const int calls = content.calls;
  for (std::uint64_t size : sizes) {
    const std::string id = "F" + std::to_string(size);
    EXPECT_EQ(run("cat " + harness.at("/Docs/" + id) + " > /dev/null").status, 0);
  }
  EXPECT_EQ(content.calls, calls);
}

TEST_F(ReadTest, RandomOffsetsOfAFileNeverDownloaded) {
  TempDir out;
  const std::uint64_t size = 20 * kMiB + 100;
  file("BIG", size);
  ASSERT_TRUE(harness.mount());

  // Backwards and across chunk boundaries, ending with the last partial block.
  for (std::uint64_t block : {4000u, 17u, 2560u, 255u, 256u, 5120u}) {
    const auto piece = out.path() / ("piece" + std::to_string(block));
    const auto copied = run("dd if=" + harness.at("/Docs/BIG") + " of=" + piece.string() +
                            " bs=4096 count=1 status=none skip=" + std::to_string(block));
    ASSERT_EQ(copied.status, 0) << copied.output;
    const std::uint64_t offset = block * 4096;
    EXPECT_EQ(readFile(piece), FakeContent::contentOf("BIG", offset, std::min<std::uint64_t>(4096, size - offset)))
        << "block " << block;
  }
  EXPECT_GT(content.calls, 0);
}

TEST_F(ReadTest, AReadInsideTheCachedPrefixAsksNothing) {
  const OVFile big = file("PRE", 4 * kMiB);
  const std::string prefix = FakeContent::contentOf("PRE", 0, kMiB);
  harness.store.fileCache.addChunk({reinterpret_cast<const std::uint8_t*>(prefix.data()), prefix.size()}, 0, kMiB, big);
  ASSERT_TRUE(harness.mount());

  constexpr std::size_t kInside = 64 * 1024;
  EXPECT_EQ(harness.readRange("/Docs/PRE", 4096, kInside), prefix.substr(4096, kInside));
  EXPECT_EQ(content.calls, 0);
  // Past the prefix the source is asked.
  EXPECT_EQ(harness.readRange("/Docs/PRE", 3 * kMiB, 4096), FakeContent::contentOf("PRE", 3 * kMiB, 4096));
  EXPECT_GT(content.calls, 0);
}

TEST_F(ReadTest, ASourceThatGivesUpFailsTheReadAndALaterReadSucceeds) {
  file("SLOW", 2 * kMiB);
  file("EMPTY", 0);
  ASSERT_TRUE(harness.mount());

  content.failing = true;
  int error = 0;
  EXPECT_EQ(harness.readRange("/Docs/SLOW", 0, 4096, &error), "");
  EXPECT_EQ(error, EIO);
  content.failing = false;
  EXPECT_EQ(harness.readRange("/Docs/SLOW", 0, 4096, &error), FakeContent::contentOf("SLOW", 0, 4096));
  EXPECT_EQ(error, 0);

  // An empty file reads as empty without a cache file or a request.
  const int calls = content.calls;
  EXPECT_EQ(harness.readRange("/Docs/EMPTY", 0, 10, &error), "");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(content.calls, calls);
}

} // namespace
} // namespace orvex::test
