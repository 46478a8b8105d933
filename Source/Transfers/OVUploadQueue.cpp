#include "Transfers/OVUploadQueue.h"

#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Transfers/OVFolderPaths.h"

#include <chrono>

namespace orvex {

OVUploadQueue::OVUploadQueue(OVDatabase& database, Clock& clock) : database_(database), clock_(clock) {}

bool OVUploadQueue::hasUploads() {
  return database_.uploadsNumber() > 0;
}

bool OVUploadQueue::isFileInUploadQueue(const OVFile& file) {
  return file.isFile && file.status == kFileStatusModified;
}

bool OVUploadQueue::pathHasUploads(const std::string& path) {
  const std::lock_guard lock(pathQueryMutex_);
  const auto start = clock_.steadyNow();
  bool found = false;
  for (const auto& parentId : database_.foldersWithUploads()) {
    const auto folderPath = drivePathOfParent(database_, parentId);
    if (folderPath && OVFuseUtils::isPath(*folderPath, path)) {
      found = true;
      break;
    }
  }
  const std::chrono::duration<double> took = clock_.steadyNow() - start;
  if (took > std::chrono::duration<double>(0.1)) {
    OVLog(kLogMain, "check if path {} has uploads took -> {:f}", path, took.count());
  }
  return found;
}

std::int64_t OVUploadQueue::queueBytes() {
  return database_.uploadsSize();
}

std::int64_t OVUploadQueue::queueLen() {
  return database_.uploadsNumber();
}

bool OVUploadQueue::existsOperationOnFileWithInternalName(const std::string& /*internalName*/) {
  return false; // no operation is ever queued by this version
}

bool OVUploadQueue::uploadUnconfirmed(const OVFile& file) {
  const std::lock_guard lock(unconfirmedMutex_);
  return unconfirmedUploads_.contains(file.internalName);
}

void OVUploadQueue::confirmUpload(const OVFile& file) {
  const std::lock_guard lock(unconfirmedMutex_);
  unconfirmedUploads_.erase(file.internalName);
}

void OVUploadQueue::cancelUpload(const OVFile& /*file*/) {}

void OVUploadQueue::uploadsAdded() {}

bool OVUploadQueue::upload(const OVFile& /*file*/) {
  return false; // the row stays pending
}

} // namespace orvex
