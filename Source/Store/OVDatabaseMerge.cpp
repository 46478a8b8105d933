// OVDatabase: applying the server's records. Catch-up pages, real-time events
// and the records returned after uploads all end in the merge, which applies
// a record to a node without pending local changes (replacing its row by
// delete and insert) and leaves a node with pending changes alone until its
// upload is done; the server's record then drops the node's shadow.
#include "OVLogger.h"
#include "Store/OVCacheEraser.h"
#include "Store/OVDatabase.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/JournalRecords.h"
#include "Sync/RealTimeRecords.h"

#include <cmath>

namespace orvex {
namespace {

// Larger batches are applied in one exclusive transaction: one disk commit for
// a whole catch-up page.
constexpr std::size_t kLargestBatchWithoutTransaction = 2;

// Times from the server carry milliseconds and local ones nanoseconds, so a
// content is the same when its times agree in whole seconds (truncated).
std::int64_t wholeSeconds(OVDate date) {
  const double seconds = secondsSince1970(date);
  if (!(std::fabs(seconds) < 9.0e18)) {
    return 0; // not a time at all (a damaged row); never convert out of range
  }
  return static_cast<std::int64_t>(seconds);
}

bool isMissing(const std::optional<std::string>& value) {
  return !value || value->empty();
}

std::string orNull(const std::optional<std::string>& value) {
  return value.value_or("(null)");
}

bool hasPendingChange(const OVFile& file) {
  return file.status == kFileStatusModified || file.status == kFileStatusChanged;
}

// Nodes of a folder share are stored under the folder share, with the
// containing share as their parent share; the server names the share's top
// folder by the share's id, the store by the shared folder's id.
void rewriteForFolderShare(OVVirtualFile& record, const ManagedShare& share) {
  record.ParentShareId = share.ParentShareId;
  record.ShareId = share.ShareId;
  if (record.ParrentId && record.ParrentId == share.ShareId) {
    record.ParrentId = share.InternalName;
  }
}

// Keeps the application from unloading the store while a batch is applied.
class ShutdownBlock {
 public:
  explicit ShutdownBlock(OVDatabase& database) : database_(database) { database_.blockShutdown(); }
  ~ShutdownBlock() { database_.unblockShutdown(); }
  ShutdownBlock(const ShutdownBlock&) = delete;
  ShutdownBlock& operator=(const ShutdownBlock&) = delete;

 private:
  OVDatabase& database_;
};

// The exclusive transaction of a large batch; committed also when some of its
// statements failed (what did apply stays applied).
class BatchTransaction {
 public:
  BatchTransaction(OVDatabase& database, bool wanted) : database_(database), active_(wanted) {
    if (active_) {
      database_.doBeginTransaction();
    }
  }
  ~BatchTransaction() {
    if (active_) {
      database_.doCommitTransaction();
    }
  }
  BatchTransaction(const BatchTransaction&) = delete;
  BatchTransaction& operator=(const BatchTransaction&) = delete;

