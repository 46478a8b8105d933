// Opening, creating, reading, writing and closing files. Contents live in the
// node's cache file; what is not cached is fetched range by range through the
// content source while the reader waits. Writes go to the cache file and mark
// the node modified in the store, where they wait for upload.
#include "Drive/OVDriveContentSource.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvex {
namespace {

// Only the access mode and the sync behaviour carry over to the cache file:
// the kernel has already placed appends at the end, and O_DIRECT would ask
// for aligned buffers the kernel does not promise us.
int cacheFlags(int openFlags, bool forWriting) {
  const int access = forWriting || (openFlags & O_ACCMODE) != O_RDONLY ? O_RDWR : O_RDONLY;
  return access | (openFlags & (O_SYNC | O_DSYNC)) | O_CLOEXEC;
}

int descriptorOf(OVFuseFileData& handle) {
  std::lock_guard lock(handle.descriptorMutex);
  return handle.fileDescriptor;
}

// A write keeps bytes of the server's content unless it replaces all of it.
// Content created here has no server bytes to keep.
bool keepsServerContent(const OVFile& file, std::size_t size, std::int64_t offset) {
  return file.status != kFileStatusNew && file.fileSize > 0 && (offset != 0 || size < file.fileSize);
}

} // namespace

int OVFuseCallback::open(const char* path, int flags, pid_t process, std::uint64_t& handle) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{} mode: ({})", "orvex_open", final, flags);
  handle = 0;
  if (isVolumeOnlyName(final))
    return 0;
  const bool writes = (flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0;
  if (writes && !OVFuseUtils::isPathIgnored(final, false)) {
    if (auto share = database_.shareWithPath(final); share && share->isReadOnly())
      return -EACCES;
  }
  auto file = recordAt(final);
  if (!file || file->deleted) {
    OVLog(kLogFuse, "error --> {}:{} mode: ({})", "orvex_open", final, flags);
    return -ENOENT;
  }
  // libfuse 3 passes O_TRUNC on to open instead of truncating first, and the
  // kernel takes the file as empty once open succeeds.
  if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) != O_RDONLY) {
    if (const int truncated = truncate(path, 0, 0); truncated != 0)
      return truncated;
  }
  handle = handleFromFileData(openFiles_.open(flags, -1, process, file->internalName));
  return 0;
}

int OVFuseCallback::read(const char* path, char* buffer, std::size_t size, std::int64_t offset, std::uint64_t handle) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_read", final);
  if (isVolumeOnlyName(final))
    return 0;
  OVFuseFileData* data = fileDataFromHandle(handle);
  if (data == nullptr) {
    OVLog(kLogFuse, "{}:{} failed : userData is nil", "orvex_read", final);
    return -EBADF;
  }
  auto file = database_.fileWithId(openFiles_.fileId(*data), false);
  if (!file || !file->isFile || offset < 0) {
    OVLog(kLogFuse, "{}:{} failed : EINVAL", "orvex_read", final);
    return -EINVAL;
  }
  // A handle that wrote reads its own cache file, whatever the server holds.
  int fd = descriptorOf(*data);
  if (fd == -1) {
    if (!downloads_.isFileDownloaded(*file))
      return readMissing(final, *file, buffer, size, offset);
    fd = descriptorForRead(*data, *file);
    if (fd == -ENOENT && file->fileSize == 0)
      return 0; // an empty file needs no cache file
    if (fd < 0)
      return fd;
  }
  const ssize_t got = ::pread(fd, buffer, size, offset);
  if (got < 0) {
    const int error = errno;
    OVLog(kLogFuse, "{}:{} failed : pread error {}", "orvex_read", final, error);
    return -error;
  }
  return static_cast<int>(got);
}

int OVFuseCallback::descriptorForRead(OVFuseFileData& handle, const OVFile& file) {
  std::lock_guard lock(handle.descriptorMutex);
  if (handle.fileDescriptor != -1)
    return handle.fileDescriptor;
  const auto cachePath = cache_.pathForFileCache(file);
  if (!cachePath)
    return -EIO; // the path check warned
  const int fd = ::open(cachePath->c_str(), cacheFlags(handle.openFlags, false), 0600);
  if (fd == -1)
    return -errno;
  handle.fileDescriptor = fd;
  return fd;
}

