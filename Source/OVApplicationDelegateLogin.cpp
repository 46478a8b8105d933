#include "Drive/OVMountController.h"
#include "OVApplicationDelegate.h"
#include "OVLogger.h"
#include "Platform/OVDesktopNotices.h"
#include "Platform/SettingsFile.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Sync/Connector/OVConnector.h"
#include "Transfers/OVUploadQueue.h"
#include "UI/OVLocalization.h"

namespace orvex {

void OVApplicationDelegate::loginPerformed() {
  cacheQueue_.sync([] {}); // the shares of this login go into the reloaded store
  connector_->getFullProfileForAllDomains();
  if (!quitting_ && observing_)
    mount_->initializeFuse();
}

void OVApplicationDelegate::logoutPerformed() {
  stopFuse();
  clearCaches();
  resetUserDefaults();
  connector_->logout();
}

void OVApplicationDelegate::stopFuse() {
  if (mount_)
    mount_->stopFuse();
}

void OVApplicationDelegate::setLoginMenuTitle(const std::string& /*title*/) {
  // No menu without a desktop.
}

void OVApplicationDelegate::showPreferences() {
  // No preferences window without a desktop.
}

void OVApplicationDelegate::openStatusMenu() {
  // After a logout the login is offered again right away: there is no menu
  // to offer it in. One already on offer stays valid: a second address would
  // make the first fail.
  if (isFinishedInitialization_ && !quitting_ && !auth_->isLoginInFlight())
    askForLogin();
}

bool OVApplicationDelegate::hasUploads() {
  return uploadQueue_ && uploadQueue_->hasUploads();
}

void OVApplicationDelegate::askForLogin() {
  // Without the preferences window and its login button, the login starts
  // at once: in the browser, or headless as an address printed to open.
  auth_->performAuth();
}

std::string OVApplicationDelegate::getLoggedUserEmail() const {
  return auth_ ? auth_->getLoggedUserEmail() : std::string();
}

void OVApplicationDelegate::resetUserDefaults() {
  settings_->resetUserDefaults();
  settingsFile_->synchronize();
}

void OVApplicationDelegate::clearCaches() {
  cacheQueue_.sync([] {});
  database_->clear();
  cacheQueue_.async([this] {
    OVClose();
    std::vector<std::filesystem::path> folders = {fileCache_->filesCachePath(), fileCache_->downloadsCachePath()};
    // A beta build keeps its logs across logouts for its testers' reports.
    if (appTitle() != "OrvexBeta")
      folders.push_back(fileCache_->logsPath());
    for (const auto& folder : folders) {
      std::error_code error;
      std::filesystem::remove_all(folder, error);
    }
    fileCache_->initCachePathes();
    OVOpenLogs();
    database_->load(false);
  });
}

void OVApplicationDelegate::driveDidMount() {
  if (observing_)
    notices_.post("com.orvex.drive-mounted");
}

void OVApplicationDelegate::driveDidUnmount() {
  if (observing_)
    notices_.post("com.orvex.drive-unmounted");
}

void OVApplicationDelegate::driveMountDidFail(int code) {
  if (!observing_)
    return;
  showAlert(OVLocalizedString("Unable to mount drive"),
            fillPlaceholders("%@ (%@)",
                             {OVLocalizedString("Error : mounting of the file system failed."), std::to_string(code)}),
            {OVLocalizedString("Ok")});
  exitStatus_ = kExitMountFailed;
  terminate();
}

} // namespace orvex
