#include "Drive/OVMountController.h"

#include "Dispatch/ThreadName.h"
#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseMount.h"
#include "Drive/OVFuseUtils.h"
#include "Drive/OVMountListener.h"
#include "Drive/OVMountTable.h"
#include "Drive/OVMountWatch.h"
#include "OVLogger.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace orvex {

OVMountController::OVMountController(OVFuseCallback& drive, OVMountListener& listener, MainQueue& main, Config config,
                                     OVMountFacts facts, SystemLog& systemLog)
    : drive_(drive),
      listener_(listener),
      main_(main),
      config_(std::move(config)),
      facts_(facts),
      systemLog_(systemLog),
      self_(std::make_shared<OVMountController*>(this)),
      weakSelf_(self_),
      invalidator_(drive, loop_) {
  drive_.setMountHooks(
      [this] {
        {
          std::lock_guard lock(threadMutex_);
          threadServing_ = true;
        }
        threadChanged_.notify_all();
        postToMain([](OVMountController& controller) { controller.didMount(); });
      },
      [this] { postToMain([](OVMountController& controller) { controller.didUnmount(); }); });
}

OVMountController::~OVMountController() {
  self_.reset(); // what is still queued for the main thread skips itself
  calledUnmount_ = true;
  watch_.reset();
  if (mountThread_.joinable()) {
    // A mount under way is waited for until it serves (then ended) or gave up.
    bool serving = false;
    {
      std::unique_lock lock(threadMutex_);
      threadChanged_.wait(lock, [this] { return threadServing_ || threadEnded_; });
      serving = !threadEnded_;
    }
    // The drive is ended, not unmounted: with the lock file as the waking
    // request this works even for a drive detached from the file tree. No
    // loop to end means it has ended already and its thread is returning.
    if (const int ended = serving ? endLoop(fuseLockHandle_) : 0; ended != 0 && ended != ESRCH)
      unmount();
    closeLockFile();
    mountThread_.join();
  }
  drive_.setMountHooks({}, {});
}

std::vector<std::string> OVMountController::options() const {
  return mountOptions(config_.appTitle, facts_, config_.noRootMount);
}

void OVMountController::logOptionChoice() const {
  OVLog(kLogMain, "About to mount fuse, checking whether user is in admin group...");
  if (!facts_.inAdminGroup) {
    OVLog(kLogMain,
          "User is not in admin group - disabling access to the drive from root user. Spotlight will not be able to "
          "index drive contents.");
  } else if (!config_.noRootMount && !facts_.userAllowOther) {
    OVLog(kLogMain,
          "Warning! user_allow_other is not enabled in /etc/fuse.conf - mounting the drive without access for the "
          "root user.");
  }
}

void OVMountController::initializeFuse() {
  if (fuseInitialized_ || mountInProgress_)
    return;
  mountInProgress_ = true;
  logOptionChoice();
  // Failures show in the mount-point checks on the mount thread, with their codes.
  std::error_code error;
  if (std::filesystem::symlink_status(config_.mountPath, error).type() == std::filesystem::file_type::not_found)
    std::filesystem::create_directories(config_.mountPath, error);

  // The previous mount thread, if any, has torn its drive down and only returns.
  if (mountThread_.joinable())
    mountThread_.join();
  {
    std::lock_guard lock(threadMutex_);
    threadServing_ = false;
    threadEnded_ = false;
  }
  const std::uint64_t generation = ++generation_;
  mountThread_ =
      std::thread([this, opts = options(), generation]() mutable { mountOrvexDrive(std::move(opts), generation); });
}

void OVMountController::mountOrvexDrive(std::vector<std::string> options, std::uint64_t generation) {
  setCurrentThreadLabel(kMountThreadLabel);
  const OVMountRequest request{config_.programName, config_.mountPath, std::move(options)};
  mount_orvex(
      request, drive_, loop_,
      [this](int code) { postToMain([code](OVMountController& controller) { controller.mountDidFailed(code); }); },
      systemLog_);
  {
    std::lock_guard lock(threadMutex_);
    threadEnded_ = true;
  }
  threadChanged_.notify_all();
  postToMain([generation](OVMountController& controller) { controller.mountThreadEnded(generation); });
}

