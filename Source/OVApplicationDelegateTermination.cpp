#include "Drive/OVFuseMount.h"
#include "Drive/OVMountController.h"
#include "Drive/OVMountTable.h"
#include "OVApplicationDelegate.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "UI/OVLocalization.h"

#include <unistd.h>

#include <string.h>
#include <chrono>
#include <csignal>
#include <cstdlib>

namespace orvex {

void OVApplicationDelegate::terminate() {
  if (quitting_ || waitingForTermination_)
    return;
  switch (applicationShouldTerminate()) {
    case TerminateReply::Now:
      quit(exitStatus_);
      break;
    case TerminateReply::Later:
      waitingForTermination_ = true;
      break;
    case TerminateReply::Cancel:
      break;
  }
}

void OVApplicationDelegate::handleSignal(int signal) {
  OVLog(kLogMain, "Received signal {} ({}).", signal, sigabbrev_np(signal));
  terminate();
}

bool OVApplicationDelegate::noteTerminationSignal(int signal) {
  const bool earlier = terminationAsked_.exchange(true);
  return earlier && signal == SIGINT;
}

void OVApplicationDelegate::forceExit() {
  // The user insists: the drive goes, whatever the store still waits for.
  OVLog(kLogMain, "Terminating application : forced while shutdown is blocked.");
  std::string drivePath;
  {
    std::lock_guard lock(drivePathMutex_);
    drivePath = drivePath_;
  }
  // Lazily: FUSE's threads may be answering requests; they end with us.
  if (!drivePath.empty() && fuseMountDevice(drivePath)) {
    if (const int error = unmountDrive(drivePath, true))
      OVLog(kLogMain, "Failed to unmount drive : error {}", error);
  }
  OVLogger::shared().flush();
  std::_Exit(kExitForced);
}

OVApplicationDelegate::TerminateReply OVApplicationDelegate::applicationShouldTerminate() {
  OVLog(kLogMain, "{}", "-[OVApplicationDelegate applicationShouldTerminate:]");
  if (!isFinishedInitialization_) {
    OVLog(kLogMain, "Terminating application : right now, no initialization finished.");
    setCleanShutdown();
    return TerminateReply::Now;
  }
  if (!checkIfExitAllowed()) {
    OVLog(kLogMain, "Terminating application : canceled, no exit allowed.");
    terminationAsked_.store(false);
    return TerminateReply::Cancel;
  }
  terminationAsked_.store(true);
  database_->beginTermination();
  if (mount_->fuseInitialized())
    stopFuse();
  observing_ = false;
  if (database_->isEmpty()) {
    OVLog(kLogMain, "Terminating application : do not save database.");
  } else {
    database_->unload();
    OVLog(kLogMain, "Terminating application : saved database.");
  }
  if (database_->shutdownBlocked()) {
    OVLog(kLogMain, "Terminating application : shutdown is blocked, waiting.");
    main_.after(std::chrono::seconds(1), [this] { checkForTermination(); });
    return TerminateReply::Later;
  }
  OVLog(kLogMain, "Terminating application : now.");
  setCleanShutdown();
  return TerminateReply::Now;
}

void OVApplicationDelegate::checkForTermination() {
  if (quitting_)
    return;
  if (database_->shutdownBlocked()) {
    main_.after(std::chrono::seconds(1), [this] { checkForTermination(); });
    return;
  }
  OVLog(kLogMain, "Terminating application : shutdown no longer blocked, exiting.");
  setCleanShutdown();
  quit(exitStatus_);
}

bool OVApplicationDelegate::checkIfExitAllowed() {
  std::vector<pid_t> holders = processFiles_.processesUsing(mountPath(), ::getpid());
  if (holders.empty())
    return true;
  std::set<std::string> names;
  for (pid_t pid : holders)
    names.insert(processFiles_.processName(pid).value_or(std::to_string(pid)));
  std::string list;
  for (const std::string& name : names)
    list += (list.empty() ? "" : "\n") + name;
  OVAlert alert;
  alert.messageText = fillPlaceholders(OVLocalizedString("Exit %@?"), {appTitle()});
  alert.informativeText = fillPlaceholders(
      OVLocalizedString("The following applications still use the %@ : \n\n%@\n\nDo you really want to exit? This "
                        "can lead to potential data loss."),
      {appTitle(), list});
  alert.buttons = {OVLocalizedString("Exit"), OVLocalizedString("Cancel")};
  return alerts_.runModal(alert).button == 0;
}

void OVApplicationDelegate::setCleanShutdown() {
  OVLog(kLogMain, "Recording clean shutdown.");
  settings_->setCleanShutdown();
}

void OVApplicationDelegate::quit(int status) {
  quitting_ = true;
  options_.quit(status);
}

} // namespace orvex
