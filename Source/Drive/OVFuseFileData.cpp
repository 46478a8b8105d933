#include "Drive/OVFuseFileData.h"

#include "Store/OVFile.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>

namespace orvex {

OVOpenFileList::OVOpenFileList(Clock& clock)
    : clock_(clock), checkQueue_("com.orvex.clouddrive-osx.fileUpdateChecks", clock) {}

OVOpenFileList::~OVOpenFileList() {
  for (const auto& handle : openedFiles_) {
    if (handle->fileDescriptor != -1)
      ::close(handle->fileDescriptor);
  }
}

OVFuseFileData* OVOpenFileList::open(int flags, int descriptor, pid_t process, std::string fileId) {
  auto handle = std::make_unique<OVFuseFileData>(flags, descriptor, process, std::move(fileId));
  OVFuseFileData* raw = handle.get();
  std::lock_guard lock(mutex_);
  openedFiles_.push_back(std::move(handle));
  return raw;
}

void OVOpenFileList::close(OVFuseFileData* handle) {
  std::unique_ptr<OVFuseFileData> owned;
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(openedFiles_.begin(), openedFiles_.end(),
                              [handle](const auto& candidate) { return candidate.get() == handle; });
    if (found == openedFiles_.end())
      return;
    owned = std::move(*found);
    openedFiles_.erase(found);
    // The handle's writes keep the file from upload for the quiet time after
    // it is gone, as if it were still open.
    if (owned->modified && !owned->fileId.empty())
      fileModifications_[owned->fileId] = clock_.steadyNow();
  }
  if (owned->fileDescriptor != -1)
    ::close(owned->fileDescriptor);
}

void OVOpenFileList::noteWrite(OVFuseFileData& handle) {
  std::lock_guard lock(mutex_);
  handle.modified = true;
  handle.lastWrite = clock_.steadyNow();
}

bool OVOpenFileList::isModified(OVFuseFileData& handle) const {
  std::lock_guard lock(mutex_);
  return handle.modified;
}

std::string OVOpenFileList::fileId(OVFuseFileData& handle) const {
  std::lock_guard lock(mutex_);
  return handle.fileId;
}

std::vector<OVOpenedFile> OVOpenFileList::openedFiles() const {
  std::lock_guard lock(mutex_);
  std::vector<OVOpenedFile> files;
  const auto now = clock_.steadyNow();
  for (const auto& handle : openedFiles_) {
    const std::string lastWrite =
        handle->lastWrite ? fmt::format("{:.3f}s ago", std::chrono::duration<double>(now - *handle->lastWrite).count())
                          : std::string("never");
    files.push_back({handle->fileId, handle->openProcess,
                     fmt::format("file: {}, fd: {}, modified: {}, lastWrite: {}", handle->fileId,
                                 handle->fileDescriptor, handle->modified ? 1 : 0, lastWrite)});
  }
  return files;
}

void OVOpenFileList::fileWasModified(const OVFile& file) {
  {
    std::lock_guard lock(mutex_);
    fileModifications_[file.internalName] = clock_.steadyNow();
  }
  scheduleUpdateChecks();
}

void OVOpenFileList::exchangeFileId(const std::string& firstId, const std::string& secondId) {
  std::lock_guard lock(mutex_);
  for (const auto& handle : openedFiles_) {
    if (handle->fileId == firstId)
      handle->fileId = secondId;
    else if (handle->fileId == secondId)
      handle->fileId = firstId;
  }
  const auto first = fileModifications_.find(firstId);
  const auto second = fileModifications_.find(secondId);
  const auto firstTime = first != fileModifications_.end() ? std::optional(first->second) : std::nullopt;
  const auto secondTime = second != fileModifications_.end() ? std::optional(second->second) : std::nullopt;
  if (firstTime)
    fileModifications_[secondId] = *firstTime;
  if (secondTime)
    fileModifications_[firstId] = *secondTime;
}

bool OVOpenFileList::canUploadFile(const OVFile& file) {
  std::lock_guard lock(mutex_);
  const auto now = clock_.steadyNow();
  if (auto entry = fileModifications_.find(file.internalName); entry != fileModifications_.end()) {
    if (isRecent(entry->second, now))
      return false;
    fileModifications_.erase(entry);
  }
  for (const auto& handle : openedFiles_) {
    if (handle->fileId == file.internalName)
      return !handle->lastWrite || !isRecent(*handle->lastWrite, now);
  }
  return true;
}

void OVOpenFileList::checkUpdatedFiles() {
  bool recheck = false;
  bool upload = false;
  std::function<void()> uploadsAdded;
  {
    std::lock_guard lock(mutex_);
    checkScheduled_ = false;
    const auto now = clock_.steadyNow();
    for (auto entry = fileModifications_.begin(); entry != fileModifications_.end(); ++entry) {
      if (!isRecent(entry->second, now)) {
        // One quiet file is enough to wake the upload queue, which scans for
        // every pending change itself.
        fileModifications_.erase(entry);
        upload = true;
        // The rest waits for the next check rather than being lost.
        recheck = recheck || !fileModifications_.empty();
        break;
      }
      recheck = true;
    }
    uploadsAdded = uploadsAdded_;
  }
  if (recheck)
    scheduleUpdateChecks();
  if (upload && uploadsAdded)
    uploadsAdded();
}

void OVOpenFileList::scheduleUpdateChecks() {
  {
    std::lock_guard lock(mutex_);
    if (checkScheduled_)
      return;
    checkScheduled_ = true;
  }
  checkQueue_.after(kCheckDelay, [this] { checkUpdatedFiles(); });
}

void OVOpenFileList::setUploadsAdded(std::function<void()> uploadsAdded) {
  std::lock_guard lock(mutex_);
  uploadsAdded_ = std::move(uploadsAdded);
}

} // namespace orvex
