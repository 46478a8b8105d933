// Merging domains' profiles into the share store: the folder names shares get
// at the drive's root, what a known share keeps, and what a profile removes.
#include "ShareStoreTestSupport.h"
#include "Support/LogCapture.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace fs = std::filesystem;

const std::string kCafeComposed = "Caf\xC3\xA9";    // "Café" with U+00E9
const std::string kCafeDecomposed = "Cafe\xCC\x81"; // "Cafe" + U+0301

TEST(SharePathKey, IgnoresCaseAndUnicodeComposition) {
  EXPECT_EQ(OVMetadataStorage::keyFromPath("/Docs"), "/docs");
  EXPECT_EQ(OVMetadataStorage::keyFromPath("/" + kCafeComposed), OVMetadataStorage::keyFromPath("/" + kCafeDecomposed));
  EXPECT_EQ(OVMetadataStorage::keyFromPath("/\xC3\x89T\xC3\x89"), "/e\xCC\x81te\xCC\x81"); // "ÉTÉ"
  EXPECT_NE(OVMetadataStorage::keyFromPath("/Docs"), OVMetadataStorage::keyFromPath("/Docs "));
  EXPECT_EQ(OVMetadataStorage::keyFromPath("/A\xFFZ"), "/a\xFFz"); // not UTF-8: ASCII letters only
}

using ShareNaming = ShareStoreTest;

TEST_F(ShareNaming, NewSharesWhoseNamesCollideGetNumberedNames) {
  receive("a.test", {makeShare("s1", "docs")});
  receive("b.test", {makeShare("s2", "Docs"), makeShare("s3", "DOCS")});
  EXPECT_EQ(displayName("s1"), "docs");
  EXPECT_EQ(displayName("s2"), "Docs (2)");
  EXPECT_EQ(displayName("s3"), "DOCS (3)");
  EXPECT_EQ(store->shareWithPath("/docs (3)")->ShareId, "s3");
}

TEST_F(ShareNaming, ComposedAndDecomposedNamesCollide) {
  receive("a.test", {makeShare("s1", kCafeComposed), makeShare("s2", kCafeDecomposed)});
  EXPECT_EQ(displayName("s1"), kCafeDecomposed) << "server names are kept decomposed";
  EXPECT_EQ(displayName("s2"), kCafeDecomposed + " (2)");
  EXPECT_EQ(store->shareWithPath("/" + kCafeComposed)->ShareId, "s1");
}

TEST_F(ShareNaming, ServerRenameFollowsUnlessTheUserRenamed) {
  receive("a.test", {makeShare("s1", "Docs"), makeShare("s2", "Work")});
  ASSERT_TRUE(store->renameShare(*store->shareWithId("s2"), "Mine"));

  receive("a.test", {makeShare("s1", "Papers"), makeShare("s2", "Papers")});
  EXPECT_EQ(displayName("s1"), "Papers");
  EXPECT_EQ(displayName("s2"), "Mine (Papers)");
  EXPECT_EQ(store->shareWithPath("/Docs"), nullptr);

  receive("a.test", {makeShare("s1", "Papers"), makeShare("s2", "Papers")});
  EXPECT_EQ(displayName("s2"), "Mine (Papers)") << "an unchanged server name keeps the local name";
}

TEST_F(ShareNaming, ServerRenameToATakenNameGetsANumber) {
  receive("a.test", {makeShare("s1", "Docs"), makeShare("s2", "Old")});
  receive("a.test", {makeShare("s1", "Docs"), makeShare("s2", "docs")});
  EXPECT_EQ(displayName("s2"), "docs (2)");
  receive("a.test", {makeShare("s1", "DOCS"), makeShare("s2", "docs")});
  EXPECT_EQ(displayName("s1"), "DOCS") << "its own old name is no obstacle";
}

