// A language's string table: English source text -> translated text, read from
// a GNU gettext .po file.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace orvex {

// Keys are the English texts used throughout the program (the .po msgid).
using OVStringTable = std::map<std::string, std::string, std::less<>>;

// Reads the .po file at `path`. Keeps every plain entry (no context, no plural)
// that is neither fuzzy nor obsolete, empty translations included; the header
// entry is skipped. A file that is missing, not a regular file, has any syntax
// error or duplicate entry, or holds text that is not UTF-8 gives an empty
// table as a whole: a half-read table would mix languages unpredictably.
// Nothing is logged. Thread-safe (reads are serialised: the parser keeps
// global state).
OVStringTable readStringTable(const std::filesystem::path& path);

// The lookup rule: the translation when there is one and it is not empty, else
// the key itself; "" for an empty key.
std::string lookupString(const OVStringTable& table, std::string_view key);

} // namespace orvex
