// The FUSE edge: each callback finds its drive, hands the call to it and
// makes sure nothing but an errno comes back. No exception may unwind into
// libfuse's C frames.
#include "Drive/OVFuseOperations.h"

#include "Drive/OVFuseCallback.h"
#include "Drive/OVMountOptions.h"
#include "OVLogger.h"
#include "Platform/SystemLog.h"

#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// What the drive asks of the library and the kernel before the first request.
void configure(fuse_conn_info& connection, fuse_config& config) {
  // The callbacks find their records by path: every call carries one, but
  // for a node gone stale while open (whose handle still names it). The
  // library's nullpath_ok would withhold it from reads, writes and listings.
  config.nullpath_ok = 0;
  const unsigned offeredReadAhead = connection.max_readahead;
  connection.max_write = std::min(connection.max_write, kDriveMaxTransfer);
  connection.max_read = kDriveMaxTransfer; // as the mount option says; the library checks they agree
  connection.max_readahead = std::min(connection.max_readahead, kDriveMaxTransfer);
  // The library lowers max_write to its buffer after this callback; the
  // kernel sizes its requests (reads included) to what is granted here.
  OVLog(kLogMain,
        "Drive requests: writes up to {} KiB, reads up to {} KiB, read-ahead {} KiB (the kernel offered {} KiB).",
        connection.max_write / 1024, connection.max_read / 1024, connection.max_readahead / 1024,
        offeredReadAhead / 1024);
}

void* orvex_init(fuse_conn_info* connection, fuse_config* config) {
  void* self = fuse_get_context()->private_data;
  guarded("orvex_init", "/", [&] {
    configure(*connection, *config);
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

std::uint64_t handleOf(const fuse_file_info* info) {
  return info != nullptr ? info->fh : 0;
}

int orvex_getattr(const char* path, struct stat* attributes, fuse_file_info* info) {
  return guarded("orvex_getattr", path, [&] {
    // No path: the item was removed while open; nothing describes it any more.
    return path != nullptr ? drive().getattr(path, *attributes, info != nullptr) : -ENOENT;
  });
}

int orvex_opendir(const char* path, fuse_file_info* info) {
  return guarded("orvex_opendir", path, [&] { return drive().opendir(path, info->fh); });
}

int orvex_readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t offset, fuse_file_info* info,
                  fuse_readdir_flags /*flags*/) {
  return guarded("orvex_readdir", path, [&] {
    if (path == nullptr)
      return -ENOENT;
    // Every entry carries its attributes and the offset of the next one: with
    // real offsets the library passes each page to the kernel as it is filled,
    // and with FUSE_FILL_DIR_PLUS the kernel learns every entry's node and
    // attributes at once, so that `ls -l` or `find` need no lookup per entry.
    return drive().readdir(path, handleOf(info), offset,
                           [&](const char* name, const struct stat* attributes, std::int64_t next) {
                             const auto flags = attributes != nullptr ? FUSE_FILL_DIR_PLUS : fuse_fill_dir_flags{};
                             return filler(buffer, name, attributes, next, flags) == 0;
                           });
  });
}

int orvex_releasedir(const char* path, fuse_file_info* info) {
  return guarded("orvex_releasedir", path, [&] {
    drive().releasedir(info->fh);
    info->fh = 0;
    return 0;
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

int orvex_fsync(const char* path, int dataOnly, fuse_file_info* info) {
  return guarded("orvex_fsync", path, [&] { return drive().fsync(path, dataOnly != 0, handleOf(info)); });
}

int orvex_fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* info) {
  return guarded("orvex_fallocate", path,
                 [&] { return drive().fallocate(path, mode, offset, length, handleOf(info)); });
}

// ---- Mode, size and times ---------------------------------------------------

int orvex_chmod(const char* path, mode_t mode, fuse_file_info* /*info*/) {
  return guarded("orvex_chmod", path, [&] { return path != nullptr ? drive().chmod(path, mode) : -ENOENT; });
}

int orvex_truncate(const char* path, off_t size, fuse_file_info* info) {
  return guarded("orvex_truncate", path,
                 [&] { return path != nullptr ? drive().truncate(path, size, handleOf(info)) : -ENOENT; });
}

int orvex_utimens(const char* path, const timespec times[2], fuse_file_info* /*info*/) {
  return guarded("orvex_utimens", path, [&] { return path != nullptr ? drive().utimens(path, times) : -ENOENT; });
}

// ---- Namespace ---------------------------------------------------------------

int orvex_rename(const char* from, const char* to, unsigned int flags) {
  return guarded("orvex_rename", from,
                 [&] { return from != nullptr && to != nullptr ? drive().rename(from, to, flags) : -ENOENT; });
}

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
  table.rename = orvex_rename;
  table.link = [](const char*, const char*) { return readOnly(); };
  table.chmod = orvex_chmod;
  // Owners are not kept: every node belongs to the user who mounted the drive.
  table.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return 0; };
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
  table.opendir = orvex_opendir;
  table.readdir = orvex_readdir;
  table.releasedir = orvex_releasedir;
  table.init = orvex_init;
  table.destroy = orvex_destroy;
  table.create = orvex_create;
  table.utimens = orvex_utimens;
  table.fallocate = orvex_fallocate;
  return table;
}

} // namespace

const fuse_operations& orvex_oper() {
  static const fuse_operations table = makeOperations();
  return table;
}

} // namespace orvex
