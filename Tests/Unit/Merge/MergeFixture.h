// A loaded database over a real file cache in a temporary folder, with one
// ordinary share "Projects" (id S1), recording collaborators, and helpers that
// write nodes, build remote records and read back every row of a node.
#pragma once

#include "MergeFakes.h"
#include "Store/OVFileCacheEraser.h"
#include "Support/LogCapture.h"
#include "Unit/Database/DatabaseTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orvex::test {

class MergeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ManagedShare projects;
    projects.ShareId = "S1";
    projects.DisplayName = "Projects";
    projects.LastApplyedJournalTick = 40;
    shares.addShare(projects);
    db.load(false);
    db.setUploadTracker(&uploads);
    db.setDownloadTracker(&downloads);
    db.setOpenFileBookkeeping(&openFiles);
    db.setFinderRefresher(&finder);
    db.setUserEmail([] { return std::string("ann@orvex.example"); });
  }

  // Writes one row (synchronized unless told) and answers it.
  OVFile node(const std::string& id, const std::string& parent, const std::string& name,
              std::uint64_t status = kFileStatusSynchronized, bool isFile = true) {
    OVFile file = makeFile(id, parent, name, clock);
    file.status = status;
    file.isFile = isFile;
    file.permissions = isFile ? 0640 : 0750;
    EXPECT_TRUE(insertRow(db, file)) << id;
    return file;
  }
  OVFile folder(const std::string& id, const std::string& parent, const std::string& name,
                std::uint64_t status = kFileStatusSynchronized) {
    return node(id, parent, name, status, false);
  }

  // "Shared" (F1): the folder "fold" of S1, shared on its own.
  void addFolderShare() {
    ManagedShare shared;
    shared.ShareId = "F1";
    shared.DisplayName = "Shared";
    shared.ShareType = 1;
    shared.ParentShareId = "S1";
    shared.InternalName = "fold";
    shared.LastApplyedJournalTick = 5;
    shares.addShare(shared);
    folder("fold", "S1", "shared");
  }

  // Every row of a node, main row first (ordered by status: a shadow is 5).
  std::vector<OVFile> rows(const std::string& id) {
    return db.queryFiles("SELECT * FROM files WHERE internalName = ? ORDER BY status = 5, status", {id})
        .value_or(std::vector<OVFile>{});
  }
  std::int64_t rowCount() { return db.queryLong("SELECT COUNT(*) FROM files").value_or(-1); }

  std::filesystem::path cachePath(const OVFile& file) { return *cache.pathForFileCache(file); }
  void writeCache(const OVFile& file, const std::string& content) { writeFile(cachePath(file), content); }

  LogCapture log; // first: outlives the database's last lines
  TempDir folderOnDisk;
  ManualClock clock;
  OVFileCache cache{folderOnDisk.path(), clock};
  OVFileCacheEraser cacheFiles{cache};
  FakeShareStore shares;
  RecordingUploads uploads;
  RecordingDownloads downloads;
  RecordingOpenFiles openFiles;
  RecordingFinder finder;
  OVDatabase db{cache, shares, cacheFiles, "2.0.1", clock}; // last: goes first
};

} // namespace orvex::test