// The cached prefix answers first: the kernel reads a file in small pieces,
// and most of them fall inside what an earlier, larger request brought.
int OVFuseCallback::readMissing(const std::string& path, const OVFile& file, char* buffer, std::size_t size,
                                std::int64_t offset) {
  const auto location = static_cast<std::uint64_t>(offset);
  if (location >= file.fileSize)
    return 0;
  const std::uint64_t length = std::min<std::uint64_t>(size, file.fileSize - location);
  if (auto read = cache_.readChunk(location, std::span(buffer, length), file); read && *read == length)
    return static_cast<int>(*read);
  auto bytes = content_.downloadChunk(location, size, file, path);
  if (!bytes) {
    OVLog(kLogFuse, "Warning! {}:{} bytes ({}, {}) did not arrive", "orvex_read", path, location, size);
    return -EIO;
  }
  const std::size_t count = std::min(size, bytes->size());
  std::copy_n(bytes->data(), count, buffer);
  return static_cast<int>(count);
}

int OVFuseCallback::write(const char* path, const char* data, std::size_t size, std::int64_t offset,
                          std::uint64_t handle) {
  const std::string final = finalPath(path);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{} size:{} offset:{}", "orvex_write", final, size, offset);
  OVFuseFileData* fileData = fileDataFromHandle(handle);
  if (fileData == nullptr) {
    OVLog(kLogFuse, "{}:{} no userData!", "orvex_write", final);
    return -ENOENT;
  }
  auto file = database_.fileWithId(openFiles_.fileId(*fileData), false);
  if (!file)
    return -EACCES;
  // Content not complete in the cache is brought whole before the first
  // write: a cache file holding only the written bytes would lose the rest of
  // the server's content, here and in the upload that follows. Not under the
  // handle's lock: the wait may be long, and reads need not wait for it.
  const bool keeps = keepsServerContent(*file, size, offset);
  if (keeps && descriptorOf(*fileData) == -1 && !downloads_.isFileDownloaded(*file) &&
      !content_.downloadWholeContent(*file, final)) {
    OVLog(kLogFuse, "Warning! {}:{} content did not arrive, write refused", "orvex_write", final);
    return -EIO;
  }
  std::lock_guard lock(fileData->descriptorMutex);
  if (const int opened = openForWrite(*fileData, *file, !keeps, "orvex_write"); opened != 0)
    return opened;
  const ssize_t written = ::pwrite(fileData->fileDescriptor, data, size, offset);
  if (written < 0) {
    const int error = errno;
    OVLog(kLogFuse, "{}:{} pwrite failed: error {}", "orvex_write", final, error);
    return -error;
  }
  const off_t end = ::lseek(fileData->fileDescriptor, 0, SEEK_END);
  openFiles_.noteWrite(*fileData);
  file->modifyTime = OVDate(clock_.wallNow());
  if (end >= 0)
    file->fileSize = static_cast<std::uint64_t>(end);
  contentChanged(final, *file);
  return static_cast<int>(written);
}

int OVFuseCallback::openForWrite(OVFuseFileData& handle, const OVFile& file, bool mayCreate, const char* op) {
  if (handle.fileDescriptor != -1)
    return 0;
  const auto cachePath = cache_.pathForFileCache(file);
  if (!cachePath)
    return -EIO; // the path check warned
  const int flags = cacheFlags(handle.openFlags, true);
  int fd = ::open(cachePath->c_str(), flags, 0600);
  if (fd == -1 && errno == ENOENT && mayCreate) {
    fd = ::open(cachePath->c_str(), flags | O_CREAT, 0600);
    // A partial download of the old content must never complete over the new one.
    if (fd != -1)
      cache_.deleteFileDownload(file);
  }
  if (fd == -1) {
    const int error = errno;
    if (error == ENOENT && file.status == kFileStatusSynchronized)
      OVLog(kLogFuse, "{}: attempt to write to middle of non-downloaded file, failing", op);
    else
      OVLog(kLogFuse, "{}: {} open failed: error {}", op, file.publicName, error);
    return -error;
  }
  handle.fileDescriptor = fd;
  return 0;
}

void OVFuseCallback::contentChanged(const std::string& path, const OVFile& file) {
  openFiles_.fileWasModified(file);
  database_.markFileUpdated(file);
  forgetListing(OVFuseUtils::parentPath(path));
}

