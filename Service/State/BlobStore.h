// Where file contents live: one file per blob in one folder, named by the
// service's own id (never by anything a client sent), or, for seed files,
// only a seed and a size from which the bytes are computed.
#pragma once

#include "State/ContentSource.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::service {

struct BlobInfo {
  std::string blobId;
  std::int64_t size = 0;
  std::optional<std::uint64_t> seed; // seeded content: no file
  std::string hash;                  // lower-case hex SHA-256
};

// Thread-safe: holds only its folder; operations on different blobs are
// independent, and the state never writes one blob from two threads.
class BlobStore {
 public:
  // Blobs in `folder`, created when missing. Throws std::runtime_error.
  explicit BlobStore(std::filesystem::path folder);
  // A private folder under the system's temporary directory, removed with
  // everything in it when the store is destroyed: contents of a service that
  // keeps no state. Throws std::runtime_error.
  static std::unique_ptr<BlobStore> temporary();
  ~BlobStore();
  BlobStore(const BlobStore&) = delete;
  BlobStore& operator=(const BlobStore&) = delete;

  // Makes a new empty blob file; its id, or nothing with `error` set.
  std::optional<std::string> create(std::string& error);
  // Writes `bytes` at `offset` of blob `blobId`. Not flushed to the disk: the
  // state survives restarts of the process, not of the machine.
  bool write(const std::string& blobId, std::int64_t offset, std::string_view bytes, std::string& error);
  // The content of `blob` for reading; null when its file cannot be opened.
  std::shared_ptr<const ContentSource> open(const BlobInfo& blob) const;
  // Deletes the blob's file (readers that have it open keep reading).
  void remove(const std::string& blobId);

  const std::filesystem::path& folder() const { return folder_; }

 private:
  BlobStore(std::filesystem::path folder, bool temporary);
  // The file of `blobId`; nothing unless the id is one the service makes.
  std::optional<std::filesystem::path> pathOf(const std::string& blobId) const;

  const std::filesystem::path folder_;
  const bool temporary_;
};

} // namespace orvex::service
