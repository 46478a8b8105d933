#include "ShareStoreTestSupport.h"

#include <algorithm>

namespace orvex::test {

TimerHandle ManualMainQueue::after(Clock::Duration delay, Job job) {
  std::lock_guard lock(mutex_);
  TimerHandle handle;
  jobs_.push_back({clock_.steadyNow() + delay, posted_++, handle, std::move(job)});
  return handle;
}

int ManualMainQueue::runDue() {
  int ran = 0;
  for (;;) {
    Job job;
    {
      std::lock_guard lock(mutex_);
      auto due = std::min_element(jobs_.begin(), jobs_.end(), [](const Delayed& a, const Delayed& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
      });
      if (due == jobs_.end() || due->due > clock_.steadyNow())
        return ran;
      if (!due->handle.isCancelled())
        job = std::move(due->job);
      jobs_.erase(due);
    }
    if (job) {
      job();
      ++ran;
    }
  }
}

ManagedShare makeShare(const std::string& id, const std::string& name) {
  ManagedShare share;
  share.ShareId = id;
  share.ShareName = name;
  return share;
}

ClientLoginResponse profileWith(std::vector<ManagedShare> shares) {
  ClientLoginResponse profile;
  profile.ManagedShares = std::move(shares);
  return profile;
}

ShareStoreTest::ShareStoreTest() : store(reopen()) {}

void ShareStoreTest::receive(const std::string& domain, std::vector<ManagedShare> shares) {
  store->updateSharesForDomain(profileWith(std::move(shares)), domain);
}

std::string ShareStoreTest::displayName(const std::string& id) const {
  ManagedSharePtr share = store->shareWithId(id);
  return share ? share->DisplayName.value_or("") : "";
}

std::unique_ptr<OVMetadataStorage> ShareStoreTest::reopen() {
  auto opened = std::make_unique<OVMetadataStorage>(cache, main, clock);
  opened->load();
  return opened;
}

} // namespace orvex::test
