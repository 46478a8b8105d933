// Moves across the border of a subfolder share's folder, as that share's catch-up reports them.
#include "StateTestSupport.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

namespace orvex::service::test {
namespace {

// "docs" holds the shared folder "s" (subfolder share "sub") and a folder "out" beside it.
class SubfolderMovesTest : public ::testing::Test {
 protected:
  void SetUp() override { setUpIn(std::nullopt); }

  void setUpIn(const std::optional<std::filesystem::path>& folder) {
    state = makeState(clock, folder);
    if (state->restore())
      return;
    ASSERT_TRUE(state->addShare(shareInfo("docs")));
    make("s", "docs");
    make("out", "docs");
    addSubfolderShare();
    state->markSeeded();
  }
  void addSubfolderShare() {
    ShareInfo sub = shareInfo("sub");
    sub.parentShareId = "docs";
    sub.internalName = "s";
    ASSERT_TRUE(state->addShare(sub));
  }
  void make(const std::string& id, const std::string& parent, bool isFile = false) {
    auto created = state->create("docs", spec(id, parent, id, isFile), kAlice, "t-" + id);
    ASSERT_TRUE(created) << created.error().message;
  }
  void move(const std::string& id, const std::string& parent) {
    auto moved = state->rename("docs", id, id, parent, kAlice, "t");
    ASSERT_TRUE(moved) << moved.error().message;
  }
  // "id@tick", with "-" for a deleted node and the parent after "<".
  std::vector<std::string> page(const std::string& share, std::int64_t from, std::int64_t take = 100) {
    std::vector<std::string> seen;
    auto answer = state->catchUp(share, from, take);
    EXPECT_TRUE(answer);
    for (const OVVirtualFile& node : *answer->OvVirtualFiles) {
      EXPECT_EQ(node.Tick, node.ShareTick);
      seen.push_back((node.Deleted ? "-" : "") + *node.InternalName + "@" + std::to_string(node.Tick) + "<" +
                     node.ParrentId.value_or(""));
    }
    return seen;
  }
  std::int32_t tick() { return state->catchUp("docs", 0, 1)->ShareTick; }

  ManualClock clock;
  std::unique_ptr<ServiceState> state;
};

TEST_F(SubfolderMovesTest, AFolderMovedOutIsDeletedForTheShareChildrenFirstAndTheParentShareSeesOnlyTheMove) {
  make("f", "s");
  make("g", "f", true);
  make("h", "f");
  const std::int32_t before = tick();
  move("f", "out");
  const std::string t = std::to_string(before + 1);
  EXPECT_EQ(page("sub", before), (std::vector<std::string>{"-h@" + t + "<f", "-g@" + t + "<f", "-f@" + t + "<s"}));
  auto answer = state->catchUp("sub", before, 100);
  EXPECT_EQ(answer->LargestTick, before + 1);
  EXPECT_EQ(answer->OvVirtualFiles->back().ShareId, "sub");
  EXPECT_TRUE(page("sub", before + 1).empty()); // reported once
  EXPECT_EQ(page("docs", before), (std::vector<std::string>{"f@" + t + "<out"}));
  // Later changes out there are none of the share's business.
  move("g", "out");
  EXPECT_TRUE(page("sub", before + 1).empty());
}

TEST_F(SubfolderMovesTest, AFolderMovedInIsListedWithEverythingBelowItParentsFirst) {
  make("f", "out");
  make("g", "f");
  make("x", "g", true);
  const std::int32_t before = tick();
  move("f", "s");
  const std::string t = std::to_string(before + 1);
  EXPECT_EQ(page("sub", before), (std::vector<std::string>{"f@" + t + "<s", "g@" + t + "<f", "x@" + t + "<g"}));
  // A node changed after it arrived is listed once, at its own later tick.
  move("x", "f");
  const std::string later = std::to_string(before + 2);
  EXPECT_EQ(page("sub", before), (std::vector<std::string>{"f@" + t + "<s", "g@" + t + "<f", "x@" + later + "<f"}));
  EXPECT_EQ(page("sub", -1).size(), 3u); // a fresh client learns of them too
}

TEST_F(SubfolderMovesTest, LeavingAndComingBackShowsTheLatestState) {
  make("f", "s");
  make("g", "f", true);
  const std::int32_t start = tick();
  move("f", "out");
  const std::int32_t away = tick();
  move("f", "s");
  const std::string back = std::to_string(away + 1);
  EXPECT_EQ(page("sub", start), (std::vector<std::string>{"f@" + back + "<s", "g@" + back + "<f"}));
  EXPECT_EQ(page("sub", away), page("sub", start));
}

TEST_F(SubfolderMovesTest, MovingTheSharedFolderOrAFolderAboveItCrossesNothing) {
  make("above", "docs");
  make("g", "s", true);
  const std::int32_t before = tick();
  move("s", "above");
  move("above", "out");
  EXPECT_TRUE(page("sub", before).empty());
  EXPECT_EQ(page("docs", before).size(), 2u);
}

TEST_F(SubfolderMovesTest, APageNeverEndsAmongTheNodesOfOneMove) {
  make("f", "s");
  make("g", "f");
  make("h", "f");
  const std::int32_t before = tick();
  move("f", "out");
  make("later", "s");
  auto first = state->catchUp("sub", before, 1);
  EXPECT_EQ(first->OvVirtualFiles->size(), 3u);
  EXPECT_EQ(first->LargestTick, before + 1);
  EXPECT_EQ(page("sub", first->LargestTick, 1),
            (std::vector<std::string>{"later@" + std::to_string(before + 2) + "<s"}));
}

TEST_F(SubfolderMovesTest, MovesSurviveARestartButNotTheRemovalOfTheirShare) {
  orvex::test::TempDir dir;
  setUpIn(dir.path());
  make("f", "s");
  const std::int32_t before = tick();
  move("f", "out");
  const std::vector<std::string> gone{"-f@" + std::to_string(before + 1) + "<s"};
  state.reset();
  setUpIn(dir.path());
  EXPECT_EQ(page("sub", before), gone);
  ASSERT_TRUE(state->removeShare("sub"));
  addSubfolderShare();
  EXPECT_TRUE(page("sub", before).empty());
  state.reset();
  setUpIn(dir.path());
  EXPECT_TRUE(page("sub", before).empty());
}

} // namespace
} // namespace orvex::service::test
