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

// Mounts and serves until unmounted or ended; -1 when the mount cannot be made.
int runFuse(const OVMountRequest& request, OVFuseCallback& drive, OVFuseLoop& loop) {
  std::vector<std::string> words{request.programName};
  for (const std::string& option : request.options) {
    words.emplace_back("-o");
    words.push_back(option);
  }
  std::vector<char*> argv = argumentVector(words);
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(words.size()), argv.data());

  int result = -1;
  if (fuse_chan* channel = fuse_mount(request.mountPath.c_str(), &args)) {
    if (fuse* session = fuse_new(channel, &args, &orvex_oper(), sizeof(fuse_operations), &drive)) {
      loop.attach(session);
      result = fuse_loop_mt(session);
      loop.detach();
      // Unmounting first keeps the destroy callback from racing a remount at
      // the same path: the channel only unmounts what it still serves.
      fuse_unmount(request.mountPath.c_str(), channel);
      fuse_destroy(session);
    } else {
      fuse_unmount(request.mountPath.c_str(), channel);
    }
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
  std::vector<std::string> words{"fusermount", lazy ? "-uz" : "-u", "--", path};
  std::vector<char*> argv = argumentVector(words);
  std::string locale = "LC_ALL=C";
  std::vector<char*> env{locale.data(), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, "fusermount", &actions, nullptr, argv.data(), env.data());
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
  int code = clearDeadMount(request.mountPath, systemLog);
  if (code == 0)
    code = checkMountPoint(request.mountPath, systemLog);
  if (code != 0) {
    postMountError(code);
    return code;
  }
  const int result = runFuse(request, drive, loop);
  OVLog(kLogMain, "fuse_main finished with return code {}", result);
  return result;
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
