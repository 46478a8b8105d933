// What the drive asks the transfer queues and the login about an item, so
// that it can answer the reserved status attributes. The download queue, the
// upload queue and the application shell implement these; until they exist
// the drive runs on the named defaults below, which say what is true without
// them: contents are downloaded exactly when the cache holds them, and no
// transfer is queued.
#pragma once

#include "Store/OVShareStore.h"

#include <string>

namespace orvex {

class OVFile;
class OVFileCache;

// Implementations are called from the drive's worker threads, concurrently,
// and guard their own state.
class OVDriveDownloadStatus {
 public:
  OVDriveDownloadStatus() = default;
  OVDriveDownloadStatus(const OVDriveDownloadStatus&) = delete;
  OVDriveDownloadStatus& operator=(const OVDriveDownloadStatus&) = delete;
  virtual ~OVDriveDownloadStatus() = default;

  // The content is present: an ignored name, an empty file, or a complete cache file.
  virtual bool isFileDownloaded(const OVFile& file) = 0;
  // A whole-file download of the file is waiting or running.
  virtual bool isFileInQueue(const OVFile& file) = 0;
  // The drive path is one the user keeps available offline.
  virtual bool pathIsSynchronized(const std::string& path) = 0;
  // A file download is waiting or running somewhere below the drive path.
  virtual bool pathHasDownloads(const std::string& path) = 0;
};

class OVDriveUploadStatus {
 public:
  OVDriveUploadStatus() = default;
  OVDriveUploadStatus(const OVDriveUploadStatus&) = delete;
  OVDriveUploadStatus& operator=(const OVDriveUploadStatus&) = delete;
  virtual ~OVDriveUploadStatus() = default;

  // The file's changed content waits for or is in upload.
  virtual bool isFileInUploadQueue(const OVFile& file) = 0;
  // An upload is pending somewhere below the drive path.
  virtual bool pathHasUploads(const std::string& path) = 0;
};

// The logged-in user and the service's lock offer, as far as the drive needs them.
class OVDriveAccount {
 public:
  OVDriveAccount() = default;
  OVDriveAccount(const OVDriveAccount&) = delete;
  OVDriveAccount& operator=(const OVDriveAccount&) = delete;
  virtual ~OVDriveAccount() = default;

  // "" while nobody is logged in.
  virtual std::string loggedUserEmail() = 0;
  // Whether the service offers locking for `share` (null when unknown).
  virtual bool lockAvailableForShare(const ManagedSharePtr& share) = 0;
};

// No download queue: a file counts as downloaded when its content is complete
// in the cache, nothing is queued and no path is kept offline. Thread-safe.
class OVNoDriveDownloads final : public OVDriveDownloadStatus {
 public:
  explicit OVNoDriveDownloads(const OVFileCache& cache) : cache_(cache) {}
  bool isFileDownloaded(const OVFile& file) override;
  bool isFileInQueue(const OVFile& /*file*/) override { return false; }
  bool pathIsSynchronized(const std::string& /*path*/) override { return false; }
  bool pathHasDownloads(const std::string& /*path*/) override { return false; }

 private:
  const OVFileCache& cache_;
};

// No upload queue: nothing is pending. Thread-safe.
class OVNoDriveUploads final : public OVDriveUploadStatus {
 public:
  bool isFileInUploadQueue(const OVFile& /*file*/) override { return false; }
  bool pathHasUploads(const std::string& /*path*/) override { return false; }
};

// Nobody logged in; the service offers locking everywhere, as it always does. Thread-safe.
class OVNoDriveAccount final : public OVDriveAccount {
 public:
  std::string loggedUserEmail() override { return {}; }
  bool lockAvailableForShare(const ManagedSharePtr& /*share*/) override { return true; }
};

} // namespace orvex