 private:
  OVDatabase& database_;
  const bool active_;
};

} // namespace

// ---- Catch-up pages and single events ----------------------------------------

void OVDatabase::updateFilesForShare(const OSXCatchUpResponse& response, const ManagedShare& share) {
  std::vector<OVVirtualFile> files = response.OvVirtualFiles.value_or(std::vector<OVVirtualFile>{});
  const std::string shareId = share.ShareId.value_or("");
  if (share.LastApplyedJournalTick != response.LargestTick) {
    OVLog(kLogMain, "Updating share {} from tick {} to tick {}. Files in update {}.", share.DisplayName.value_or(""),
          share.LastApplyedJournalTick, response.LargestTick, files.size());
  }
  if (share.isSubfolderShare()) {
    for (OVVirtualFile& record : files) {
      rewriteForFolderShare(record, share);
    }
  }
  updateFilesInShare(files, share);
  if (!files.empty()) {
    shareStore_.setModificationDate(shareId, OVDate{clock_.wallNow()});
  }
  shareStore_.setLastApplyedJournalTick(shareId, response.LargestTick);
  shareStore_.saveDelayed();
}

void OVDatabase::updateFile(const ClientJournalEvent& event) {
  applyJournalRecord(event.OvVirtualFile, event.ShareTick);
  shareStore_.saveDelayedAndRecheckAutomaticDownloadsWhenDone();
}

void OVDatabase::updateFileNew(const OVNewAPIJournalEvent& event) {
  applyJournalRecord(event.OvVirtualFile, event.ShareTick);
  shareStore_.saveDelayed();
}

void OVDatabase::applyJournalRecord(const std::optional<OVVirtualFile>& received, std::int32_t shareTick) {
  if (!received) {
    OVLog(kLogMain, "Warning! Journal event without a file record. Ignoring it.");
    return;
  }
  OVVirtualFile record = *received;
  ManagedSharePtr share = shareWithId(record.ShareId.value_or(""));
  if (!share) {
    share = shareForFile(OVFile(record));
  }
  if (!share) {
    return;
  }
  if (share->isSubfolderShare()) {
    rewriteForFolderShare(record, *share);
  }
  updateFilesInShare({record}, *share);
  const std::string shareId = share->ShareId.value_or("");
  shareStore_.setModificationDate(shareId, OVDate{clock_.wallNow()});
  shareStore_.setLastApplyedJournalTick(shareId, shareTick);
}

// ---- The merge ------------------------------------------------------------------

void OVDatabase::updateFilesInShare(const std::vector<OVVirtualFile>& files, const ManagedShare& /*share*/) {
  MergeEffects effects;
  ShutdownBlock block(*this);
  {
    BatchTransaction transaction(*this, files.size() > kLargestBatchWithoutTransaction);
    for (const OVVirtualFile& record : files) {
      mergeRecord(record, effects);
    }
  }
  reportChangedPaths(effects);
  if (!effects.refresh.empty()) {
    finderRefresher().refreshFinderFolders(effects.refresh);
  }
}

void OVDatabase::reportChangedPaths(const MergeEffects& effects) {
  OVPathChangeListener& listener = pathChangeListener();
  if (effects.names.empty() || &listener == &noMountedDrive_)
    return;
  // Changes come in folders (a catch-up page, a folder's content): each
  // folder's paths are looked up once, not once for each of its entries.
  std::vector<std::string> paths;
  const std::string* folderId = nullptr; // names are sorted by folder
  std::vector<std::string> folderPaths;
  for (const auto& [parentId, name] : effects.names) {
    if (folderId == nullptr || parentId != *folderId) {
      folderId = &parentId;
      folderPaths = folderDrivePaths(parentId);
      paths.insert(paths.end(), folderPaths.begin(), folderPaths.end());
    }
    for (const std::string& folder : folderPaths) {
      std::string& path = paths.emplace_back(folder);
      path += '/';
      path += name;
    }
  }
  if (!paths.empty())
    listener.pathsChanged(std::move(paths));
}

void OVDatabase::mergeRecord(const OVVirtualFile& record, MergeEffects& effects) {
  // The row being sent is what the server will answer; an older record must
  // not replace it meanwhile.
  if (record.InternalName && uploadTracker().existsOperationOnFileWithInternalName(*record.InternalName)) {
    return;
  }
  if (isMissing(record.InternalName) || isMissing(record.ParrentId)) {
    OVLog(kLogMain, "Warning! No internal name or parent id for the file {} ({}, {}). Ignoring it.",
          orNull(record.PublicName), orNull(record.InternalName), orNull(record.ParrentId));
    return;
  }
  auto local = fileWithId(*record.InternalName, false);
  clearCacheForId(*record.InternalName);
  if (record.Deleted) {
    mergeDeletedRecord(record, local, effects);
  } else if (!local) {
    mergeNewRecord(record, effects);
  } else {
    mergeKnownRecord(record, std::move(*local), effects);
  }
}

void OVDatabase::mergeDeletedRecord(const OVVirtualFile& record, const std::optional<OVFile>& local,
                                    MergeEffects& effects) {
  const std::string& id = *record.InternalName;
  effects.refresh.insert(*record.ParrentId);
  if (!record.IsFile) {
    effects.refresh.erase(id); // the folder itself is gone: nothing to show in it
  }
  if (local) {
    effects.changed(local->parentId, local->publicName);
  }
  if (!local) {
    deleteFile(id);
    return;
  }
  // A changed document is worth more than the remote deletion: its upload
  // brings it back on the server. A folder goes whatever its state.
  if (local->isFile && hasPendingChange(*local) && !local->deleted) {
    OVLog(kLogMain, "File {} was deleted remotely, but was not uploaded yet. Will leave our copy until upload.",
          local->publicName);
    return;
  }
  OVLog(kLogMain, "updateFile: deleting {}", record.PublicName.value_or(""));
  if (local->isFile) {
    deleteFileDownload(*local);
    cacheEraser_.deleteFileCache(*local);
  }
  deleteFile(id);
}

void OVDatabase::mergeNewRecord(const OVVirtualFile& record, MergeEffects& effects) {
  const OVFile remote(record);
  addFile(remote, kFileStatusSynchronized);
  if (fileWithId(remote.internalName, true)) {
    deleteFileShadow(remote.internalName);
  } else if (auto first = fileWithId(remote.internalName, false); first && first->tick < remote.tick) {
    deleteFile(remote.internalName, first->tick); // an older row another writer left
  }
  effects.refresh.insert(remote.parentId);
  effects.changed(remote.parentId, remote.publicName);
}

void OVDatabase::mergeKnownRecord(const OVVirtualFile& record, OVFile local, MergeEffects& effects) {
  OVFile remote(record);
  ManagedSharePtr enclosing = getSubshareForFile(remote);
  remote.shareId = enclosing ? enclosing->ShareId.value_or("") : record.ShareId.value_or("");
  effects.refresh.insert(local.parentId);
  effects.refresh.insert(remote.parentId);
  // A node inside a folder share also reaches us through the share holding
  // the folder; only the folder share's own records are applied.
  if (enclosing && enclosing->ShareId != record.ShareId) {
    return;
  }
  if (hasPendingChange(local)) {
    OVLog(kLogMain, "File {} was modified locally, but also updated remotely. Will leave our copy until upload.",
          local.publicName);
    return;
  }

  // The node's rows (its shadow included) are replaced by the server's below;
  // the share and lock fields only need to be right in `local` until then.
  local.parentShareId = record.ParentShareId.value_or("");
  if (local.isLocked != remote.isLocked) {
    local.isLocked = remote.isLocked;
    local.lockedBy = remote.lockedBy;
    local.lockTick = remote.lockTick;
    local.lockDeviceId = remote.lockDeviceId;
  }
  if (uploadTracker().uploadUnconfirmed(local) &&
      wholeSeconds(local.modifyTime) == wholeSeconds(record.LastWriteTime)) {
    uploadTracker().confirmUpload(local);
  }

  const bool contentChanged = local.isFile && wholeSeconds(local.modifyTime) != wholeSeconds(remote.modifyTime);
  if (contentChanged) {
    if (downloadTracker().isFileDownloaded(local)) {
      OVLog(kLogMain, "Deleting file {} download since it was updated remotely from tick {} to tick {}.",
            local.publicName, static_cast<std::int32_t>(local.tick), static_cast<std::int32_t>(remote.tick));
    }
    remote.permissions = local.permissions; // the user's mode bits outlive new content
  }
  deleteFile(local.internalName);
  addFile(remote, kFileStatusSynchronized);
  effects.changed(local.parentId, local.publicName);
  effects.changed(remote.parentId, remote.publicName);
  if (contentChanged) {
    cacheEraser_.deleteFileCache(local);
  }
}

} // namespace orvex
