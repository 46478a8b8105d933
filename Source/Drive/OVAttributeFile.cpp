#include "Drive/OVAttributeFile.h"

#include "OVLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/WholeFile.h"

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace orvex {
namespace {

constexpr std::string_view kMagic = "OVXATTR1";

void putLength(std::string& out, std::size_t length) {
  const auto value = static_cast<std::uint32_t>(length);
  for (int shift = 0; shift < 32; shift += 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

// Reads a 32-bit length at `at`; false when the text ends too early.
bool takeLength(const std::string& text, std::size_t& at, std::uint32_t& length) {
  if (text.size() - at < 4)
    return false;
  length = 0;
  for (std::size_t i = 0; i < 4; ++i)
    length |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[at + i])) << (8 * i);
  at += 4;
  return true;
}

// Reads one length-prefixed piece at `at`; false when the text ends too early.
bool takePiece(const std::string& text, std::size_t& at, std::string& piece) {
  std::uint32_t length = 0;
  if (!takeLength(text, at, length) || text.size() - at < length)
    return false;
  piece.assign(text, at, length);
  at += length;
  return true;
}

} // namespace

std::string encodeAttributes(const std::map<std::string, std::string>& entries) {
  if (entries.empty())
    return {};
  std::string out(kMagic);
  putLength(out, entries.size());
  for (const auto& [name, value] : entries) {
    putLength(out, name.size());
    out += name;
    putLength(out, value.size());
    out += value;
  }
  return out;
}

std::optional<std::map<std::string, std::string>> decodeAttributes(const std::string& text) {
  std::map<std::string, std::string> entries;
  if (text.empty())
    return entries;
  if (!text.starts_with(kMagic))
    return std::nullopt;
  // The count makes a file cut short at an entry boundary show as damaged.
  std::size_t at = kMagic.size();
  std::uint32_t count = 0;
  if (!takeLength(text, at, count))
    return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    std::string value;
    if (!takePiece(text, at, name) || !takePiece(text, at, value) || name.empty())
      return std::nullopt;
    entries[std::move(name)] = std::move(value);
  }
  if (at != text.size() || entries.size() != count)
    return std::nullopt;
  return entries;
}

int OVAttributeFiles::readEntries(const std::filesystem::path& file, Entries& entries, bool& missing) const {
  WholeFile read = readWholeFile(file);
  missing = !read.exists;
  if (missing)
    return 0;
  if (read.error != 0)
    return read.error;
  auto decoded = decodeAttributes(read.text);
  if (!decoded) {
    // Left as it is: rewriting it would lose whatever it still holds.
    OVLog(kLogFuse, "Warning! Extended attributes file {} is damaged; leaving it unchanged.", file.string());
    return EIO;
  }
  entries = std::move(*decoded);
  return 0;
}

int OVAttributeFiles::writeEntries(const std::filesystem::path& file, const Entries& entries) const {
  std::string encoded = encodeAttributes(entries);
  if (encoded.size() > kMaxFileBytes)
    return ENOSPC;
  std::error_code error = writeFileAtomically(file, encoded, 0600);
  return error ? (error.value() != 0 ? error.value() : EIO) : 0;
}

int OVAttributeFiles::get(const std::filesystem::path& file, const std::string& name, std::string& value) const {
  std::lock_guard lock(mutex_);
  Entries entries;
  bool missing = false;
  if (int error = readEntries(file, entries, missing))
    return error;
  auto found = entries.find(name);
  if (missing || found == entries.end())
    return ENODATA;
  value = found->second;
  return 0;
}

int OVAttributeFiles::list(const std::filesystem::path& file, std::vector<std::string>& names) const {
  std::lock_guard lock(mutex_);
  Entries entries;
  bool missing = false;
  if (int error = readEntries(file, entries, missing))
    return error;
  names.clear();
  for (const auto& entry : entries)
    names.push_back(entry.first);
  return 0;
}

int OVAttributeFiles::set(const std::filesystem::path& file, const std::string& name, const std::string& value,
                          SetMode mode) {
  std::lock_guard lock(mutex_);
  Entries entries;
  bool missing = false;
  if (int error = readEntries(file, entries, missing))
    return error;
  const bool present = entries.contains(name);
  if (mode == SetMode::createOnly && present)
    return EEXIST;
  if (mode == SetMode::replaceOnly && !present)
    return ENODATA;
  entries[name] = value;
  return writeEntries(file, entries);
}

int OVAttributeFiles::remove(const std::filesystem::path& file, const std::string& name) {
  std::lock_guard lock(mutex_);
  Entries entries;
  bool missing = false;
  if (int error = readEntries(file, entries, missing))
    return error;
  if (missing)
    return 0;
  if (entries.erase(name) == 0)
    return ENODATA;
  return writeEntries(file, entries);
}

} // namespace orvex
