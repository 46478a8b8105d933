// Recent listings answering attribute requests: fresh only for a moment, only
// for the names they hold, and bounded in size.
#include "Drive/OVListingSnapshots.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

OVFile row(const std::string& name, std::uint64_t size = 1) {
  OVFile file;
  file.publicName = name;
  file.internalName = "id-" + name;
  file.fileSize = size;
  return file;
}

TEST(ListingSnapshotsTest, AnswersNamesOfAFreshListingOnly) {
  ManualClock clock;
  OVListingSnapshots snapshots(clock);
  snapshots.remember("/S/a", {row("x", 7), row("y")});

  ASSERT_TRUE(snapshots.find("/S/a/x"));
  EXPECT_EQ(snapshots.find("/S/a/x")->fileSize, 7u);
  EXPECT_FALSE(snapshots.find("/S/a/z")); // a name the listing lacks is looked up afresh
  EXPECT_FALSE(snapshots.find("/S/b/x")); // another folder
  EXPECT_FALSE(snapshots.find("/S/a"));   // the folder itself belongs to its parent's listing

  clock.advance(OVListingSnapshots::kLifetime);
  EXPECT_TRUE(snapshots.find("/S/a/x"));
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(snapshots.find("/S/a/x"));
}

TEST(ListingSnapshotsTest, NewerListingReplacesAndForgettingDrops) {
  ManualClock clock;
  OVListingSnapshots snapshots(clock);
  snapshots.remember("/S", {row("old", 3)});
  // A worker still answering from a row when the next listing comes.
  std::shared_ptr<const OVFile> held = snapshots.find("/S/old");
  snapshots.remember("/S", {row("new")});
  EXPECT_FALSE(snapshots.find("/S/old"));
  EXPECT_TRUE(snapshots.find("/S/new"));
  snapshots.forget("/S");
  EXPECT_FALSE(snapshots.find("/S/new"));
  ASSERT_TRUE(held);
  EXPECT_EQ(held->publicName, "old"); // the replaced listing's rows live on with it
  EXPECT_EQ(held->fileSize, 3u);
}

TEST(ListingSnapshotsTest, KeepsAtMostTheRowBound) {
  ManualClock clock;
  OVListingSnapshots snapshots(clock);
  const std::size_t half = OVListingSnapshots::kMaxRows / 2;
  std::vector<OVFile> rows(half, row("r"));
  for (std::size_t i = 0; i < half; ++i)
    rows[i].publicName = std::to_string(i);
  snapshots.remember("/S/first", rows);
  snapshots.remember("/S/second", rows);
  EXPECT_TRUE(snapshots.find("/S/first/0"));
  snapshots.remember("/S/third", {row("x")}); // one row too many: the oldest listing goes
  EXPECT_FALSE(snapshots.find("/S/first/0"));
  EXPECT_TRUE(snapshots.find("/S/second/0"));

  rows.resize(OVListingSnapshots::kMaxRows + 1, row("r"));
  for (std::size_t i = half; i < rows.size(); ++i)
    rows[i].publicName = std::to_string(i);
  snapshots.remember("/S/huge", rows);
  EXPECT_FALSE(snapshots.find("/S/huge/0"));
  EXPECT_TRUE(snapshots.find("/S/third/x"));
}

} // namespace
} // namespace orvex
