#include "UI/OVStringTable.h"

#include <gettext-po.h>

#include <memory>
#include <mutex>
#include <system_error>

#if defined(__SANITIZE_ADDRESS__)
#define ORVEX_HAS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVEX_HAS_LSAN 1
#endif
#endif
#ifdef ORVEX_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace orvex {
namespace {

// libgettextpo keeps its error hooks and lexer in globals, so one read at a
// time; the handler has no user pointer, hence the counter beside the lock.
std::mutex gReadMutex;
int gReadErrors = 0; // guarded by gReadMutex

// Warnings (for instance a charset name it does not know) are harmless here:
// the text is checked for UTF-8 below. Errors and fatal errors fail the read.
// The library asks that a fatal handler not return; like other embedders we
// do return, and it then ends the read early, which we discard anyway.
void onError(int severity, po_message_t, const char*, size_t, size_t, int, const char*) {
  if (severity != PO_SEVERITY_WARNING) {
    ++gReadErrors;
  }
}

void onError2(int severity, po_message_t, const char*, size_t, size_t, int, const char*, po_message_t, const char*,
              size_t, size_t, int, const char*) {
  if (severity != PO_SEVERITY_WARNING) {
    ++gReadErrors;
  }
}

const po_xerror_handler kHandler = {onError, onError2};

struct FreeFile {
  void operator()(po_file_t file) const noexcept { po_file_free(file); }
};
struct FreeIterator {
  void operator()(po_message_iterator_t iterator) const noexcept { po_message_iterator_free(iterator); }
};
using FilePtr = std::unique_ptr<std::remove_pointer_t<po_file_t>, FreeFile>;
using IteratorPtr = std::unique_ptr<std::remove_pointer_t<po_message_iterator_t>, FreeIterator>;

// Caller holds gReadMutex.
FilePtr parseLocked(const std::filesystem::path& path) {
  gReadErrors = 0;
#ifdef ORVEX_HAS_LSAN
  // The parser leaks a few bytes of lexer state on every read; keep the leak
  // checker quiet about the library's allocations, not about ours.
  __lsan::ScopedDisabler ignoreLibraryLeaks;
#endif
  FilePtr file(po_file_read(path.c_str(), &kHandler));
  if (gReadErrors > 0) {
    file.reset();
  }
  return file;
}

bool isUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

// Collects the entries of the default domain; false when any text is not UTF-8.
bool collect(po_file_t file, OVStringTable& table) {
  IteratorPtr messages(po_message_iterator(file, nullptr));
  while (po_message_t message = po_next_message(messages.get())) {
    const char* key = po_message_msgid(message);
    const char* text = po_message_msgstr(message);
    // The empty msgid is the header; context and plural entries have no place
    // in a lookup by English text alone.
    if (key == nullptr || text == nullptr || *key == '\0' || po_message_msgctxt(message) != nullptr ||
        po_message_msgid_plural(message) != nullptr || po_message_is_fuzzy(message) ||
        po_message_is_obsolete(message)) {
      continue;
    }
    if (!isUtf8(key) || !isUtf8(text)) {
      return false;
    }
    table.insert_or_assign(key, text);
  }
  return true;
}

} // namespace

OVStringTable readStringTable(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return {};
  }
  std::lock_guard lock(gReadMutex);
  const FilePtr file = parseLocked(path);
  OVStringTable table;
  if (file == nullptr || !collect(file.get(), table)) {
    return {};
  }
  return table;
}

std::string lookupString(const OVStringTable& table, std::string_view key) {
  if (key.empty()) {
    return {};
  }
  const auto found = table.find(key);
  if (found == table.end() || found->second.empty()) {
    return std::string(key);
  }
  return found->second;
}

} // namespace orvex
