// The process's conductor: starts the subsystems in their fixed order, keeps
// to one instance per title, mounts the drive after login and unmounts it at
// logout and exit, decides whether the program may quit and waits for the
// metadata store before it does, and offers the shell's services (settings,
// opening folders, nudging the file manager).
//
// Members are grouped by the file that implements them:
//   OVApplicationDelegate.cpp             construction, the services it offers
//   OVApplicationDelegateStartup.cpp      the start-up sequence
//   OVApplicationDelegateTermination.cpp  quitting, signals, the exit question
//   OVApplicationDelegateLogin.cpp        login, logout, caches, drive events
//   OVApplicationDelegateFinder.cpp       file-manager refresh, opening folders
#pragma once

#include "Dispatch/MainQueue.h"
#include "Dispatch/SerialQueue.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVMountListener.h"
#include "OVApplicationSeams.h"
#include "OVSettings.h"
#include "Platform/BrandFile.h"
#include "Platform/OVProcessFiles.h"
#include "Platform/XdgDirs.h"
#include "Store/OVFinderRefresher.h"
#include "Sync/Login/OVAuthorization.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace orvex {

class HttpClient;
class NotificationCenter;
class OVAuthorizationBearer;
class OVConnector;
class OVDownloadQueue;
class OVNewAPI;
class OVUploadQueue;
class OVDatabase;
class OVDesktopNotices;
class OVDeviceIdentity;
class OVFile;
class OVFileCache;
class OVFileCacheEraser;
class OVFuseCallback;
class OVInstanceGuard;
class OVLocalization;
class OVMetadataStorage;
class OVMountController;
class OVNetworkStatus;
class OVUrlHandoff;
class SettingsFile;

struct OVApplicationOptions {
  std::string programPath = "orvex"; // for FUSE, the autostart entry and the instance lock
  XdgEnvironment env = XdgEnvironment::process();
  // Left by the installer: the first start discards a saved login.
  std::filesystem::path firstRunMarker = "/tmp/OVFirstRun";
  // Ends the main loop with the process's exit status.
  std::function<void(int status)> quit;
};

// The exit statuses besides 0 and the store's own (10, 100).
inline constexpr int kExitAnotherInstance = 2;
inline constexpr int kExitMountFailed = 3;
inline constexpr int kExitForced = 4;

