// The metadata store at the size of a large account: 1,000,000 file rows in
// 1,000 folders. Measures a listing of a 10,000-child folder, resolving a
// 6-deep drive path with and without the path caches, and lookups by id
// through the database thread against the same lookup on a private connection
// in this process (what the hand-off to the database thread costs).
#include "BenchFigures.h"
#include "Dispatch/RunLoopMainQueue.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Store/OVSqlite.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace orvex;
using Steady = std::chrono::steady_clock;

constexpr const char* kShareId = "bench-share";
constexpr int kFolders = 1000;
constexpr int kBigFolderChildren = 10000;
constexpr int kTotalFiles = 1000000;
constexpr int kChainDepth = 5; // folders above the file of the 6-deep path

std::string nodeId(int n) {
  return fmt::format("{:032x}", n);
}

double micros(Steady::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Writes the tree straight into files.db in one transaction, as if the store
// had grown through catch-up; the database is not loaded meanwhile.
void fillStore(const std::string& path, std::vector<std::string>& fileIds, std::string& bigFolder) {
  std::string error;
  auto db = SqliteConnection::open(path, &error);
  if (!db || !db->execute("BEGIN")) {
    std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(), error.c_str());
    std::exit(1);
  }
  SqliteStatement* insert = db->statement(
      "INSERT INTO files VALUES (?,?,'',?,?,'bench@orvex.example','',1,1,1,1,?,0,0,0,?,?,0,?,0,0,'',0,'','')");
  int next = 1;
  auto add = [&](const std::string& name, const std::string& id, const std::string& parent, bool isFile) {
    insert->bindAll({name, kShareId, id, parent, isFile ? 1024 : 0, isFile ? 128 : 16, isFile ? 0600 : 0700, isFile});
    insert->step();
    insert->reset();
  };
  std::string parent = kShareId;
  for (int depth = 1; depth <= kChainDepth; ++depth) {
    const std::string id = nodeId(next++);
    add(fmt::format("c{}", depth), id, parent, false);
    parent = id;
  }
  add("target.txt", nodeId(next++), parent, true);

  const int perFolder = (kTotalFiles - kBigFolderChildren) / (kFolders - 1);
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string folderId = nodeId(next++);
    add(fmt::format("folder-{:04}", folder), folderId, kShareId, false);
    if (folder == 0) {
      bigFolder = folderId;
    }
    const int children = folder == 0 ? kBigFolderChildren : perFolder;
    for (int child = 0; child < children; ++child) {
      fileIds.push_back(nodeId(next++));
      add(fmt::format("document {:05}.txt", child), fileIds.back(), folderId, true);
    }
  }
  if (!db->execute("COMMIT")) {
    std::fprintf(stderr, "cannot commit: %s\n", db->lastError().c_str());
    std::exit(1);
  }
}

// Lookups per second of the same statement the store runs, on a private
// connection on this thread: the baseline without the hand-off.
double directLookupsPerSecond(const std::string& path, const std::vector<std::string>& ids, int count) {
  auto db = SqliteConnection::open(path);
  db->execute("PRAGMA cache_size = -262144;");
  std::mt19937 random(7);
  const auto start = Steady::now();
  for (int i = 0; i < count; ++i) {
    SqliteStatement* select = db->statement("SELECT * FROM files WHERE internalName = ? AND status != 5 LIMIT 0, 1");
    select->bindAll({ids[random() % ids.size()]});
    if (select->step() == SQLITE_ROW) {
      [[maybe_unused]] const OVFile file = OVFile::fromRow(*select);
    }
    select->reset();
  }
  return count / std::chrono::duration<double>(Steady::now() - start).count();
}

} // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder = pattern;
  OVLogger::shared().initLogs(folder);

  OVFileCache cache(folder / "Orvex");
  RunLoopMainQueue mainQueue;
  OVMetadataStorage shares(cache, mainQueue);
  OVFileCacheEraser eraser(cache);
  std::vector<std::string> fileIds;
  std::string bigFolder;
  {
    OVDatabase creating(cache, shares, eraser, "bench");
    creating.load(false);
    ClientLoginResponse profile;
    ManagedShare share;
    share.ShareId = kShareId;
    share.ShareName = "Bench";
    profile.ManagedShares = std::vector<ManagedShare>{share};
    creating.updateShares(profile, "orvex.example");
    creating.unload();
    fillStore(creating.databasePath().string(), fileIds, bigFolder);
  }

  // A fresh start on the grown file, as after a restart.
  OVDatabase db(cache, shares, eraser, "bench");
  db.load(false);

  std::vector<double> listings;
  for (int i = 0; i < 20; ++i) {
    const auto start = Steady::now();
    const auto names = db.fileNamesListWithParent(bigFolder);
    listings.push_back(micros(Steady::now() - start) / 1000);
    if (names.size() != kBigFolderChildren) {
      std::fprintf(stderr, "listing returned %zu names\n", names.size());
      return 1;
    }
  }

  const std::string deepPath = "/Bench/c1/c2/c3/c4/c5/target.txt";
  std::vector<double> cold;
  for (int i = 0; i < 500; ++i) {
    db.clearCacheForPath("/Bench/");
    const auto start = Steady::now();
    const auto found = db.fileWithPath(deepPath);
    cold.push_back(micros(Steady::now() - start));
    if (!found) {
      std::fprintf(stderr, "cannot resolve %s\n", deepPath.c_str());
      return 1;
    }
  }
  std::vector<double> warm;
  for (int i = 0; i < 20000; ++i) {
    const auto start = Steady::now();
    [[maybe_unused]] const auto found = db.fileWithPath(deepPath);
    warm.push_back(micros(Steady::now() - start));
  }

  constexpr int kLookups = 200000;
  std::mt19937 random(7);
  const auto start = Steady::now();
  for (int i = 0; i < kLookups; ++i) {
    [[maybe_unused]] const auto found = db.fileWithId(fileIds[random() % fileIds.size()], false);
  }
  const double threaded = kLookups / std::chrono::duration<double>(Steady::now() - start).count();
  const double direct = directLookupsPerSecond(db.databasePath().string(), fileIds, kLookups);

  std::printf("rows=%zu\n", fileIds.size() + kFolders + kChainDepth + 1);
  std::printf("list_10k_ms=%.2f\n", median(listings));
  std::printf("resolve_warm_us=%.2f\n", median(warm));
  std::printf("resolve_cold_us=%.2f\n", median(cold));
  std::printf("lookup_per_s=%.0f\n", threaded);
  std::printf("lookup_direct_per_s=%.0f\n", direct);
  std::printf("lookup_vs_direct_ratio=%.3f\n", threaded / direct);

  db.unload();
  OVLogger::shared().flush();
  std::filesystem::remove_all(folder);
  return 0;
}
