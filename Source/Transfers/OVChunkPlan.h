// Which range a chunk request asks for. A read at or near the end of a file's
// cached prefix is served by a request that starts at the prefix, so that
// every byte it brings extends the cache; consecutive such requests grow
// (a stream), so that a file read front to back costs a few large requests.
// A read far beyond the prefix is a jump: it gets one small request of its
// own, whose bytes the prefix-only cache cannot keep.
#pragma once

#include "Network/OVNewAPI.h"

#include <cstdint>

namespace orvex {

inline constexpr std::uint64_t kChunkMiB = 1 << 20;
// The first request of a stream, and every request at the prefix that does not continue one.
inline constexpr std::uint64_t kFirstWindow = 262144;
// A jump beyond the prefix.
inline constexpr std::uint64_t kJumpRequest = kChunkMiB;
// A request continuing a stream asks this many times the previous one, up to kMaxWindow.
inline constexpr std::uint64_t kWindowGrowth = 4;
inline constexpr std::uint64_t kMaxWindow = 64 * kChunkMiB;
// How far beyond the prefix a read may start and still count as the stream's:
// the kernel reads ahead of a sequential reader (up to 1 MiB a request) and
// its requests can arrive out of order.
inline constexpr std::uint64_t kStreamReach = 2 * kChunkMiB;

// What a file's last request was; guarded by whoever keeps it.
struct OVStreamState {
  std::uint64_t end = 0;    // where the last request at the prefix ended; 0 after a jump
  std::uint64_t window = 0; // its length
};

struct OVChunkPlan {
  ByteRange range;
  bool extendsPrefix = false; // starts at the cached prefix: every byte it brings is kept
};

// The request for `read` (within the file, not all of it cached) given the
// file's cached `prefix`; updates `stream`. Never shorter than what the read
// still needs, never past the end of the file.
OVChunkPlan planChunkRequest(ByteRange read, std::uint64_t prefix, std::uint64_t fileSize, OVStreamState& stream);

} // namespace orvex
