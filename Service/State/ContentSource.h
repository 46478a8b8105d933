// An open, unchanging content blob that downloads read ranges from: a blob
// file, or seeded bytes computed on demand. Safe to read from many threads at
// once; a blob file stays readable through its open descriptor even after the
// state has replaced or deleted it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orvex::service {

class ContentSource {
 public:
  virtual ~ContentSource() = default;
  virtual std::int64_t size() const = 0;
  // Reads exactly `length` bytes at `offset` (within size()); false on an I/O error.
  virtual bool read(std::int64_t offset, char* out, std::size_t length) const = 0;
};

// The blob file at `path`, opened now; null when it cannot be opened.
std::shared_ptr<const ContentSource> openFileContent(const std::string& path, std::int64_t size);
std::shared_ptr<const ContentSource> seededContent(std::uint64_t seed, std::int64_t size);

// The lower-case hexadecimal SHA-256 of the whole content, read in pieces;
// nothing on a read error.
std::optional<std::string> contentHash(const ContentSource& content);

} // namespace orvex::service