TEST_F(ShareNaming, NamesTheDriveCannotShowAreMadeUsable) {
  receive("a.test", {makeShare("s1", "a/b"), makeShare("s2", ""), makeShare("s3", ".."), makeShare("s4", ".TempFiles"),
                     makeShare("s5", std::string(300, 'x'))});
  EXPECT_EQ(displayName("s1"), "a_b");
  EXPECT_EQ(displayName("s2"), "s2");
  EXPECT_EQ(displayName("s3"), "s3");
  EXPECT_EQ(displayName("s4"), ".TempFiles (2)") << "the temporary-files share keeps its folder";
  EXPECT_EQ(displayName("s5"), std::string(200, 'x'));
  EXPECT_EQ(store->shareWithPath("/.TempFiles")->ShareId, "tmp");
}

using ShareMerge = ShareStoreTest;

TEST_F(ShareMerge, NewShareIsStampedAndGetsItsFolder) {
  ManagedShare share = makeShare("s1", "Docs");
  share.CompanyId = "c2";
  share.LastApplyedJournalTick = 77;
  ClientLoginResponse profile = profileWith({share});
  SharingCompany first, second;
  first.CompanyId = "c1";
  first.AssociationType = 1;
  second.CompanyId = "c2";
  second.AssociationType = 2;
  profile.SharingCompanies = std::vector<SharingCompany>{first, second};
  EXPECT_TRUE(store->storageEmpty());

  store->updateSharesForDomain(profile, "a.test");
  ManagedSharePtr stored = store->shareWithId("s1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->LastApplyedJournalTick, -1);
  EXPECT_EQ(stored->AssociationType, 2);
  EXPECT_EQ(stored->GateWayUrl, "a.test");
  EXPECT_EQ(stored->CreationDate, OVDate{clock.wallNow()});
  EXPECT_EQ(stored->ModificationDate, OVDate{clock.wallNow()});
  EXPECT_TRUE(fs::is_directory(shareFolder("s1")));
  EXPECT_FALSE(store->storageEmpty());
  EXPECT_NE(store->shareWithId("tmp"), nullptr);
}

TEST_F(ShareMerge, KnownShareKeepsItsLocalState) {
  receive("a.test", {makeShare("s1", "Docs")});
  store->setLastApplyedJournalTick("s1", 42);
  ASSERT_TRUE(store->setModificationDate("s1", OVDate{}));

  ManagedShare again = makeShare("s1", "Docs");
  again.LastApplyedJournalTick = 5;
  again.TransmitCounter = 9;
  clock.advance(std::chrono::minutes(1));
  receive("a.test", {again});
  ManagedSharePtr stored = store->shareWithId("s1");
  EXPECT_EQ(stored->LastApplyedJournalTick, 42);
  EXPECT_EQ(stored->TransmitCounter, 0);
  EXPECT_EQ(stored->ModificationDate, OVDate{clock.wallNow()});
  EXPECT_EQ(stored->AssociationType, 0) << "no company matches";
}

TEST_F(ShareMerge, ProfileRemovesTheDomainsSharesItNoLongerLists) {
  receive("a.test", {makeShare("s1", "One"), makeShare("s2", "Two")});
  receive("b.test", {makeShare("s3", "Three")});
  test::writeFile(shareFolder("s2") / "node", "cached");
  LogCapture log;

  receive("a.test", {makeShare("s1", "One")});
  store->finishFolderRemovals();
  EXPECT_EQ(store->shareWithId("s2"), nullptr);
  EXPECT_EQ(store->shareWithPath("/Two"), nullptr);
  EXPECT_FALSE(fs::exists(shareFolder("s2")));
  EXPECT_NE(store->shareWithId("s3"), nullptr);
  EXPECT_THAT(log.lines(), Contains(HasSubstr("Share Two deleted remotely - cleaning up all share data.")));
}

TEST_F(ShareMerge, SharesWithoutAUsableIdAreNotKept) {
  ManagedShare noId;
  noId.ShareName = "NoId";
  LogCapture log;
  receive("a.test", {noId, makeShare("", "Empty"), makeShare("..", "Up"), makeShare("a/b", "Slash"),
                     makeShare(std::string("a\0b", 3), "Nul"), makeShare(std::string(250, 'i'), "Long"),
                     makeShare("tmp", "Tmp"), makeShare("ok", "Fine")});
  std::vector<std::string> ids;
  for (const ManagedSharePtr& share : store->shares())
    ids.push_back(*share->ShareId);
  EXPECT_THAT(ids, UnorderedElementsAre("ok", "tmp"));
  EXPECT_EQ(displayName("tmp"), ".TempFiles");
  EXPECT_EQ(log.warnings().size(), 7u);
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(cache.filesCachePath()))
    folders.push_back(entry.path().filename());
  EXPECT_THAT(folders, UnorderedElementsAre("ok"));
}

