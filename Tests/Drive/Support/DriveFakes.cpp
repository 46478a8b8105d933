#include "Drive/Support/DriveFakes.h"

#include "Store/OVFile.h"

namespace orvex::test {

void LockedSet::add(const std::string& value) {
  std::lock_guard lock(mutex_);
  values_.insert(value);
}

bool LockedSet::contains(const std::string& value) const {
  std::lock_guard lock(mutex_);
  return values_.contains(value);
}

bool FakeDownloads::isFileDownloaded(const OVFile& file) {
  return downloaded.contains(file.internalName);
}

bool FakeDownloads::isFileInQueue(const OVFile& file) {
  return queued.contains(file.internalName);
}

bool FakeDownloads::pathHasDownloads(const std::string& path) {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (hook)
    hook();
  return withDownloads.contains(path);
}

void FakeDownloads::onPathHasDownloads(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

bool FakeUploads::isFileInUploadQueue(const OVFile& file) {
  return queued.contains(file.internalName);
}

std::string FakeAccount::loggedUserEmail() {
  std::lock_guard lock(mutex_);
  return email_;
}

bool FakeAccount::lockAvailableForShare(const ManagedSharePtr& share) {
  return !share || !sharesWithoutLocking.contains(share->ShareId.value_or(""));
}

void FakeAccount::setEmail(const std::string& email) {
  std::lock_guard lock(mutex_);
  email_ = email;
}

void RecordingListener::changed(const std::function<void(Counts&)>& change) {
  {
    std::lock_guard lock(mutex_);
    change(counts_);
  }
  changed_.notify_all();
}

void RecordingListener::driveDidMount() {
  changed([](Counts& counts) { ++counts.mounts; });
}

void RecordingListener::driveMountDidFail(int code) {
  changed([code](Counts& counts) { counts.failures.push_back(code); });
}

void RecordingListener::driveDidUnmount() {
  changed([](Counts& counts) { ++counts.unmounts; });
}

RecordingListener::Counts RecordingListener::counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

bool RecordingListener::waitFor(const std::function<bool(const Counts&)>& done, std::chrono::seconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(counts_); });
}

void RecordingSystemLog::report(const std::string& message) {
  std::lock_guard lock(mutex_);
  reports_.push_back(message);
}

std::vector<std::string> RecordingSystemLog::reports() {
  std::lock_guard lock(mutex_);
  return reports_;
}

} // namespace orvex::test
