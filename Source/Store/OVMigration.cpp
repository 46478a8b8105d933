#include "Store/OVMigration.h"

#include "OVLogger.h"
#include "Platform/SafePathComponent.h"
#include "Platform/WholeFile.h"
#include "Store/OVDatabase.h"
#include "Store/OVFatalExit.h"
#include "Store/OVFileCache.h"

#include <fmt/format.h>
#include <plist/plist.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kBackupFolder = "UploadsBackup";
constexpr const char* kLogsFolder = "Logs";
constexpr const char* kInfoSuffix = ".inf";

struct FreePlist {
  void operator()(plist_t node) const noexcept { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, FreePlist>;

// What an upload's ".inf" file says about it; each part may be missing.
struct UploadInfo {
  std::string currentPath;
  std::optional<std::string> publicName;
  std::optional<std::string> shareId;
};

bool entryExists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

// The names in `folder`, sorted so that a rerun treats the same files alike;
// nothing when the folder cannot be listed.
std::optional<std::vector<std::string>> listFolder(const fs::path& folder) {
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  if (error) {
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Version-1 property lists were written as XML or binary; libplist reads both.
PlistPtr readDictionary(const fs::path& path) {
  const WholeFile file = readWholeFile(path);
  if (!file.exists || file.error != 0 || file.text.empty() || file.text.size() > std::numeric_limits<uint32_t>::max()) {
    return nullptr;
  }
  plist_t parsed = nullptr;
  plist_from_memory(file.text.data(), static_cast<uint32_t>(file.text.size()), &parsed);
  PlistPtr root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    return nullptr;
  }
  return root;
}

std::optional<std::string> plistString(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
    return std::nullopt;
  }
  char* text = nullptr;
  plist_get_string_val(node, &text);
  std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
  return text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

std::optional<std::string> jsonString(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

// These names come from files an older program left behind; one that could
// leave the backup folder is not used.
bool usableName(std::string_view what, const std::string& name, const fs::path& source) {
  if (isSafePathComponent(name)) {
    return true;
  }
  OVLog(kLogMain, "Warning! Ignoring unsafe {} {:?} from {}", what, std::string_view(name).substr(0, 64),
        source.string());
  return false;
}

std::optional<UploadInfo> readUploadInfo(const fs::path& path) {
  const WholeFile file = readWholeFile(path);
  json object = file.error == 0 ? json::parse(file.text, nullptr, false) : json();
  if (!object.is_object()) {
    OVLog(kLogMain, "Warning! Cannot read upload information file {}", path.string());
    return std::nullopt;
  }
  UploadInfo info;
  info.currentPath = jsonString(object, "CurrentPath").value_or("");
  auto fileObject = object.find("File");
  if (fileObject != object.end() && fileObject->is_object()) {
    info.publicName = jsonString(*fileObject, "PublicName");
    info.shareId = jsonString(*fileObject, "ShareId");
  }
  return info;
}

// `target` itself, else "<target> (1)", "<target> (2)", ...: the first that
// names nothing yet in `folder`, so that no rescued file replaces another.
std::string freeCandidate(const fs::path& folder, const std::string& target) {
  std::string candidate = target;
  for (int number = 1; entryExists(folder / candidate); ++number) {
    candidate = fmt::format("{} ({})", target, number);
  }
  return candidate;
}

} // namespace

OVMigration::OVMigration(fs::path root, std::string appTitle)
    : root_(std::move(root)),
      appTitle_(std::move(appTitle)),
      uploads_(root_ / "Uploads"),
      backup_(root_ / kBackupFolder),
      original_(backup_ / ".original"),
      readme_(backup_ / "Readme.txt") {}

void OVMigration::checkIfMigrationNeeded() const {
  OVLog(kLogMain, "Checking if migration from version 1.x is needed....");
  if (!version1DatabaseAvailable()) {
    OVLog(kLogMain, "No version 1.x database found.");
    return;
  }
  OVLog(kLogMain, "Found version 1.x database. Checking whether backup of unfinished uploads is needed...");
  if (version1UploadsAvailable()) {
    OVLog(kLogMain, "Some uploads found - moving them to UploadsBackup");
    const fs::path backup = backupUploadsToFolder();
    OVLog(kLogMain, "Finished copying of unfinished uploads to the path {}", backup.string());
  } else {
    OVLog(kLogMain, "No uploads found - just cleaning up.");
  }
  cleanUp();
}

bool OVMigration::version1DatabaseAvailable() const {
  return readDictionary(root_ / "shares.db") && readDictionary(root_ / "journal.db");
}

bool OVMigration::version1UploadsAvailable() const {
  const auto names = listFolder(uploads_);
  return names && !names->empty();
}

fs::path OVMigration::backupUploadsToFolder() const {
  std::error_code error;
  fs::create_directories(backup_, error);
  std::error_code ignored;
  if (error || !fs::is_directory(fs::status(backup_, ignored))) {
    const std::string reason = error ? error.message() : std::make_error_code(std::errc::not_a_directory).message();
    exitWithFatalError(
        kExitStorageFolderUnusable,
        fmt::format("Error! Cannot create UploadsBackup directory at path : {}, error : {}", backup_.string(), reason));
  }
  fs::create_directory(original_, error); // a failure shows in the moves into it

  appendToFile(readme_, fmt::format("This folder contains files which were not uploaded by the {}\n", appTitle_));
  appendToFile(readme_, "Starting copying of unfinished uploads to the backup directory\n\n");

  const ShareNames shareNames = readShareNames();
  for (const std::string& name : listFolder(uploads_).value_or(std::vector<std::string>{})) {
    if (name.ends_with(kInfoSuffix)) {
      continue;
    }
    // Empty and unreadable entries (folders among them) are left for the clean-up.
    const auto size = fs::file_size(uploads_ / name, error);
    if (error || size == 0) {
      continue;
    }
    backupUpload(name, shareNames);
  }
  return backup_;
}

// "shares" holds one JSON text per share; entries without both an id and a
// name (or whose name cannot be a folder name) are of no use here.
OVMigration::ShareNames OVMigration::readShareNames() const {
  ShareNames names;
  const fs::path path = root_ / "shares.db";
  const PlistPtr root = readDictionary(path);
  plist_t shares = root ? plist_dict_get_item(root.get(), "shares") : nullptr;
  if (shares == nullptr || plist_get_node_type(shares) != PLIST_ARRAY) {
    return names;
  }
  const uint32_t count = plist_array_get_size(shares);
  for (uint32_t index = 0; index < count; ++index) {
    const auto text = plistString(plist_array_get_item(shares, index));
    const json share = text ? json::parse(*text, nullptr, false) : json();
    if (!share.is_object()) {
      continue;
    }
    auto shareId = jsonString(share, "ShareId");
    auto shareName = jsonString(share, "ShareName");
    if (shareId && shareName && usableName("share name", *shareName, path)) {
      names.emplace(std::move(*shareId), std::move(*shareName));
    }
  }
  return names;
}

// Rescues the data file `name` of "Uploads": into its share's folder when
// its information file names a known share, else into ".original"; the
// information file always goes to ".original".
void OVMigration::backupUpload(const std::string& name, const ShareNames& shareNames) const {
  const fs::path infoPath = uploads_ / (name + kInfoSuffix);
  const bool hasInfo = entryExists(infoPath);
  const std::optional<UploadInfo> info = hasInfo ? readUploadInfo(infoPath) : std::nullopt;

  const std::string* shareName = nullptr;
  if (info && info->shareId) {
    auto found = shareNames.find(*info->shareId);
    shareName = found != shareNames.end() ? &found->second : nullptr;
  }
  const std::string fileName = info ? info->publicName.value_or(name) : name;
  // A file that could not go to its share's folder (say, a share named like
  // the read-me) would be deleted with the old files: keep it in ".original".
  if (shareName == nullptr || !usableName("file name", fileName, infoPath) ||
      !moveToShareFolder(name, *shareName, fileName, info->currentPath)) {
    moveToOriginal(name);
  }
  if (hasInfo) {
    std::error_code ignored;
    fs::rename(infoPath, original_ / freeCandidate(original_, name + kInfoSuffix), ignored);
  }
}

bool OVMigration::moveToShareFolder(const std::string& name, const std::string& shareName, const std::string& fileName,
                                    const std::string& currentPath) const {
  std::error_code error;
  fs::create_directories(backup_ / shareName, error); // a failure shows in the move
  const std::string candidate = freeCandidate(backup_, shareName + "/" + fileName);
  fs::rename(uploads_ / name, backup_ / candidate, error);
  if (!error) {
    appendToFile(readme_, fmt::format("{}: full path is {}\n", candidate, currentPath));
    OVLog(kLogMain, "Move file {} to {} location, full path is {}", name, candidate, currentPath);
    return true;
  }
  appendToFile(readme_, fmt::format("{}: was unable to move to the backup path {}\n", name, candidate));
  OVLog(kLogMain, "Cannot move file {} to {} location: error {}", name, candidate, error.message());
  return false;
}

void OVMigration::moveToOriginal(const std::string& name) const {
  // Normally just `name`; a numbered name only when an earlier migration left
  // a file of that name here.
  const std::string candidate = freeCandidate(original_, name);
  std::error_code error;
  fs::rename(uploads_ / name, original_ / candidate, error);
  if (!error) {
    appendToFile(readme_, fmt::format("{}: unknown file path, no information found\n", candidate));
    OVLog(kLogMain, "Moved file {} to .original location", name);
  } else {
    appendToFile(readme_, fmt::format("{}: was unable to move to the backup folder\n", name));
    OVLog(kLogMain, "Cannot move file {} to .original location: error {}", name, error.message());
  }
}

// Whatever cannot be deleted stays; the current client overwrites or ignores it.
void OVMigration::cleanUp() const {
  for (const std::string& name : listFolder(root_).value_or(std::vector<std::string>{})) {
    if (name != kBackupFolder && name != kLogsFolder) {
      std::error_code ignored;
      fs::remove_all(root_ / name, ignored);
    }
  }
}

bool OVMigration::appendToFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out) {
    return false;
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

void installMigrationCheck(OVDatabase& database, OVFileCache& fileCache, std::string appTitle) {
  database.setMigrationCheck([&fileCache, title = std::move(appTitle)] {
    OVMigration(fileCache.rootCachePath(), title).checkIfMigrationNeeded();
    // The clean-up may have removed Files, Uploads and Downloads; downloads
    // and uploads expect them from the first moment on.
    fileCache.initCachePathes();
  });
}

} // namespace orvex
