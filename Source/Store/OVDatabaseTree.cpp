// The read side of the tree: nodes by id, by parent and name, and by drive
// path (through the two path caches); folder listings; the drive paths of a
// node; and the share a node belongs to, including folder shares (a folder of
// one share shared on its own, whose nodes hang below the folder's id).
//
// Parent links come from the server and may be broken or even circular, so
// every upward walk stops at a missing parent and at a node it has seen.
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"

#include <execinfo.h>

#include <cstdlib>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace orvex {
namespace {

// Frames of the calling thread, one per line, for reports of paths that
// should not reach the store.
std::string callStackSymbols() {
  void* frames[64];
  int count = backtrace(frames, 64);
  char** symbols = backtrace_symbols(frames, count);
  if (symbols == nullptr)
    return {};
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0)
      text += '\n';
    text += symbols[i];
  }
  std::free(symbols); // one block, allocated by backtrace_symbols
  return text;
}

// The parts between the "/" of a path, empty ones included ("/S/a/" gives "", "S", "a", "").
std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> components;
  for (;;) {
    std::size_t slash = path.find('/');
    components.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos)
      return components;
    path.remove_prefix(slash + 1);
  }
}

std::string shareFolderPath(const ManagedShare& share, const std::string& path) {
  return fmt::format("/{}/{}", share.DisplayName.value_or(""), path);
}

void prependName(std::string& path, const std::string& name) {
  if (!name.empty())
    path = name + "/" + path;
}

void logInfiniteRecursivity(const std::string& child, const std::string& parent) {
  OVLog(kLogMain, "Infinite recursivity with files {} and {}, ", child, parent);
}

// True (after logging) when `parent` closes a cycle above `current`: the
// two-node case, where the parent's parent is the node itself, or a longer
// one back to a node the walk has already passed.
bool closesCycle(const OVFile& current, const OVFile& parent, std::unordered_set<std::string>& seen) {
  if (parent.parentId == current.internalName || !seen.insert(parent.internalName).second) {
    logInfiniteRecursivity(current.internalName, parent.internalName);
    return true;
  }
  return false;
}

} // namespace

// ---- Lookups ----------------------------------------------------------------

std::optional<OVFile> OVDatabase::fileWithId(const std::string& internalName, bool shadow) {
  if (shadow)
    return queryFile("SELECT * FROM files WHERE internalName = ? AND status = 5 LIMIT 0, 1", {internalName});
  return queryFile("SELECT * FROM files WHERE internalName = ? AND status != 5 LIMIT 0, 1", {internalName});
}

std::optional<OVFile> OVDatabase::fileWithParentId(const std::string& parentId, const std::string& fileName,
                                                   bool shadow) {
  if (shadow)
    return queryFile("SELECT * FROM files WHERE parentId = ? AND publicName = ? AND status = 5 LIMIT 0, 1",
                     {parentId, fileName});
  return queryFile("SELECT * FROM files WHERE parentId = ? AND publicName = ? AND status != 5 LIMIT 0, 1",
                   {parentId, fileName});
}

std::optional<std::string> OVDatabase::idOfFileNamed(const std::string& name, const std::string& parentId,
                                                     bool shadow) {
  if (shadow)
    return queryString(
        "SELECT internalName FROM files WHERE parentId = ? AND publicName = ? ORDER BY status DESC LIMIT 0, 1",
        {parentId, name});
  return queryString("SELECT internalName FROM files WHERE parentId = ? AND publicName = ? AND status != 5 LIMIT 0, 1",
                     {parentId, name});
}

// ---- Listings ---------------------------------------------------------------

std::vector<OVFile> OVDatabase::filesWithParent(const std::string& parentId) {
  auto files =
      queryFiles("SELECT * FROM files WHERE parentId = ? AND status != 5 AND isFile AND NOT deleted", {parentId});
  if (!files) {
    OVLog(kLogMain, "{} : Cannot select {} child files.", "-[OVDatabase filesWithParent:]", parentId);
    return {};
  }
  return std::move(*files);
}

std::vector<OVFile> OVDatabase::filesWithShareID(const std::string& shareId, const std::string& fileId) {
  auto files = queryFiles("SELECT * FROM files WHERE shareId = ? AND internalName = ? AND status != 5 AND NOT deleted",
                          {shareId, fileId});
  if (!files) {
    OVLog(kLogMain, "{} : Cannot select {} child files.", "-[OVDatabase filesWithShareID:andFileId:]", shareId);
    return {};
  }
  return std::move(*files);
}

