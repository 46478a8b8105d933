// Keeps SQLite's planner statistics for files.db such that every lookup uses
// the index that fits it: idx_parentId or idx_parentAndName for listings and
// lookups by parent, idx_status for the pending-upload queries.
//
// The listings filter on `parentId = ? AND status != 5 AND NOT deleted`. With
// no statistics, or with statistics taken while the table was small or skewed
// (a few rows under one parent), the planner rates idx_parentId no better than
// idx_deleted, idx_status or a full scan, and keeps that plan while the table
// grows to a million rows: each listing then reads the whole table. Measured
// figures mislead in the other direction for `status`: almost every row is
// synchronized (0), so the average says "unselective", yet the only statuses
// ever asked for alone are the rare pending and shadow ones.
//
// So: the figures are measured again (cheaply, on a bounded sample) at every
// load and unload and whenever the table has grown by as many rows as it had;
// `status` is then declared selective and `deleted` unselective; and a table
// too small to tell anything gets the fixed figures of a large tree.
#pragma once

#include <cstdint>

namespace orvex {

class SqliteConnection;

// Used only on the thread that owns the connection it is given.
class OVPlannerStatistics {
 public:
  // Measures and adjusts the figures and makes the planner read them again.
  // Must run outside a transaction; the connection's cached statements are
  // prepared again on their next use.
  static void refresh(SqliteConnection& connection);

  // Off (the default) for a file whose schema is not ours to manage: noteChanges
  // and refreshIfEnabled then do nothing.
  void setEnabled(bool enabled) { enabled_ = enabled; }
  void refreshIfEnabled(SqliteConnection& connection) {
    if (enabled_) {
      refresh(connection);
    }
  }

  // Counts rows changed on the connection; refreshes once the changes since
  // the last refresh exceed the row count measured then (so the work stays
  // proportional to the growth), and never inside a transaction.
  void noteChanges(SqliteConnection& connection, std::int64_t changedRows);

  // Below this many rows the measured figures say nothing about the tree to come.
  static constexpr std::int64_t kRowsWorthMeasuring = 10000;

 private:
  std::int64_t changesSinceRefresh_ = 0;
  std::int64_t rowsAtRefresh_ = 0;
  bool enabled_ = false;
};

} // namespace orvex
