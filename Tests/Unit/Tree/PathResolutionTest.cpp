// Drive paths to nodes: the walk from the share, the two caches that spare it,
// shadow lookups, folder shares, and what clearing a node's paths drops.
#include "OVLogger.h"
#include "TreeFixture.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ::testing::HasSubstr;

class PathResolutionTest : public TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    folder("A1", "S1", "a");
    node("B1", "A1", "b");
    folder("X1", "S1", "x");
    node("B2", "X1", "b"); // a second "b", in another folder
  }
};

TEST_F(PathResolutionTest, WalkFromTheShareCachesTheParentFolder) {
  EXPECT_EQ(idAt("/Projects/a/b"), "B1");
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a", false), "A1");
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/b", false), std::nullopt);
  EXPECT_EQ(idAt("/Projects/x"), "X1");
  EXPECT_EQ(db().cachedItemWithPath("/Projects", false), "S1");
}

TEST_F(PathResolutionTest, CachedParentAnswersWithOneLookupByName) {
  // The parent entry is trusted without a walk: pointing it at another folder
  // shows that only (cached parent id, name) was asked.
  db().cacheItem("X1", "/Projects/a", false);
  EXPECT_EQ(idAt("/Projects/a/b"), "B2");
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/b", false), "B2");
}

TEST_F(PathResolutionTest, CachedPathAnswersByIdAlone) {
  db().cacheItem("B2", "/Projects/nowhere/z", false);
  EXPECT_EQ(idAt("/Projects/nowhere/z"), "B2");
  // A cached id whose row is gone answers nothing rather than walking again.
  db().cacheItem("gone", "/Projects/a/b", false);
  EXPECT_EQ(idAt("/Projects/a/b"), "(nothing)");
}

TEST_F(PathResolutionTest, TrailingSlashNamesTheNodeBeforeIt) {
  EXPECT_EQ(idAt("/Projects/a/"), "A1");
  EXPECT_EQ(idAt("/Projects/a/b/"), "B1");
}

TEST_F(PathResolutionTest, RootAndSharePathsAreNoNodes) {
  for (const char* path : {"/", "/Projects", "/Projects/"})
    EXPECT_EQ(idAt(path), "(nothing)") << path;
}

TEST_F(PathResolutionTest, UnknownShareLogsTheCallerFrames) {
  EXPECT_EQ(idAt("/Elsewhere/a"), "(nothing)");
  std::string line = log.find(kLogFuse, "==> no share is not found /Elsewhere/a ");
  ASSERT_FALSE(line.empty());
  EXPECT_THAT(line, HasSubstr("\n")); // one frame per line
  EXPECT_TRUE(log.find(kLogMain, "no share is not found").empty());
}

TEST_F(PathResolutionTest, UnknownNameLogsAndDropsTheStaleEntries) {
  db().cacheItem("B1", "/Projects/a/missing", true);
  db().cacheItem("B1", "/Projects/a/~lock", true);
  EXPECT_EQ(idAt("/Projects/a/missing"), "(nothing)");
  EXPECT_FALSE(log.find(kLogFuse, "==> this is not found /Projects/a/missing S1").empty());
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/missing", true), std::nullopt);
  // Names the drive ignores keep their entries.
  EXPECT_EQ(idAt("/Projects/a/~lock"), "(nothing)");
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/~lock", true), "B1");
}

TEST_F(PathResolutionTest, ShadowLookupsSeeOnlyShadowsAndPreferTheHighestStatus) {
  node("O1", "A1", "old", true, kFileStatusShadow); // renamed away; only its shadow keeps the name
  node("N1", "A1", "new", true, kFileStatusChanged);
  EXPECT_EQ(idAt("/Projects/a/old"), "(nothing)");
  auto shadow = db().shadowWithPath("/Projects/a/old");
  ASSERT_TRUE(shadow);
  EXPECT_EQ(shadow->internalName, "O1");
  EXPECT_EQ(shadow->status, kFileStatusShadow);
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a", true), "A1");
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a", false), std::nullopt);

  node("I1", "A1", "old", true, kFileStatusIgnored);
  EXPECT_EQ(db().idOfFileNamed("old", "A1", true), "I1");
  EXPECT_EQ(db().idOfFileNamed("old", "A1", false), "I1");
  node("P1", "A1", "dup", true, kFileStatusModified);
  node("P1", "A1", "dup", true, kFileStatusShadow);
  EXPECT_EQ(db().idOfFileNamed("dup", "A1", true), "P1");
  EXPECT_EQ(db().fileWithParentId("A1", "dup", true)->status, kFileStatusShadow);
  EXPECT_EQ(db().fileWithParentId("A1", "dup", false)->status, kFileStatusModified);
}

TEST_F(PathResolutionTest, FolderShareResolvesBelowItsFolder) {
  harness.shareStore.addShare(folderShare("F1", "Shared", "S1", "A1"));
  sharedNode("D1", "A1", "doc", "F1");
  EXPECT_EQ(idAt("/Shared/doc"), "D1");
  EXPECT_EQ(db().cachedItemWithPath("/Shared", false), "A1");
}

TEST_F(PathResolutionTest, ClearingAFilesPathsLeavesItsSiblings) {
  harness.shareStore.addShare(folderShare("F1", "Shared", "S1", "A1"));
  OVFile doc = sharedNode("D1", "A1", "doc", "F1");
  for (const char* path : {"/Projects/a/doc", "/Projects/a/doc2", "/Shared/doc", "/Shared/doc/x"})
    db().cacheItem("D1", path, false);
  db().clearAllPathCaches(doc);
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/doc", false), std::nullopt);
  EXPECT_EQ(db().cachedItemWithPath("/Shared/doc", false), std::nullopt);
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/doc2", false), "D1");
  EXPECT_EQ(db().cachedItemWithPath("/Shared/doc/x", false), "D1");
}

TEST_F(PathResolutionTest, ClearingAFoldersPathsDropsEverythingBelow) {
  OVFile a = *db().fileWithId("A1", false);
  for (const char* path : {"/Projects/a", "/Projects/a/b", "/Projects/ab", "/Projects/x"})
    db().cacheItem("A1", path, true);
  db().clearAllPathCaches(a);
  EXPECT_EQ(db().cachedItemWithPath("/Projects/a/b", true), std::nullopt);
  EXPECT_EQ(db().cachedItemWithPath("/Projects/ab", true), std::nullopt); // a text prefix
  EXPECT_EQ(db().cachedItemWithPath("/Projects/x", true), "A1");
}

} // namespace
} // namespace orvex::test
