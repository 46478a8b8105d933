#include "BenchDrive.h"

#include "Drive/OVMountOptions.h"
#include "OVLogger.h"
#include "Platform/SystemLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orvex {
namespace {

[[noreturn]] void failAs(const std::string& label, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", label.c_str(), what.c_str());
  std::exit(1);
}

std::filesystem::path makeFolder(const std::string& label) {
  std::string name = "orvex-" + label + "-XXXXXX";
  std::replace(name.begin(), name.end(), ' ', '-');
  std::string pattern = (std::filesystem::temp_directory_path() / name).string();
  if (mkdtemp(pattern.data()) == nullptr)
    failAs(label, "cannot make a temporary folder");
  OVLogger::shared().initLogs(std::filesystem::path(pattern) / "Logs");
  return pattern;
}

} // namespace

BenchStore::BenchStore(std::string benchLabel)
    : label(std::move(benchLabel)),
      folder(makeFolder(label)),
      cache(folder / "Orvex"),
      shares(cache, mainQueue),
      eraser(cache) {}

void BenchStore::fail(const std::string& what) const {
  failAs(label, what);
}

void BenchStore::remove() const {
  OVLogger::shared().flush();
  std::filesystem::remove_all(folder);
}

ClientLoginResponse profileWithShare(const std::string& shareId, const std::string& name) {
  ManagedShare share;
  share.ShareId = shareId;
  share.ShareName = name;
  ClientLoginResponse profile;
  profile.ManagedShares = std::vector<ManagedShare>{share};
  return profile;
}

BenchMount::BenchMount(OVFuseCallback& drive, BenchStore& store, std::string appTitle)
    : store_(store),
      path_((store.folder / "Drive").string()),
      controller_(std::make_unique<OVMountController>(
          drive, static_cast<OVMountListener&>(*this), store.mainQueue,
          OVMountController::Config{std::move(appTitle), path_, false, "orvex-bench"}, OVMountFacts::probe(),
          SystemLog::syslog())) {
  mainThread_ = std::thread([this] { store_.mainQueue.run(); });
  store.mainQueue.sync([this] { controller_->initializeFuse(); });
  if (waitForMount() != 1) {
    stopMainThread();
    store.fail("the drive did not mount");
  }
}

BenchMount::~BenchMount() {
  if (mainThread_.joinable())
    unmount();
}

void BenchMount::unmount() {
  store_.mainQueue.sync([this] { controller_.reset(); });
  stopMainThread();
}

void BenchMount::setState(int state) {
  {
    std::lock_guard lock(mutex_);
    state_ = state;
  }
  changed_.notify_all();
}

int BenchMount::waitForMount() {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(30), [this] { return state_ != 0; });
  return state_;
}

void BenchMount::stopMainThread() {
  store_.mainQueue.quit();
  mainThread_.join();
}

} // namespace orvex
