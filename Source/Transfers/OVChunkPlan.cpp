#include "Transfers/OVChunkPlan.h"

#include <algorithm>

namespace orvex {

OVChunkPlan planChunkRequest(ByteRange read, std::uint64_t prefix, std::uint64_t fileSize, OVStreamState& stream) {
  const std::uint64_t readEnd = std::min(read.location + read.length, fileSize);
  if (read.location > prefix && read.location - prefix > kStreamReach) {
    stream = {};
    const std::uint64_t length = std::min(std::max(kJumpRequest, readEnd - read.location), fileSize - read.location);
    return {{read.location, length}, false};
  }
  // The stream goes on only where its last request ended and all of it arrived.
  const bool continues = stream.window > 0 && stream.end == prefix;
  const std::uint64_t window =
      continues ? std::min(std::max(stream.window * kWindowGrowth, kJumpRequest), kMaxWindow) : kFirstWindow;
  const std::uint64_t needed = readEnd > prefix ? readEnd - prefix : 0;
  const std::uint64_t length = std::min(std::max(window, needed), fileSize - prefix);
  stream = {prefix + length, length};
  return {{prefix, length}, true};
}

} // namespace orvex
