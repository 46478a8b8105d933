// What the transfer-queue tests share: the database harness (a loaded store on
// a manual clock, real file cache, in-memory share store), the settings, a
// notification recorder, and a bearer source the test controls.
#pragma once

#include "Dispatch/NotificationCenter.h"
#include "OVSettings.h"
#include "Transfers/OVBearerSource.h"
#include "Unit/Database/DatabaseTestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvex::test {

// Answers every fetch with `bearer`, on the calling thread; with none set it
// answers nothing at all, so passes never start a transfer. Thread-safe.
class FakeBearerSource final : public OVBearerSource {
 public:
  void fetchAuthBearerWithCompletion(Completion completion) override;
  void setBearer(std::optional<std::string> bearer);
  // The next `count` fetches fail, as when the login cannot refresh its token.
  void failNext(int count) { failures_.store(count); }
  int fetches() const { return fetches_.load(); }

 private:
  std::mutex mutex_;
  std::optional<std::string> bearer_; // guarded by mutex_
  std::atomic<int> fetches_{0};
  std::atomic<int> failures_{0};
};

// Keeps every download notification, observed on its own queue. Thread-safe.
class NotificationRecorder {
 public:
  explicit NotificationRecorder(NotificationCenter& center);
  ~NotificationRecorder();

  struct Entry {
    std::string name;
    std::string file; // the internal name of "file"
    std::optional<std::int64_t> progress;
    bool error = false;
  };
  std::vector<Entry> entries();
  // Waits (bounded, without polling) until `done` holds for the entries so far.
  bool waitFor(const std::function<bool(const std::vector<Entry>&)>& done);
  // Entries of one file with one name.
  std::vector<Entry> of(const std::string& file, const std::string& name);

 private:
  NotificationCenter& center_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_; // guarded by mutex_
  std::vector<NotificationCenter::ObserverId> ids_;
  SerialQueue queue_{"test.notifications"}; // last: drained before the rest goes
};

// A loaded database with share "docs" (display name "Documents") of `domain`,
// and the settings file.
struct TransfersHarness {
  explicit TransfersHarness(const std::string& domain = "orvex.example");
  ~TransfersHarness();

  OVDatabase& db() { return *database.database; }
  // Writes a synchronized node of share docs; a file of `size` bytes with upload name "u-<id>".
  OVFile node(const std::string& id, const std::string& parent, const std::string& name, bool isFile = true,
              std::uint64_t size = 1000, std::uint64_t status = kFileStatusSynchronized);
  // Puts the whole content in place as the cache's complete file.
  void cacheComplete(const OVFile& file, const std::string& content);

  DatabaseHarness database;
  std::unique_ptr<SettingsFile> settingsFile;
  std::unique_ptr<OVSettings> settings;
  NotificationCenter notifications;
  NotificationRecorder recorder{notifications};
  FakeBearerSource bearer;
};

} // namespace orvex::test