std::vector<std::string> OVDatabase::fileIdsWithParent(const std::string& parentId) {
  return queryStrings("SELECT internalName FROM files WHERE parentId = ? AND status != 5 AND NOT deleted", {parentId})
      .value_or(std::vector<std::string>{});
}

std::vector<std::string> OVDatabase::subfolderIdsWithParent(const std::string& parentId) {
  return queryStrings(
             "SELECT internalName FROM files WHERE NOT isFile AND parentId = ? AND status != 5 AND NOT deleted",
             {parentId})
      .value_or(std::vector<std::string>{});
}

std::vector<std::string> OVDatabase::allSubfolderIds(const std::string& folderId) {
  std::vector<std::string> result;
  std::vector<std::string> stack{folderId};
  // A folder met twice (circular parent links) is not descended again.
  std::unordered_set<std::string> seen{folderId};
  while (!stack.empty()) {
    std::string current = std::move(stack.back());
    stack.pop_back();
    for (std::string& child : subfolderIdsWithParent(current)) {
      if (!seen.insert(child).second)
        continue;
      result.push_back(child);
      stack.push_back(std::move(child));
    }
  }
  return result;
}

std::vector<std::string> OVDatabase::fileNamesListWithParent(const std::string& parentId) {
  auto names =
      queryStrings("SELECT publicName FROM files WHERE parentId = ? AND status != 5 AND NOT deleted", {parentId})
          .value_or(std::vector<std::string>{});
  std::vector<std::string> listed;
  std::unordered_set<std::string> collected;
  for (std::string& name : names) {
    if (collected.contains(name)) {
      // Two rows may not share a name in one folder: the drive could show
      // only one of them. Keep one and let the server's next change bring
      // back whatever the other stood for.
      OVLog(kLogMain, "{} : duplicate item {} in directory listing, ignoring it.",
            "-[OVDatabase fileNamesListWithParent:]", name);
      doUpdateQuery("DELETE FROM files WHERE parentId = ? AND publicName = ? AND status != 5 AND NOT deleted LIMIT 1",
                    {parentId, name});
      continue;
    }
    // Files the kernel renamed while they were open stay invisible.
    if (name.starts_with(".fuse_hidden"))
      continue;
    collected.insert(name);
    listed.push_back(std::move(name));
  }
  return listed;
}

bool OVDatabase::folderIsEmpty(const OVFile& folder, bool includeDeleted) {
  auto count = includeDeleted
                   ? queryLong("SELECT COUNT(*) FROM files WHERE parentId = ? AND status != 5", {folder.internalName})
                   : queryLong("SELECT COUNT(*) FROM files WHERE parentId = ? AND status != 5 AND NOT deleted",
                               {folder.internalName});
  return !count || *count == 0;
}

std::vector<std::string> OVDatabase::allParents(const OVFile& file) {
  std::vector<std::string> parents{file.parentId};
  std::unordered_set<std::string> seen{file.internalName, file.parentId};
  while (auto parent =
             queryString("SELECT parentId FROM files WHERE internalName = ? AND status != 5", {parents.back()})) {
    if (!seen.insert(*parent).second)
      break;
    parents.push_back(std::move(*parent));
  }
  return parents;
}

// ---- Path resolution ---------------------------------------------------------

std::optional<OVFile> OVDatabase::fileWithPath(const std::string& path) {
  if (OVFuseUtils::isRootPath(path) || OVFuseUtils::isSharePath(path))
    return std::nullopt;
  return fileWithPath(path, false);
}

std::optional<OVFile> OVDatabase::shadowWithPath(const std::string& path) {
  return fileWithPath(path, true);
}

std::optional<OVFile> OVDatabase::fileWithPath(const std::string& path, bool shadow) {
  if (auto cached = pathCaches_.cachedItem(path, shadow))
    return fileWithId(*cached, shadow);

  if (auto parentId = pathCaches_.cachedItem(OVFuseUtils::parentPath(path), shadow)) {
    auto file = fileWithParentId(*parentId, std::string(OVFuseUtils::lastPathComponent(path)), shadow);
    if (file) {
      pathCaches_.cacheItem(file->internalName, path, shadow);
      return file;
    }
  }

  ManagedSharePtr share = shareWithPath(path);
  if (!share) {
    OVLog(kLogFuse, "==> no share is not found {} {}", path, callStackSymbols());
    return std::nullopt;
  }
  auto file = fileFromParent(share->ShareId.value_or(""), path, shadow);
  // The top folder of a folder share is the shared folder itself.
  if (!file && share->InternalName && !share->InternalName->empty())
    file = fileFromParent(*share->InternalName, path, shadow);
  // Ignored names come and go without records; keep their entries.
  if (!file && !OVFuseUtils::isPathIgnored(path, false))
    pathCaches_.clearSingle(path);
  return file;
}

