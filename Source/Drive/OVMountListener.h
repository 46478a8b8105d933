// What the application does when the drive comes and goes. The application
// shell implements it: it tells other processes (the file-manager plug-in)
// through its cross-process notices, and shows the fatal alert.
#pragma once

namespace orvex {

// Called on the main queue, after the mount controller has updated its state.
class OVMountListener {
 public:
  OVMountListener() = default;
  OVMountListener(const OVMountListener&) = delete;
  OVMountListener& operator=(const OVMountListener&) = delete;
  virtual ~OVMountListener() = default;

  // The drive is up and its lock file open: post "com.orvex.drive-mounted".
  virtual void driveDidMount() = 0;
  // The drive could not be mounted (a code of OVFuseMount.h): show
  // "Unable to mount drive" with the code, then terminate.
  virtual void driveMountDidFail(int code) = 0;
  // The drive went away: post "com.orvex.drive-unmounted". A remount, when
  // one follows, has already been started.
  virtual void driveDidUnmount() = 0;
};

} // namespace orvex
