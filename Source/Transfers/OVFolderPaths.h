// The drive path of the folder that holds a node, as the folder badges need
// it: both transfer queues ask whether a drive path lies at or below a folder
// with pending transfers.
#pragma once

#include <optional>
#include <string>

namespace orvex {

class OVDatabase;

// "/" followed by the share's display name when `parentId` is a share id (the
// node lies in the share's root), else the full drive path of the folder with
// that id. Nothing when neither is known. Any thread; waits for the store.
std::optional<std::string> drivePathOfParent(OVDatabase& database, const std::string& parentId);

} // namespace orvex
