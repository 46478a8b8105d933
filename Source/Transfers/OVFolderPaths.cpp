#include "Transfers/OVFolderPaths.h"

#include "Store/OVDatabase.h"

namespace orvex {

std::optional<std::string> drivePathOfParent(OVDatabase& database, const std::string& parentId) {
  if (const auto share = database.shareWithId(parentId)) {
    if (!share->DisplayName) {
      return std::nullopt;
    }
    return "/" + *share->DisplayName;
  }
  const auto folder = database.fileWithId(parentId, false);
  if (!folder) {
    return std::nullopt;
  }
  return database.fullFilePath(*folder);
}

} // namespace orvex
