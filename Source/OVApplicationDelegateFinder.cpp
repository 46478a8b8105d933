#include "Drive/OVFuseUtils.h"
#include "OVApplicationDelegate.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

extern char** environ;

namespace orvex {
namespace {

// More folders than this are not worth redrawing one by one.
constexpr std::size_t kMaxRefreshPaths = 10;

std::string joined(const std::string& folder, std::string_view component) {
  return folder + (folder.ends_with('/') ? "" : "/") + std::string(component);
}

std::string parentOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

void runXdgOpen(const std::string& path) {
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  pid_t child = 0;
  int result = posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ);
  if (result != 0) {
    OVLog(kLogMain, "Warning! Cannot run xdg-open for {}: {}", path, std::generic_category().message(result));
    return;
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

// The drive is served by this very process. A request of one of its threads
// to the drive, once a FUSE worker has taken it, waits unkillably for the
// answer: killed at that moment, the process could never finish dying, and
// its drive and single-instance lock would stay held. So the markers are
// touched by a helper process, which holds neither (all its descriptors are
// closed) and which a dead drive simply answers with errors.
void touchRefreshMarkers(const std::set<std::string>& paths) {
  // Opening read-write creates nothing on the drive; the open and the
  // unlink are what file managers notice.
  constexpr const char* kScript = R"(for path do true <>"$path"; done; exec rm -f -- "$@")";
  std::vector<const char*> argv = {"/bin/sh", "-c", kScript, "orvex-refresh"};
  for (const std::string& path : paths)
    argv.push_back(path.c_str());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  pid_t child = 0;
  const int result = posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    OVLog(kLogMain, "Warning! Cannot refresh folders in the file manager: {}", std::generic_category().message(result));
    return;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
}

} // namespace

void OVApplicationDelegate::refreshFileInFinder(const OVFile& file) {
  backgroundQueue_.async([this, file] {
    std::lock_guard lock(refreshLock_);
    std::string mount = mountPath();
    std::vector<std::string> volumePaths;
    if (auto path = database_->fullFilePath(file))
      volumePaths.push_back(*path);
    if (auto more = database_->allFilePathsFromSubshare(file))
      volumePaths.insert(volumePaths.end(), more->begin(), more->end());
    std::set<std::string> paths;
    for (const std::string& volumePath : volumePaths) {
      if (volumePath.empty())
        continue;
      for (std::string path = mount + volumePath; path.size() > mount.size(); path = parentOf(path))
        paths.insert(path);
    }
    for (const std::string& path : paths)
      finderChannel_->updateOverlayIcon(path);
  });
}

void OVApplicationDelegate::collectFolderPaths(const std::string& id, std::set<std::string>& paths) {
  std::string mount = mountPath();
  if (auto file = database_->fileWithId(id, false)) {
    std::vector<std::string> volumePaths;
    if (auto path = database_->fullFilePath(*file))
      volumePaths.push_back(*path);
    if (auto more = database_->allFilePathsFromSubshare(*file))
      for (const std::string& path : *more)
        if (!path.empty())
          volumePaths.push_back(path);
    for (const std::string& path : volumePaths) {
      paths.insert(joined(mount + parentOf(path), kFinderRefresh));
      paths.insert(joined(mount + path, kFinderRefresh));
    }
  } else if (auto share = database_->shareWithId(id)) {
    paths.insert(joined(joined(mount, share->DisplayName.value_or("")), kFinderRefresh));
  }
}

void OVApplicationDelegate::refreshFinderFolders(const std::set<std::string>& folderIds) {
  backgroundQueue_.async([this, folderIds] {
    std::set<std::string> paths;
    {
      std::lock_guard lock(refreshLock_);
      for (const std::string& id : folderIds) {
        if (paths.size() > kMaxRefreshPaths)
          break;
        collectFolderPaths(id, paths);
      }
    }
    refreshFinderPathes(paths);
  });
}

void OVApplicationDelegate::refreshFinderPathes(const std::set<std::string>& paths) {
  backgroundQueue_.async([this, paths] {
    std::lock_guard lock(refreshLock_);
    // The drive answers these opens without creating anything; the change
    // notices they cause make the file manager read the folders again.
    if (!paths.empty())
      touchRefreshMarkers(paths);
  });
}

void OVApplicationDelegate::refreshFinderRootFolder() {
  refreshFinderPathes({joined(mountPath(), kFinderRefresh)});
}

void OVApplicationDelegate::openShareFolder(const ManagedShare& share) {
  std::string folder = joined(mountPath(), share.DisplayName.value_or(""));
  backgroundQueue_.async([folder] { runXdgOpen(folder); });
}

void OVApplicationDelegate::openRootFolder() {
  backgroundQueue_.async([folder = mountPath()] { runXdgOpen(folder); });
}

} // namespace orvex
