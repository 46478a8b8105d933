// The text rules of share names: the server's names are kept in canonical
// decomposition (NFD), and two folder names are the same folder when they
// differ only in case or in Unicode composition.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvex {

// `text` in Unicode canonical decomposition; text that is not valid UTF-8 is
// answered unchanged.
std::string decomposedString(std::string_view text);

// `text` in NFD, then in lower case: equal for names that differ only in case
// or composition. Text that is not valid UTF-8 is only lower-cased in its
// ASCII letters.
std::string caseAndCompositionKey(std::string_view text);

// A folder name for the drive's root made from a share's name on the server:
// "/" and NUL become "_", a name longer than kMaxShareFolderBase bytes is cut
// (between characters), and a name that is still no folder name (empty, "."
// or "..") is replaced by `fallback`.
inline constexpr std::size_t kMaxShareFolderBase = 200;
std::string folderNameFromServerName(std::string_view serverName, std::string_view fallback);

// True when white space is all `text` holds (or it is empty).
bool isBlank(std::string_view text);

} // namespace orvex
