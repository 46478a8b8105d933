// Rescuing a version-1 installation's unfinished uploads and clearing the rest,
// on real files written as the old client left them.
#include "Store/OVMigration.h"

#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Unit/Database/DatabaseTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::readFile;
using test::writeFile;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Writes `node` (and frees it) as the old client did: XML or binary.
void writePlist(const fs::path& path, plist_t node, bool binary) {
  char* data = nullptr;
  uint32_t length = 0;
  binary ? plist_to_bin(node, &data, &length) : plist_to_xml(node, &data, &length);
  writeFile(path, std::string(data, length));
  binary ? plist_to_bin_free(data) : plist_to_xml_free(data);
  plist_free(node);
}

class Migration : public ::testing::Test {
 protected:
  // The old client's files: shares.db lists `shares` (id -> name) as JSON
  // texts, journal.db is an empty dictionary; binary or XML as it chose.
  void writeVersion1Database(const std::vector<std::pair<std::string, std::string>>& shares, bool binary = false) {
    plist_t list = plist_new_array();
    for (const auto& [id, name] : shares) {
      const json share = {{"ShareId", id}, {"ShareName", name}, {"Tick", 3}};
      plist_array_append_item(list, plist_new_string(share.dump().c_str()));
    }
    plist_array_append_item(list, plist_new_string("not json"));
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "shares", list);
    writePlist(root / "shares.db", dict, binary);
    writePlist(root / "journal.db", plist_new_dict(), binary);
  }
  void writeUpload(const std::string& name, const std::string& content, std::optional<json> info = std::nullopt) {
    writeFile(root / "Uploads" / name, content);
    if (info) {
      writeFile(root / "Uploads" / (name + ".inf"), info->dump());
    }
  }
  static json info(const std::string& currentPath, const std::string& publicName, const std::string& shareId) {
    return {{"CurrentPath", currentPath}, {"File", {{"PublicName", publicName}, {"ShareId", shareId}}}};
  }
  fs::path backup() const { return root / "UploadsBackup"; }
  fs::path backup(const std::string& relative) const { return backup() / relative; }

  test::TempDir dir;
  fs::path root = dir / "Orvex";
  OVMigration migration{root, "Orvex"};
  test::LogCapture log;

  void SetUp() override {
    fs::create_directories(root / "Uploads");
    fs::create_directories(root / "Logs");
    writeFile(root / "Logs/main.log", "old log");
  }
};

TEST_F(Migration, NeedsBothVersion1FilesAsDictionaries) {
  writeVersion1Database({{"S1", "Team"}});
  fs::remove(root / "journal.db");
  migration.checkIfMigrationNeeded();
  EXPECT_THAT(entries(root), UnorderedElementsAre("Uploads", "Logs", "shares.db"));
  EXPECT_NE(log.find(0, "No version 1.x database found."), "");

  writePlist(root / "journal.db", plist_new_array(), false);
  EXPECT_FALSE(migration.version1DatabaseAvailable());
  writeVersion1Database({}, /*binary=*/true);
  EXPECT_TRUE(migration.version1DatabaseAvailable());
}

TEST_F(Migration, WithoutUploadsDeletesTheOldFilesButKeepsLogs) {
  writeVersion1Database({{"S1", "Team"}});
  fs::create_directories(root / "Files/S1");
  migration.checkIfMigrationNeeded();
  EXPECT_THAT(entries(root), UnorderedElementsAre("Logs"));
  EXPECT_EQ(readFile(root / "Logs/main.log"), "old log");
  EXPECT_NE(log.find(0, "No uploads found - just cleaning up."), "");
}

