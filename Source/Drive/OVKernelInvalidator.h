// Tells the kernel which drive paths the store changed, so that it can keep
// names and attributes for long (see OVMountOptions.cpp) and still show a
// change as soon as it is merged. The drive's own listing snapshots of the
// folders involved are dropped first, so that the kernel's next question is
// answered from the store.
#pragma once

#include "Dispatch/SerialQueue.h"
#include "Store/OVPathChangeListener.h"

#include <string>
#include <vector>

namespace orvex {

class OVFuseCallback;
class OVFuseLoop;

// Threads: pathsChanged may be called from any thread; the work runs on the
// invalidator's own queue, never inside a FUSE callback and never while the
// store or the caller holds a lock, because the kernel may wait for a request
// in progress on the same node before it lets the invalidation go. The drive
// and the loop must outlive the invalidator.
class OVKernelInvalidator final : public OVPathChangeListener {
 public:
  static constexpr const char* kQueueLabel = "com.orvex.drive.invalidate";

  OVKernelInvalidator(OVFuseCallback& drive, OVFuseLoop& loop);

  void pathsChanged(std::vector<std::string> paths) override;

  // Returns once every path handed over before the call has been passed on.
  void waitUntilDone();

 private:
  void invalidate(const std::vector<std::string>& paths);

  OVFuseCallback& drive_;
  OVFuseLoop& loop_;
  SerialQueue queue_;
};

} // namespace orvex
