// The FUSE edge: each callback finds its drive, hands the call to it and
// makes sure nothing but an errno comes back. No exception may unwind into
// libfuse's C frames.
#include "Drive/OVFuseOperations.h"

#include "Drive/OVFuseCallback.h"
#include "OVLogger.h"
#include "Platform/SystemLog.h"

#include <fuse.h>

#include <cerrno>
#include <exception>
#include <new>

namespace orvex {
namespace {

OVFuseCallback& drive() {
  return *static_cast<OVFuseCallback*>(fuse_get_context()->private_data);
}

void logFailure(const char* op, const char* path, const char* what) noexcept {
  try {
    OVLog(kLogFuse, "Error! {} {}: {}", op, path != nullptr ? path : "(no path)", what);
  } catch (...) { // NOLINT(bugprone-empty-catch): nothing is left to report with
  }
}

void reportDestroyFailure(const char* what) noexcept {
  try {
    SystemLog::syslog().report(fmt::format("{} exception: {}", "orvex_destroy", what));
  } catch (...) { // NOLINT(bugprone-empty-catch): nothing is left to report with
  }
}

// Unknown failures become EIO and are logged once; memory exhaustion is ENOMEM.
template <class Body>
int guarded(const char* op, const char* path, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  } catch (const std::exception& e) {
    logFailure(op, path, e.what());
  } catch (...) {
    logFailure(op, path, "unknown exception");
  }
  return -EIO;
}

// ---- Volume --------------------------------------------------------------

void* orvex_init(fuse_conn_info* /*conn*/) {
  // The capability bits the drive asks for elsewhere (allocation, exchange,
  // extended times, volume rename) have no Linux counterpart; large writes
  // come with the "big_writes" option. What FUSE offers is left as it is.
  void* self = fuse_get_context()->private_data;
  guarded("orvex_init", "/", [&] {
    static_cast<OVFuseCallback*>(self)->didInit();
    return 0;
  });
  // The returned pointer becomes the private data of every later call.
  return self;
}

void orvex_destroy(void* self) {
  // Called while the application shuts the drive down, possibly at exit, when
  // its own logs may be closed already: failures go to the system log.
  try {
    static_cast<OVFuseCallback*>(self)->didDestroy();
  } catch (const std::exception& e) {
    reportDestroyFailure(e.what());
  } catch (...) {
    reportDestroyFailure("unknown exception");
  }
}

int orvex_statfs(const char* path, struct statvfs* stats) {
  return guarded("orvex_statfs", path, [&] { return drive().statfs(path, *stats); });
}

// ---- Attributes and listings ---------------------------------------------

int orvex_getattr(const char* path, struct stat* attributes) {
  return guarded("orvex_getattr", path, [&] { return drive().getattr(path, *attributes); });
}

int orvex_fgetattr(const char* path, struct stat* attributes, fuse_file_info* /*info*/) {
  return guarded("orvex_fgetattr", path, [&] {
    // No path: the item was removed while open; nothing describes it any more.
    return path != nullptr ? drive().getattr(path, *attributes) : -ENOENT;
  });
}

int orvex_readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t /*offset*/, fuse_file_info* /*info*/) {
  return guarded("orvex_readdir", path, [&] {
    if (path == nullptr)
      return -ENOENT;
    // Offset 0 for every entry: the whole folder goes to the kernel in one pass.
    return drive().readdir(path, [&](const char* name) { return filler(buffer, name, nullptr, 0) == 0; });
  });
}

// ---- Extended attributes --------------------------------------------------

int orvex_getxattr(const char* path, const char* name, char* value, size_t size) {
  return guarded("orvex_getxattr", path, [&] { return drive().getxattr(path, name, value, size); });
}

int orvex_setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  return guarded("orvex_setxattr", path, [&] { return drive().setxattr(path, name, value, size, flags); });
}

int orvex_listxattr(const char* path, char* list, size_t size) {
  return guarded("orvex_listxattr", path, [&] { return drive().listxattr(path, list, size); });
}

int orvex_removexattr(const char* path, const char* name) {
  return guarded("orvex_removexattr", path, [&] { return drive().removexattr(path, name); });
}

// ---- Contents --------------------------------------------------------------

pid_t caller() {
  const pid_t pid = fuse_get_context()->pid;
  return pid > 0 ? pid : -1;
}