void OVMountController::mountThreadEnded(std::uint64_t generation) {
  // A FUSE loop that could not mount ends without any callback: nothing else
  // tells the main thread that this mount is over.
  if (generation != generation_)
    return;
  fuseInitialized_ = false;
  mountInProgress_ = false;
}

void OVMountController::postToMain(std::function<void(OVMountController&)> job) {
  main_.async([weak = weakSelf_, job = std::move(job)] {
    if (auto self = weak.lock())
      job(**self);
  });
}

void OVMountController::didMount() {
  OVLog(kLogMain, "didMount: drive was mounted.");
  fuseInitialized_ = true;
  calledUnmount_ = false;
  // Without O_CREAT: the drive always shows the lock file, and should the
  // drive be gone again already, nothing may be created in the bare folder,
  // which FUSE needs empty to mount on. O_PATH pins the mount (a plain
  // unmount from outside fails as busy) without opening the file on the
  // drive: closing an open file sends the drive a request, and when this
  // process dies that request would wait for itself forever.
  fuseLockHandle_ = ::open((config_.mountPath + std::string(kFuseLock)).c_str(), O_PATH | O_CLOEXEC);
  if (fuseLockHandle_ == -1)
    OVLog(kLogMain, "Warning! Cannot open fuse lock file: error {}", errno);
  if (auto device = fuseMountDevice(config_.mountPath)) {
    watch_ = std::make_unique<OVMountWatch>(config_.mountPath, *device, [this] {
      postToMain([](OVMountController& controller) { controller.mountDetached(); });
    });
  }
  listener_.driveDidMount();
}

void OVMountController::mountDidFailed(int code) {
  OVLog(kLogMain, "Fatal : volume mounting failed. Information: {{ code = {}; }}", code);
  mountInProgress_ = false;
  listener_.driveMountDidFail(code);
}

void OVMountController::didUnmount() {
  watch_.reset();
  closeLockFile();
  fuseInitialized_ = false;
  mountInProgress_ = false;
  if (!calledUnmount_) {
    initializeFuse();
    OVLog(kLogMain, "User unmounted the volume. Trying to re-mount. Notification {}", "kFuseDidUnmountNotification");
  }
  listener_.driveDidUnmount();
}

void OVMountController::mountDetached() {
  if (fuseLockHandle_ == -1)
    return;
  // Detached, the drive would live on for as long as anyone (our own lock
  // file included) uses it, and could not be mounted again meanwhile. End it
  // now, as an eject by force does, so that it comes back at once.
  OVLog(kLogMain, "Warning! The drive was detached from {} while in use; ending it.", config_.mountPath);
  endLoop(fuseLockHandle_);
  closeLockFile();
}

void OVMountController::stopFuse() {
  if (!fuseInitialized_)
    return;
  calledUnmount_ = true;
  watch_.reset();
  closeLockFile();
  unmount();
  fuseInitialized_ = false;
}

void OVMountController::unmount() {
  const int error = unmountDrive(config_.mountPath, false);
  if (error == 0)
    return;
  OVLog(kLogMain, "Failed to unmount drive : error {}", error);
  if (error != EBUSY)
    return;
  // Forced: FUSE stops serving, then detaches the drive and closes its device.
  if (const int forced = endLoop(-1))
    OVLog(kLogMain, "Failed even forced unmount : error {}", forced);
}

int OVMountController::endLoop(int wakeFd) {
  if (!loop_.requestExit())
    return ESRCH;
  // Attribute reads are never cached by the kernel: this one always reaches
  // a FUSE worker, which then sees that the loop is to end. The loop may end
  // and close the device before the answer is sent; the request then fails
  // as aborted, which means the same.
  // The lock file's descriptor reaches the drive even when it is detached
  // from the file tree; it is an O_PATH descriptor, which the attribute
  // calls take only through its /proc link.
  constexpr const char* kWakeName = "user.orvex.wake";
  const std::string wakePath = wakeFd != -1 ? "/proc/self/fd/" + std::to_string(wakeFd) : config_.mountPath;
  const ssize_t woken = ::getxattr(wakePath.c_str(), kWakeName, nullptr, 0);
  if (woken >= 0 || errno == ENODATA || errno == ECONNABORTED || errno == ENOTCONN)
    return 0;
  return errno;
}

void OVMountController::closeLockFile() {
  if (fuseLockHandle_ != -1) {
    ::close(fuseLockHandle_);
    fuseLockHandle_ = -1;
  }
}

} // namespace orvex
