// Files applications hold open on the drive: one OVFuseFileData per open (FUSE
// keeps its address as the file handle), and the drive-wide list of them with
// the times of recent modifications. The list answers the upload queue's
// question whether a file has been quiet long enough to be read for upload,
// and tells it when a file has become so.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Store/OVOpenFileBookkeeping.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvex {

class OVFile;

// One open of a file. The open flags and the process are constant. The
// descriptor is guarded by `descriptorMutex`, which a write holds from opening
// the descriptor to updating the record, so that writes through one handle
// are serialised; reads take it only to open the descriptor. `fileId`,
// `modified` and `lastWrite` belong to the list and are guarded by its mutex.
struct OVFuseFileData {
  OVFuseFileData(int flags, int descriptor, pid_t process, std::string id)
      : openFlags(flags), openProcess(process), fileDescriptor(descriptor), fileId(std::move(id)) {}
  OVFuseFileData(const OVFuseFileData&) = delete;
  OVFuseFileData& operator=(const OVFuseFileData&) = delete;

  const int openFlags;
  const pid_t openProcess; // -1 when no process asked

  std::mutex descriptorMutex;
  int fileDescriptor; // the cache file; -1 until first needed. Guarded by descriptorMutex

  std::string fileId;                         // internalName of the node; guarded by the list's mutex
  bool modified = false;                      // guarded by the list's mutex
  std::optional<Clock::SteadyTime> lastWrite; // nothing: never written; guarded by the list's mutex
};

// FUSE's file handle of an open: the handle's address, 0 for none.
inline OVFuseFileData* fileDataFromHandle(std::uint64_t handle) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): FUSE keeps the handle as an integer
  return reinterpret_cast<OVFuseFileData*>(static_cast<std::uintptr_t>(handle));
}
inline std::uint64_t handleFromFileData(OVFuseFileData* data) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(data));
}

// What the exit check shows about an open file.
struct OVOpenedFile {
  std::string fileId;
  pid_t openProcess;
  std::string description; // "file: ..., fd: ..., modified: ..., lastWrite: ..."
};

// Thread-safe. The handles, `fileModifications_`, the scheduled-check mark and
// the uploads-added hook are guarded by mutex_. Lock order: a handle's
// descriptorMutex before mutex_; nothing else is called with mutex_ held. The
// delayed check runs on checkQueue_. Called from FUSE's worker threads, from
// the store (as its OVOpenFileBookkeeping) and from the upload queue.
class OVOpenFileList final : public OVOpenFileBookkeeping {
 public:
  // Checks follow a modification by this much, and a file counts as quiet
  // once it was left alone for longer than kQuietTime.
  static constexpr std::chrono::seconds kCheckDelay{3};
  static constexpr std::chrono::seconds kQuietTime{5};

  explicit OVOpenFileList(Clock& clock = Clock::system());
  // Closes the descriptors of handles still open (a drive forced off).
  ~OVOpenFileList() override;

  // A new handle in the list; it stays valid until close().
  OVFuseFileData* open(int flags, int descriptor, pid_t process, std::string fileId);
  // Drops the handle: remembers the time of its modification, closes its descriptor.
  void close(OVFuseFileData* handle);
  // Something was written through the handle just now.
  void noteWrite(OVFuseFileData& handle);
  bool isModified(OVFuseFileData& handle) const;
  std::string fileId(OVFuseFileData& handle) const;

  // Every live handle, in opening order.
  std::vector<OVOpenedFile> openedFiles() const;

  // OVOpenFileBookkeeping
  void fileWasModified(const OVFile& file) override;
  void exchangeFileId(const std::string& firstId, const std::string& secondId) override;

  // NO while the node was modified within the quiet time, or one of its
  // handles was written within it.
  bool canUploadFile(const OVFile& file);
  // Forgets modifications older than the quiet time; schedules another check
  // while some are newer, and tells the upload queue when one became quiet.
  void checkUpdatedFiles();
  void scheduleUpdateChecks();

  // The upload queue's `uploadsAdded`; nothing is told until it is set.
  void setUploadsAdded(std::function<void()> uploadsAdded);

 private:
  // Expects mutex_ held.
  bool isRecent(Clock::SteadyTime time, Clock::SteadyTime now) const { return now - time <= kQuietTime; }

  Clock& clock_;
  mutable std::mutex mutex_;
  std::list<std::unique_ptr<OVFuseFileData>> openedFiles_;               // guarded by mutex_
  std::unordered_map<std::string, Clock::SteadyTime> fileModifications_; // guarded by mutex_
  bool checkScheduled_ = false;                                          // guarded by mutex_
  std::function<void()> uploadsAdded_;                                   // guarded by mutex_

  SerialQueue checkQueue_; // last: stopped before the state its jobs use goes away
};

} // namespace orvex
