#include "DatabaseTestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

namespace orvex::test {

namespace {

template <class Predicate>
ManagedSharePtr findShare(const std::vector<ManagedSharePtr>& shares, Predicate matches) {
  auto found =
      std::find_if(shares.begin(), shares.end(), [&](const ManagedSharePtr& share) { return matches(*share); });
  return found == shares.end() ? nullptr : *found;
}

} // namespace

void FakeShareStore::addShare(ManagedShare share) {
  std::lock_guard lock(mutex_);
  shares_.push_back(std::make_shared<const ManagedShare>(std::move(share)));
}

void FakeShareStore::clear() {
  std::lock_guard lock(mutex_);
  shares_.clear();
  ++clears;
}

bool FakeShareStore::storageEmpty() const {
  std::lock_guard lock(mutex_);
  return shares_.empty();
}

std::vector<ManagedSharePtr> FakeShareStore::shares() const {
  std::lock_guard lock(mutex_);
  return shares_;
}

ManagedSharePtr FakeShareStore::shareWithId(std::string_view shareId) const {
  std::lock_guard lock(mutex_);
  return findShare(shares_, [&](const ManagedShare& share) { return share.ShareId == shareId; });
}

ManagedSharePtr FakeShareStore::shareWithPath(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return findShare(shares_,
                   [&](const ManagedShare& share) { return share.DisplayName && "/" + *share.DisplayName == path; });
}

ManagedSharePtr FakeShareStore::shareWithFilePath(std::string_view path) const {
  auto end = path.find('/', 1);
  return shareWithPath(path.substr(0, end));
}

ManagedSharePtr FakeShareStore::shareWithInternalName(std::string_view internalName) const {
  std::lock_guard lock(mutex_);
  return findShare(shares_, [&](const ManagedShare& share) { return share.InternalName == internalName; });
}

std::vector<ManagedSharePtr> FakeShareStore::subfolderSharesForShareId(std::string_view shareId) const {
  std::lock_guard lock(mutex_);
  std::vector<ManagedSharePtr> result;
  for (const auto& share : shares_) {
    if (share->isSubfolderShare() && share->ParentShareId == shareId) {
      result.push_back(share);
    }
  }
  return result;
}

void FakeShareStore::updateSharesForDomain(const ClientLoginResponse& /*profile*/, const std::string& /*domain*/) {}

bool FakeShareStore::renameShare(const ManagedShare& /*share*/, const std::string& /*newName*/) {
  return false;
}

void FakeShareStore::deleteShareData(const ManagedShare& share) {
  std::lock_guard lock(mutex_);
  std::erase_if(shares_, [&](const ManagedSharePtr& known) { return known->ShareId == share.ShareId; });
}

void FakeShareStore::deleteDomainShares(const std::vector<std::string>& /*domains*/) {}

bool FakeShareStore::changeShare(std::string_view shareId, const std::function<void(ManagedShare&)>& change) {
  std::lock_guard lock(mutex_);
  for (auto& share : shares_) {
    if (share->ShareId == shareId) {
      auto changed = std::make_shared<ManagedShare>(*share);
      change(*changed);
      share = std::move(changed);
      return true;
    }
  }
  return false;
}

bool FakeShareStore::setLastApplyedJournalTick(std::string_view shareId, std::int32_t tick) {
  return changeShare(shareId, [&](ManagedShare& share) { share.LastApplyedJournalTick = tick; });
}

bool FakeShareStore::setModificationDate(std::string_view shareId, OVDate date) {
  return changeShare(shareId, [&](ManagedShare& share) { share.ModificationDate = date; });
}

std::string FakeShareStore::globalLoginResponce() const {
  std::lock_guard lock(mutex_);
  return globalLoginResponce_;
}

void FakeShareStore::setGlobalLoginResponce(const std::string& value) {
  std::lock_guard lock(mutex_);
  globalLoginResponce_ = value;
}

void FakeCacheEraser::deleteFileCache(const OVFile& file) {
  std::lock_guard lock(mutex_);
  caches_.push_back(file.internalName);
}

void FakeCacheEraser::deleteFileDownload(const OVFile& file) {
  std::lock_guard lock(mutex_);
  downloads_.push_back(file.internalName);
}

std::vector<std::string> FakeCacheEraser::deletedCaches() const {
  std::lock_guard lock(mutex_);
  return caches_;
}

std::vector<std::string> FakeCacheEraser::deletedDownloads() const {
  std::lock_guard lock(mutex_);
  return downloads_;
}

DatabaseHarness::DatabaseHarness() {
  reopen();
}

DatabaseHarness::~DatabaseHarness() {
  database.reset();
}

void DatabaseHarness::reopen() {
  database.reset();
  database = std::make_unique<OVDatabase>(fileCache, shareStore, cacheEraser, "2.0.1", clock);
}

OVFile makeFile(const std::string& internalName, const std::string& parentId, const std::string& name,
                const Clock& clock) {
  OVFile file(clock);
  file.internalName = internalName;
  file.parentId = parentId;
  file.publicName = name;
  file.shareId = "S1";
  return file;
}

bool insertRow(OVDatabase& database, const OVFile& file) {
  return database.doUpdateQuery(
      "INSERT INTO files VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {file.publicName, file.shareId,      file.uploadName, file.internalName, file.parentId,
       file.user,       file.fileHash,     file.tick,       file.shareTick,    file.updateTick,
       file.createTick, file.fileSize,     file.createTime, file.accessTime,   file.modifyTime,
       file.attributes, file.permissions,  file.deleted,    file.isFile,       file.status,
       file.isLocked,   file.lockDeviceId, file.lockTick,   file.lockedBy,     file.parentShareId});
}

std::vector<std::string> queryPlan(const std::filesystem::path& path, const std::string& sql) {
  std::vector<std::string> plan;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << path;
    return plan;
  }
  sqlite3_stmt* stmt = nullptr;
  std::string explain = "EXPLAIN QUERY PLAN " + sql;
  if (sqlite3_prepare_v2(db, explain.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot prepare " << sql << ": " << sqlite3_errmsg(db);
  }
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    plan.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return plan;
}

bool planSearchesFilesThrough(const std::vector<std::string>& plan, const std::vector<std::string>& indexes) {
  bool readsFiles = false;
  for (const auto& step : plan) {
    if (step.find(" files") == std::string::npos) {
      continue;
    }
    readsFiles = true;
    bool viaNamedIndex = std::any_of(indexes.begin(), indexes.end(), [&](const std::string& index) {
      return step.rfind("SEARCH files USING INDEX " + index + " ", 0) == 0 ||
             step.rfind("SEARCH files USING COVERING INDEX " + index + " ", 0) == 0;
    });
    if (!viaNamedIndex) {
      return false;
    }
  }
  return readsFiles;
}

} // namespace orvex::test
