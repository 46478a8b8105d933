// The merge of one catch-up page of 10,000 records into the store: a page of
// nodes the store has never seen, then a page of updates to those same nodes
// (new content for files, new names for the rest). The baseline, in the same
// run, is what the page's rows cost to write at all: the store's own insert
// statement for each of the new page's rows, in one transaction, on a private
// connection to a second store of the same schema.
//
// Every figure is the median of kRuns runs; each run merges a page of its own
// nodes, so the stores grow by one page a run, the baseline's as well.
//
// Prints merge_new_per_s, merge_update_per_s, raw_insert_per_s and
// merge_vs_raw_insert_ratio (the slower of the two merges / raw inserts: 1
// means the merge costs no more than writing the rows).
#include "BenchFigures.h"
#include "Dispatch/RunLoopMainQueue.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Store/OVSqlite.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace orvex;
using Steady = std::chrono::steady_clock;

constexpr const char* kShareId = "bench-share";
constexpr int kPageRecords = 10000;
constexpr int kRuns = 5;
// Every hundredth record of a page is a folder; the files after it are its children.
constexpr int kFilesPerFolder = 99;

double perSecond(int count, Steady::duration elapsed) {
  return count / std::chrono::duration<double>(elapsed).count();
}

// A page of new nodes, in tick order as the server sends them: each folder
// before its files. The ids and ticks of run `run` are its own.
OSXCatchUpResponse newPage(int run, OVDate time) {
  OSXCatchUpResponse page;
  page.OvVirtualFiles.emplace();
  page.OvVirtualFiles->reserve(kPageRecords);
  std::string folderId = kShareId;
  const std::int32_t firstTick = run * 2 * kPageRecords + 1;
  for (int i = 0; i < kPageRecords; ++i) {
    OVVirtualFile& record = page.OvVirtualFiles->emplace_back();
    const bool isFile = i % (kFilesPerFolder + 1) != 0;
    const std::string id = fmt::format("{:08x}{:024x}", run, i);
    record.ShareId = kShareId;
    record.InternalName = id;
    record.ParrentId = isFile ? folderId : std::string(kShareId);
    record.PublicName = isFile ? fmt::format("document {:05}.txt", i) : fmt::format("folder {:02}-{:03}", run, i / 100);
    record.User = "bench@orvex.example";
    record.FilehHash = isFile ? fmt::format("{:064x}", i) : std::string();
    record.Tick = firstTick + i;
    record.ShareTick = record.Tick;
    record.UpdateTick = record.Tick;
    record.CreateTick = record.Tick;
    record.EndOfFile = isFile ? 4096 + i : 0;
    record.CreationTime = time;
    record.LastAccessTime = time;
    record.LastWriteTime = time;
    record.Attributes = isFile ? 128 : 16;
    record.POSIXPermissions = isFile ? 0640 : 0750;
    record.IsFile = isFile;
    if (!isFile) {
      folderId = id;
    }
  }
  page.LargestTick = firstTick + kPageRecords - 1;
  page.ShareTick = page.LargestTick;
  return page;
}

// The same nodes a moment later: files with new content (a later time, a new
// size and hash), folders renamed.
OSXCatchUpResponse updatePage(const OSXCatchUpResponse& page) {
  OSXCatchUpResponse updated = page;
  for (OVVirtualFile& record : *updated.OvVirtualFiles) {
    record.Tick += kPageRecords;
    record.ShareTick = record.Tick;
    record.UpdateTick = record.Tick;
    if (record.IsFile) {
      record.LastWriteTime += std::chrono::minutes(5);
      record.EndOfFile = record.EndOfFile->asInt64() + 1;
      record.FilehHash = fmt::format("{:064x}", record.Tick);
    } else {
      *record.PublicName += " (renamed)";
    }
  }
  updated.LargestTick += kPageRecords;
  updated.ShareTick = updated.LargestTick;
  return updated;
}

// Rows per second of the page's new rows written with the store's insert
// statement in one transaction on `db`: the cost of the rows alone.
double rawInsertsPerSecond(SqliteConnection& db, const OSXCatchUpResponse& page) {
  const auto start = Steady::now();
  if (!db.execute("BEGIN EXCLUSIVE TRANSACTION")) {
    std::fprintf(stderr, "cannot begin: %s\n", db.lastError().c_str());
    std::exit(1);
  }
  SqliteStatement* insert = db.statement(
      "INSERT INTO files (publicName, shareId, uploadName, internalName, parentId, user, hash, tick, shareTick, "
      "updateTick, createTick, fileSize, createTime, accessTime, modifyTime, attributes, permissions, deleted, isFile, "
      "status, isLocked, lockDeviceId, lockTick, lockedBy, parentShareId) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
      "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const OVVirtualFile& record : *page.OvVirtualFiles) {
    const OVFile file(record);
    insert->bindAll({file.publicName, file.shareId,      file.uploadName, file.internalName, file.parentId,
                     file.user,       file.fileHash,     file.tick,       file.shareTick,    file.updateTick,
                     file.createTick, file.fileSize,     file.createTime, file.accessTime,   file.modifyTime,
                     file.attributes, file.permissions,  file.deleted,    file.isFile,       kFileStatusSynchronized,
                     file.isLocked,   file.lockDeviceId, file.lockTick,   file.lockedBy,     file.parentShareId});
    if (insert->step() != SQLITE_DONE) {
      std::fprintf(stderr, "cannot insert: %s\n", db.lastError().c_str());
      std::exit(1);
    }
    insert->reset();
  }
  if (!db.execute("COMMIT TRANSACTION")) {
    std::fprintf(stderr, "cannot commit: %s\n", db.lastError().c_str());
    std::exit(1);
  }
  return perSecond(kPageRecords, Steady::now() - start);
}

