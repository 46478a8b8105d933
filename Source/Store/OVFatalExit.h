// The two ways the store ends the process: a metadata database that cannot be
// created, opened, verified or upgraded, and application folders that cannot
// be created.
#pragma once

#include <string>

namespace orvex {

inline constexpr int kExitDatabaseUnusable = 10;
inline constexpr int kExitStorageFolderUnusable = 100;

// Logs `line` (also to standard error, in case the log is not open yet),
// flushes the log and ends the process at once with `code`.
[[noreturn]] void exitWithFatalError(int code, const std::string& line);

} // namespace orvex
