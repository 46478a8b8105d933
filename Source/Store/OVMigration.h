// The one-time step from the previous client generation (1.x). That client kept
// its shares and journal in two property lists ("shares.db", "journal.db") and
// its unfinished uploads, each with a JSON ".inf" file, in "Uploads", all in
// the folder the current client uses. None of its metadata can be reused, so
// when the current client is about to create its first database it rescues the
// unfinished uploads into "UploadsBackup" (one folder per share name, with a
// "Readme.txt" saying where each file came from) and deletes everything else
// but "UploadsBackup" and "Logs". Nothing is uploaded again.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class OVDatabase;
class OVFileCache;

// Runs on the thread that loads the database, before the database exists; no
// other part of the program touches the root folder then. Holds nothing but
// paths that are constant after construction, so it needs no lock.
class OVMigration {
 public:
  // `root` is the application folder (the file cache's rootCachePath);
  // `appTitle` names the application in the read-me.
  OVMigration(std::filesystem::path root, std::string appTitle);

  // Backs up the old uploads and clears the old files when a version-1
  // installation is found; logs what it finds. Ends the process with code 100
  // when the backup folder cannot be created.
  void checkIfMigrationNeeded() const;
  // Both "shares.db" and "journal.db" read as property-list dictionaries.
  bool version1DatabaseAvailable() const;
  // "Uploads" can be listed and holds at least one entry.
  bool version1UploadsAvailable() const;
  // Moves every non-empty upload into the backup folder; answers its path.
  std::filesystem::path backupUploadsToFolder() const;

  // Appends `text` to the file, creating it when missing. False when it cannot
  // be opened or created, or the write fails; the file is closed in every case.
  static bool appendToFile(const std::filesystem::path& path, std::string_view text);

 private:
  using ShareNames = std::map<std::string, std::string, std::less<>>; // share id -> share name

  ShareNames readShareNames() const;
  void backupUpload(const std::string& name, const ShareNames& shareNames) const;
  // False when the file is still in "Uploads".
  bool moveToShareFolder(const std::string& name, const std::string& shareName, const std::string& fileName,
                         const std::string& currentPath) const;
  void moveToOriginal(const std::string& name) const;
  void cleanUp() const;

  // Constant after construction.
  const std::filesystem::path root_;
  const std::string appTitle_;
  const std::filesystem::path uploads_;
  const std::filesystem::path backup_;
  const std::filesystem::path original_;
  const std::filesystem::path readme_;
};

// Has `database` run the migration before it creates a new files.db, and puts
// the application folders the clean-up removed back in place right after it.
// Both objects must outlive the database's load().
void installMigrationCheck(OVDatabase& database, OVFileCache& fileCache, std::string appTitle);

} // namespace orvex
