// Listings, ancestors, the drive paths of a node and the share it belongs to,
// including broken trees whose parent links go round in a circle.
#include "OVLogger.h"
#include "TreeFixture.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class TreeQueriesTest : public TreeFixture {
 protected:
  std::int64_t rowsNamed(const std::string& parent, const std::string& name) {
    return db()
        .queryLong("SELECT COUNT(*) FROM files WHERE parentId = ? AND publicName = ?", {parent, name})
        .value_or(-1);
  }
  bool loggedCycle(const std::string& a, const std::string& b) {
    return !log.find(kLogMain, "Infinite recursivity with files " + a + " and " + b + ", ").empty();
  }
};

TEST_F(TreeQueriesTest, ListingDropsDuplicatesHiddenDeletedAndShadowRows) {
  folder("A1", "S1", "a");
  node("B1", "A1", "b");
  node("C1", "A1", "c");
  node("B2", "A1", "b");
  node("H1", "A1", ".fuse_hidden0000001a00000002");
  node("H2", "A1", ".fuse_hidden0000001a00000002");
  node("O1", "A1", "old", true, kFileStatusShadow);
  OVFile gone = makeFile("G1", "A1", "gone", harness.clock);
  gone.deleted = true;
  insertRow(db(), gone);

  EXPECT_THAT(db().fileNamesListWithParent("A1"), UnorderedElementsAre("b", "c"));
  EXPECT_FALSE(
      log.find(kLogMain, "-[OVDatabase fileNamesListWithParent:] : duplicate item b in directory listing, ignoring it.")
          .empty());
  EXPECT_EQ(rowsNamed("A1", "b"), 1);
  EXPECT_EQ(rowsNamed("A1", ".fuse_hidden0000001a00000002"), 2); // never deleted as duplicates
  EXPECT_EQ(rowsNamed("A1", "gone"), 1);
  EXPECT_THAT(db().fileNamesListWithParent("A1"), UnorderedElementsAre("b", "c"));
}

TEST_F(TreeQueriesTest, ChildListingsFilterByKind) {
  folder("A1", "S1", "a");
  node("F1", "A1", "file");
  folder("D1", "A1", "dir");
  node("O1", "A1", "old", true, kFileStatusShadow);
  OVFile gone = makeFile("G1", "A1", "gone", harness.clock);
  gone.deleted = true;
  insertRow(db(), gone);

  auto files = db().filesWithParent("A1");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].internalName, "F1");
  EXPECT_THAT(db().fileIdsWithParent("A1"), UnorderedElementsAre("F1", "D1"));
  EXPECT_THAT(db().subfolderIdsWithParent("A1"), ElementsAre("D1"));

  OVFile dir = *db().fileWithId("D1", false);
  EXPECT_TRUE(db().folderIsEmpty(dir, true));
  OVFile deletedChild = makeFile("G2", "D1", "gone", harness.clock);
  deletedChild.deleted = true;
  insertRow(db(), deletedChild);
  EXPECT_TRUE(db().folderIsEmpty(dir, false));
  EXPECT_FALSE(db().folderIsEmpty(dir, true));
}

TEST_F(TreeQueriesTest, AllSubfolderIdsGoesDepthFirst) {
  folder("R", "S1", "r");
  folder("F1", "R", "f1");
  folder("F2", "R", "f2");
  node("file", "R", "file");
  folder("F11", "F1", "f11");
  folder("F12", "F1", "f12");
  folder("F21", "F2", "f21");
  folder("F211", "F21", "f211");
  // The last folder found is searched first; each child is listed when found.
  EXPECT_THAT(db().allSubfolderIds("R"), ElementsAre("F1", "F2", "F21", "F211", "F11", "F12"));
  EXPECT_TRUE(db().allSubfolderIds("F12").empty());
}

TEST_F(TreeQueriesTest, AllParentsEndsAtTheShareOrAtACycle) {
  folder("P1", "S1", "p1");
  folder("P2", "P1", "p2");
  OVFile leaf = node("L", "P2", "leaf");
  EXPECT_THAT(db().allParents(leaf), ElementsAre("P2", "P1", "S1"));

  folder("X", "Z", "x");
  folder("Y", "X", "y");
  folder("Z", "Y", "z");
  OVFile looped = node("N", "X", "n");
  EXPECT_THAT(db().allParents(looped), ElementsAre("X", "Z", "Y"));
}

TEST_F(TreeQueriesTest, FullFilePathWalksUpToTheShare) {
  folder("A1", "S1", "a");
  folder("U1", "A1", ""); // a folder without a name adds no component
  OVFile leaf = node("B1", "U1", "b.txt");
  EXPECT_EQ(db().fullFilePath(leaf), "/Projects/a/b.txt");
  OVFile orphan = node("O1", "missing", "o");
  EXPECT_EQ(db().fullFilePath(orphan), "/Projects/o");
  OVFile stranger = makeFile("Q1", "S9", "q", harness.clock);
  stranger.shareId = "S9";
  EXPECT_EQ(db().fullFilePath(stranger), std::nullopt);
}

