// What the metadata-store tests share: in-memory stand-ins for the share store
// and the content cache, a database in a temporary folder, a raw row writer,
// and the planner's plan for a statement.
#pragma once

#include "Dispatch/Clock.h"
#include "Store/OVCacheEraser.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Store/OVShareStore.h"
#include "Support/TempDir.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

// A share store holding a list of shares in memory. Thread-safe.
class FakeShareStore : public OVShareStore {
 public:
  void addShare(ManagedShare share);

  void load() override { ++loads; }
  void save() override { ++saves; }
  void saveDelayed() override { ++delayedSaves; }
  void saveDelayedAndRecheckAutomaticDownloadsWhenDone() override { ++delayedSavesWithRecheck; }
  void clear() override;
  bool storageEmpty() const override;
  std::vector<ManagedSharePtr> shares() const override;
  ManagedSharePtr shareWithId(std::string_view shareId) const override;
  ManagedSharePtr shareWithPath(std::string_view path) const override;
  ManagedSharePtr shareWithFilePath(std::string_view path) const override;
  ManagedSharePtr shareWithInternalName(std::string_view internalName) const override;
  std::vector<ManagedSharePtr> subfolderSharesForShareId(std::string_view shareId) const override;
  void updateSharesForDomain(const ClientLoginResponse& profile, const std::string& domain) override;
  bool renameShare(const ManagedShare& share, const std::string& newName) override;
  void deleteShareData(const ManagedShare& share) override;
  void deleteDomainShares(const std::vector<std::string>& domains) override;
  bool setLastApplyedJournalTick(std::string_view shareId, std::int32_t tick) override;
  bool setModificationDate(std::string_view shareId, OVDate date) override;
  std::string globalLoginResponce() const override;
  void setGlobalLoginResponce(const std::string& value) override;

  // Counted on the calling thread; read them once the calls are done.
  int loads = 0;
  int saves = 0;
  int clears = 0;
  int delayedSaves = 0;
  int delayedSavesWithRecheck = 0;

 private:
  // Replaces the share's snapshot by a changed copy, as the real store does.
  bool changeShare(std::string_view shareId, const std::function<void(ManagedShare&)>& change);

  mutable std::mutex mutex_;
  std::vector<ManagedSharePtr> shares_; // guarded by mutex_
  std::string globalLoginResponce_;     // guarded by mutex_
};

// Records which cached contents the database asked to delete. Thread-safe.
// Creating, exchanging and moving contents are not recorded: the tests that
// need them run over the real file cache.
class FakeCacheEraser : public OVCacheEraser {
 public:
  void deleteFileCache(const OVFile& file) override;
  void deleteFileDownload(const OVFile& file) override;
  void createCacheFile(const OVFile& /*file*/) override {}
  void exchangeFileCaches(const OVFile& /*oldFile*/, const OVFile& /*newFile*/) override {}
  void moveFileCacheWithId(std::string_view /*internalName*/, std::string_view /*fromShareId*/,
                           std::string_view /*toShareId*/) override {}
  std::vector<std::string> deletedCaches() const;
  std::vector<std::string> deletedDownloads() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> caches_;    // guarded by mutex_
  std::vector<std::string> downloads_; // guarded by mutex_
};

// A database with its collaborators in a fresh folder, on a manual clock.
// `database` may be dropped and made again (reopen()) over the same folder.
struct DatabaseHarness {
  DatabaseHarness();
  ~DatabaseHarness();
  // Destroys the database (unloading it) and constructs a new one; not loaded.
  void reopen();

  TempDir folder;
  ManualClock clock;
  OVFileCache fileCache{folder.path()};
  FakeShareStore shareStore;
  FakeCacheEraser cacheEraser;
  std::unique_ptr<OVDatabase> database;
};

// A node with the given identity, everything else at its defaults.
OVFile makeFile(const std::string& internalName, const std::string& parentId, const std::string& name,
                const Clock& clock);
// Writes `file` as one row of `files`, every column in table order.
bool insertRow(OVDatabase& database, const OVFile& file);

// The planner's plan for `sql` on the file at `path`, as EXPLAIN QUERY PLAN
// gives it: one detail text per step, e.g. "SEARCH files USING INDEX
// idx_parentId (parentId=?)". Parameters are left unbound.
std::vector<std::string> queryPlan(const std::filesystem::path& path, const std::string& sql);
// True when every step of the plan that reads `files` searches it through one
// of the named indexes (no full scan, no other index).
bool planSearchesFilesThrough(const std::vector<std::string>& plan, const std::vector<std::string>& indexes);

} // namespace orvex::test