std::optional<OVFile> OVDatabase::fileFromParent(const std::string& rootId, const std::string& path, bool shadow) {
  // Component 0 is empty and component 1 names the share: start below it.
  std::vector<std::string_view> components = splitPath(path);
  std::string currentId = rootId;
  for (std::size_t i = 2; i < components.size(); ++i) {
    if (components[i].empty())
      break; // "/S/a/" names a
    auto id = idOfFileNamed(std::string(components[i]), currentId, shadow);
    if (!id) {
      OVLog(kLogFuse, "==> this is not found {} {}", path, rootId);
      return std::nullopt;
    }
    currentId = std::move(*id);
  }

  auto file = fileWithId(currentId, shadow);
  if (file)
    pathCaches_.cacheItem(file->parentId, OVFuseUtils::parentPath(path), shadow);
  else
    OVLog(kLogFuse, "==> rest = this is not found {} {}", path, rootId);
  return file;
}

// ---- Path caches -------------------------------------------------------------

std::optional<std::string> OVDatabase::cachedItemWithPath(const std::string& path, bool shadow) {
  return pathCaches_.cachedItem(path, shadow);
}

void OVDatabase::cacheItem(const std::string& internalName, const std::string& path, bool shadow) {
  pathCaches_.cacheItem(internalName, path, shadow);
}

void OVDatabase::clearCacheForPathSingle(const std::string& path) {
  pathCaches_.clearSingle(path);
}

void OVDatabase::clearCacheForPath(const std::string& pathPrefix) {
  pathCaches_.clearPrefix(pathPrefix);
}

void OVDatabase::clearCacheForId(const std::string& internalName) {
  pathCaches_.clearForId(internalName);
}

void OVDatabase::clearAllPathCaches(const OVFile& file) {
  std::vector<std::string> paths;
  if (auto path = fullFilePath(file))
    paths.push_back(std::move(*path));
  if (auto subsharePaths = allFilePathsFromSubshare(file))
    paths.insert(paths.end(), subsharePaths->begin(), subsharePaths->end());
  for (const std::string& path : paths) {
    if (path.empty())
      continue;
    if (file.isFile)
      pathCaches_.clearSingle(path);
    else
      pathCaches_.clearPrefix(path);
  }
}

// ---- Drive paths of a node -----------------------------------------------------

std::optional<std::string> OVDatabase::fullFilePath(const OVFile& file) {
  ManagedSharePtr share = shareWithId(file.shareId);
  if (share && share->isSubfolderShare()) {
    // Shown inside the share that contains the shared folder.
    if (file.parentShareId.empty())
      return std::nullopt;
    share = shareWithId(file.parentShareId);
  }
  if (!share)
    return std::nullopt;

  const std::string shareId = share->ShareId.value_or("");
  std::string path = file.publicName;
  std::unordered_set<std::string> seen{file.internalName};
  OVFile current = file;
  while (current.parentId != shareId) {
    auto parent = fileWithId(current.parentId, false);
    if (!parent)
      break;
    prependName(path, parent->publicName);
    if (closesCycle(current, *parent, seen))
      break;
    current = std::move(*parent);
  }
  return shareFolderPath(*share, path);
}

std::vector<std::string> OVDatabase::folderDrivePaths(const std::string& folderId) {
  std::vector<std::string> paths;
  const auto add = [&paths](std::string path) {
    while (path.size() > 1 && path.back() == '/')
      path.pop_back();
    paths.push_back(std::move(path));
  };
  for (const ManagedSharePtr& share : shares()) {
    // A folder share's top folder is the shared folder's own node.
    if (share->ShareId == folderId || (share->isSubfolderShare() && share->InternalName == folderId))
      add(shareFolderPath(*share, ""));
  }
  if (auto folder = fileWithId(folderId, false); folder && !folder->isFile) {
    if (auto path = fullFilePath(*folder))
      add(std::move(*path));
    if (auto inSubshare = allFilePathsFromSubshare(*folder)) {
      for (std::string& path : *inSubshare)
        add(std::move(path));
    }
  }
  return paths;
}

std::optional<std::string> OVDatabase::fullFilePathFromSubShare(const OVFile& file) {
  ManagedSharePtr share = shareWithId(file.shareId);
  if (!share || !share->isSubfolderShare())
    return std::nullopt;

  const std::string root = share->InternalName.value_or("");
  std::string path = file.publicName;
  std::unordered_set<std::string> seen{file.internalName};
  OVFile current = file;
  while (current.parentId != root && current.internalName != root) {
    auto parent = fileWithId(current.parentId, false);
    if (!parent)
      break;
    prependName(path, parent->publicName);
    if (closesCycle(current, *parent, seen))
      break;
    current = std::move(*parent);
  }
  return shareFolderPath(*share, path);
}

