// The query engine of OVDatabase: every statement of the process is handed to
// the database thread and runs there on its one connection, in arrival order,
// while the caller waits.
#include "OVLogger.h"
#include "Store/OVDatabase.h"

#include <sqlite3.h>

namespace orvex {

namespace {

// A database busy in another process is retried this long before a statement fails.
constexpr int kBusyTimeoutMs = 3000;
// The page cache of the database thread's connection, in KiB (a negative
// cache_size). The default 2 MiB holds a few thousand rows; a store of a
// million nodes keeps its hot index pages and the folders being listed in
// memory with this. Pages are allocated only as they are used.
constexpr const char* kConnectionPragmas = "PRAGMA cache_size = -262144;";

} // namespace

bool OVDatabase::doOpenUpdateDb() {
  if (connection_) {
    return true;
  }
  std::string error;
  connection_ = SqliteConnection::open(databasePath_.string(), &error);
  if (!connection_) {
    OVLog(kLogMain, "Warning! Cannot connect to the database to update it!");
    return false;
  }
  connection_->setBusyTimeout(kBusyTimeoutMs);
  // On a file that is not a database yet (or not at all) this fails; the
  // statements that follow report it.
  (void)connection_->execute(kConnectionPragmas);
  return true;
}

bool OVDatabase::runSelect(std::string_view sql, const SqlValues& values, const RowReader& onRow) {
  auto error = databaseQueue_.sync([&]() -> std::optional<std::string> {
    if (!doOpenUpdateDb()) {
      return std::string("no connection");
    }
    auto* statement = connection_->statement(sql);
    if (statement == nullptr || !statement->bindAll(values)) {
      return connection_->lastError();
    }
    int rc = statement->step();
    while (rc == SQLITE_ROW && onRow(*statement)) {
      rc = statement->step();
    }
    std::optional<std::string> failure;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      failure = connection_->lastError();
    }
    statement->reset(); // ends the read: no statement keeps the file locked
    return failure;
  });
  if (error) {
    OVLog(kLogMain, "Select query {} failed: {}", sql, *error);
    return false;
  }
  return true;
}

std::optional<std::string> OVDatabase::queryString(std::string_view sql, const SqlValues& values) {
  std::optional<std::string> result;
  runSelect(sql, values, [&](const SqliteStatement& row) {
    result = row.text(0);
    return false;
  });
  return result;
}

std::optional<std::vector<std::string>> OVDatabase::queryStrings(std::string_view sql, const SqlValues& values) {
  std::vector<std::string> result;
  if (!runSelect(sql, values, [&](const SqliteStatement& row) {
        result.push_back(row.text(0));
        return true;
      })) {
    return std::nullopt;
  }
  return result;
}

std::optional<OVFile> OVDatabase::queryFile(std::string_view sql, const SqlValues& values) {
  std::optional<OVFile> result;
  runSelect(sql, values, [&](const SqliteStatement& row) {
    result = OVFile::fromRow(row);
    return false;
  });
  return result;
}

std::optional<std::vector<OVFile>> OVDatabase::queryFiles(std::string_view sql, const SqlValues& values) {
  std::vector<OVFile> result;
  if (!runSelect(sql, values, [&](const SqliteStatement& row) {
        result.push_back(OVFile::fromRow(row));
        return true;
      })) {
    return std::nullopt;
  }
  return result;
}

std::optional<std::int64_t> OVDatabase::queryLong(std::string_view sql, const SqlValues& values) {
  std::optional<std::int64_t> result;
  runSelect(sql, values, [&](const SqliteStatement& row) {
    if (!row.isNull(0)) {
      result = row.int64(0);
    }
    return false;
  });
  return result;
}

std::optional<OVFileUploadStatus> OVDatabase::queryUpload(std::string_view sql, const SqlValues& values) {
  std::optional<OVFileUploadStatus> result;
  runSelect(sql, values, [&](const SqliteStatement& row) {
    OVFileUploadStatus status;
    status.internalName = row.text(0);
    status.tick = row.int32(1);
    status.startTime = row.date(2);
    status.finishTime = row.date(3);
    status.progress = row.int64(4);
    status.fileHash = row.text(5);
    status.uploadName = row.text(6);
    if (!row.isNull(7)) {
      status.token = row.text(7);
    }
    result = std::move(status);
    return false;
  });
  return result;
}

std::optional<std::string> OVDatabase::runUpdateOnThread(std::string_view sql, const SqlValues& values) {
  if (!doOpenUpdateDb()) {
    return std::string("no connection");
  }
  auto* statement = connection_->statement(sql);
  if (statement == nullptr || !statement->bindAll(values)) {
    return connection_->lastError();
  }
  int rc = statement->step();
  while (rc == SQLITE_ROW) {
    rc = statement->step();
  }
  std::optional<std::string> failure;
  if (rc != SQLITE_DONE) {
    failure = connection_->lastError();
  }
  bool changesRows = !statement->readOnly();
  statement->reset();
  if (!failure && changesRows) {
    statistics_.noteChanges(*connection_, sqlite3_changes64(connection_->handle()));
  }
  return failure;
}

bool OVDatabase::doUpdateQuery(std::string_view sql, const SqlValues& values) {
  std::lock_guard lock(dbTransactionLock_);
  auto error = databaseQueue_.sync([&] { return runUpdateOnThread(sql, values); });
  if (error) {
    OVLog(kLogMain, "Update query {} failed: {}", sql, *error);
    return false;
  }
  return true;
}

// The lock stays held from here to doCommitTransaction on the same thread.
void OVDatabase::doBeginTransaction() {
  dbTransactionLock_.lock();
  auto error = databaseQueue_.sync([&] { return runUpdateOnThread("BEGIN EXCLUSIVE TRANSACTION", {}); });
  if (error) {
    OVLog(kLogMain, "Update query {} failed: {}", "BEGIN EXCLUSIVE TRANSACTION", *error);
  }
}

void OVDatabase::doCommitTransaction() {
  auto error = databaseQueue_.sync([&] { return runUpdateOnThread("COMMIT TRANSACTION", {}); });
  if (error) {
    OVLog(kLogMain, "Update query {} failed: {}", "COMMIT TRANSACTION", *error);
  }
  dbTransactionLock_.unlock();
}

} // namespace orvex
