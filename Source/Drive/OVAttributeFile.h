// Ordinary extended attributes of drive items (tags, origin marks and the
// like), kept in the item's side file in the cache so that they survive
// without the item's content.
//
// The side file holds the attributes as data, not as attributes of its own:
// a name arriving at the drive may be anything ("com.example.tag" without a
// namespace, "security.*", "system.posix_acl_access"), which the cache's file
// system would refuse or, worse, apply to the side file itself; and some file
// systems (tmpfs before Linux 6.6) keep no user attributes at all.
//
// Format: empty (no attributes), or the magic "OVXATTR1", the number of
// entries, and the entries, each a name length, the name, a value length, the
// value (lengths and the number as little-endian 32-bit integers).
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// Thread-safe: mutex_ serialises every read-modify-write of every side file,
// so two threads setting attributes of one item never lose one of them.
// Results are 0 or a positive errno, as the attribute system calls give them.
class OVAttributeFiles {
 public:
  enum class SetMode { createOrReplace, createOnly, replaceOnly };

  // A side file larger than this is refused new attributes (ENOSPC), which
  // bounds what one item can make the drive keep and read back.
  static constexpr std::size_t kMaxFileBytes = std::size_t{256} * 1024;

  // ENODATA when the file or the attribute is missing; EIO when the file is damaged.
  int get(const std::filesystem::path& file, const std::string& name, std::string& value) const;
  // Names in byte order; none for a missing file.
  int list(const std::filesystem::path& file, std::vector<std::string>& names) const;
  // EEXIST / ENODATA for createOnly / replaceOnly when the attribute is there / missing.
  int set(const std::filesystem::path& file, const std::string& name, const std::string& value, SetMode mode);
  // ENODATA when the attribute is missing; 0 when the whole file is.
  int remove(const std::filesystem::path& file, const std::string& name);

 private:
  using Entries = std::map<std::string, std::string>;
  // Reads and parses the file; `missing` tells an absent file from an empty one.
  int readEntries(const std::filesystem::path& file, Entries& entries, bool& missing) const;
  int writeEntries(const std::filesystem::path& file, const Entries& entries) const;

  mutable std::mutex mutex_;
};

// The side-file encoding, exposed for tests of damaged files.
std::string encodeAttributes(const std::map<std::string, std::string>& entries);
// Nothing when the text is not a valid encoding (an empty text is valid: no entries).
std::optional<std::map<std::string, std::string>> decodeAttributes(const std::string& text);

} // namespace orvex
