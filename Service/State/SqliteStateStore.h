// The state kept in SQLite ("state.db" in the state folder): shares, nodes
// (each as its wire record's JSON text), blob records, upload sessions,
// public links and the moves across subfolder shares' folders. Contents themselves are blob files beside it
// (BlobStore).
#pragma once

#include "State/StateStore.h"
#include "Store/OVSqlite.h"

#include <filesystem>
#include <memory>

namespace orvex::service {

// Owned and called under ServiceState's mutex (see StateStore).
class SqliteStateStore final : public StateStore {
 public:
  // Opens or creates `file`. Throws std::runtime_error naming the file and SQLite's reason.
  explicit SqliteStateStore(const std::filesystem::path& file);
  ~SqliteStateStore() override;

  StateSnapshot load() override;
  void begin() override;
  void commit() override;
  void saveShare(const ShareInfo& share) override;
  void removeShare(const std::string& shareId) override;
  void saveNode(const std::string& shareId, const StoredNode& node) override;
  void saveBlob(const BlobInfo& blob) override;
  void removeBlob(const std::string& blobId) override;
  void saveUpload(const UploadSession& session) override;
  void removeUpload(const std::string& address) override;
  void saveLink(const PublicLink& link) override;
  void saveCrossing(const std::string& subfolderShareId, const Crossing& crossing) override;
  void markSeeded() override;

 private:
  // Runs one statement with `values`; logs a failure.
  void run(const char* sql, const SqlValues& values);
  template <class Row>
  void select(const char* sql, Row&& row);

  std::unique_ptr<SqliteConnection> db_;
  const std::string file_;
  int depth_ = 0; // nesting of begin()
};

} // namespace orvex::service
