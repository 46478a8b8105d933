#include "Drive/Support/DriveHarness.h"

#include "Drive/OVMountTable.h"
#include "OVLogger.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

// libfuse 2 loses the record of the request in flight when a drive still in
// use is forced off (its loop ended while the kernel still sends). It is
// libfuse's own allocation on its own worker thread, once per forced end;
// nothing of ours is hidden by this.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfuse.so.2\n";
}

namespace orvex::test {

DriveHarness::DriveHarness(Options options) {
  mountPath =
      options.mountFolder.starts_with('/') ? options.mountFolder : (store.folder.path() / options.mountFolder).string();
  store.database->load(false);
  OVDriveDownloadStatus& downloadStatus =
      options.downloadsFromCache ? static_cast<OVDriveDownloadStatus&>(cacheDownloads) : downloads;
  OVDriveContentSource& content = options.content != nullptr ? *options.content : noContent;
  drive = std::make_unique<OVFuseCallback>(db(), store.fileCache, downloadStatus, uploads, account, content,
                                           OVFuseCallback::Config{options.excessiveLogging}, store.clock);
  OVMountController::Config config{options.title, mountPath, false, "orvex-tests"};
  controller = std::make_unique<OVMountController>(*drive, listener, main, config, options.facts, systemLog);
  db().setPathChangeListener(&controller->invalidator());
  mainThread_ = std::thread([this] { main.run(); });
  descriptorsBefore_ = openDescriptors();
}

DriveHarness::~DriveHarness() {
  tearDown();
}

void DriveHarness::tearDown() {
  // The controller unmounts and waits for its mount thread; it lives on the main thread.
  db().setPathChangeListener(nullptr);
  main.sync([this] { controller.reset(); });
  main.quit();
  mainThread_.join();
  if (fuseMountDevice(mountPath)) {
    ADD_FAILURE() << "a mount was left behind at " << mountPath;
    ::umount2(mountPath.c_str(), MNT_DETACH);
  }
  // Only what belongs to this drive: another harness of the same test may still run.
  // The cache keeps the descriptor of each node read in the last seconds
  // open on purpose; those it owns are not leaks.
  const std::string ours = store.folder.path().string();
  const std::string files = store.fileCache.filesCachePath().string();
  const std::string partials = store.fileCache.downloadsCachePath().string();
  std::size_t cacheOwned = 0;
  for (const auto& [fd, target] : openDescriptors()) {
    if (descriptorsBefore_.contains(fd) || !(target.starts_with(ours) || target == "/dev/fuse"))
      continue;
    if ((target.starts_with(files) || target.starts_with(partials)) && ++cacheOwned <= store.fileCache.openItemCount())
      continue;
    ADD_FAILURE() << "descriptor " << fd << " left open on " << target;
  }
  for (unsigned type : {kLogMain, kLogFuse}) {
    for (const std::string& line : log.lines(type))
      EXPECT_EQ(line.find("Error!"), std::string::npos) << line;
  }
}

ManagedShare DriveHarness::share(const std::string& id, const std::string& name) {
  ManagedShare share;
  share.ShareId = id;
  share.DisplayName = name;
  return share;
}

OVFile DriveHarness::addNode(const std::string& shareId, const std::string& id, const std::string& parent,
                             const std::string& name, bool isFile, std::uint64_t size) {
  OVFile file = makeFile(id, parent, name, store.clock);
  file.shareId = shareId;
  file.isFile = isFile;
  file.fileSize = size;
  file.status = kFileStatusSynchronized;
  file.permissions = isFile ? kDefaultFilePermissions : kDefaultFolderPermissions;
  write(file);
  return file;
}

void DriveHarness::write(const OVFile& file) {
  EXPECT_TRUE(insertRow(db(), file)) << file.internalName;
}

bool DriveHarness::mount() {
  const int before = listener.counts().mounts;
  main.sync([this] { controller->initializeFuse(); });
  const bool up =
      listener.waitFor([&](const RecordingListener::Counts& c) { return c.mounts > before || !c.failures.empty(); });
  EXPECT_TRUE(up && listener.counts().mounts > before) << "the drive did not come up at " << mountPath;
  return up && listener.counts().mounts > before;
}

std::string DriveHarness::readRange(const std::string& volumePath, std::uint64_t offset, std::size_t length,
                                    int* error) const {
  const int fd = ::open(at(volumePath).c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(fd, -1) << volumePath << ": error " << errno;
  std::string bytes(length, '\0');
  const ssize_t got = ::pread(fd, bytes.data(), length, static_cast<off_t>(offset));
  if (error != nullptr)
    *error = got < 0 ? errno : 0;
  ::close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return bytes;
}

std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    descriptors.emplace(std::stoi(entry.path().filename().string()), target);
  }
  return descriptors;
}

bool eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    std::this_thread::yield();
  }
  return true;
}

std::vector<std::string> listFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) {
    ADD_FAILURE() << "cannot list " << path << ": error " << errno;
    return names;
  }
  while (dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
  ::closedir(folder);
  return names;
}

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

} // namespace orvex::test
