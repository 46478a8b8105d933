// The share store on disk: "shares.db" round trip and format, unreadable
// files kept aside, the delayed save, and clearing.
#include "ShareStoreTestSupport.h"
#include "Support/LogCapture.h"
#include "Sync/OVShareStoreFile.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

namespace orvex::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

namespace fs = std::filesystem;

// Names in the metadata folder, other than the cache's own folders.
std::vector<std::string> metadataFiles(const OVFileCache& cache) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(cache.metadataPath())) {
    if (!entry.is_directory())
      names.push_back(entry.path().filename());
  }
  return names;
}

using ShareStoreFile = ShareStoreTest;

TEST_F(ShareStoreFile, RoundTripKeepsEveryShareAndResetsTheCounter) {
  ManagedShare share = makeShare("s1", "Docs");
  share.TransmitCounter = 12;
  share.CompanyName = "Acme & <Sons>";
  share.ShareAcl = ShareACL{};
  share.ShareAcl->AclToken = "token";
  receive("a.test", {share, makeShare("s2", "docs")});
  ASSERT_TRUE(store->renameShare(*store->shareWithId("s2"), "Mine"));
  store->setLastApplyedJournalTick("s1", 99);
  store->save();

  auto reopened = reopen();
  EXPECT_FALSE(reopened->storageEmpty());
  ASSERT_THAT(reopened->shares(), SizeIs(3));
  ManagedShare expected = *store->shareWithId("s1");
  expected.TransmitCounter = 0;
  EXPECT_EQ(*reopened->shareWithId("s1"), expected);
  EXPECT_EQ(reopened->shareWithPath("/mine")->ShareId, "s2");
  EXPECT_EQ(reopened->shareWithId("tmp")->DisplayName, ".TempFiles");
}

