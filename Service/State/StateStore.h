// Where the state is kept between runs. The state writes every change through
// to its store as it makes it; at start it reads everything back. The memory
// store keeps nothing (a service without --state); the SQLite store keeps
// metadata in "state.db" of the state folder.
#pragma once

#include "State/BlobStore.h"
#include "State/StateTypes.h"
#include "State/SubtreeCrossings.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvex::service {

struct StateSnapshot {
  bool seeded = false; // the configuration's seed data was applied once
  std::vector<ShareInfo> shares;
  std::vector<std::pair<std::string, StoredNode>> nodes; // share id, node
  std::vector<BlobInfo> blobs;
  std::vector<UploadSession> uploads;
  std::vector<PublicLink> links;
  std::vector<std::pair<std::string, Crossing>> crossings; // subfolder share id, crossing
};

// Called only with ServiceState's mutex held, so implementations need no lock
// of their own. Write failures are logged; the state in memory stays the truth.
class StateStore {
 public:
  virtual ~StateStore() = default;

  virtual StateSnapshot load() = 0;
  // Groups the writes of one change (nested calls join the outer group).
  virtual void begin() = 0;
  virtual void commit() = 0;

  virtual void saveShare(const ShareInfo& share) = 0;
  virtual void removeShare(const std::string& shareId) = 0; // and its nodes and crossings
  virtual void saveNode(const std::string& shareId, const StoredNode& node) = 0;
  virtual void saveBlob(const BlobInfo& blob) = 0;
  virtual void removeBlob(const std::string& blobId) = 0;
  virtual void saveUpload(const UploadSession& session) = 0;
  virtual void removeUpload(const std::string& address) = 0;
  virtual void saveLink(const PublicLink& link) = 0;
  // Replaces the node's earlier crossing of that subfolder share's folder.
  virtual void saveCrossing(const std::string& subfolderShareId, const Crossing& crossing) = 0;
  virtual void markSeeded() = 0;
};

std::unique_ptr<StateStore> memoryStateStore();

// The writes of one change as one transaction.
class StoreBatch {
 public:
  explicit StoreBatch(StateStore& store) : store_(store) { store_.begin(); }
  ~StoreBatch() { store_.commit(); }
  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;

 private:
  StateStore& store_;
};

} // namespace orvex::service
