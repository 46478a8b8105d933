// Local changes of nodes: the status each change leaves, the shadow rows that
// keep the server's state, editors' safe saves folded back into one node, and
// removal and share moves of whole folders.
#include "MergeFixture.h"
#include "OVLogger.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::UnorderedElementsAre;

class LocalChangesTest : public MergeFixture {
 protected:
  OVFile stored(const std::string& id) {
    auto all = rows(id);
    EXPECT_FALSE(all.empty()) << id;
    return all.empty() ? OVFile(clock) : all[0];
  }
  std::vector<std::uint64_t> statuses(const std::string& id) {
    std::vector<std::uint64_t> result;
    for (const OVFile& row : rows(id)) {
      result.push_back(row.status);
    }
    return result;
  }
};

TEST_F(LocalChangesTest, CreatedNodesAreNewWithTheShareTickAndTheUser) {
  auto file = db.createFile("notes.txt", "S1", "S1");
  auto dir = db.createFolder("dir", "S1", "S1");
  ASSERT_TRUE(file && dir);

  EXPECT_THAT(file->internalName, MatchesRegex("[0-9a-f]{32}"));
  EXPECT_NE(file->internalName, dir->internalName);
  const OVFile row = stored(file->internalName);
  EXPECT_EQ(row.status, kFileStatusNew);
  EXPECT_EQ(row.user, "ann@orvex.example");
  EXPECT_EQ(row.tick, kUnknownTick);
  EXPECT_EQ(row.shareTick, 40u);
  EXPECT_EQ(row.permissions, 0600u);
  EXPECT_EQ(row.attributes, 128u);
  EXPECT_TRUE(std::filesystem::exists(cachePath(row))); // empty content: counts as downloaded
  EXPECT_EQ(stored(dir->internalName).permissions, 0700u);
  EXPECT_EQ(stored(dir->internalName).attributes, 16u);
  EXPECT_FALSE(std::filesystem::exists(cachePath(*dir)));
  EXPECT_THAT(finder.refreshed, ElementsAre(std::set<std::string>{"S1"}, std::set<std::string>{"S1"}));

  EXPECT_FALSE(db.createFile("lost.txt", "S9", "S1"));
  EXPECT_FALSE(
      log.find(kLogMain, "Warning! Got request to create new file/folder but no share with id S9 is found.").empty());
}

TEST_F(LocalChangesTest, NodesInADocumentSaveFolderAreIgnoredAndNeverPending) {
  auto saving = db.createFolder("A Document Being Saved By TextEdit", "S1", "S1");
  ASSERT_TRUE(saving);
  auto inside = db.createFile("doc.txt", "S1", saving->internalName);
  auto hidden = db.createFile(".hidden", "S1", "S1");
  auto plain = db.createFile("plain.txt", "S1", "S1");

  EXPECT_EQ(saving->status, kFileStatusIgnored);
  EXPECT_EQ(stored(inside->internalName).status, kFileStatusIgnored);
  EXPECT_EQ(stored(hidden->internalName).status, kFileStatusIgnored);
  EXPECT_EQ(stored(plain->internalName).status, kFileStatusNew);
  EXPECT_EQ(db.uploadsNumber(), 1);
}

TEST_F(LocalChangesTest, EditorMovingTheDocumentAsideEndsWithOneNodeOfTheFirstIdentity) {
  OVFile doc = node("A", "S1", "doc.txt");
  writeCache(doc, "old content");
  OVFile aside = db.renameFile(doc, "doc.txt.sb-2f1a");
  EXPECT_EQ(aside.status, kFileStatusChanged);

  auto saved = db.createFile("doc.txt", "S1", "S1");

  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->internalName, "A");
  EXPECT_THAT(statuses("A"), ElementsAre(kFileStatusModified, kFileStatusShadow));
  EXPECT_EQ(stored("A").publicName, "doc.txt");
  EXPECT_EQ(rows("A")[1].publicName, "doc.txt"); // the server's state
  EXPECT_EQ(rowCount(), 2);                      // no row of the new file's own id
  EXPECT_EQ(readFile(cachePath(doc)), "");       // the new (still empty) content
  ASSERT_EQ(openFiles.exchanged.size(), 1u);
  EXPECT_EQ(openFiles.exchanged[0].first, "A");
}