TEST_F(ShareStoreFile, IsAnXmlPropertyListOfJsonTexts) {
  receive("a.test", {makeShare("s1", "Docs")});
  store->save();
  const std::string text = readFile(store->storeFilePath());
  EXPECT_THAT(text, StartsWith("<?xml"));
  EXPECT_THAT(text, HasSubstr("<!DOCTYPE plist"));
  EXPECT_THAT(text, HasSubstr("<key>globalresponce</key>"));

  std::string why;
  std::optional<OVShareStoreFileContent> content = decodeShareStoreFile(text, why);
  ASSERT_TRUE(content) << why;
  EXPECT_EQ(content->globalResponce, "");
  ASSERT_THAT(content->shares, SizeIs(2)) << "the temporary-files share is stored too";
  std::vector<std::string> ids;
  for (const std::string& json : content->shares)
    ids.push_back(*ManagedShare::fromJSONText(json)->ShareId);
  EXPECT_THAT(ids, UnorderedElementsAre("s1", "tmp"));
  struct stat info {};
  ASSERT_EQ(::stat(store->storeFilePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ShareStoreFile, MissingFileMeansAnEmptyStoreWithTheTemporaryShare) {
  EXPECT_TRUE(store->storageEmpty());
  ASSERT_THAT(store->shares(), SizeIs(1));
  ManagedSharePtr temp = store->shareWithPath("/.tempfiles");
  ASSERT_TRUE(temp);
  EXPECT_EQ(temp->ShareId, "tmp");
  EXPECT_EQ(temp->ShareName, ".TempFiles");
  EXPECT_EQ(temp->CreationDate, OVDate{clock.wallNow()});
}

TEST_F(ShareStoreFile, CorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
  for (const std::string& corrupt :
       {std::string("not a plist"), std::string("<?xml version=\"1.0\"?><plist><array/></plist>"),
        std::string("<?xml version=\"1.0\"?><plist><dict><key>shares</key><string>x</string></dict></plist>")}) {
    SCOPED_TRACE(corrupt);
    writeFile(store->storeFilePath(), corrupt);
    LogCapture log;
    store = reopen();
    EXPECT_TRUE(store->storageEmpty());
    EXPECT_THAT(store->shares(), SizeIs(1));
    EXPECT_NE(store->shareWithId("tmp"), nullptr);
    EXPECT_FALSE(fs::exists(store->storeFilePath()));
    EXPECT_THAT(log.warnings(), SizeIs(1));

    store->save(); // a fresh file; the broken one stays
    std::vector<std::string> names = metadataFiles(cache);
    EXPECT_THAT(names, Contains("shares.db"));
    EXPECT_THAT(names, Contains(StartsWith("shares.db.broken-")));
    for (const std::string& name : names) {
      if (name.starts_with("shares.db.broken-") && readFile(cache.metadataPath() / name) == corrupt)
        fs::remove(cache.metadataPath() / name);
    }
    EXPECT_THAT(metadataFiles(cache), UnorderedElementsAre("shares.db"));
    fs::remove(store->storeFilePath());
  }
}

TEST_F(ShareStoreFile, UnusableEntriesAreSkippedAndTheFileCopiedAside) {
  OVShareStoreFileContent content;
  ManagedShare good = makeShare("s1", "Docs");
  good.TransmitCounter = 4;
  content.shares = {good.toJSONText(), "{broken", makeShare("", "NoId").toJSONText(),
                    makeShare("../x", "Escape").toJSONText(), R"({"ShareName": "NoTicks"})"};
  const std::string original = encodeShareStoreFile(content);
  writeFile(store->storeFilePath(), original);

  LogCapture log;
  store = reopen();
  EXPECT_FALSE(store->storageEmpty());
  EXPECT_EQ(displayName("s1"), "Docs") << "a missing DisplayName is the ShareName";
  EXPECT_EQ(store->shareWithId("s1")->TransmitCounter, 0);
  EXPECT_THAT(store->shares(), SizeIs(2));
  EXPECT_TRUE(fs::is_directory(shareFolder("s1")));
  EXPECT_FALSE(fs::exists(cache.filesCachePath().parent_path() / "x"));
  EXPECT_THAT(log.lines(), Contains(HasSubstr("Warning! Cannot deserialize share from metadata storage. Error ")));
  EXPECT_THAT(log.lines(), Contains(HasSubstr("Warning! Deserialized share has a share id that cannot name a folder")));
  EXPECT_EQ(readFile(store->storeFilePath()), original) << "not touched until the next save";
  std::vector<std::string> names = metadataFiles(cache);
  ASSERT_THAT(names, Contains(StartsWith("shares.db.broken-")));
  for (const std::string& name : names) {
    if (name != "shares.db") {
      EXPECT_EQ(readFile(cache.metadataPath() / name), original);
    }
  }
}

TEST_F(ShareStoreFile, StoredNamesThatCollideOrCannotBeFoldersAreRenamed) {
  ManagedShare first = makeShare("s1", "Docs");
  ManagedShare second = makeShare("s2", "Other");
  second.DisplayName = "DOCS";
  ManagedShare third = makeShare("s3", "Third");
  third.DisplayName = "a/b";
  OVShareStoreFileContent content;
  content.shares = {first.toJSONText(), second.toJSONText(), third.toJSONText()};
  writeFile(store->storeFilePath(), encodeShareStoreFile(content));

  store = reopen();
  EXPECT_EQ(displayName("s1"), "Docs");
  EXPECT_EQ(displayName("s2"), "DOCS (2)");
  EXPECT_EQ(displayName("s3"), "Third");
  EXPECT_THAT(store->shares(), SizeIs(4));
}

TEST_F(ShareStoreFile, DelayedSavesOfABurstWriteOnceAfterFiveQuietSeconds) {
  int rechecks = 0;
  store->setAutomaticDownloadsCheck([&] {
    ++rechecks;
    EXPECT_TRUE(fs::exists(store->storeFilePath())) << "after the save";
  });
  receive("a.test", {makeShare("s1", "Docs")});
  for (int i = 0; i < 10; ++i) {
    clock.advance(std::chrono::seconds(1));
    store->saveDelayed();
  }
  store->saveDelayedAndRecheckAutomaticDownloadsWhenDone();
  clock.advance(std::chrono::milliseconds(4999));
  EXPECT_EQ(main.runDue(), 0);
  EXPECT_FALSE(fs::exists(store->storeFilePath()));

  LogCapture log;
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(main.runDue(), 1);
  EXPECT_TRUE(fs::exists(store->storeFilePath()));
  EXPECT_EQ(rechecks, 1);
  EXPECT_THAT(log.lines(), Contains(HasSubstr("Saving file metadata...")));

  store->save(); // the request was used up
  EXPECT_EQ(rechecks, 1);
}

TEST_F(ShareStoreFile, DestroyedStoreLeavesNoSavePending) {
  store->saveDelayed();
  store.reset();
  clock.advance(std::chrono::seconds(10));
  EXPECT_EQ(main.runDue(), 0);
}

TEST_F(ShareStoreFile, ClearForgetsSharesAndDeletesTheMetadataFiles) {
  receive("a.test", {makeShare("s1", "Docs")});
  store->setGlobalLoginResponce("x");
  store->save();
  writeFile(cache.metadataPath() / "files.db", "sqlite");
  writeFile(cache.metadataPath() / "notes.txt", "kept");
  writeFile(cache.metadataPath() / "shares.db.broken-20240101T000000", "kept");

  store->clear();
  EXPECT_TRUE(store->storageEmpty());
  EXPECT_THAT(store->shares(), IsEmpty());
  EXPECT_EQ(store->globalLoginResponce(), "");
  EXPECT_THAT(metadataFiles(cache), UnorderedElementsAre("notes.txt", "shares.db.broken-20240101T000000"));
  EXPECT_TRUE(fs::is_directory(cache.filesCachePath()));
}

} // namespace
} // namespace orvex::test
