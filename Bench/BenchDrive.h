// What the benchmarks that read through the drive share: a scratch folder
// holding the client's store and the program's logs, and the drive mounted
// the way the program mounts it, from a main queue on a thread of its own.
#pragma once

#include "Dispatch/RunLoopMainQueue.h"
#include "Drive/OVMountController.h"
#include "Drive/OVMountListener.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

class OVFuseCallback;

// The parts a benchmark makes its database ("bench") and its drive from.
// Made and removed on the benchmark's thread; the main queue runs on the
// mount's thread.
struct BenchStore {
  // Makes orvex-<label>-XXXXXX in the temporary folder (spaces in `label`
  // become dashes) and opens the logs in it; ends the benchmark when it cannot.
  explicit BenchStore(std::string benchLabel);
  // Ends the benchmark with "<label>: <what>" on standard error.
  [[noreturn]] void fail(const std::string& what) const;
  // Flushes the logs and removes the folder; the database must be unloaded.
  void remove() const;

  const std::string label; // "drive bench"
  const std::filesystem::path folder;
  OVFileCache cache; // in folder/Orvex
  RunLoopMainQueue mainQueue;
  OVMetadataStorage shares;
  OVFileCacheEraser eraser;
};

// A profile that lists the one share `shareId`, named `name`.
ClientLoginResponse profileWithShare(const std::string& shareId, const std::string& name);

// Mounts `drive` at folder/Drive when made, and ends the benchmark when it
// does not come up within 30 seconds. Made, unmounted and destroyed on the
// benchmark's thread, which waits while the main queue does the work; the
// listener's calls arrive on the main queue. `drive` and `store` must outlive it.
class BenchMount final : private OVMountListener {
 public:
  BenchMount(OVFuseCallback& drive, BenchStore& store, std::string appTitle);
  ~BenchMount() override;

  const std::string& path() const { return path_; }
  // Unmounts the drive and stops the main queue's thread.
  void unmount();

 private:
  void driveDidMount() override { setState(1); }
  void driveMountDidFail(int code) override { setState(code < 0 ? code : -1); }
  void driveDidUnmount() override {}
  void setState(int state);
  // Answers 1 once mounted, a negative code when the mount failed, 0 on time-out.
  int waitForMount();
  void stopMainThread();

  BenchStore& store_;
  const std::string path_;
  // Made on the benchmark's thread; destroyed on the main queue, as the controller asks.
  std::unique_ptr<OVMountController> controller_;
  std::thread mainThread_; // the benchmark's thread only

  std::mutex mutex_;
  std::condition_variable changed_;
  int state_ = 0; // guarded by mutex_: 1 mounted, negative failed
};

} // namespace orvex
