#include "Store/OVSqlite.h"

#include <sys/stat.h>

#include <sqlite3.h>

#include <chrono>

namespace orvex {

void SqliteStatement::Finalize::operator()(sqlite3_stmt* s) const noexcept {
  sqlite3_finalize(s);
}

bool SqliteStatement::bindAll(const SqlValues& values) {
  int index = 1;
  for (const auto& value : values) {
    int rc = std::visit(
        [&](const auto& v) {
          using V = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<V, std::monostate>) {
            return sqlite3_bind_null(stmt_.get(), index);
          } else if constexpr (std::is_same_v<V, std::int64_t>) {
            return sqlite3_bind_int64(stmt_.get(), index, v);
          } else if constexpr (std::is_same_v<V, double>) {
            return sqlite3_bind_double(stmt_.get(), index, v);
          } else {
            return sqlite3_bind_text64(stmt_.get(), index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
          }
        },
        value.storage());
    if (rc != SQLITE_OK) {
      return false;
    }
    ++index;
  }
  return true;
}

int SqliteStatement::step() {
  return sqlite3_step(stmt_.get());
}

bool SqliteStatement::readOnly() const {
  return sqlite3_stmt_readonly(stmt_.get()) != 0;
}

void SqliteStatement::reset() noexcept {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

bool SqliteStatement::isNull(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::int64(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

std::int32_t SqliteStatement::int32(int column) const {
  return sqlite3_column_int(stmt_.get(), column);
}

double SqliteStatement::real(int column) const {
  return sqlite3_column_double(stmt_.get(), column);
}

std::string SqliteStatement::text(int column) const {
  const auto* chars = sqlite3_column_text(stmt_.get(), column);
  if (chars == nullptr) {
    return {};
  }
  return {reinterpret_cast<const char*>(chars), static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), column))};
}

OVDate SqliteStatement::date(int column) const {
  return OVDate{std::chrono::duration<double>(real(column))};
}

std::unique_ptr<SqliteConnection> SqliteConnection::open(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (error != nullptr) {
      *error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  // A store describes the user's files: readable by the user alone, whatever the umask.
  if (const char* file = sqlite3_db_filename(db, "main"); file != nullptr && *file != '\0')
    (void)::chmod(file, 0600);
  return std::unique_ptr<SqliteConnection>(new SqliteConnection(db));
}

SqliteConnection::~SqliteConnection() {
  statements_.clear(); // every statement is finalized before the connection closes
  sqlite3_close_v2(db_);
}

void SqliteConnection::setBusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(db_, milliseconds);
}

bool SqliteConnection::execute(std::string_view sql) {
  std::string text(sql);
  return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteStatement* SqliteConnection::statement(std::string_view sql) {
  if (auto found = statements_.find(sql); found != statements_.end()) {
    found->second->reset();
    return found->second.get();
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK || stmt == nullptr) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  auto [it, inserted] = statements_.emplace(std::string(sql), std::make_unique<SqliteStatement>(stmt));
  return it->second.get();
}

// A file that is not a database opens without complaint; reading its schema
// is what finds out.
bool SqliteConnection::usable() {
  return sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string SqliteConnection::lastError() const {
  return sqlite3_errmsg(db_);
}

} // namespace orvex