TEST_F(TreeQueriesTest, TwoNodeCycleEndsTheUpwardWalks) {
  folder("P", "Q", "p");
  folder("Q", "P", "q");
  OVFile n = node("N", "P", "n");
  EXPECT_EQ(db().fullFilePath(n), "/Projects/q/p/n");
  EXPECT_TRUE(loggedCycle("P", "Q"));
  EXPECT_EQ(db().getSubshareForFile(n), nullptr);
}

TEST_F(TreeQueriesTest, LongerCycleEndsTheUpwardWalks) {
  folder("X", "Z", "x");
  folder("Y", "X", "y");
  folder("Z", "Y", "z");
  OVFile n = node("N", "X", "n");
  EXPECT_EQ(db().fullFilePath(n), "/Projects/x/y/z/x/n");
  EXPECT_TRUE(loggedCycle("Y", "X")); // back at X, seen before
  EXPECT_EQ(db().getSubshareForFile(n), nullptr);
  EXPECT_EQ(db().shareForFile(n)->ShareId, "S1");
}

class FolderShareTest : public TreeQueriesTest {
 protected:
  // Projects/a is shared as "Shared"; Projects/a/g as "Inner".
  void SetUp() override {
    TreeQueriesTest::SetUp();
    harness.shareStore.addShare(folderShare("F1", "Shared", "S1", "A1"));
    folder("A1", "S1", "a");
    sharedNode("G1", "A1", "g", "F1", false);
    doc = sharedNode("D1", "A1", "doc", "F1");
    deep = sharedNode("E1", "G1", "e", "F1");
  }
  OVFile doc;
  OVFile deep;
};

TEST_F(FolderShareTest, PathsInTheContainingShareAndThroughFolderShares) {
  EXPECT_EQ(db().fullFilePath(deep), "/Projects/a/g/e");
  EXPECT_EQ(db().fullFilePathFromSubShare(deep), "/Shared/g/e");
  EXPECT_EQ(db().fullFilePathFromSubShare(doc), "/Shared/doc");
  EXPECT_THAT(*db().allFilePathsFromSubshare(deep), ElementsAre("/Shared/g/e"));

  harness.shareStore.addShare(folderShare("F2", "Inner", "S1", "G1"));
  EXPECT_THAT(*db().allFilePathsFromSubshare(deep), ElementsAre("/Inner/e", "/Shared/g/e"));

  OVFile unshared = sharedNode("K1", "nowhere", "k", "F1");
  EXPECT_THAT(*db().allFilePathsFromSubshare(unshared), ElementsAre(""));
}

TEST_F(FolderShareTest, PathsNeedTheContainingShare) {
  OVFile lost = deep;
  lost.parentShareId.clear();
  EXPECT_EQ(db().fullFilePath(lost), std::nullopt);

  OVFile plain = node("B1", "S1", "b");
  EXPECT_EQ(db().fullFilePathFromSubShare(plain), std::nullopt);
  EXPECT_EQ(db().allFilePathsFromSubshare(plain), std::nullopt);
}

TEST_F(FolderShareTest, SharesOfNodes) {
  EXPECT_EQ(db().getSubshareForFile(deep)->ShareId, "F1");
  harness.shareStore.addShare(folderShare("F2", "Inner", "S1", "G1"));
  EXPECT_EQ(db().getSubshareForFile(deep)->ShareId, "F2");
  EXPECT_EQ(db().getSubshareForFile(node("B1", "S1", "b"))->ShareId, "S1");

  // The containing share S9 is not the user's; its folder share F9 is.
  harness.shareStore.addShare(folderShare("F9", "Nine", "S9", "K1"));
  OVFile inside = makeFile("N1", "K2", "n", harness.clock);
  inside.shareId = "S9";
  folder("K2", "K1", "k2");
  EXPECT_EQ(db().shareForFile(inside)->ShareId, "F9");
  inside.parentId = "elsewhere";
  EXPECT_EQ(db().shareForFile(inside), nullptr);
  EXPECT_EQ(db().shareForFile(doc)->ShareId, "F1");
}

TEST_F(TreeQueriesTest, RemoteLockCountsOnlyWhereLockingIsAvailable) {
  OVFile file = node("B1", "S1", "b");
  EXPECT_FALSE(db().isFileLockedRemotely(file));
  file.isLocked = true;
  EXPECT_TRUE(db().isFileLockedRemotely(file));

  std::string askedFor;
  db().setLockAvailableForShare([&](const ManagedSharePtr& share) {
    askedFor = share ? share->ShareId.value_or("") : "(none)";
    return false;
  });
  EXPECT_FALSE(db().isFileLockedRemotely(file));
  EXPECT_EQ(askedFor, "S1");
}

TEST_F(TreeQueriesTest, SettingTheGlobalLoginResponseSavesTheShares) {
  int savesBefore = harness.shareStore.saves;
  db().setGlobalLoginResponce("{}");
  EXPECT_EQ(db().globalLoginResponce(), "{}");
  EXPECT_EQ(harness.shareStore.saves, savesBefore + 1);
}

} // namespace
} // namespace orvex::test
