#include "Sync/Connector/CatchUpPageFilter.h"

#include "OVLogger.h"
#include "Platform/SafePathComponent.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

namespace {

// Cut for the log: the value came from the server and may be anything.
std::string_view shortened(const std::optional<std::string>& value) {
  return value ? std::string_view(*value).substr(0, 64) : std::string_view("(null)");
}

bool belongsToShare(const OVVirtualFile& record, const ManagedShare& share) {
  if (!record.ShareId) {
    return false;
  }
  return record.ShareId == share.ShareId || (share.ParentShareId && record.ShareId == share.ParentShareId);
}

// Ids name cache files and folders; the public name becomes an entry of the drive.
bool hasSafeNames(const OVVirtualFile& record) {
  // A missing id is the merge's to refuse, with its own message.
  const auto safe = [](const std::optional<std::string>& value) { return !value || isSafePathComponent(*value); };
  return safe(record.InternalName) && safe(record.ParrentId) && safe(record.UploadName) &&
         safe(record.LastUploadName) && safe(record.PublicName);
}

} // namespace

std::size_t dropForeignRecords(std::vector<OVVirtualFile>& records, const ManagedShare& share) {
  const auto refused = [&](const OVVirtualFile& record) {
    if (!belongsToShare(record, share)) {
      OVLog(kLogMain, "Warning! Catchup of share {} brought node {} of share {}. Ignoring it.",
            share.ShareName.value_or(""), shortened(record.InternalName), shortened(record.ShareId));
      return true;
    }
    if (!hasSafeNames(record)) {
      OVLog(kLogMain, "Warning! Catchup of share {} brought node {} with an unusable id or name. Ignoring it.",
            share.ShareName.value_or(""), shortened(record.InternalName));
      return true;
    }
    return false;
  };
  return std::erase_if(records, refused);
}

} // namespace orvex