TEST_F(ShareMerge, DeletingLostDomainsKeepsTheTemporaryShare) {
  receive("a.test", {makeShare("s1", "One")});
  receive("b.test", {makeShare("s2", "Two")});
  LogCapture log;
  store->deleteDomainShares({"b.test"});
  store->finishFolderRemovals();
  EXPECT_EQ(store->shareWithId("s1"), nullptr);
  EXPECT_FALSE(fs::exists(shareFolder("s1")));
  EXPECT_NE(store->shareWithId("s2"), nullptr);
  EXPECT_NE(store->shareWithId("tmp"), nullptr);
  EXPECT_THAT(log.lines(), Contains(HasSubstr("Deleting share One data since it is not in user domains anymore.")));

  store->deleteDomainShares({});
  EXPECT_EQ(store->shares().size(), 1u);
}

TEST_F(ShareMerge, DeletedShareReceivedAgainKeepsItsNewFolder) {
  receive("a.test", {makeShare("s1", "One")});
  test::writeFile(shareFolder("s1") / "node", "old content");
  store->deleteShareData(*store->shareWithId("s1"));
  receive("a.test", {makeShare("s1", "One")});
  store->finishFolderRemovals();
  EXPECT_TRUE(fs::is_directory(shareFolder("s1")));
  EXPECT_FALSE(fs::exists(shareFolder("s1") / "node"));
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(cache.filesCachePath()))
    folders.push_back(entry.path().filename());
  EXPECT_THAT(folders, UnorderedElementsAre("s1")) << "the old folder is gone";
}

TEST_F(ShareMerge, LookupsByFilePathInternalNameAndParent) {
  ManagedShare folder = makeShare("f1", "Shared folder");
  folder.ShareType = WireNumber(1);
  folder.ParentShareId = "s1";
  folder.InternalName = "node-7";
  receive("a.test", {makeShare("s1", "Docs"), folder});
  EXPECT_EQ(store->shareWithFilePath("/docs/a/b.txt")->ShareId, "s1");
  EXPECT_EQ(store->shareWithFilePath("/Docs")->ShareId, "s1");
  EXPECT_EQ(store->shareWithFilePath(""), nullptr);
  EXPECT_EQ(store->shareWithInternalName("node-7")->ShareId, "f1");
  EXPECT_EQ(store->shareWithInternalName("node-8"), nullptr);
  ASSERT_EQ(store->subfolderSharesForShareId("s1").size(), 1u);
  EXPECT_EQ(store->subfolderSharesForShareId("s1")[0]->ShareId, "f1");
  EXPECT_THAT(store->subfolderSharesForShareId("f1"), IsEmpty());
}

TEST_F(ShareMerge, TellsTheDriveAfterEveryMerge) {
  int refreshed = 0;
  store->setRootFolderChangedHandler([&] {
    ++refreshed;
    EXPECT_NE(store->shareWithId("tmp"), nullptr); // called with the merge complete
  });
  receive("a.test", {makeShare("s1", "One")});
  receive("a.test", {});
  EXPECT_EQ(refreshed, 2);
}

} // namespace
} // namespace orvex::test
