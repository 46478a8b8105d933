// OVDatabase: the downloads, uploads and offline-folder tables, the
// pending-upload queries and the cached total size.
#include "OVLogger.h"
#include "Store/OVCacheEraser.h"
#include "Store/OVDatabase.h"
#include "Store/OVDatabaseConstants.h"

#include <chrono>
#include <set>

namespace orvex {

namespace {

constexpr std::int64_t kDownloadComplete = 2;
constexpr std::int64_t kUploadsPageSize = 20;
constexpr auto kTotalSizeLifetime = std::chrono::seconds(10);

} // namespace

void OVDatabase::deleteAllTempFiles() {
  doUpdateQuery("DELETE FROM files WHERE shareId = ?", {kTempShareId});
}

void OVDatabase::markFileDownloaded(const OVFile& file) {
  const OVDate now{clock_.wallNow()};
  doUpdateQuery("DELETE FROM downloads WHERE internalName = ?", {file.internalName});
  doUpdateQuery("INSERT INTO downloads (internalName, downloadTime, lastReadTime, downloadStatus) VALUES(?, ?, ?, ?)",
                {file.internalName, now, now, kDownloadComplete});
}

void OVDatabase::deleteFileDownload(const OVFile& file) {
  doUpdateQuery("DELETE FROM downloads WHERE internalName = ?", {file.internalName});
  cacheEraser_.deleteFileDownload(file);
}

// Contents kept offline and contents with local changes not yet uploaded stay;
// the bookkeeping rows of every expired download go.
void OVDatabase::deleteDownloadsOlderThen(OVDate cutoff) {
  auto expired =
      queryStrings("SELECT internalName FROM downloads WHERE downloadTime < ? AND downloadStatus = 2", {cutoff});
  for (const auto& id : expired.value_or(std::vector<std::string>{})) {
    if (itemSynchronized(id, true)) {
      continue;
    }
    auto file = fileWithId(id, false);
    if (file && file->status == kFileStatusSynchronized) {
      OVLog(kLogMain, "File download {} appears to be expired - deleting.", file->publicName);
      cacheEraser_.deleteFileCache(*file);
    }
  }
  doUpdateQuery("DELETE FROM downloads WHERE downloadTime < ? AND downloadStatus = 2", {cutoff});
}

void OVDatabase::updateUploadStatus(const OVFileUploadStatus& status) {
  doUpdateQuery("DELETE FROM uploads WHERE internalName = ?", {status.internalName});
  SqlValue token = status.token ? SqlValue(*status.token) : SqlValue(nullptr);
  doUpdateQuery(
      "INSERT INTO uploads (internalName, tick, startTime, finishTime, progress, fileHash, uploadName, token) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
      {status.internalName, status.tick, status.startTime, status.finishTime, status.progress, status.fileHash,
       status.uploadName, token});
}

std::optional<OVFileUploadStatus> OVDatabase::uploadStatusForFile(const OVFile& file) {
  return queryUpload("SELECT * FROM uploads WHERE internalName = ? LIMIT 0, 1", {file.internalName});
}

void OVDatabase::deleteUploadStatusForFile(const OVFile& file) {
  doUpdateQuery("DELETE FROM uploads WHERE internalName = ?", {file.internalName});
}

void OVDatabase::markItemSynchronized(const std::string& itemId, bool synced) {
  doUpdateQuery("DELETE FROM syncedfolders WHERE itemId = ?", {itemId});
  if (synced) {
    doUpdateQuery("INSERT INTO syncedfolders (itemId, changeTime) VALUES (?, ?)", {itemId, OVDate{clock_.wallNow()}});
  }
}

bool OVDatabase::shareSynchronized(const std::string& itemId) {
  return queryLong("SELECT COUNT(*) FROM syncedfolders WHERE itemId = ?", {itemId}).value_or(0) > 0;
}

std::vector<std::string> OVDatabase::syncedFolders() {
  return queryStrings("SELECT itemId FROM syncedfolders").value_or(std::vector<std::string>{});
}

// Walks up through the parents when asked to. Parent links come from the
// server: a cycle among them ends the walk instead of looping.
bool OVDatabase::itemSynchronized(const std::string& itemId, bool recurse) {
  std::set<std::string> visited;
  std::string current = itemId;
  while (!current.empty() && visited.insert(current).second) {
    if (shareSynchronized(current)) {
      return true;
    }
    if (!recurse) {
      return false;
    }
    auto parent =
        queryString("SELECT parentId FROM files WHERE internalName = ? AND status != 5 LIMIT 0, 1", {current});
    if (!parent) {
      return false;
    }
    current = *parent;
  }
  return false;
}

std::int64_t OVDatabase::uploadsNumber() {
  fixFileStatus();
  return queryLong("SELECT COUNT(*) FROM files WHERE status = 2 OR status = 1").value_or(0);
}

std::int64_t OVDatabase::uploadsSize() {
  fixFileStatus();
  return queryLong("SELECT SUM(fileSize) FROM files WHERE status = 2 OR status = 1").value_or(0);
}

// Finder's folder-view files never travel: whatever state they got, they are ignored.
void OVDatabase::fixFileStatus() {
  doUpdateQuery("UPDATE files SET status = 6 WHERE publicName = ?", {".DS_Store"});
}

std::vector<OVFile> OVDatabase::uploadsFromIndex(std::int64_t startIndex) {
  return queryFiles(
             "SELECT * FROM files WHERE status = 1 OR status = 2 OR status = 3 ORDER BY deleted DESC, status DESC "
             "LIMIT ?, ?",
             {startIndex, kUploadsPageSize})
      .value_or(std::vector<OVFile>{});
}

std::vector<std::string> OVDatabase::foldersWithUploads() {
  return queryStrings("SELECT DISTINCT parentId FROM files WHERE status == 1 OR status == 2")
      .value_or(std::vector<std::string>{});
}

std::int64_t OVDatabase::totalFileSize() {
  std::lock_guard lock(totalSizeMutex_);
  const auto now = clock_.steadyNow();
  if (!totalSizeTime_ || now - *totalSizeTime_ > kTotalSizeLifetime) {
    totalSize_ = queryLong("SELECT SUM(fileSize) FROM files WHERE status != 5").value_or(0);
    totalSizeTime_ = now;
  }
  return totalSize_;
}

} // namespace orvex
