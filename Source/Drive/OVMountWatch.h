// Notices the drive being detached from outside while it still runs.
//
// The application keeps the lock file open on the drive, which makes a plain
// unmount from outside fail as busy, just as a volume in use refuses a plain
// eject. A lazy unmount (fusermount3 -uz) still detaches the drive from the
// file tree, but FUSE keeps serving it while the lock file is open, so the
// drive would neither be there nor come back. This watch sees the mount
// table change and reports the detach, so that the lock file can be closed
// and the drive torn down and mounted again.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace orvex {

// Owns one thread ("com.orvex.clouddrive-osx.mountWatchThread") that sleeps in
// poll() on the mount table and a stop descriptor. `detached` runs on that
// thread, at most once. Construct and destroy on one thread; destruction
// stops and joins the thread.
class OVMountWatch {
 public:
  // Watches the FUSE mount `device` ("major:minor") at `mountPath`.
  OVMountWatch(std::string mountPath, std::string device, std::function<void()> detached);
  OVMountWatch(const OVMountWatch&) = delete;
  OVMountWatch& operator=(const OVMountWatch&) = delete;
  ~OVMountWatch();

 private:
  void run();
  bool stillMounted() const;

  // Constant after construction.
  const std::string mountPath_;
  const std::string device_;
  const std::function<void()> detached_;
  int tableFd_ = -1; // /proc/self/mountinfo, polled for changes
  int stopFd_ = -1;  // an eventfd written by the destructor

  std::thread thread_; // last: started once everything above exists
};

} // namespace orvex
