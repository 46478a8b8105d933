// The application's side of the drive's mount: when and where it is mounted,
// the mount thread, the lock file kept open on the mounted drive, and the
// reactions to the drive coming up, failing, and going away (including the
// immediate remount after an unmount the application did not ask for).
#pragma once

#include "Dispatch/MainQueue.h"
#include "Drive/OVFuseMount.h"
#include "Drive/OVKernelInvalidator.h"
#include "Drive/OVMountOptions.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex {

class OVFuseCallback;
class OVMountListener;
class OVMountWatch;
class SystemLog;

inline constexpr const char* kMountThreadLabel = "com.orvex.clouddrive-osx.mountFuseThread";

// Threads: the public members run on the main thread (the main queue's),
// except fuseInitialized() and mountInProgress(), which any thread may read.
// The mount thread and the drive's callbacks reach the controller only by
// posting to the main queue, and through threadMutex_, which guards what the
// destructor must know about the current mount thread without the main queue.
// The drive, listener, main queue and system log must outlive the controller,
// which is destroyed on the main thread (or once the main queue runs no more jobs).
class OVMountController {
 public:
  struct Config {
    std::string appTitle;
    std::string mountPath;             // OVFuseUtils::mountPath(...)
    bool noRootMount = false;          // "OVDisableRootMount" is present
    std::string programName = "orvex"; // argv[0] handed to FUSE
  };

  OVMountController(OVFuseCallback& drive, OVMountListener& listener, MainQueue& main, Config config,
                    OVMountFacts facts, SystemLog& systemLog);
  OVMountController(const OVMountController&) = delete;
  OVMountController& operator=(const OVMountController&) = delete;
  // Unmounts the drive (or the mount under way) and waits for its mount thread.
  ~OVMountController();

  // Mounts the drive unless it is mounted or being mounted.
  void initializeFuse();
  // Unmounts the drive (at logout and at exit); no remount follows. A drive
  // still in use is forced off: FUSE stops serving it, and whoever still uses
  // it gets errors.
  void stopFuse();

  // Reactions, run on the main queue.
  void didMount();
  void mountDidFailed(int code);
  void didUnmount();
  // The drive left the file tree while it still runs (a lazy unmount from outside).
  void mountDetached();

  bool fuseInitialized() const { return fuseInitialized_.load(); }
  // From initializeFuse until the drive failed to mount or went away.
  bool mountInProgress() const { return mountInProgress_.load(); }
  const std::string& mountPath() const { return config_.mountPath; }
  // The options of the next mount.
  std::vector<std::string> options() const;
  // What the store tells of changed paths, passed on to the kernel while the
  // drive is mounted. Reset the store's listener before the controller goes.
  OVKernelInvalidator& invalidator() { return invalidator_; }

 private:
  void mountOrvexDrive(std::vector<std::string> options, std::uint64_t generation);
  void mountThreadEnded(std::uint64_t generation);
  void postToMain(std::function<void(OVMountController&)> job);
  void logOptionChoice() const;
  void closeLockFile();
  // Unmounts, forcing the drive off when busy; logs failures.
  void unmount();
  // Ends the FUSE loop now, waking it with a request through `wakeFd` (a
  // descriptor on the drive) or else through the mount path. Answers 0, or
  // an errno when no loop runs (ESRCH) or the request could not reach it.
  int endLoop(int wakeFd);

  // Constant after construction.
  OVFuseCallback& drive_;
  OVMountListener& listener_;
  MainQueue& main_;
  const Config config_;
  const OVMountFacts facts_;
  SystemLog& systemLog_;
  // Jobs posted to the main queue hold a weak reference and skip themselves once it is gone.
  std::shared_ptr<OVMountController*> self_;
  const std::weak_ptr<OVMountController*> weakSelf_; // copied by any thread; self_ only by the main thread

  std::atomic<bool> fuseInitialized_{false};
  std::atomic<bool> mountInProgress_{false};

  // Owned by the main thread.
  bool calledUnmount_ = false;
  int fuseLockHandle_ = -1;
  std::uint64_t generation_ = 0; // of the latest mount thread
  std::unique_ptr<OVMountWatch> watch_;
  std::thread mountThread_;
  OVFuseLoop loop_;                 // thread-safe on its own
  OVKernelInvalidator invalidator_; // thread-safe on its own; uses loop_

  // What the latest mount thread has reached, for the destructor.
  std::mutex threadMutex_;
  std::condition_variable threadChanged_;
  bool threadServing_ = false; // guarded by threadMutex_: the init callback ran
  bool threadEnded_ = true;    // guarded by threadMutex_
};

} // namespace orvex
