// What the metadata store tells the drive about files applications hold open:
// that a node changed under them, and that a safe save gave the open handles
// of one node the identity of another.
#pragma once

#include <string>

namespace orvex {

class OVFile;

// Called from any thread that changes the store (the drive's worker threads,
// the Finder channel). An implementation must not call back into the store
// while holding a lock that these calls take.
class OVOpenFileBookkeeping {
 public:
  OVOpenFileBookkeeping() = default;
  OVOpenFileBookkeeping(const OVOpenFileBookkeeping&) = delete;
  OVOpenFileBookkeeping& operator=(const OVOpenFileBookkeeping&) = delete;
  virtual ~OVOpenFileBookkeeping() = default;

  // The node's row changed locally; the drive waits before the content is read for upload.
  virtual void fileWasModified(const OVFile& file) = 0;
  // Handles open under either id now belong to the other.
  virtual void exchangeFileId(const std::string& firstId, const std::string& secondId) = 0;
};

// The truth while no drive is mounted: no file is open, so there is nothing to
// tell. Stateless and thread-safe.
class OVNoOpenFiles final : public OVOpenFileBookkeeping {
 public:
  void fileWasModified(const OVFile& /*file*/) override {}
  void exchangeFileId(const std::string& /*firstId*/, const std::string& /*secondId*/) override {}
};

} // namespace orvex