int OVFuseCallback::release(const char* path, std::uint64_t handle) {
  const std::string final = path != nullptr ? finalPath(path) : std::string();
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_release", final);
  if (path != nullptr && isVolumeOnlyName(final))
    return 0;
  OVFuseFileData* data = fileDataFromHandle(handle);
  if (data == nullptr) {
    OVLog(kLogFuse, "{}:{} : empty userData.", "orvex_release", final);
    return 0;
  }
  const bool modified = openFiles_.isModified(*data);
  auto file = path != nullptr ? database_.fileWithPath(final) : std::nullopt;
  // The change is recorded before the handle leaves the open-file list, so
  // that whoever sees the file closed also sees it modified and quiet-timed.
  if (file && modified && file->status != kFileStatusSynchronized) {
    openFiles_.fileWasModified(*file);
    database_.markFileUpdated(*file);
  }
  const std::string fileId = openFiles_.fileId(*data);
  openFiles_.close(data);
  const auto opened = openFiles_.openedFiles();
  if (std::none_of(opened.begin(), opened.end(), [&](const OVOpenedFile& other) { return other.fileId == fileId; }))
    content_.fileClosed(fileId);
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{} : userData released.", "orvex_release", final);
  return 0;
}

int OVFuseCallback::fsync(const char* path, bool dataOnly, std::uint64_t handle) {
  if (config_.excessiveLogging)
    OVLog(kLogFuse, "{}:{}", "orvex_fsync", path != nullptr ? path : "");
  // The cache file is the only copy of what was written until it is
  // uploaded: a program that asks for its data on disk must get it there.
  OVFuseFileData* data = fileDataFromHandle(handle);
  std::optional<OVFile> file;
  int fd = -1;
  if (data != nullptr) {
    file = database_.fileWithId(openFiles_.fileId(*data), false);
    std::lock_guard lock(data->descriptorMutex);
    // A copy, so that writes through the handle need not wait for the disk.
    if (data->fileDescriptor != -1)
      fd = ::fcntl(data->fileDescriptor, F_DUPFD_CLOEXEC, 0);
  } else if (path != nullptr && !isVolumeOnlyName(finalPath(path))) {
    file = database_.fileWithPath(finalPath(path));
  }
  if (fd == -1 && file && file->isFile) {
    // Written through another handle, or earlier: any descriptor of the
    // cache file flushes its pages.
    if (const auto cachePath = cache_.pathForFileCache(*file))
      fd = ::open(cachePath->c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd == -1)
    return 0; // no cache file: nothing of ours holds unwritten data
  const int result = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) {
    OVLog(kLogFuse, "{}:{} failed: error {}", "orvex_fsync", path != nullptr ? path : "", error);
    return -error;
  }
  OVDriveRequestCounts::add(counts_.contentSyncs);
  return 0;
}

int OVFuseCallback::fallocate(const char* path, int mode, std::int64_t offset, std::int64_t length,
                              std::uint64_t handle) {
  if ((mode & ~FALLOC_FL_KEEP_SIZE) != 0)
    return -EOPNOTSUPP;
  const std::string final = path != nullptr ? finalPath(path) : std::string();
  OVFuseFileData* data = fileDataFromHandle(handle);
  if (data == nullptr)
    return -EBADF;
  auto file = database_.fileWithId(openFiles_.fileId(*data), false);
  if (!file)
    return -EACCES;
  std::lock_guard lock(data->descriptorMutex);
  // Allocating space starts no cache file over content the server alone holds:
  // the file would then count as zeros of that size.
  const bool mayCreate = file->fileSize == 0 || downloads_.isFileDownloaded(*file);
  if (const int opened = openForWrite(*data, *file, mayCreate, "orvex_fallocate"); opened != 0)
    return opened;
  if (::fallocate(data->fileDescriptor, mode, offset, length) != 0)
    return -errno;
  const off_t end = ::lseek(data->fileDescriptor, 0, SEEK_END);
  if (end >= 0 && static_cast<std::uint64_t>(end) != file->fileSize) {
    openFiles_.noteWrite(*data);
    file->fileSize = static_cast<std::uint64_t>(end);
    file->modifyTime = OVDate(clock_.wallNow());
    contentChanged(final, *file);
  }
  return 0;
}

} // namespace orvex
