// The rows of folders listed a moment ago. Right after a listing the kernel
// asks for the attributes of every entry, one request each (`ls -l`, file
// managers, `find`); answering those from the rows the listing fetched in one
// query spares a store round trip per entry. A snapshot is trusted only for a
// short lifetime, which bounds how long a remote change can stay unseen, and
// only for names it holds: a name it lacks is always looked up afresh.
#pragma once

#include "Dispatch/Clock.h"
#include "Store/OVFile.h"

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvex {

// Thread-safe: every member takes mutex_. Called from FUSE's worker threads.
class OVListingSnapshots {
 public:
  // About as long as the kernel keeps attributes itself: a remote change
  // shows within this plus the kernel's timeout.
  static constexpr std::chrono::milliseconds kLifetime{1000};
  // Rows kept over all snapshots; the oldest snapshots go first, and a folder
  // with more rows than this is not kept at all.
  static constexpr std::size_t kMaxRows = 200000;

  explicit OVListingSnapshots(Clock& clock) : clock_(clock) {}

  // Keeps the rows of the folder at `folderPath`, replacing an older snapshot of it.
  void remember(const std::string& folderPath, std::vector<OVFile> rows);
  // The row for `path` from a fresh snapshot of its folder; null when there
  // is no fresh snapshot or the name is not in it. The row is shared with the
  // snapshot, not copied: thousands of these follow each listing.
  std::shared_ptr<const OVFile> find(const std::string& path);
  // Drops the snapshot of one folder (after a change made through the drive).
  void forget(const std::string& folderPath);

 private:
  struct Snapshot {
    std::string folderPath;
    Clock::SteadyTime taken;
    // Shared with the rows handed out, which may outlive the snapshot.
    std::shared_ptr<const std::vector<OVFile>> rows;
    std::unordered_map<std::string_view, const OVFile*> byName; // views into *rows
  };
  using Snapshots = std::list<Snapshot>;
  // Expects mutex_ held.
  void drop(Snapshots::iterator snapshot);

  Clock& clock_;
  std::mutex mutex_;
  Snapshots snapshots_;                                           // guarded by mutex_; oldest first
  std::unordered_map<std::string, Snapshots::iterator> byFolder_; // guarded by mutex_
  std::size_t rowCount_ = 0;                                      // guarded by mutex_
};

} // namespace orvex
