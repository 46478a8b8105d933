// A drive mounted for real in a temporary folder, over a store the test fills
// directly. The harness always unmounts what it mounted, even when a test
// fails, and fails the test when a mount is left behind.
#pragma once

#include "Dispatch/RunLoopMainQueue.h"
#include "Drive/OVDriveContentSource.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseCallback.h"
#include "Drive/OVMountController.h"
#include "Drive/Support/DriveFakes.h"
#include "Support/LogCapture.h"
#include "Unit/Database/DatabaseTestSupport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace orvex::test {

class DriveHarness {
 public:
  struct Options {
    std::string title = "OrvexTest";
    OVMountFacts facts{};
    bool excessiveLogging = false;
    // Where to mount, relative to the harness's folder (or absolute).
    std::string mountFolder = "Drive";
    // Where reads outside the cache go; nothing: no content can be fetched.
    OVDriveContentSource* content = nullptr;
    // A file counts as downloaded exactly when the cache holds it whole (the
    // drive's default), instead of when a test says so in `downloads`.
    bool downloadsFromCache = false;
  };

  // Reads outside the cache go to `content`; a file counts as downloaded
  // exactly when the cache holds it whole.
  static Options servedBy(OVDriveContentSource& content) {
    Options options;
    options.content = &content;
    options.downloadsFromCache = true;
    return options;
  }

  DriveHarness() : DriveHarness(Options{}) {}
  explicit DriveHarness(Options options);
  DriveHarness(const DriveHarness&) = delete;
  DriveHarness& operator=(const DriveHarness&) = delete;
  // Unmounts and fails the test on a mount left behind, on descriptors the
  // drive left open, and on "Error!" lines in the logs.
  ~DriveHarness();

  // ---- The store ----
  OVDatabase& db() { return *store.database; }
  // A share shown at the root as `name`.
  static ManagedShare share(const std::string& id, const std::string& name);
  void addShare(const ManagedShare& share) { store.shareStore.addShare(share); }
  void addShare(const std::string& id, const std::string& name) { addShare(share(id, name)); }
  // Writes one node of share `shareId`, synchronized, with `size` bytes.
  OVFile addNode(const std::string& shareId, const std::string& id, const std::string& parent, const std::string& name,
                 bool isFile = true, std::uint64_t size = 0);
  // Writes the node as it is (every column).
  void write(const OVFile& file);

  // ---- The mount ----
  // Starts the mount on the main thread and waits for the drive to be up.
  // False (with a test failure) when it does not come up.
  bool mount();
  // Runs `job` on the main thread, the controller's thread.
  void onMain(const std::function<void()>& job) { main.sync(job); }
  // The absolute path of a volume path ("/Share/a" -> <mount>/Share/a).
  std::string at(const std::string& volumePath) const { return mountPath + volumePath; }
  // Bytes [offset, offset + length) of a file as pread(2) gives them through a
  // fresh descriptor (fewer at the end); with `error`, the errno of a failed read.
  std::string readRange(const std::string& volumePath, std::uint64_t offset, std::size_t length,
                        int* error = nullptr) const;

  std::string mountPath;
  LogCapture log; // first: outlives everything that logs
  DatabaseHarness store;
  FakeDownloads downloads;
  FakeUploads uploads;
  FakeAccount account;
  OVNoDriveDownloads cacheDownloads{store.fileCache};
  OVNoDownloadSource noContent;
  RecordingListener listener;
  RecordingSystemLog systemLog;
  std::unique_ptr<OVFuseCallback> drive;
  RunLoopMainQueue main;
  std::unique_ptr<OVMountController> controller;

 private:
  void tearDown();

  std::map<int, std::string> descriptorsBefore_;
  std::thread mainThread_;
};

// This process's open descriptors and what they point at.
std::map<int, std::string> openDescriptors();

// Whether `done` came true within `limit`, asking it again and again: for
// what the kernel sends on its own time, such as the release after close(2).
bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(10));

// Names of a folder in the order the drive lists them, without "." and "..";
// empty (with a test failure) when it cannot be read.
std::vector<std::string> listFolder(const std::string& path);
// The standard output of a shell command, and whether it exited with 0.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult run(const std::string& command);

} // namespace orvex::test
