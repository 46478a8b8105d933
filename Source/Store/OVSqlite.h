// A small RAII layer over the SQLite C API: values to bind, one prepared
// statement, and a connection that keeps its statements prepared for reuse.
#pragma once

#include "Sync/OVDate.h"

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace orvex {

// One parameter value, encoded as stored files expect: booleans as 0 and 1,
// every integer as a signed 64-bit value (an unsigned value with all bits set
// becomes -1), dates as floating-point seconds since 1970 UTC.
class SqlValue {
 public:
  using Storage = std::variant<std::monostate, std::int64_t, double, std::string>;

  SqlValue(std::nullptr_t) {} // NOLINT(google-explicit-constructor): values are written inline
  template <std::integral T>
  SqlValue(T value) : value_(static_cast<std::int64_t>(value)) {}    // NOLINT(google-explicit-constructor)
  SqlValue(double value) : value_(value) {}                          // NOLINT(google-explicit-constructor)
  SqlValue(std::string value) : value_(std::move(value)) {}          // NOLINT(google-explicit-constructor)
  SqlValue(std::string_view value) : value_(std::string(value)) {}   // NOLINT(google-explicit-constructor)
  SqlValue(const char* value) : value_(std::string(value)) {}        // NOLINT(google-explicit-constructor)
  SqlValue(OVDate date) : value_(date.time_since_epoch().count()) {} // NOLINT(google-explicit-constructor)

  const Storage& storage() const { return value_; }

 private:
  Storage value_;
};

using SqlValues = std::vector<SqlValue>;

// One prepared statement. Used only on the thread that owns its connection.
class SqliteStatement {
 public:
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}

  // Binds values to the positional parameters 1..n; false when SQLite refuses one.
  bool bindAll(const SqlValues& values);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // True for statements that change nothing (selects, BEGIN, COMMIT).
  bool readOnly() const;
  // Ends the read and clears the bindings, ready for the next use.
  void reset() noexcept;

  bool isNull(int column) const;
  std::int64_t int64(int column) const;
  std::int32_t int32(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  OVDate date(int column) const;

  sqlite3_stmt* handle() const { return stmt_.get(); }

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept;
  };
  std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

// One open database file and its cache of prepared statements, keyed by SQL
// text. Not thread-safe: one thread owns it (the database thread, or the
// opening code for its short-lived connections).
class SqliteConnection {
 public:
  // Opens read-write, creating an empty file when none exists. Nothing when
  // no connection object can be made; `error` receives SQLite's message.
  static std::unique_ptr<SqliteConnection> open(const std::string& path, std::string* error = nullptr);
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Retries a busy database for up to `milliseconds` before a statement fails.
  void setBusyTimeout(int milliseconds);
  // Runs a batch of statements without parameters; false on the first failure.
  bool execute(std::string_view sql);
  // The cached statement for `sql`, reset and ready; null when it does not
  // prepare (lastError() says why). Valid until the connection closes.
  SqliteStatement* statement(std::string_view sql);
  // True when the file is a database SQLite can read (a trivial query works).
  bool usable();

  std::string lastError() const;
  sqlite3* handle() const { return db_; }

 private:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}

  sqlite3* db_;
  std::map<std::string, std::unique_ptr<SqliteStatement>, std::less<>> statements_;
};

} // namespace orvex
