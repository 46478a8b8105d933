#include "OVApplicationDelegate.h"

#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseUtils.h"
#include "Drive/OVMountController.h"
#include "Network/HttpClient.h"
#include "Network/OVDeviceIdentity.h"
#include "Network/OVNetworkStatus.h"
#include "OVLogger.h"
#include "Platform/OVInstanceGuard.h"
#include "Platform/OVUrlHandoff.h"
#include "Store/OVDatabase.h"
#include "Store/OVFatalExit.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/OVMetadataStorage.h"
#include "Transfers/OVUploadQueue.h"
#include "UI/OVLocalization.h"

namespace orvex {

std::string fillPlaceholders(std::string text, std::initializer_list<std::string> values) {
  std::size_t from = 0;
  for (const std::string& value : values) {
    std::size_t at = text.find('%', from);
    while (at != std::string::npos && at + 1 < text.size() && text[at + 1] != '@' && text[at + 1] != 'd')
      at = text.find('%', at + 1);
    if (at == std::string::npos || at + 1 >= text.size())
      break;
    text.replace(at, 2, value);
    from = at + value.size(); // a value holding "%@" is not filled in again
  }
  return text;
}

OVApplicationDelegate::OVApplicationDelegate(BrandFile brand, MainQueue& main, OVUserAlerts& alerts, OVBrowser& browser,
                                             OVDesktopNotices& notices, OVApplicationOptions options)
    : brand_(std::move(brand)),
      main_(main),
      alerts_(alerts),
      browser_(browser),
      notices_(notices),
      options_(std::move(options)),
      finderChannel_(std::make_unique<OVNoFinderPlugin>()) {}

OVApplicationDelegate::~OVApplicationDelegate() {
  // Users before what they use: the drive, then the connector and the
  // queues, which ask the login for tokens, then the login itself. The store
  // forgets its collaborators before they go.
  backgroundQueue_.sync([] {});
  cacheQueue_.sync([] {});
  if (database_)
    database_->setPathChangeListener(nullptr);
  mount_.reset();
  handoff_.reset();
  drive_.reset();
  connector_.reset();
  if (database_) {
    database_->setFinderRefresher(nullptr);
    database_->setOpenFileBookkeeping(nullptr);
    database_->setDownloadTracker(nullptr);
    database_->setUploadTracker(nullptr);
    database_->setUserEmail(nullptr);
    database_->setLockAvailableForShare(nullptr);
  }
  downloadControl_.reset();
  downloadQueue_.reset();
  uploadQueue_.reset();
  bearer_.reset();
  auth_.reset();
}

std::string OVApplicationDelegate::mountPath() const {
  auto home = homeDir(options_.env);
  return OVFuseUtils::mountPath(settings_->mountPathOverride(), home ? home->string() : "/", appTitle());
}

std::string OVApplicationDelegate::loggedUserEmail() {
  return getLoggedUserEmail();
}

bool OVApplicationDelegate::lockAvailableForShare(const ManagedSharePtr& share) {
  return !connector_ || connector_->lockAvailableForShare(share);
}

void OVApplicationDelegate::showAlert(const std::string& message, const std::string& informative,
                                      std::vector<std::string> buttons) {
  OVAlert alert;
  alert.messageText = message;
  alert.informativeText = informative;
  alert.buttons = std::move(buttons);
  alerts_.runModal(alert);
}

} // namespace orvex
