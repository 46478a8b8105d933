// Directory listings. A listing is made from one query of the folder's rows,
// with every entry's attributes, and handed to the
// kernel page by page from the folder's open handle. The rows are also kept
// for a moment (OVListingSnapshots) for the attribute requests of programs
// that list without asking for attributes and then stat each name.
#include "Drive/OVFuseCallback.h"
#include "Drive/OVFuseUtils.h"
#include "Drive/OVListingNames.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"

#include <cerrno>
#include <memory>
#include <unordered_set>

namespace orvex {
namespace {

// Names from the store are untrusted; a log line shows them escaped and cut.
std::string printable(std::string_view name) {
  constexpr std::size_t kShown = 80;
  std::string shown;
  for (char c : name.substr(0, kShown)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte == 0x7F ? fmt::format("\\x{:02x}", byte) : std::string(1, c);
  }
  if (name.size() > kShown)
    shown += fmt::format("... ({} bytes)", name.size());
  return shown;
}

bool hasDuplicateNames(const std::vector<OVFile>& rows) {
  std::unordered_set<std::string_view> names;
  names.reserve(rows.size());
  for (const OVFile& row : rows) {
    if (!names.insert(row.publicName).second)
      return true;
  }
  return false;
}

} // namespace

std::vector<OVDirectoryEntry> OVFuseCallback::rootEntries() {
  std::vector<OVDirectoryEntry> entries;
  for (const ManagedSharePtr& share : database_.shares()) {
    const std::string name = share->DisplayName.value_or("");
    switch (shareEntryVerdict(name)) {
      case OVListingVerdict::listed: {
        OVDirectoryEntry& entry = entries.emplace_back();
        entry.name = name;
        fillShare(*share, entry.attributes);
        entry.hasAttributes = true;
        break;
      }
      case OVListingVerdict::notALinuxName:
        reportUnlistable("/", name);
        break;
      default:
        break;
    }
  }
  return entries;
}

std::optional<std::string> OVFuseCallback::folderIdAt(const std::string& path, int& error) {
  if (OVFuseUtils::isSharePath(path)) {
    if (ManagedSharePtr share = database_.shareWithPath(path))
      return share->isSubfolderShare() ? share->InternalName.value_or("") : share->ShareId.value_or("");
    error = -ENOENT;
    return std::nullopt;
  }
  if (isVolumeOnlyName(path)) {
    error = -ENOTDIR;
    return std::nullopt;
  }
  auto folder = recordAt(path);
  if (!folder || folder->deleted) {
    error = -ENOENT;
    return std::nullopt;
  }
  if (folder->isFile) {
    error = -ENOTDIR;
    return std::nullopt;
  }
  return folder->internalName;
}

std::vector<OVDirectoryEntry> OVFuseCallback::listing(const std::string& path, int& error) {
  std::vector<OVDirectoryEntry> entries(2);
  entries[0].name = ".";
  entries[1].name = "..";
  if (OVFuseUtils::isRootPath(path)) {
    std::vector<OVDirectoryEntry> shares = rootEntries();
    entries.insert(entries.end(), std::make_move_iterator(shares.begin()), std::make_move_iterator(shares.end()));
    return entries;
  }
  const std::optional<std::string> folderId = folderIdAt(path, error);
  if (!folderId)
    return {};
  auto rows =
      database_.queryFiles("SELECT * FROM files WHERE parentId = ? AND status != 5 AND NOT deleted", {*folderId});
  if (!rows) {
    error = -EIO;
    return {};
  }
  if (hasDuplicateNames(*rows)) {
    // Rare: the store keeps one row of each name (and drops the others), so
    // list what it kept.
    (void)database_.fileNamesListWithParent(*folderId);
    rows = database_.queryFiles("SELECT * FROM files WHERE parentId = ? AND status != 5 AND NOT deleted", {*folderId});
    if (!rows) {
      error = -EIO;
      return {};
    }
  }
  entries.reserve(rows->size() + 2);
  // Files the kernel renamed while they were open stay invisible, and so do
  // names this system cannot show.
  std::erase_if(*rows, [&](const OVFile& row) {
    if (row.publicName.starts_with(".fuse_hidden"))
      return true;
    const OVListingVerdict verdict = folderEntryVerdict(row.publicName);
    if (verdict == OVListingVerdict::notALinuxName)
      reportUnlistable(path, row.publicName);
    return verdict != OVListingVerdict::listed;
  });
  for (const OVFile& row : *rows) {
    OVDirectoryEntry& entry = entries.emplace_back();
    entry.name = row.publicName;
    fillRecord(row, entry.attributes);
    entry.hasAttributes = true;
  }
  listings_.remember(path, std::move(*rows));
  return entries;
}

int OVFuseCallback::opendir(const char* /*path*/, std::uint64_t& handle) {
  // The listing is made by the first read, so that opening costs nothing.
  auto listing = std::make_unique<OVDirectoryListing>();
  OVDirectoryListing* address = listing.get();
  std::lock_guard lock(listingsMutex_);
  openListings_.emplace(address, std::move(listing));
  handle = handleFromListing(address);
  return 0;
}

void OVFuseCallback::releasedir(std::uint64_t handle) {
  std::unique_ptr<OVDirectoryListing> released;
  std::lock_guard lock(listingsMutex_);
  if (auto open = openListings_.find(listingFromHandle(handle)); open != openListings_.end()) {
    released = std::move(open->second); // freed after the lock is let go
    openListings_.erase(open);
  }
}

int OVFuseCallback::readdir(const char* incoming, std::uint64_t handle, std::int64_t offset,
                            const DirectoryFiller& fill) {
  OVDriveRequestCounts::add(counts_.listingPages);
  const std::string path = finalPath(incoming);
  OVDirectoryListing once;
  OVDirectoryListing& listed = handle != 0 ? *listingFromHandle(handle) : once;
  if (offset <= 0 || !listed.made) {
    if (config_.excessiveLogging)
      OVLog(kLogFuse, "{}:{}", "orvex_readdir", path);
    int error = 0;
    listed.entries = listing(path, error);
    if (error != 0)
      return error;
    listed.made = true;
    if (config_.excessiveLogging)
      OVLog(kLogFuse, "{}: returned {} items", "orvex_readdir", listed.entries.size() - 2);
  }
  for (auto next = static_cast<std::size_t>(std::max<std::int64_t>(offset, 0)); next < listed.entries.size(); ++next) {
    const OVDirectoryEntry& entry = listed.entries[next];
    if (!fill(entry.name.c_str(), entry.hasAttributes ? &entry.attributes : nullptr,
              static_cast<std::int64_t>(next + 1)))
      break;
  }
  return 0;
}

void OVFuseCallback::reportUnlistable(std::string_view folder, std::string_view name) {
  {
    std::lock_guard lock(reportedMutex_);
    if (reportedNames_.size() >= kMaxReportedNames || !reportedNames_.emplace(name).second)
      return;
  }
  OVLog(kLogFuse, "Warning! Name \"{}\" in {} cannot be a file name on this system; it is not listed.", printable(name),
        folder);
}

} // namespace orvex