// The store of one client in its own folder, with the bench share known.
struct BenchStore {
  BenchStore(const std::filesystem::path& root, MainQueue& mainQueue)
      : cache(root), shares(cache, mainQueue), eraser(cache), db(cache, shares, eraser, "bench") {
    db.load(false);
    ClientLoginResponse profile;
    ManagedShare share;
    share.ShareId = kShareId;
    share.ShareName = "Bench";
    profile.ManagedShares = std::vector<ManagedShare>{share};
    db.updateShares(profile, "orvex.example");
  }
  ~BenchStore() { db.unload(); }
  BenchStore(const BenchStore&) = delete;
  BenchStore& operator=(const BenchStore&) = delete;

  OVFileCache cache;
  OVMetadataStorage shares;
  OVFileCacheEraser eraser;
  OVDatabase db;
};

std::int64_t rowsWhere(OVDatabase& db, const std::string& condition) {
  return db.queryLong("SELECT COUNT(*) FROM files WHERE " + condition).value_or(-1);
}

} // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-merge-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder = pattern;
  OVLogger::shared().initLogs(folder);
  RunLoopMainQueue mainQueue;
  int failed = 0;
  {
    BenchStore merging(folder / "merge", mainQueue);
    BenchStore baseline(folder / "baseline", mainQueue);
    // The baseline store only lends its schema; its rows are written directly.
    baseline.db.unload();
    auto raw = SqliteConnection::open(baseline.db.databasePath().string());
    if (!raw) {
      std::fprintf(stderr, "cannot open %s\n", baseline.db.databasePath().c_str());
      return 1;
    }
    raw->execute("PRAGMA cache_size = -262144;");

    const OVDate time = OVDateNow();
    std::vector<double> newRates;
    std::vector<double> updateRates;
    std::vector<double> rawRates;
    for (int run = 0; run < kRuns; ++run) {
      const OSXCatchUpResponse added = newPage(run, time);
      const OSXCatchUpResponse updated = updatePage(added);

      ManagedShare share = *merging.db.shareWithId(kShareId);
      auto start = Steady::now();
      merging.db.updateFilesForShare(added, share);
      newRates.push_back(perSecond(kPageRecords, Steady::now() - start));

      share = *merging.db.shareWithId(kShareId);
      start = Steady::now();
      merging.db.updateFilesForShare(updated, share);
      updateRates.push_back(perSecond(kPageRecords, Steady::now() - start));

      rawRates.push_back(rawInsertsPerSecond(*raw, added));
    }

    // Each page must have landed whole: one row per node, every file at its
    // second version and every folder renamed.
    const std::int64_t nodes = rowsWhere(merging.db, fmt::format("shareId = '{}'", kShareId));
    const std::int64_t current =
        rowsWhere(merging.db, fmt::format("status = {} AND (tick - 1) % {} >= {} AND (isFile = 1 OR publicName LIKE "
                                          "'% (renamed)')",
                                          static_cast<int>(kFileStatusSynchronized), 2 * kPageRecords, kPageRecords));
    if (nodes != kRuns * kPageRecords || current != nodes) {
      std::fprintf(stderr, "the merge stored %lld nodes, %lld of them updated, of %d\n", static_cast<long long>(nodes),
                   static_cast<long long>(current), kRuns * kPageRecords);
      failed = 1;
    }

    const double mergeNew = median(newRates);
    const double mergeUpdate = median(updateRates);
    const double rawInsert = median(rawRates);
    fmt::print("merge_new_per_s={:.0f}\n", mergeNew);
    fmt::print("merge_update_per_s={:.0f}\n", mergeUpdate);
    fmt::print("raw_insert_per_s={:.0f}\n", rawInsert);
    fmt::print("merge_vs_raw_insert_ratio={:.3f}\n", std::min(mergeNew, mergeUpdate) / rawInsert);
  }
  OVLogger::shared().flush();
  std::filesystem::remove_all(folder);
  return failed;
}