int orvex_open(const char* path, fuse_file_info* info) {
  return guarded("orvex_open", path, [&] { return drive().open(path, info->flags, caller(), info->fh); });
}

int orvex_create(const char* path, mode_t mode, fuse_file_info* info) {
  return guarded("orvex_create", path, [&] { return drive().create(path, mode, caller(), info->fh); });
}

int orvex_read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
  return guarded("orvex_read", path, [&] {
    // No path: the node was removed while open; its handle still names it.
    return drive().read(path != nullptr ? path : "", buffer, size, offset, info->fh);
  });
}

int orvex_write(const char* path, const char* data, size_t size, off_t offset, fuse_file_info* info) {
  return guarded("orvex_write", path,
                 [&] { return drive().write(path != nullptr ? path : "", data, size, offset, info->fh); });
}

int orvex_release(const char* path, fuse_file_info* info) {
  return guarded("orvex_release", path, [&] {
    const int result = drive().release(path, info->fh);
    info->fh = 0;
    return result;
  });
}

int orvex_fsync(const char* path, int /*dataOnly*/, fuse_file_info* /*info*/) {
  return guarded("orvex_fsync", path, [&] { return drive().fsync(path); });
}

int orvex_fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* info) {
  return guarded("orvex_fallocate", path, [&] { return drive().fallocate(path, mode, offset, length, info->fh); });
}

// ---- Mode, size and times ---------------------------------------------------

int orvex_chmod(const char* path, mode_t mode) {
  return guarded("orvex_chmod", path, [&] { return path != nullptr ? drive().chmod(path, mode) : -ENOENT; });
}

int orvex_truncate(const char* path, off_t size) {
  return guarded("orvex_truncate", path, [&] { return path != nullptr ? drive().truncate(path, size) : -ENOENT; });
}

int orvex_ftruncate(const char* path, off_t size, fuse_file_info* info) {
  return guarded("orvex_ftruncate", path,
                 [&] { return path != nullptr ? drive().truncate(path, size, info->fh) : -ENOENT; });
}

int orvex_utimens(const char* path, const timespec times[2]) {
  return guarded("orvex_utimens", path, [&] { return path != nullptr ? drive().utimens(path, times) : -ENOENT; });
}

// ---- Not built yet ---------------------------------------------------------
// Changes to the namespace come with the upload of such changes. Until then
// the drive answers them as a read-only file system does, so that no program
// believes a change was kept.

int readOnly() {
  return -EROFS;
}

fuse_operations makeOperations() {
  fuse_operations table{};
  table.getattr = orvex_getattr;
  table.readlink = nullptr; // the drive shows no symbolic links
  table.mkdir = [](const char*, mode_t) { return readOnly(); };
  table.unlink = [](const char*) { return readOnly(); };
  table.rmdir = [](const char*) { return readOnly(); };
  table.symlink = [](const char*, const char*) { return readOnly(); };
  table.rename = [](const char*, const char*) { return readOnly(); };
  table.link = [](const char*, const char*) { return readOnly(); };
  table.chmod = orvex_chmod;
  // Owners are not kept: every node belongs to the user who mounted the drive.
  table.chown = [](const char*, uid_t, gid_t) { return 0; };
  table.truncate = orvex_truncate;
  table.open = orvex_open;
  table.read = orvex_read;
  table.write = orvex_write;
  table.release = orvex_release;
  table.fsync = orvex_fsync;
  table.statfs = orvex_statfs;
  table.setxattr = orvex_setxattr;
  table.getxattr = orvex_getxattr;
  table.listxattr = orvex_listxattr;
  table.removexattr = orvex_removexattr;
  table.readdir = orvex_readdir;
  table.init = orvex_init;
  table.destroy = orvex_destroy;
  table.create = orvex_create;
  table.ftruncate = orvex_ftruncate;
  table.fgetattr = orvex_fgetattr;
  table.utimens = orvex_utimens;
  table.fallocate = orvex_fallocate;
  // Callbacks receive a path even for open files: they find their records by
  // path, and a null one arrives only for an item removed while open.
  table.flag_nullpath_ok = 1;
  table.flag_nopath = 0;
  table.flag_utime_omit_ok = 0;
  return table;
}

} // namespace

const fuse_operations& orvex_oper() {
  static const fuse_operations table = makeOperations();
  return table;
}

} // namespace orvex
