#include "Dispatch/NotificationCenter.h"
#include "Drive/OVFuseCallback.h"
#include "Drive/OVMountController.h"
#include "Network/HttpClient.h"
#include "Network/HttpClientOptions.h"
#include "Network/OVDeviceIdentity.h"
#include "Network/OVNetworkStatus.h"
#include "Network/OVNewAPI.h"
#include "OVApplicationDelegate.h"
#include "OVLogger.h"
#include "Platform/OVAutostartEntry.h"
#include "Platform/OVDesktopNotices.h"
#include "Platform/OVInstanceGuard.h"
#include "Platform/OVUrlHandoff.h"
#include "Platform/SystemLog.h"
#include "Store/OVDatabase.h"
#include "Store/OVFatalExit.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Store/OVMigration.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/OVMetadataStorage.h"
#include "Transfers/OVBearerSource.h"
#include "Transfers/OVUploadQueue.h"
#include "UI/OVLocalization.h"

#include <unistd.h>

namespace orvex {

void OVApplicationDelegate::init() {
  settingsFile_ = OVSettings::openSettingsFile(brand_, options_.env);
  if (!settingsFile_)
    exitWithFatalError(kExitStorageFolderUnusable, "Fatal : cannot create the settings folder.");
  settings_ = std::make_unique<OVSettings>(brand_, *settingsFile_);
  localization_ = std::make_unique<OVLocalization>(*settingsFile_, appTitle(), OVLocalization::defaultTableFolder(),
                                                   options_.env.variable);
  OVLocalization::setShared(localization_.get());
  localization_->setup();
}

void OVApplicationDelegate::applicationWillFinishLaunching() {
  // The URL events arrive over the control socket, which is opened once this
  // process is known to be the only instance (listenForURLs).
  settings_->readSwitches();
  isFinishedInitialization_ = false;
  createCacheAndOpenLogs();
  OVLog(kLogMain, "\n\n----------------------------------------------------\n\nStarting up {} version {}", appTitle(),
        fillPlaceholders("%@ (%@)", {brand_.shortVersion, brand_.bundleVersion}));
  settings_->setHasLaunchedBefore();
}

void OVApplicationDelegate::createCacheAndOpenLogs() {
  auto root = OVFileCache::defaultRootPath(appTitle(), options_.env);
  if (!root)
    exitWithFatalError(kExitStorageFolderUnusable, "Fatal : no folder for the application's data.");
  fileCache_ = std::make_unique<OVFileCache>(*root);
  OVInitLogs(fileCache_->logsPath());
}

void OVApplicationDelegate::applicationDidFinishLaunching() {
  migrate();
  // No launcher runs on this system: the autostart entry starts the program
  // itself, so there is nothing to ask to quit.
  if (!checkForRunningInstances())
    return;
  finishApplicationInitialization();
  // No store page is offered on this system; a brand may still name one.
}

void OVApplicationDelegate::migrate() {
  const std::string& current = brand_.shortVersion;
  auto last = settings_->lastMigratedVersion();
  SystemLog::syslog().report(
      fillPlaceholders("currentVersion: %@, lastMigratedVersion: %@", {current, last.value_or("")}));
  if (last == current) {
    SystemLog::syslog().report(fillPlaceholders("App already migrated to %@", {current}));
    return;
  }
  // A different recorded version keeps the choice already made: the entry
  // of this generation is what the user last set.
  if (!last)
    migrateLauncher();
  settings_->setLastMigratedVersion(current);
}

void OVApplicationDelegate::migrateLauncher() {
  if (settings_->runsOnStartupWasWritten())
    return;
  OVAutostartEntry entry(appTitle(), options_.programPath, options_.env);
  bool found = entry.exists();
  if (found)
    entry.set(false);
  setRunsOnStartup(found);
}

void OVApplicationDelegate::setRunsOnStartup(bool on) {
  OVAutostartEntry(appTitle(), options_.programPath, options_.env).set(on);
  settings_->setRunsOnStartup(on);
}

bool OVApplicationDelegate::checkForRunningInstances() {
  auto folder = runtimeDir(options_.env).value_or(fileCache_->rootCachePath());
  auto result = OVInstanceGuard::acquire(OVInstanceGuard::lockPath(folder, appTitle()), options_.programPath);
  if (!result.other) {
    instanceGuard_ = std::move(result.guard);
    return true;
  }
  showAlert(
      fillPlaceholders(OVLocalizedString("Cannot start %@"), {appTitle()}),
      fillPlaceholders(OVLocalizedString("Another instance of %@ is already running. Startup path : %@, pid = %d"),
                       {appTitle(), result.other->programPath, std::to_string(result.other->pid)}),
      {OVLocalizedString("Exit")});
  quit(kExitAnotherInstance);
  return false;
}

void OVApplicationDelegate::finishApplicationInitialization() {
  finderChannel_->start();
  // The file-manager plug-in is installed with the package and needs no
  // enabling; the HTTP client keeps no response cache; there is no updater.
  settings_->removeCleanShutdown();
  createStore();
  createLogin();
  createTransfers();
  createDrive();
  loadStore();
  listenForURLs();
  auth_->loadState();
  connector_->startup();
  isFinishedInitialization_ = true;
  notices_.post("com.orvex.clouddrive-started");
  if (!auth_->isLoggedIn())
    askForLogin();
}

void OVApplicationDelegate::createStore() {
  shareStore_ = std::make_unique<OVMetadataStorage>(*fileCache_, main_);
  shareStore_->setRootFolderChangedHandler([this] { refreshFinderRootFolder(); });
  fileCache_->setRefreshFileInFinder([this](const OVFile& file) { refreshFileInFinder(file); });
  cacheEraser_ = std::make_unique<OVFileCacheEraser>(*fileCache_);
  database_ = std::make_unique<OVDatabase>(*fileCache_, *shareStore_, *cacheEraser_, brand_.shortVersion);
  installMigrationCheck(*database_, *fileCache_, appTitle());
  database_->setFinderRefresher(this);
  database_->setUserEmail([this] { return getLoggedUserEmail(); });
}

void OVApplicationDelegate::createLogin() {
  http_ = std::make_unique<HttpClient>(HttpClientOptions::forDeployment(brand_.deployment, options_.env));
  network_ = std::make_unique<OVNetworkStatus>(
      std::make_unique<OVInternetProbe>(probeTargetFor(brand_.deployment, options_.env)));
  device_ = std::make_unique<OVDeviceIdentity>(DeviceIdSetting{
      [this] { return settings_->deviceId(); }, [this](const std::string& id) { settings_->setDeviceId(id); }});
  auth_ = std::make_unique<OVAuthorization>(
      OVAuthorizationConfig::fromBrand(brand_),
      OVAuthorizationParts{*settingsFile_, *http_, main_, alerts_, browser_, *this, *device_,
                           [this] { return network_->internetReachable(); }});
}

void OVApplicationDelegate::createTransfers() {
  api_ = std::make_unique<OVNewAPI>(brand_.deployment);
  notifications_ = std::make_unique<NotificationCenter>();
  bearer_ = std::make_unique<OVAuthorizationBearer>(*auth_);
  downloadQueue_ = std::make_unique<OVDownloadQueue>(
      OVDownloadQueueParts{*database_, *fileCache_, *http_, *api_, *bearer_, *notifications_, *settings_});
  downloadControl_ = std::make_unique<OVDownloadQueueAdapter>(*downloadQueue_);
  uploadQueue_ = std::make_unique<OVUploadQueue>(*database_, Clock::system());
  database_->setDownloadTracker(downloadQueue_.get());
  database_->setUploadTracker(uploadQueue_.get());
  shareStore_->setAutomaticDownloadsCheck([this] { downloadQueue_->checkAutomaticDownloads(); });
  OVConnectorParts parts{*http_, *api_, *auth_, *database_, main_, *device_, *network_};
  parts.downloads = downloadControl_.get();
  parts.realTimeDisabled = [this] { return settings_->disableSignalR(); };
  connector_ = std::make_unique<OVConnector>(std::move(parts));
  database_->setLockAvailableForShare([this](const ManagedSharePtr& share) { return lockAvailableForShare(share); });
}

void OVApplicationDelegate::createDrive() {
  drive_ = std::make_unique<OVFuseCallback>(*database_, *fileCache_, *downloadQueue_, *uploadQueue_, *this,
                                            *downloadQueue_, OVFuseCallback::Config{settings_->excessiveLogging()});
  database_->setOpenFileBookkeeping(&drive_->openFiles());
  {
    std::lock_guard lock(drivePathMutex_);
    drivePath_ = mountPath();
  }
  mount_ = std::make_unique<OVMountController>(
      *drive_, *this, main_,
      OVMountController::Config{appTitle(), mountPath(), settings_->noRootMount(), options_.programPath},
      OVMountFacts::probe(), SystemLog::syslog());
  // Merged changes reach the kernel's caches of the drive at once.
  database_->setPathChangeListener(&mount_->invalidator());
}

void OVApplicationDelegate::loadStore() {
  std::error_code error;
  if (!std::filesystem::exists(options_.firstRunMarker, error)) {
    database_->load(false);
    return;
  }
  OVLog(kLogMain, "First run after installation: discarding any saved login.");
  database_->load(true);
  if (auth_->isLoggedInFromUserDefaults())
    auth_->logoutFromAuth(true);
  resetUserDefaults();
  if (!std::filesystem::remove(options_.firstRunMarker, error) && error)
    OVLog(kLogMain, "Warning! Cannot delete {}: {}", options_.firstRunMarker.string(), error.message());
}

void OVApplicationDelegate::listenForURLs() {
  auto socket = OVUrlHandoff::socketPath(options_.env, appTitle());
  if (!socket) {
    OVLog(kLogMain, "Warning! No runtime folder: `--open-url` cannot reach this instance.");
    return;
  }
  handoff_ = OVUrlHandoff::listen(*socket, [this](std::string url) { handleGetURLEvent(std::move(url)); });
}

void OVApplicationDelegate::handleGetURLEvent(std::string url) {
  main_.async([this, url = std::move(url)] {
    if (auth_)
      auth_->handleGetURLEvent(url);
  });
}

} // namespace orvex
