// In-memory stand-ins for what the drive asks the transfer queues, the login
// and the application. Thread-safe: the drive calls them from FUSE's threads.
#pragma once

#include "Drive/OVDriveContentSource.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVMountListener.h"
#include "Platform/SystemLog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvex {
class OVFileCache;
}

namespace orvex::test {

// A set of texts any thread may add to and ask.
class LockedSet {
 public:
  void add(const std::string& value);
  bool contains(const std::string& value) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> values_; // guarded by mutex_
};

// Answers from the sets a test fills: ids of downloaded and queued files, drive paths.
class FakeDownloads final : public OVDriveDownloadStatus {
 public:
  bool isFileDownloaded(const OVFile& file) override;
  bool isFileInQueue(const OVFile& file) override;
  bool pathIsSynchronized(const std::string& path) override { return synchronized.contains(path); }
  bool pathHasDownloads(const std::string& path) override;
  // Runs inside pathHasDownloads (to make the question slow on a manual clock).
  void onPathHasDownloads(std::function<void()> hook);

  LockedSet downloaded;
  LockedSet queued;
  LockedSet synchronized;
  LockedSet withDownloads;

 private:
  std::mutex mutex_;
  std::function<void()> hook_; // guarded by mutex_
};

// Serves every node's content as contentOf(its id) would give it, as the
// download queue does: it answers at least 1 MiB from the asked location, and
// what it answers extends the node's cached prefix. Counts the calls.
class FakeContent final : public OVDriveContentSource {
 public:
  // The cache that what is served extends; set before the first call.
  void setCache(OVFileCache& cache) { cache_ = &cache; }
  std::optional<std::string> downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                           const std::string& path) override;

  // The bytes [location, location + length) of the content of node `id`:
  // different for every id and with no short period, so a misplaced range shows.
  static std::string contentOf(const std::string& id, std::uint64_t location, std::uint64_t length);

  std::atomic<int> calls{0};
  // While set, every call answers nothing, as a queue that gave up waiting.
  std::atomic<bool> failing{false};

 private:
  std::atomic<OVFileCache*> cache_{nullptr};
};

// Hands reads to a content source made after the drive (the download queue
// needs the harness's store); until one is set, or after it is cleared,
// nothing can be fetched.
class ContentRelay final : public OVDriveContentSource {
 public:
  void setTarget(OVDriveContentSource* target) { target_ = target; }
  std::optional<std::string> downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                           const std::string& path) override {
    OVDriveContentSource* target = target_;
    return target != nullptr ? target->downloadChunk(location, length, file, path) : std::nullopt;
  }

 private:
  std::atomic<OVDriveContentSource*> target_{nullptr};
};

class FakeUploads final : public OVDriveUploadStatus {
 public:
  bool isFileInUploadQueue(const OVFile& file) override;
  bool pathHasUploads(const std::string& path) override { return withUploads.contains(path); }

  LockedSet queued;
  LockedSet withUploads;
};

class FakeAccount final : public OVDriveAccount {
 public:
  std::string loggedUserEmail() override;
  bool lockAvailableForShare(const ManagedSharePtr& share) override;
  void setEmail(const std::string& email);

  LockedSet sharesWithoutLocking;

 private:
  std::mutex mutex_;
  std::string email_; // guarded by mutex_
};

// Counts the mount controller's events and lets a test wait for them.
class RecordingListener final : public OVMountListener {
 public:
  void driveDidMount() override;
  void driveMountDidFail(int code) override;
  void driveDidUnmount() override;

  struct Counts {
    int mounts = 0;
    int unmounts = 0;
    std::vector<int> failures;
  };
  Counts counts();
  // Waits until `done` holds for the events so far; false once `limit` passed.
  bool waitFor(const std::function<bool(const Counts&)>& done, std::chrono::seconds limit = std::chrono::seconds(20));

 private:
  void changed(const std::function<void(Counts&)>& change);

  std::mutex mutex_;
  std::condition_variable changed_;
  Counts counts_; // guarded by mutex_
};

class RecordingSystemLog final : public SystemLog {
 public:
  void report(const std::string& message) override;
  std::vector<std::string> reports();

 private:
  std::mutex mutex_;
  std::vector<std::string> reports_; // guarded by mutex_
};

} // namespace orvex::test
