// The user's rename of a share's folder at the drive's root.
#include "ShareStoreTestSupport.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ShareRename = ShareStoreTest;

TEST_F(ShareRename, NameTakenByAnotherShareGetsANumberWithoutSpace) {
  receive("a.test", {makeShare("s1", "Docs"), makeShare("s2", "Work"), makeShare("s3", "docs1")});
  EXPECT_TRUE(store->renameShare(*store->shareWithId("s2"), "docs"));
  EXPECT_EQ(displayName("s2"), "docs2") << "docs1 is taken as well";
  EXPECT_EQ(store->shareWithPath("/DOCS2")->ShareId, "s2");
  EXPECT_EQ(store->shareWithPath("/Work"), nullptr);
  EXPECT_TRUE(store->renameShare(*store->shareWithId("s2"), ".tempfiles"));
  EXPECT_EQ(displayName("s2"), ".tempfiles1");
}

TEST_F(ShareRename, BlankOrUnusableNamesAreRefused) {
  receive("a.test", {makeShare("s1", "Docs")});
  for (const std::string& name : std::vector<std::string>{"", "   ", "\t\n", "a/b", "..", std::string(250, 'n')})
    EXPECT_FALSE(store->renameShare(*store->shareWithId("s1"), name)) << '"' << name << '"';
  EXPECT_EQ(displayName("s1"), "Docs");
  EXPECT_FALSE(store->renameShare(makeShare("gone", "Gone"), "Other")) << "an unknown share";
}

TEST_F(ShareRename, SameNameSucceedsAndCaseOnlyChangeKeepsThePlace) {
  receive("a.test", {makeShare("s1", "Docs")});
  ManagedSharePtr before = store->shareWithId("s1");
  EXPECT_TRUE(store->renameShare(*before, "Docs"));
  EXPECT_EQ(store->shareWithId("s1"), before) << "nothing changed";

  EXPECT_TRUE(store->renameShare(*before, "DOCS"));
  EXPECT_EQ(displayName("s1"), "DOCS");
  EXPECT_EQ(store->shareWithPath("/docs")->DisplayName, "DOCS");
  EXPECT_EQ(before->DisplayName, "Docs") << "snapshots taken earlier do not change";
}

TEST_F(ShareRename, DoesNotSaveAndSurvivesProfilesWithTheSameServerName) {
  receive("a.test", {makeShare("s1", "Docs")});
  clock.advance(OVMetadataStorage::kSaveDelay);
  main.runDue();
  const std::string saved = readFile(store->storeFilePath());

  ASSERT_TRUE(store->renameShare(*store->shareWithId("s1"), "Mine"));
  EXPECT_EQ(main.runDue(), 0);
  EXPECT_EQ(readFile(store->storeFilePath()), saved);
  receive("a.test", {makeShare("s1", "Docs")});
  EXPECT_EQ(displayName("s1"), "Mine");
}

} // namespace
} // namespace orvex::test
