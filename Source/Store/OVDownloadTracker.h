// What the metadata store asks of the download queue: whether a node's content
// is held locally. The store only uses the answer to report that it drops a
// content the server has replaced.
#pragma once

namespace orvex {

class OVFile;

// Called from any thread, sometimes while the store holds its transaction
// lock: an implementation must answer without waiting for the store.
class OVDownloadTracker {
 public:
  OVDownloadTracker() = default;
  OVDownloadTracker(const OVDownloadTracker&) = delete;
  OVDownloadTracker& operator=(const OVDownloadTracker&) = delete;
  virtual ~OVDownloadTracker() = default;

  virtual bool isFileDownloaded(const OVFile& file) = 0;
};

// The truth while no download queue runs: nothing was downloaded. Stateless
// and thread-safe.
class OVNoDownloadQueue final : public OVDownloadTracker {
 public:
  bool isFileDownloaded(const OVFile& /*file*/) override { return false; }
};

} // namespace orvex