TEST_F(LocalChangesTest, MovingASavedCopyOntoTheDocumentKeepsTheDocumentsIdentity) {
  OVFile doc = node("A", "S1", "doc.txt");
  writeCache(doc, "old content");
  auto copy = db.createFile(".goutputstream-X1", "S1", "S1");
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->status, kFileStatusIgnored);
  writeCache(*copy, "new content");

  OVFile result = db.renameFile(*copy, "doc.txt");

  EXPECT_EQ(result.internalName, "A");
  EXPECT_EQ(result.status, kFileStatusModified);
  EXPECT_EQ(readFile(cachePath(doc)), "new content");
  EXPECT_THAT(rows(copy->internalName), IsEmpty());
}

TEST_F(LocalChangesTest, FolderReplacedByASavedCopyKeepsTheCopysContent) {
  OVFile old = folder("O", "S1", "bundle");
  auto copy = db.createFolder(".bundle-new", "S1", "S1");
  ASSERT_TRUE(copy);
  auto child = db.createFile("index.xml", "S1", copy->internalName);
  ASSERT_TRUE(child);
  // As the drive replaces an empty folder: the old one is deleted, the copy moved onto its name.
  db.removeFile(old, false);

  OVFile result = db.renameFile(*copy, "bundle");

  EXPECT_EQ(result.internalName, "O");
  EXPECT_EQ(result.status, kFileStatusChanged);
  EXPECT_FALSE(result.deleted);
  EXPECT_THAT(db.fileIdsWithParent("O"), ElementsAre(child->internalName));
}

TEST_F(LocalChangesTest, RenamingBackFromASaveNameKeepsTheContent) {
  OVFile doc = node("A", "S1", "doc.txt");
  writeCache(doc, "precious");

  OVFile aside = db.renameFile(doc, "doc.txt.sb-77");
  OVFile back = db.renameFile(aside, "doc.txt");

  EXPECT_EQ(back.internalName, "A");
  EXPECT_EQ(back.publicName, "doc.txt");
  EXPECT_EQ(readFile(cachePath(doc)), "precious");
}

TEST_F(LocalChangesTest, RenamesMoveTheNodeIntoTheRightState) {
  OVFile plain = db.renameFile(node("A", "S1", "a.txt"), "b.txt");
  EXPECT_THAT(statuses("A"), ElementsAre(kFileStatusChanged)); // no shadow for an ordinary name

  db.renameFile(node("H", "S1", "c.txt"), ".fuse_hidden0000000100000002");
  EXPECT_THAT(statuses("H"), ElementsAre(kFileStatusChanged, kFileStatusShadow));
  EXPECT_EQ(rows("H")[1].publicName, "c.txt");

  OVFile fresh = db.renameFile(node("N", "S1", "new.txt", kFileStatusNew), "new.tmp");
  EXPECT_EQ(fresh.status, kFileStatusIgnored);
  EXPECT_EQ(db.renameFile(fresh, "final.txt").status, kFileStatusNew);
  EXPECT_EQ(db.renameFile(node("M", "S1", "m.txt", kFileStatusModified), "n.txt").status, kFileStatusModified);

  folder("D", "S1", "dir");
  finder.refreshed.clear();
  OVFile moved = db.renameFile(plain, "b.txt", std::string("D"));
  EXPECT_EQ(stored("A").parentId, "D");
  EXPECT_EQ(moved.status, kFileStatusChanged);
  EXPECT_THAT(finder.refreshed, UnorderedElementsAre(std::set<std::string>{"D"}, std::set<std::string>{"S1"}));
}

TEST_F(LocalChangesTest, RemovingANewNodeDropsItAndASynchronizedOneKeepsADeletedRowAndAShadow) {
  OVFile fresh = node("N", "S1", "new", kFileStatusNew);
  writeCache(fresh, "x");
  db.removeFile(fresh, true);
  EXPECT_THAT(rows("N"), IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(cachePath(fresh)));

  OVFile synced = node("A", "S1", "a");
  writeCache(synced, "kept");
  db.removeFile(synced, false);
  EXPECT_THAT(statuses("A"), ElementsAre(kFileStatusChanged, kFileStatusShadow));
  EXPECT_TRUE(rows("A")[0].deleted);
  EXPECT_FALSE(rows("A")[1].deleted);
  EXPECT_EQ(readFile(cachePath(synced)), "kept");
  EXPECT_THAT(uploads.cancelled, ElementsAre("N", "A"));
  EXPECT_EQ(uploads.added, 2);

  db.removeFile(node("F", "S1", "forced"), true, true);
  EXPECT_THAT(rows("F"), IsEmpty());
  EXPECT_EQ(uploads.added, 2); // nothing to send
}

