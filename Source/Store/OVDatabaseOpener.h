// Opening files.db at start-up: creating it with the current schema when it is
// missing, checking its version and upgrading an older file. Everything here
// runs on the calling thread with short-lived connections of its own; a file
// that cannot be made usable ends the process with exit code 10.
#pragma once

#include "Dispatch/Clock.h"

#include <filesystem>
#include <functional>
#include <string>

namespace orvex {

class SqliteConnection;

// Not thread-safe; used by one load at a time.
class OVDatabaseOpener {
 public:
  OVDatabaseOpener(std::filesystem::path path, std::string appVersion, Clock& clock)
      : path_(std::move(path)), appVersion_(std::move(appVersion)), clock_(clock) {}

  // Missing means absent, or present with size 0 (the database thread opens
  // the path before the first load and leaves an empty file behind).
  bool databaseMissing() const;
  // Creates the schema and the version row in a new (or empty) file.
  void createDatabase();
  // Checks the version row, upgrades an older file and refreshes the
  // planner's statistics. False when the file has a version this program does
  // not know (it is then used as it is).
  bool openAndCheckDatabase();

 private:
  // Both answer the version the file has afterwards.
  std::string checkDatabaseVersion(SqliteConnection& connection);
  std::string upgradeDatabase(SqliteConnection& connection, std::string version);
  bool insertVersionRow(SqliteConnection& connection);

  const std::filesystem::path path_;
  const std::string appVersion_;
  Clock& clock_;
};

} // namespace orvex
