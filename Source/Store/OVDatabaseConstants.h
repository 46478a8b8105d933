// The schema of files.db, its versions and the statements that upgrade an
// older file, kept in one place so that opening code and tests agree.
#pragma once

#include <string_view>

namespace orvex {

inline constexpr std::string_view cCurrentDBVersion = "1.3";
// Share id of temporary nodes, purged at start-up.
inline constexpr std::string_view kTempShareId = "tmp";

// Every table and index of a new file, as one batch.
extern const std::string_view create_statement_1_3;
// Each moves a file one version forward, as one batch.
extern const std::string_view upgrade_statement_1_1;
extern const std::string_view upgrade_statement_1_2;
extern const std::string_view upgrade_statement_1_3;

} // namespace orvex
