#include "Store/OVPlannerStatistics.h"

#include "OVLogger.h"
#include "Store/OVSqlite.h"

#include <sqlite3.h>

#include <algorithm>

namespace orvex {

namespace {

// Figures of a large tree (a million nodes, about twenty per folder): the
// parent and id indexes are selective, `deleted` is not.
constexpr const char* kFixedFilesStatistics =
    "DELETE FROM sqlite_stat1 WHERE tbl = 'files';"
    "INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES"
    " ('files', 'idx_publicName', '1000000 4'),"
    " ('files', 'idx_shareId', '1000000 50000'),"
    " ('files', 'idx_uploadName', '1000000 2'),"
    " ('files', 'idx_internalName', '1000000 2'),"
    " ('files', 'idx_parentId', '1000000 20'),"
    " ('files', 'idx_deleted', '1000000 1000000'),"
    " ('files', 'idx_status', '1000000 10'),"
    " ('files', 'idx_idandstatus', '1000000 2 1'),"
    " ('files', 'idx_parentAndName', '1000000 20 1');";

// Keeps the measured row count (the first figure) and replaces the average
// rows per value: `status` is only ever asked for its rare values, `deleted`
// only for its common one.
constexpr const char* kAdjustedFilesStatistics =
    "UPDATE sqlite_stat1 SET stat = substr(stat, 1, instr(stat, ' ')) || '10'"
    " WHERE tbl = 'files' AND idx = 'idx_status' AND instr(stat, ' ') > 0;"
    "UPDATE sqlite_stat1 SET stat = substr(stat, 1, instr(stat, ' ')) || substr(stat, 1, instr(stat, ' ') - 1)"
    " WHERE tbl = 'files' AND idx = 'idx_deleted' AND instr(stat, ' ') > 0;";

// Makes the planner read sqlite_stat1 again.
constexpr const char* kReloadStatistics = "ANALYZE sqlite_schema;";

std::int64_t filesRowCount(SqliteConnection& connection) {
  auto* count = connection.statement("SELECT COUNT(*) FROM files");
  if (count == nullptr || count->step() != SQLITE_ROW) {
    return 0;
  }
  auto rows = count->int64(0);
  count->reset();
  return rows;
}

} // namespace

void OVPlannerStatistics::refresh(SqliteConnection& connection) {
  // A bounded sample per index keeps this to milliseconds on a million rows.
  // Its averages are capped near the sample size, which only flatters the
  // selective indexes; the two that matter otherwise are adjusted below.
  bool done = connection.execute("PRAGMA analysis_limit = 1000; ANALYZE;");
  if (done) {
    const bool small = filesRowCount(connection) < kRowsWorthMeasuring;
    done = connection.execute(small ? kFixedFilesStatistics : kAdjustedFilesStatistics) &&
           connection.execute(kReloadStatistics);
  }
  if (!done) {
    OVLog(kLogMain, "Warning! Cannot update the database statistics: {}", connection.lastError());
  }
}

void OVPlannerStatistics::noteChanges(SqliteConnection& connection, std::int64_t changedRows) {
  if (!enabled_) {
    return;
  }
  changesSinceRefresh_ += changedRows;
  if (changesSinceRefresh_ <= std::max(rowsAtRefresh_, kRowsWorthMeasuring)) {
    return;
  }
  if (sqlite3_get_autocommit(connection.handle()) == 0) {
    return; // inside a transaction: a later statement will do it
  }
  refresh(connection);
  rowsAtRefresh_ = filesRowCount(connection);
  changesSinceRefresh_ = 0;
}

} // namespace orvex
