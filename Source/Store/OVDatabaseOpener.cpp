#include "Store/OVDatabaseOpener.h"

#include "OVLogger.h"
#include "Store/OVDatabaseConstants.h"
#include "Store/OVFatalExit.h"
#include "Store/OVPlannerStatistics.h"
#include "Store/OVSqlite.h"
#include "Sync/OVDate.h"

#include <sqlite3.h>

#include <fmt/format.h>

namespace orvex {

namespace {

constexpr int kBusyTimeoutMs = 3000;

[[noreturn]] void databaseUnusable(const std::string& line) {
  exitWithFatalError(kExitDatabaseUnusable, line);
}

// A connection for opening work, or nothing when the file cannot be opened
// or is not a database.
std::unique_ptr<SqliteConnection> openConnection(const std::filesystem::path& path) {
  auto connection = SqliteConnection::open(path.string());
  if (!connection) {
    return nullptr;
  }
  connection->setBusyTimeout(kBusyTimeoutMs);
  if (!connection->usable()) {
    return nullptr;
  }
  return connection;
}

} // namespace

bool OVDatabaseOpener::databaseMissing() const {
  std::error_code error;
  if (!std::filesystem::exists(path_, error)) {
    return true;
  }
  auto size = std::filesystem::file_size(path_, error);
  return !error && size == 0;
}

bool OVDatabaseOpener::insertVersionRow(SqliteConnection& connection) {
  auto* insert = connection.statement(
      "INSERT INTO db_metadata (dbVersion, appVersion, createTime) VALUES(?, ?, CURRENT_TIMESTAMP)");
  return insert != nullptr && insert->bindAll({cCurrentDBVersion, appVersion_}) && insert->step() == SQLITE_DONE;
}

void OVDatabaseOpener::createDatabase() {
  OVLog(kLogMain, "No database file found - creating a new one.");
  auto connection = openConnection(path_);
  if (!connection) {
    databaseUnusable("Cannot create and/or open database!");
  }
  if (!connection->execute(create_statement_1_3)) {
    databaseUnusable(
        fmt::format("Failed to initialize table: query execution failed. Error {}", connection->lastError()));
  }
  if (!insertVersionRow(*connection)) {
    OVLog(kLogMain, "Warning! Cannot write the database version: {}", connection->lastError());
  }
}

bool OVDatabaseOpener::openAndCheckDatabase() {
  auto connection = openConnection(path_);
  if (!connection) {
    databaseUnusable("Cannot open database or connection is broken!");
  }
  // A file of a version we do not know is used as it is, statistics included.
  if (checkDatabaseVersion(*connection) != cCurrentDBVersion) {
    return false;
  }
  OVPlannerStatistics::refresh(*connection);
  return true;
}

std::string OVDatabaseOpener::checkDatabaseVersion(SqliteConnection& connection) {
  constexpr const char* kFunction = "-[OVDatabase checkDatabaseVersion:]";
  auto* select = connection.statement("SELECT dbVersion, appVersion, createTime FROM db_metadata LIMIT 1 OFFSET 0");
  if (select == nullptr) {
    databaseUnusable(fmt::format("{} : database version check query failed, error {}. Cannot continue.", kFunction,
                                 connection.lastError()));
  }
  int rc = select->step();
  if (rc != SQLITE_ROW) {
    auto error = rc == SQLITE_DONE ? std::string("no version row") : connection.lastError();
    databaseUnusable(
        fmt::format("{} : database version check query failed, error {}. Cannot continue.", kFunction, error));
  }
  auto version = select->text(0);
  auto appVersion = select->text(1);
  auto createTime = select->text(2);
  select->reset();
  OVLog(kLogMain, "Database opened. Db version: {}, created or upgraded by app version {} at {}", version, appVersion,
        createTime);
  if (version != cCurrentDBVersion) {
    OVLog(kLogMain, "Got database version {}, while it should be {}. Upgrading database to the latest version...",
          version, cCurrentDBVersion);
    return upgradeDatabase(connection, version);
  }
  return version;
}

// Each step moves the file one version forward; the next step tests the
// version the previous one reached. An unknown version is left alone.
std::string OVDatabaseOpener::upgradeDatabase(SqliteConnection& connection, std::string version) {
  if (version == "1.0") {
    OVLog(kLogMain, "Executing version 1.0 to 1.1 upgrade statement...");
    if (!connection.execute(upgrade_statement_1_1)) {
      databaseUnusable(fmt::format("Upgrade statement failed. Error {}", connection.lastError()));
    }
    auto* update = connection.statement("UPDATE downloads SET lastReadTime = ?;");
    if (update == nullptr || !update->bindAll({OVDate{clock_.wallNow()}}) || update->step() != SQLITE_DONE) {
      databaseUnusable(fmt::format("Upgrade statement #2 failed. Error {}", connection.lastError()));
    }
    OVLog(kLogMain, "Upgrade statement succeeded.");
    version = "1.1";
  }
  if (version == "1.1") {
    OVLog(kLogMain, "Executing version 1.1 to 1.2 upgrade statement...");
    if (!connection.execute(upgrade_statement_1_2)) {
      databaseUnusable(fmt::format("Upgrade statement failed. Error {}", connection.lastError()));
    }
    OVLog(kLogMain, "Upgrade statement succeeded.");
    version = "1.2";
  }
  if (version == "1.2") {
    OVLog(kLogMain, "Executing version 1.2 to 1.3 upgrade statement...");
    // A file that already has the column (written by a build that added it
    // early) fails here harmlessly and is still at the current schema.
    if (connection.execute(upgrade_statement_1_3)) {
      OVLog(kLogMain, "Upgrade statement succeeded.");
    } else {
      OVLog(kLogMain, "Upgrade statement failed. Error {}", connection.lastError());
    }
    version = std::string(cCurrentDBVersion);
  }
  if (version == cCurrentDBVersion) {
    if (!connection.execute("DELETE FROM db_metadata") || !insertVersionRow(connection)) {
      OVLog(kLogMain, "Warning! Cannot write the database version: {}", connection.lastError());
    }
    OVLog(kLogMain, "Database scheme upgraded to the latest version successfully.");
  }
  return version;
}

} // namespace orvex
