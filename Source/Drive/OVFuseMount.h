// Mounting and unmounting the drive with libfuse 3: the checks before a
// mount, the blocking FUSE loop on the mount thread, and the unmount calls.
// FUSE's own signal handlers are never installed: signals belong to the
// application.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct fuse;

namespace orvex {

class OVFuseCallback;
class SystemLog;

// Codes of a mount that could not start (also reported to the application).
inline constexpr int kMountDeadUnmountFailed = -1; // a dead mount is in the way and stays
inline constexpr int kMountNotADirectory = -2;     // the mount path is something else
inline constexpr int kMountParentNotADirectory = -3;
inline constexpr int kMountCannotCreate = -4; // the mount point cannot be made
inline constexpr int kMountCannotMount = -5;  // FUSE refused the mount every time

// How often, and how far apart, a mount that FUSE refuses is tried.
inline constexpr int kMountAttempts = 3;
inline constexpr std::chrono::milliseconds kMountRetryDelay{500};

struct OVMountRequest {
  std::string programName; // argv[0] of the FUSE argument list
  std::string mountPath;
  std::vector<std::string> options;
};

// The FUSE loop of a mounted drive, so that another thread can end it while
// the drive is still in use (a forced unmount). Thread-safe: mutex_ guards
// the session, which the mount thread attaches while its loop runs.
class OVFuseLoop {
 public:
  // Asks the loop to end. FUSE's workers notice with the next request they
  // read, so the caller then sends one. False when no loop runs.
  bool requestExit();

  // Tells the kernel that what it holds of `path` (attributes, contents) is
  // stale. 0, -ENOENT when the kernel holds nothing of it, -ESRCH when no
  // loop runs. Never call it from a FUSE callback.
  int invalidatePath(const std::string& path);

  // The mount thread's side.
  void attach(fuse* session);
  void detach();

 private:
  std::mutex mutex_;
  fuse* session_ = nullptr; // guarded by mutex_
};

// Runs on the mount thread: clears a dead FUSE mount from the mount path,
// checks the mount point, mounts `drive` and serves it with FUSE's
// multi-threaded loop until it is unmounted or `loop` is ended. A failed
// check, or a mount FUSE refused kMountAttempts times, calls `postMountError`
// with its code and returns it; otherwise answers
// the loop's result once the drive is gone (after its destroy callback ran).
// However the loop ends, the drive is then unmounted and its device closed,
// so whoever still uses it gets errors instead of hanging.
int mount_orvex(const OVMountRequest& request, OVFuseCallback& drive, OVFuseLoop& loop,
                const std::function<void(int)>& postMountError, SystemLog& systemLog);

// Unmounts the file system at `path`, lazily (detached now, torn down when
// its last user lets go) when asked. Answers 0 or an errno (EBUSY when the
// file system is in use).
int unmountDrive(const std::string& path, bool lazy);

// True when `path` is the root of a FUSE mount (dead or alive) right now.
bool isFuseMountPoint(const std::string& path);

} // namespace orvex