// Threads: every member runs on the main thread (the main queue's) unless its
// comment says otherwise. The subsystems are created during start-up and
// destroyed with the object, on the main thread, after the main loop ended.
// The refresh and folder work runs on backgroundQueue_, one job at a time;
// refreshLock_ serialises it against the database's own refresh calls. The
// store is cleared and reloaded on cacheQueue_, and the main thread waits for
// that queue before it clears again or logs in: a store being reloaded must
// not be cleared or merged into.
class OVApplicationDelegate final : public OVAuthorizationShell,
                                    public OVMountListener,
                                    public OVDriveAccount,
                                    public OVFinderRefresher {
 public:
  OVApplicationDelegate(BrandFile brand, MainQueue& main, OVUserAlerts& alerts, OVBrowser& browser,
                        OVDesktopNotices& notices, OVApplicationOptions options);
  ~OVApplicationDelegate() override;
  OVApplicationDelegate(const OVApplicationDelegate&) = delete;
  OVApplicationDelegate& operator=(const OVApplicationDelegate&) = delete;

  // ---- Start-up (OVApplicationDelegateStartup.cpp) ---------------------------
  void init();
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  // The address handed over by `orvex --open-url`; any thread.
  void handleGetURLEvent(std::string url);

  // ---- Termination (OVApplicationDelegateTermination.cpp) --------------------
  enum class TerminateReply { Now, Cancel, Later };
  // The Quit action: asks applicationShouldTerminate and ends the main loop when allowed.
  void terminate();
  TerminateReply applicationShouldTerminate();
  // SIGTERM, SIGINT, SIGHUP, delivered on the main thread.
  void handleSignal(int signal);
  // On the signal watcher's thread, before the signal goes to the main
  // thread: notes that an exit was asked for, and answers true for a SIGINT
  // that comes while an earlier exit is still under way (not refused).
  bool noteTerminationSignal(int signal);
  // On the signal watcher's thread, for that SIGINT: the main thread may be
  // the one waiting (for the store, whose merge blocks the shutdown, or for
  // the exit question), so the drive is detached and the process ends from
  // here. The store's transactions keep it consistent; an unfinished merge
  // is simply fetched again at the next start.
  [[noreturn]] void forceExit();
  bool checkIfExitAllowed();
  void setCleanShutdown();

  // ---- Login and logout (OVApplicationDelegateLogin.cpp) ---------------------
  void loginPerformed() override;
  void logoutPerformed() override;
  void setLoginMenuTitle(const std::string& title) override;
  void showPreferences() override;
  void openStatusMenu() override;
  bool hasUploads() override;
  void askForLogin();
  void clearCaches();
  void resetUserDefaults();
  std::string getLoggedUserEmail() const;
  bool isUserLoggedIn() const { return true; }

  // Drive events (OVMountListener).
  void driveDidMount() override;
  void driveMountDidFail(int code) override;
  void driveDidUnmount() override;

  // What the drive asks about the login (OVDriveAccount); any thread.
  std::string loggedUserEmail() override;
  bool lockAvailableForShare(const ManagedSharePtr& share) override;

  // ---- File manager (OVApplicationDelegateFinder.cpp) ------------------------
  // Any thread; the work runs on the background queue.
  void refreshFileInFinder(const OVFile& file);
  void refreshFinderFolders(const std::set<std::string>& folderIds) override;
  void refreshFinderPathes(const std::set<std::string>& paths);
  void refreshFinderRootFolder();
  void openShareFolder(const ManagedShare& share);
  void openRootFolder();

  // ---- Services (OVApplicationDelegate.cpp) ----------------------------------
  OVSettings& settings() { return *settings_; }
  const std::string& appTitle() const { return brand_.bundleName; }
  std::string mountPath() const;
  OVDatabase* database() { return database_.get(); }
  // Replaces the stand-in channel; before start-up only.
  void setFinderChannel(std::unique_ptr<OVFinderChannel> channel) { finderChannel_ = std::move(channel); }

 private:
  // Startup
  void createCacheAndOpenLogs();
  void migrate();
  void migrateLauncher();
  void setRunsOnStartup(bool on);
  bool checkForRunningInstances();
  void finishApplicationInitialization();
  void createStore();
  void createLogin();
  void createTransfers();
  void createDrive();
  void loadStore();
  void listenForURLs();
  // Termination
  void checkForTermination();
  void quit(int status);
  // Login
  void stopFuse();
  void showAlert(const std::string& message, const std::string& informative, std::vector<std::string> buttons);
  // Finder
  void collectFolderPaths(const std::string& id, std::set<std::string>& paths);

  // Constant after construction.
  const BrandFile brand_;
  MainQueue& main_;
  OVUserAlerts& alerts_;
  OVBrowser& browser_;
  OVDesktopNotices& notices_;
  const OVApplicationOptions options_;
  const OVProcessFiles processFiles_;

  // Main thread. Declared in the order of creation; the destructor takes the
  // users down before what they use.
  std::unique_ptr<SettingsFile> settingsFile_;
  std::unique_ptr<OVSettings> settings_;
  std::unique_ptr<OVLocalization> localization_;
  std::unique_ptr<OVInstanceGuard> instanceGuard_;
  std::unique_ptr<OVFileCache> fileCache_;
  std::unique_ptr<OVMetadataStorage> shareStore_;
  std::unique_ptr<OVFileCacheEraser> cacheEraser_;
  std::unique_ptr<OVDatabase> database_;
  std::unique_ptr<HttpClient> http_;
  std::unique_ptr<OVNetworkStatus> network_;
  std::unique_ptr<OVDeviceIdentity> device_;
  std::unique_ptr<OVFinderChannel> finderChannel_;
  std::unique_ptr<OVAuthorization> auth_;
  std::unique_ptr<OVNewAPI> api_;
  std::unique_ptr<NotificationCenter> notifications_;
  std::unique_ptr<OVAuthorizationBearer> bearer_;
  std::unique_ptr<OVDownloadQueue> downloadQueue_;
  std::unique_ptr<OVDownloadQueueAdapter> downloadControl_;
  std::unique_ptr<OVUploadQueue> uploadQueue_;
  std::unique_ptr<OVConnector> connector_;
  std::unique_ptr<OVFuseCallback> drive_;
  std::unique_ptr<OVMountController> mount_;
  std::unique_ptr<OVUrlHandoff> handoff_;

  bool isFinishedInitialization_ = false;
  bool observing_ = true; // cleared when termination begins
  bool waitingForTermination_ = false;
  bool quitting_ = false;
  // Set by a termination signal (watcher thread) or an allowed Quit (main
  // thread); cleared when the exit is refused.
  std::atomic<bool> terminationAsked_{false};
  std::mutex drivePathMutex_;
  std::string drivePath_; // guarded by drivePathMutex_: where the drive mounts, for forceExit
  int exitStatus_ = 0;    // what an allowed termination ends the process with

  std::mutex refreshLock_; // serialises the file-manager refresh work
  // Last: drained first. Cache clearing has a queue of its own so that a
  // login or another clearing can wait for it without waiting for xdg-open.
  SerialQueue cacheQueue_{"com.orvex.clouddrive-osx.clearCaches"};
  SerialQueue backgroundQueue_{"com.orvex.clouddrive-osx.background"};
};

// `text` with each "%@" or "%d" replaced by the next of `values`, in order.
std::string fillPlaceholders(std::string text, std::initializer_list<std::string> values);

} // namespace orvex
