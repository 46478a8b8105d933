#include "Sync/ShareNameText.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace orvex {
namespace {

struct FreeMapped {
  void operator()(utf8proc_uint8_t* text) const noexcept { std::free(text); }
};
using MappedText = std::unique_ptr<utf8proc_uint8_t, FreeMapped>;

// NFD of `text`, or nothing (null) when it is not valid UTF-8.
MappedText decompose(std::string_view text, utf8proc_ssize_t& length) {
  utf8proc_uint8_t* mapped = nullptr;
  length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                   &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
  if (length < 0)
    return nullptr;
  return MappedText(mapped);
}

std::string asciiLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

} // namespace

std::string decomposedString(std::string_view text) {
  utf8proc_ssize_t length = 0;
  MappedText mapped = decompose(text, length);
  if (!mapped)
    return std::string(text);
  return std::string(reinterpret_cast<const char*>(mapped.get()), static_cast<std::size_t>(length));
}

std::string caseAndCompositionKey(std::string_view text) {
  utf8proc_ssize_t length = 0;
  MappedText mapped = decompose(text, length);
  if (!mapped)
    return asciiLower(text);
  std::string key;
  key.reserve(static_cast<std::size_t>(length));
  const utf8proc_uint8_t* next = mapped.get();
  const utf8proc_uint8_t* end = next + length;
  while (next < end) {
    utf8proc_int32_t codepoint = 0;
    utf8proc_ssize_t used = utf8proc_iterate(next, end - next, &codepoint);
    if (used <= 0)
      break; // cannot happen: utf8proc_map wrote valid UTF-8
    utf8proc_uint8_t encoded[4];
    utf8proc_ssize_t size = utf8proc_encode_char(utf8proc_tolower(codepoint), encoded);
    key.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
    next += used;
  }
  return key;
}

std::string folderNameFromServerName(std::string_view serverName, std::string_view fallback) {
  std::string name(serverName);
  for (char& c : name) {
    if (c == '/' || c == '\0')
      c = '_';
  }
  if (name.size() > kMaxShareFolderBase) {
    std::size_t cut = kMaxShareFolderBase;
    // Back up to the first byte of a UTF-8 sequence, so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
      --cut;
    name.resize(cut);
  }
  if (name.empty() || name == "." || name == "..")
    return std::string(fallback);
  return name;
}

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\n\r\f\v") == std::string_view::npos;
}

} // namespace orvex