TEST_F(LocalChangesTest, RemovingAFolderTakesEverythingBelowEvenWhenParentLinksGoRound) {
  folder("D", "E", "dir"); // D and E are each other's parent
  folder("E", "D", "sub");
  node("f", "E", "file");
  folder("L", "L", "self");

  db.removeFolderRecursive(stored("D"));
  db.removeFolderRecursive(stored("L"));

  EXPECT_EQ(db.queryLong("SELECT COUNT(*) FROM files WHERE status != 5 AND NOT deleted"), 0);
}

TEST_F(LocalChangesTest, ContentAndLockChangesKeepOneShadowOfTheServersState) {
  OVFile synced = node("A", "S1", "a");
  synced.fileSize = 99;
  db.markFileUpdated(synced);
  EXPECT_THAT(statuses("A"), ElementsAre(kFileStatusModified, kFileStatusShadow));
  EXPECT_EQ(rows("A")[0].fileSize, 99u);
  EXPECT_EQ(rows("A")[1].fileSize, 0u);

  OVFile fresh = node("N", "S1", "n", kFileStatusNew);
  fresh.fileSize = 5;
  db.markFileUpdated(fresh);
  EXPECT_THAT(statuses("N"), ElementsAre(kFileStatusNew));
  EXPECT_EQ(rows("N")[0].fileSize, 5u);

  // Sent and awaiting confirmation, with the shadow of an older state.
  OVFile sent = node("U", "S1", "u", kFileStatusUploaded);
  node("U", "S1", "older", kFileStatusShadow);
  sent.isLocked = true;
  sent.lockedBy = "ann";
  db.updateFileLockStatus(sent);
  EXPECT_THAT(statuses("U"), ElementsAre(kFileStatusChanged, kFileStatusShadow));
  EXPECT_TRUE(rows("U")[0].isLocked);
  EXPECT_EQ(rows("U")[1].publicName, "u");
  EXPECT_FALSE(rows("U")[1].isLocked);

  fresh.isLocked = true;
  db.updateFileLockStatus(fresh);
  EXPECT_THAT(statuses("N"), ElementsAre(kFileStatusNew));
  EXPECT_TRUE(rows("N")[0].isLocked);
}

TEST_F(LocalChangesTest, UploadedMarksEveryRowButTheShadowAndASynchronizedRow) {
  node("A", "S1", "a", kFileStatusModified);
  node("A", "S1", "a", kFileStatusShadow);
  db.markFileUploaded(stored("A"));
  EXPECT_THAT(statuses("A"), ElementsAre(kFileStatusUploaded, kFileStatusShadow));

  db.markFileUploaded(node("B", "S1", "b"));
  EXPECT_THAT(statuses("B"), ElementsAre(kFileStatusSynchronized));
}

TEST_F(LocalChangesTest, FolderMovedToAnotherShareIsSentAgainAsNew) {
  ManagedShare other;
  other.ShareId = "S2";
  other.DisplayName = "Other";
  shares.addShare(other);
  folder("D", "S1", "dir");
  OVFile file = node("f", "D", "file");
  writeCache(file, "data");
  folder("E", "D", "sub");
  node("g", "E", "deep");

  db.changeFilesShareIdInFolderRecursive(stored("D"), "S2");

  EXPECT_EQ(stored("D").shareId, "S2");
  EXPECT_EQ(stored("D").status, kFileStatusSynchronized); // the folder is sent from the queue's copy
  EXPECT_EQ(stored("f").shareId, "S2");
  EXPECT_EQ(stored("f").status, kFileStatusNew);
  EXPECT_EQ(stored("g").status, kFileStatusNew);
  OVFile movedFile = stored("f");
  EXPECT_EQ(readFile(cachePath(movedFile)), "data");
  EXPECT_EQ(db.blockMap().get("D"), "block");
  EXPECT_EQ(db.blockMap().get("E"), "block");
  std::vector<std::string> queued;
  for (const OVFile& sent : uploads.queued) {
    EXPECT_EQ(sent.status, kFileStatusNew);
    EXPECT_EQ(sent.shareId, "S2");
    queued.push_back(sent.internalName);
  }
  EXPECT_THAT(queued, UnorderedElementsAre("D", "f", "E", "g"));
}

TEST_F(LocalChangesTest, NodesCreatedInAFolderShareCarryTheFolderAlong) {
  addFolderShare();
  folder("keep", "S1", "keep");

  auto created = db.createFile("inside.txt", "F1", "fold");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->parentShareId, "S1");
  EXPECT_EQ(stored("fold").shareId, "F1");
  EXPECT_EQ(stored("fold").parentShareId, "S1");

  db.createFile("~lock.txt", "F1", "keep"); // ignored nodes leave their folder alone
  EXPECT_EQ(stored("keep").shareId, "S1");
}

} // namespace
} // namespace orvex::test
