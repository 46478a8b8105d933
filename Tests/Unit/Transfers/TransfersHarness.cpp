#include "Unit/Transfers/TransfersHarness.h"

#include "Store/OVFileCache.h"
#include "Support/TempDir.h"
#include "Transfers/OVDownloadQueue.h"

#include <gtest/gtest.h>

#include <any>

namespace orvex::test {

namespace {
constexpr std::chrono::seconds kWait{20};
}

void FakeBearerSource::fetchAuthBearerWithCompletion(Completion completion) {
  ++fetches_;
  int left = failures_.load();
  while (left > 0 && !failures_.compare_exchange_weak(left, left - 1)) {
  }
  if (left > 0) {
    completion(false, {});
    return;
  }
  std::optional<std::string> bearer;
  {
    const std::lock_guard lock(mutex_);
    bearer = bearer_;
  }
  if (bearer) {
    completion(true, *bearer);
  }
}

void FakeBearerSource::setBearer(std::optional<std::string> bearer) {
  const std::lock_guard lock(mutex_);
  bearer_ = std::move(bearer);
}

NotificationRecorder::NotificationRecorder(NotificationCenter& center) : center_(center) {
  for (const char* name :
       {kOVNotificationFileDownloadStarted, kOVNotificationFileDownloadProgress, kOVNotificationFileDownloadFinished}) {
    ids_.push_back(center.addObserver(name, queue_, [this](const Notification& notification) {
      Entry entry{notification.name, {}, {}, false};
      const auto& info = notification.userInfo;
      if (auto file = info.find(kOVNotificationKeyFile); file != info.end()) {
        entry.file = std::any_cast<OVFile>(file->second).internalName;
      }
      if (auto progress = info.find(kOVNotificationKeyProgress); progress != info.end()) {
        entry.progress = std::any_cast<std::int64_t>(progress->second);
      }
      entry.error = info.contains(kOVNotificationKeyError) && std::any_cast<bool>(info.at(kOVNotificationKeyError));
      const std::lock_guard lock(mutex_);
      entries_.push_back(std::move(entry));
      changed_.notify_all();
    }));
  }
}

NotificationRecorder::~NotificationRecorder() {
  for (auto id : ids_) {
    center_.removeObserver(id);
  }
}

std::vector<NotificationRecorder::Entry> NotificationRecorder::entries() {
  const std::lock_guard lock(mutex_);
  return entries_;
}

bool NotificationRecorder::waitFor(const std::function<bool(const std::vector<Entry>&)>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWait, [&] { return done(entries_); });
}

std::vector<NotificationRecorder::Entry> NotificationRecorder::of(const std::string& file, const std::string& name) {
  std::vector<Entry> found;
  for (auto& entry : entries()) {
    if (entry.file == file && entry.name == name) {
      found.push_back(entry);
    }
  }
  return found;
}

TransfersHarness::TransfersHarness(const std::string& domain) {
  ManagedShare docs;
  docs.ShareId = "docs";
  docs.DisplayName = "Documents";
  docs.GateWayUrl = domain;
  database.shareStore.addShare(docs);
  db().load(false);
  BrandFile brand;
  settingsFile = std::make_unique<SettingsFile>(database.folder.path() / "settings.json",
                                                OVSettings::schema(brand.bundleName), database.clock);
  settings = std::make_unique<OVSettings>(brand, *settingsFile);
}

TransfersHarness::~TransfersHarness() = default;

OVFile TransfersHarness::node(const std::string& id, const std::string& parent, const std::string& name, bool isFile,
                              std::uint64_t size, std::uint64_t status) {
  OVFile file = makeFile(id, parent, name, database.clock);
  file.shareId = "docs";
  file.isFile = isFile;
  file.fileSize = isFile ? size : 0;
  file.uploadName = isFile ? "u-" + id : "";
  file.status = status;
  EXPECT_TRUE(insertRow(db(), file)) << id;
  return file;
}

void TransfersHarness::cacheComplete(const OVFile& file, const std::string& content) {
  auto path = database.fileCache.pathForFileCache(file);
  ASSERT_TRUE(path);
  writeFile(*path, content);
}

} // namespace orvex::test
