#include "Drive/OVFuseMount.h"

#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseOperations.h"
#include "OVLogger.h"
#include "Platform/SystemLog.h"

#include <fcntl.h>
#include <fuse.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <thread>

namespace orvex {
namespace {

constexpr long kFuseSuperMagic = 0x65735546;

// An argument vector over `words` (which must outlive it), ending with a null.
std::vector<char*> argumentVector(std::vector<std::string>& words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// A FUSE mount whose daemon is gone answers every call with ENOTCONN. Such a
// mount in the way is detached before the new one; answers a code when it stays.
int clearDeadMount(const std::string& path, SystemLog& systemLog) {
  struct statfs stats {};
  if (::statfs(path.c_str(), &stats) == 0 || errno != ENOTCONN)
    return 0;
  (void)unmountDrive(path, true);
  if (::statfs(path.c_str(), &stats) != 0 && errno == ENOTCONN) {
    systemLog.report("Unable to unmount an existing 'dead' filesystem.");
    return kMountDeadUnmountFailed;
  }
  return 0;
}

int checkMountPoint(const std::string& path, SystemLog& systemLog) {
  struct stat attributes {};
  if (::stat(path.c_str(), &attributes) != 0) {
    if (errno == ENOENT) {
      if (::mkdir(path.c_str(), 0775) == 0)
        return 0;
      systemLog.report("Unable to create file system mount point.");
      return kMountCannotCreate;
    }
    // Any other failure is left to the mount itself to report.
    return errno == ENOTDIR ? kMountParentNotADirectory : 0;
  }
  return S_ISDIR(attributes.st_mode) ? 0 : kMountNotADirectory;
}

// Mounts and serves until unmounted or ended: the loop's result, or nothing
// when the drive could not be mounted at all.
std::optional<int> runFuse(const OVMountRequest& request, OVFuseCallback& drive, OVFuseLoop& loop) {
  std::vector<std::string> words{request.programName};
  for (const std::string& option : request.options) {
    words.emplace_back("-o");
    words.push_back(option);
  }
  std::vector<char*> argv = argumentVector(words);
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(words.size()), argv.data());

  std::optional<int> result;
  if (fuse* session = fuse_new(&args, &orvex_oper(), sizeof(fuse_operations), &drive)) {
    if (fuse_mount(session, request.mountPath.c_str()) == 0) {
      // The library's defaults (up to 10 workers, one shared device
      // descriptor); no signal handlers, which belong to the application.
      fuse_loop_config* config = fuse_loop_cfg_create();
      loop.attach(session);
      result = fuse_loop_mt(session, config);
      loop.detach();
      fuse_loop_cfg_destroy(config);
      // Unmounting before the destroy callback keeps it from racing a remount
      // at the same path: the session only unmounts what it still serves.
      fuse_unmount(session);
    }
    fuse_destroy(session);
  }
  fuse_opt_free_args(&args);
  return result;
}

// Unprivileged users unmount through the setuid helper; its message tells a
// busy file system from other failures.
int runFusermount(const std::string& path, bool lazy) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0)
    return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  std::vector<std::string> words{"fusermount3", lazy ? "-uz" : "-u", "--", path};
  std::vector<char*> argv = argumentVector(words);
  std::string locale = "LC_ALL=C";
  std::vector<char*> env{locale.data(), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, "fusermount3", &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string message;
  char chunk[256];
  for (ssize_t got; spawned == 0 && (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
    message.append(chunk, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  if (spawned != 0)
    return spawned;
  int status = 0;
  while (::waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return 0;
  return message.find("busy") != std::string::npos ? EBUSY : EIO;
}

} // namespace

bool OVFuseLoop::requestExit() {
  std::lock_guard lock(mutex_);
  if (session_ == nullptr)
    return false;
  fuse_exit(session_);
  return true;
}

int OVFuseLoop::invalidatePath(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (session_ == nullptr)
    return -ESRCH;
  return fuse_invalidate_path(session_, path.c_str());
}

void OVFuseLoop::attach(fuse* session) {
  std::lock_guard lock(mutex_);
  session_ = session;
}

void OVFuseLoop::detach() {
  std::lock_guard lock(mutex_);
  session_ = nullptr;
}

int mount_orvex(const OVMountRequest& request, OVFuseCallback& drive, OVFuseLoop& loop,
                const std::function<void(int)>& postMountError, SystemLog& systemLog) {
  for (int attempt = 1;; ++attempt) {
    int code = clearDeadMount(request.mountPath, systemLog);
    if (code == 0)
      code = checkMountPoint(request.mountPath, systemLog);
    if (code != 0) {
      postMountError(code);
      return code;
    }
    if (const std::optional<int> result = runFuse(request, drive, loop)) {
      OVLog(kLogMain, "fuse_main finished with return code {}", *result);
      return *result;
    }
    OVLog(kLogMain, "fuse_main finished with return code {}", -1);
    // A mount of a process that just died may still be going away; the
    // next attempt clears it. A drive that cannot be mounted at all is
    // reported, never left silently absent.
    if (attempt == kMountAttempts) {
      postMountError(kMountCannotMount);
      return kMountCannotMount;
    }
    std::this_thread::sleep_for(kMountRetryDelay);
  }
}

int unmountDrive(const std::string& path, bool lazy) {
  if (::geteuid() != 0)
    return runFusermount(path, lazy);
  return ::umount2(path.c_str(), lazy ? MNT_DETACH : 0) == 0 ? 0 : errno;
}

bool isFuseMountPoint(const std::string& path) {
  struct statfs stats {};
  if (::statfs(path.c_str(), &stats) != 0)
    return errno == ENOTCONN;
  if (stats.f_type != kFuseSuperMagic)
    return false;
  // The folder of a FUSE mount is itself on it; a path below is not a mount point.
  struct stat here {};
  struct stat parent {};
  return ::stat(path.c_str(), &here) == 0 && ::stat((path + "/..").c_str(), &parent) == 0 &&
         (here.st_dev != parent.st_dev || here.st_ino == parent.st_ino);
}

} // namespace orvex
