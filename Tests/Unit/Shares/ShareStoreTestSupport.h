// A share store over real folders in a temporary directory, on a manual clock
// and a main queue whose delayed jobs run only when a test says so.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/MainQueue.h"
#include "Store/OVFileCache.h"
#include "Support/TempDir.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

// Jobs run only inside runDue(), on the calling thread, which counts as the
// main thread. Thread-safe for posting.
class ManualMainQueue final : public MainQueue {
 public:
  explicit ManualMainQueue(ManualClock& clock) : clock_(clock) {}

  void async(Job job) override { after(Clock::Duration::zero(), std::move(job)); }
  TimerHandle after(Clock::Duration delay, Job job) override;
  bool isMainThread() const override { return true; }

  // Runs the jobs whose time has come, earliest first; answers how many ran.
  int runDue();

 private:
  struct Delayed {
    Clock::SteadyTime due;
    std::uint64_t order;
    TimerHandle handle;
    Job job;
  };

  ManualClock& clock_;
  std::mutex mutex_;
  std::vector<Delayed> jobs_; // guarded by mutex_
  std::uint64_t posted_ = 0;  // guarded by mutex_
};

ManagedShare makeShare(const std::string& id, const std::string& name);
ClientLoginResponse profileWith(std::vector<ManagedShare> shares);

class ShareStoreTest : public ::testing::Test {
 protected:
  ShareStoreTest();

  // Merges `shares` as the whole profile of `domain`.
  void receive(const std::string& domain, std::vector<ManagedShare> shares);
  // The display name of the share `id`; "" when it is not known.
  std::string displayName(const std::string& id) const;
  std::filesystem::path shareFolder(const std::string& id) const { return cache.filesCachePath() / id; }
  // A store reading the same folder, as after a restart.
  std::unique_ptr<OVMetadataStorage> reopen();

  TempDir dir;
  ManualClock clock;
  ManualMainQueue main{clock};
  OVFileCache cache{dir / "Orvex"};
  std::unique_ptr<OVMetadataStorage> store;
};

} // namespace orvex::test