TEST_F(Migration, RescuesUploadsByShareNameAndExplainsWhereEachCameFrom) {
  writeVersion1Database({{"S1", "Team"}, {"S2", "Private"}}, /*binary=*/true);
  writeUpload("1", "first", info("/Team/a/report.pdf", "report.pdf", "S1"));
  writeUpload("2", "second", info("/Team/b/report.pdf", "report.pdf", "S1"));
  writeUpload("3", "third", info("/Team/c/report.pdf", "report.pdf", "S1"));
  writeUpload("4", "fourth", info("/Gone/x.txt", "x.txt", "S-unknown"));
  writeUpload("5", "fifth");                                   // no information file
  writeUpload("6", "", info("/Private/empty", "empty", "S2")); // nothing to rescue
  writeUpload("7", "seventh", json{{"CurrentPath", "/Private/noname"}, {"File", {{"ShareId", "S2"}}}});
  // What an earlier run rescued stays as it is.
  fs::create_directories(backup(".original"));
  writeFile(backup("Readme.txt"), "earlier\n");
  writeFile(backup(".original/5"), "earlier fifth");

  migration.checkIfMigrationNeeded();

  EXPECT_THAT(entries(root), UnorderedElementsAre("UploadsBackup", "Logs"));
  EXPECT_EQ(readFile(root / "Logs/main.log"), "old log");
  EXPECT_THAT(entries(backup("Team")), UnorderedElementsAre("report.pdf", "report.pdf (1)", "report.pdf (2)"));
  EXPECT_EQ(readFile(backup("Team/report.pdf (2)")), "third");
  EXPECT_EQ(readFile(backup("Private/7")), "seventh");
  EXPECT_THAT(entries(backup(".original")),
              UnorderedElementsAre("4", "5", "5 (1)", "1.inf", "2.inf", "3.inf", "4.inf", "7.inf"));
  EXPECT_EQ(readFile(backup(".original/4")), "fourth");
  EXPECT_EQ(readFile(backup(".original/5")), "earlier fifth");
  EXPECT_EQ(readFile(backup("Readme.txt")),
            "earlier\n"
            "This folder contains files which were not uploaded by the Orvex\n"
            "Starting copying of unfinished uploads to the backup directory\n\n"
            "Team/report.pdf: full path is /Team/a/report.pdf\n"
            "Team/report.pdf (1): full path is /Team/b/report.pdf\n"
            "Team/report.pdf (2): full path is /Team/c/report.pdf\n"
            "4: unknown file path, no information found\n"
            "5 (1): unknown file path, no information found\n"
            "Private/7: full path is /Private/noname\n");
  EXPECT_NE(log.find(0, "Move file 2 to Team/report.pdf (1) location, full path is /Team/b/report.pdf"), "");
  EXPECT_NE(log.find(0, "Finished copying of unfinished uploads to the path " + backup().string()), "");
}

TEST_F(Migration, NamesThatCouldLeaveTheBackupFolderSendTheFileToOriginal) {
  writeVersion1Database({{"S1", "Team"}, {"S2", "../Escape"}, {"S3", std::string("a\0b", 3)}, {"S4", "Readme.txt"}});
  writeUpload("1", "x", info("/x", "../../outside", "S1"));
  writeUpload("2", "x", info("/x", "sub/name", "S1"));
  writeUpload("3", "x", info("/x", std::string(300, 'n'), "S1"));
  writeUpload("4", "x", info("/x", "ok.txt", "S2"));
  writeUpload("5", "x", info("/x", "ok.txt", "S3"));
  writeUpload("6", "x", info("/x", "ok.txt", "S4")); // its share folder cannot be made
  writeUpload("7", "x");
  writeFile(root / "Uploads/7.inf", "{broken");

  migration.checkIfMigrationNeeded();

  EXPECT_THAT(entries(dir.path()), UnorderedElementsAre("Orvex"));
  EXPECT_THAT(entries(backup()), UnorderedElementsAre(".original", "Readme.txt"));
  EXPECT_EQ(entries(backup(".original")).size(), 14u); // every data and information file
  EXPECT_THAT(readFile(backup("Readme.txt")), HasSubstr("6: was unable to move to the backup path Readme.txt/ok.txt\n"
                                                        "6: unknown file path, no information found\n"));
  EXPECT_NE(log.find(0, "Warning! Ignoring unsafe share name \"../Escape\""), "");
  EXPECT_NE(log.find(0, "Warning! Ignoring unsafe file name \"../../outside\""), "");
  EXPECT_NE(log.find(0, "Warning! Cannot read upload information file"), "");
}

TEST_F(Migration, BackupFolderThatCannotBeCreatedEndsTheProcessWithCode100) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  writeVersion1Database({{"S1", "Team"}});
  writeUpload("1", "data");
  writeFile(backup(), "in the way");
  EXPECT_EXIT(migration.checkIfMigrationNeeded(), ::testing::ExitedWithCode(100),
              "Error! Cannot create UploadsBackup directory at path : .*/Orvex/UploadsBackup, error : Not a directory");
  EXPECT_EQ(readFile(root / "Uploads/1"), "data");
}

// The database runs the migration before creating files.db; the cache folders
// the clean-up removed are back before anything needs them.
TEST(MigrationWiring, RunsBeforeTheFirstDatabaseAndRestoresTheCacheFolders) {
  test::DatabaseHarness harness;
  const fs::path root = harness.fileCache.rootCachePath();
  writePlist(root / "shares.db", plist_new_dict(), false);
  writePlist(root / "journal.db", plist_new_dict(), false);
  writeFile(root / "Uploads/1", "unfinished");
  writeFile(root / "Files/S1", "stale");

  installMigrationCheck(*harness.database, harness.fileCache, "Orvex");
  harness.database->load(true);

  EXPECT_EQ(readFile(root / "UploadsBackup/.original/1"), "unfinished");
  EXPECT_FALSE(fs::exists(root / "journal.db"));
  EXPECT_TRUE(fs::exists(harness.database->databasePath()));
  for (const char* folder : {"Files", "Uploads", "Downloads", "Logs"}) {
    EXPECT_TRUE(fs::is_directory(root / folder)) << folder;
  }
  EXPECT_TRUE(fs::is_empty(root / "Files"));
}

} // namespace
} // namespace orvex
