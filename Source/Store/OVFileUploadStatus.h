// The resume record of a chunked content upload: one row of the `uploads`
// table. A plain value.
#pragma once

#include "Sync/OVDate.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

struct OVFileUploadStatus {
  std::string internalName;
  std::int64_t tick = 0;
  OVDate startTime;
  OVDate finishTime;
  std::int64_t progress = 0; // byte position from which to send
  std::string fileHash;
  std::string uploadName;
  std::optional<std::string> token; // the upload address the server returned
};

} // namespace orvex
