// The check a catch-up page passes before it reaches the merge: the server is
// trusted with the share it was asked about and nothing else.
#pragma once

#include "Sync/ManagedShare.h"
#include "Sync/OVVirtualFile.h"

#include <cstddef>
#include <vector>

namespace orvex {

// Removes, with a warning each, the records that must not be merged into
// `share`: records of another share (a folder share's records may carry its
// parent share's id, in which the server shows them) or of no share, and
// records whose ids or names could not serve as one component of a local path. Answers how many were removed.
std::size_t dropForeignRecords(std::vector<OVVirtualFile>& records, const ManagedShare& share);

} // namespace orvex