std::optional<std::vector<std::string>> OVDatabase::allFilePathsFromSubshare(const OVFile& file) {
  ManagedSharePtr share = shareWithId(file.shareId);
  if (!share || !share->isSubfolderShare())
    return std::nullopt;

  std::vector<std::string> paths;
  std::string path = file.publicName;
  std::unordered_set<std::string> seen{file.internalName};
  OVFile current = file;
  while (auto folder = fileWithId(current.parentId, false)) {
    if (ManagedSharePtr folderShare = shareStore_.shareWithInternalName(folder->internalName))
      paths.push_back(shareFolderPath(*folderShare, path));
    prependName(path, folder->publicName);
    if (!seen.insert(folder->internalName).second) {
      logInfiniteRecursivity(current.internalName, folder->internalName);
      break;
    }
    current = std::move(*folder);
  }
  if (paths.empty())
    paths.emplace_back();
  return paths;
}

// ---- Shares ------------------------------------------------------------------

std::vector<ManagedSharePtr> OVDatabase::shares() {
  return shareStore_.shares();
}

ManagedSharePtr OVDatabase::shareWithId(std::string_view shareId) {
  return shareStore_.shareWithId(shareId);
}

ManagedSharePtr OVDatabase::shareWithPath(std::string_view path) {
  return shareStore_.shareWithFilePath(path);
}

bool OVDatabase::renameShare(const ManagedShare& share, const std::string& newName) {
  std::vector<std::string> shown = sharePaths();
  const bool renamed = shareStore_.renameShare(share, newName);
  reportShareChange(std::move(shown));
  return renamed;
}

void OVDatabase::deleteShareData(const ManagedShare& share) {
  std::vector<std::string> shown = sharePaths();
  shareStore_.deleteShareData(share);
  reportShareChange(std::move(shown));
}

void OVDatabase::deleteDomainShares(const std::vector<std::string>& domains) {
  std::vector<std::string> shown = sharePaths();
  shareStore_.deleteDomainShares(domains);
  reportShareChange(std::move(shown));
}

std::string OVDatabase::globalLoginResponce() {
  return shareStore_.globalLoginResponce();
}

void OVDatabase::setGlobalLoginResponce(const std::string& value) {
  shareStore_.setGlobalLoginResponce(value);
  shareStore_.save();
}

std::vector<ManagedSharePtr> OVDatabase::subfolderSharesForShareId(std::string_view shareId) {
  return shareStore_.subfolderSharesForShareId(shareId);
}

ManagedSharePtr OVDatabase::shareForFile(const OVFile& file) {
  if (ManagedSharePtr share = shareWithId(file.shareId))
    return share;
  std::vector<ManagedSharePtr> folderShares = subfolderSharesForShareId(file.shareId);
  if (folderShares.empty())
    return nullptr; // nothing could match: spare the walk up
  for (const std::string& ancestor : allParents(file)) {
    for (const ManagedSharePtr& share : folderShares) {
      if (share->InternalName == ancestor || share->ShareId == ancestor)
        return share;
    }
  }
  return nullptr;
}

ManagedSharePtr OVDatabase::getSubshareForFile(const OVFile& file) {
  std::unordered_set<std::string> seen{file.internalName};
  OVFile current = file;
  for (;;) {
    auto parent = fileWithId(current.parentId, false);
    if (!parent) {
      if (ManagedSharePtr share = shareWithId(current.parentId))
        return share;
      return shareWithId(current.shareId);
    }
    ManagedSharePtr folderShare = shareStore_.shareWithInternalName(parent->internalName);
    if (folderShare && folderShare->isSubfolderShare())
      return folderShare;
    if (closesCycle(current, *parent, seen))
      return nullptr;
    current = std::move(*parent);
  }
}

void OVDatabase::setLockAvailableForShare(LockAvailableForShare lockAvailable) {
  std::lock_guard lock(lockSeamMutex_);
  lockAvailableForShare_ = std::move(lockAvailable);
}

bool OVDatabase::isFileLockedRemotely(const OVFile& file) {
  if (!file.isLocked)
    return false;
  LockAvailableForShare lockAvailable;
  {
    std::lock_guard lock(lockSeamMutex_);
    lockAvailable = lockAvailableForShare_;
  }
  return !lockAvailable || lockAvailable(shareWithId(file.shareId));
}

} // namespace orvex
