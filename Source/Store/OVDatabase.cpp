// OVDatabase: construction, loading and unloading, and the shutdown state.
// The query engine is in OVDatabaseEngine.cpp, the table operations in
// OVDatabaseTables.cpp, the tree queries in OVDatabaseTree.cpp.
#include "Store/OVDatabase.h"

#include "OVLogger.h"
#include "Store/OVDatabaseConstants.h"
#include "Store/OVDatabaseOpener.h"
#include "Store/OVFatalExit.h"
#include "Store/OVFileCache.h"

#include <algorithm>

namespace orvex {

namespace {

// The temporary-files share is always there; it does not make the store worth saving.
bool knowsRealShares(const OVShareStore& shareStore) {
  const auto shares = shareStore.shares();
  return std::any_of(shares.begin(), shares.end(),
                     [](const ManagedSharePtr& share) { return share && share->ShareId != kTempShareId; });
}

constexpr const char* kDatabaseThreadLabel = "com.orvex.clouddrive-osx.databaseThread";

// The folder may have gone since the file cache created it; without it the
// store can keep nothing, so the process stops.
std::filesystem::path prepareDatabasePath(const OVFileCache& fileCache) {
  if (auto failure = OVFileCache::prepareFolder(fileCache.metadataPath())) {
    exitWithFatalError(kExitStorageFolderUnusable, *failure);
  }
  return fileCache.metadataPath() / "files.db";
}

} // namespace

void OVMarkerMap::set(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  entries_[key] = value;
}

std::optional<std::string> OVMarkerMap::get(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    return std::nullopt;
  }
  return found->second;
}

void OVMarkerMap::erase(const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

OVDatabase::OVDatabase(const OVFileCache& fileCache, OVShareStore& shareStore, OVCacheEraser& cacheEraser,
                       std::string appVersion, Clock& clock)
    : shareStore_(shareStore),
      cacheEraser_(cacheEraser),
      appVersion_(std::move(appVersion)),
      clock_(clock),
      databasePath_(prepareDatabasePath(fileCache)),
      databaseQueue_(kDatabaseThreadLabel, clock) {
  deleteAllTempFiles();
}

OVDatabase::~OVDatabase() {
  if (loaded_) {
    unload();
  } else {
    databaseQueue_.sync([this] { connection_.reset(); });
  }
}

void OVDatabase::setMigrationCheck(std::function<void()> check) {
  migrationCheck_ = std::move(check);
}

void OVDatabase::load(bool firstRun) {
  if (loaded_) {
    OVLog(kLogMain, "Warning! Attempting to load database while it is already loaded.");
    return;
  }
  OVDatabaseOpener opener(databasePath_, appVersion_, clock_);
  if (opener.databaseMissing()) {
    if (migrationCheck_) {
      migrationCheck_();
    }
    opener.createDatabase();
  }
  loaded_ = true;
  const bool currentSchema = opener.openAndCheckDatabase();
  databaseQueue_.sync([&] { statistics_.setEnabled(currentSchema); });
  if (!firstRun) {
    shareStore_.load();
  }
  isEmpty_ = !knowsRealShares(shareStore_);
}

void OVDatabase::unload() {
  loaded_ = false;
  databaseQueue_.sync([this] {
    if (connection_) {
      // What this session changed in the tables helps the next one plan.
      statistics_.refreshIfEnabled(*connection_);
      connection_.reset();
    }
  });
  shareStore_.save();
}

void OVDatabase::clear() {
  shareStore_.clear();
  unload();
  std::error_code error;
  std::filesystem::remove(databasePath_, error);
  if (error) {
    OVLog(kLogMain, "Warning! Cannot remove database file {} : error {}", databasePath_.string(), error.message());
  }
}

void OVDatabase::blockShutdown() {
  std::lock_guard lock(monitor_);
  ++shutdownBlocks_;
}

void OVDatabase::unblockShutdown() {
  std::lock_guard lock(monitor_);
  --shutdownBlocks_;
}

bool OVDatabase::shutdownBlocked() const {
  std::lock_guard lock(monitor_);
  return shutdownBlocks_ > 0;
}

void OVDatabase::beginTermination() {
  std::lock_guard lock(monitor_);
  terminating_ = true;
}

bool OVDatabase::terminating() const {
  std::lock_guard lock(monitor_);
  return terminating_;
}

void OVDatabase::updateShares(const ClientLoginResponse& profile, const std::string& domain) {
  std::vector<std::string> shown = sharePaths();
  shareStore_.updateSharesForDomain(profile, domain);
  if (knowsRealShares(shareStore_)) {
    isEmpty_ = false;
  }
  reportShareChange(std::move(shown));
}

std::vector<std::string> OVDatabase::sharePaths() {
  std::vector<std::string> paths;
  for (const ManagedSharePtr& share : shares())
    paths.push_back("/" + share->DisplayName.value_or(""));
  return paths;
}

void OVDatabase::reportShareChange(std::vector<std::string> pathsBefore) {
  OVPathChangeListener& listener = pathChangeListener();
  if (&listener == &noMountedDrive_)
    return;
  // A handful of paths: every share folder before and after, and the root.
  std::vector<std::string> after = sharePaths();
  pathsBefore.insert(pathsBefore.end(), after.begin(), after.end());
  pathsBefore.emplace_back("/");
  listener.pathsChanged(std::move(pathsBefore));
}

} // namespace orvex
