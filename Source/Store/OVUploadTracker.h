// What the metadata store asks of the upload queue and tells it. The store is
// the lower module: it sees the queue only through this interface, and the
// application shell hands it the real queue once that exists.
#pragma once

#include <string>

namespace orvex {

class OVFile;

// Called from any thread, sometimes while the store holds its transaction lock
// (a merge of more than two remote records). An implementation must therefore
// answer without waiting for the store: it must not hold a lock that these
// calls take while it calls into the store itself.
class OVUploadTracker {
 public:
  OVUploadTracker() = default;
  OVUploadTracker(const OVUploadTracker&) = delete;
  OVUploadTracker& operator=(const OVUploadTracker&) = delete;
  virtual ~OVUploadTracker() = default;

  // An operation for the node is queued or running: a remote record must not
  // overwrite the row it is sending.
  virtual bool existsOperationOnFileWithInternalName(const std::string& internalName) = 0;
  // The node's change was sent and the server's journal has not confirmed it yet.
  virtual bool uploadUnconfirmed(const OVFile& file) = 0;
  // The server's record of the node matches what was sent.
  virtual void confirmUpload(const OVFile& file) = 0;
  virtual void cancelUpload(const OVFile& file) = 0;
  // Pending changes were recorded; the queue should look for them soon.
  virtual void uploadsAdded() = 0;
  // Queues the node now; false when it was not queued. The store does not
  // need the answer: a node not queued keeps its pending status and the
  // queue's next scan finds it.
  virtual bool upload(const OVFile& file) = 0;
};

// The truth while no upload queue runs: nothing is queued or waiting for
// confirmation, and requests to send are left to the scan of a queue that
// starts later (the rows stay pending). Stateless and thread-safe.
class OVNoUploadQueue final : public OVUploadTracker {
 public:
  bool existsOperationOnFileWithInternalName(const std::string& /*internalName*/) override { return false; }
  bool uploadUnconfirmed(const OVFile& /*file*/) override { return false; }
  void confirmUpload(const OVFile& /*file*/) override {}
  void cancelUpload(const OVFile& /*file*/) override {}
  void uploadsAdded() override {}
  bool upload(const OVFile& /*file*/) override { return false; }
};

} // namespace orvex
