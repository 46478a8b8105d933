#include "Drive/Support/DriveFakes.h"

#include "Store/OVFile.h"
#include "Store/OVFileCache.h"

#include <algorithm>

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

std::string FakeContent::contentOf(const std::string& id, std::uint64_t location, std::uint64_t length) {
  const auto seed = static_cast<std::uint64_t>(std::hash<std::string>{}(id));
  std::string bytes(length, '\0');
  for (std::uint64_t i = 0; i < length; ++i) {
    const std::uint64_t at = location + i;
    bytes[i] = static_cast<char>((at * 131 + (at >> 8) * 7 + (at >> 16) * 3 + seed) & 0xFF);
  }
  return bytes;
}

std::optional<std::string> FakeContent::downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                                      const std::string& /*path*/) {
  ++calls;
  if (failing || location >= file.fileSize)
    return std::nullopt;
  constexpr std::uint64_t kRequest = 1 << 20;
  const std::uint64_t served = std::min(std::max(length, kRequest), file.fileSize - location);
  const std::string bytes = contentOf(file.internalName, location, served);
  cache_.load()->addChunk({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, location, served, file);
  return bytes.substr(0, std::min(length, served));
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
