// Counts of what the kernel asked the drive, for tests and benchmarks that
// must tell how a command reached the drive (a listing that needs no lookup
// per entry) without timing it. Relaxed atomics: counting must cost nothing
// on the request path, and readers only need a settled total.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvex {

struct OVDriveRequestCounts {
  std::atomic<std::uint64_t> pathLookups{0};  // attribute requests by path (a LOOKUP or stat)
  std::atomic<std::uint64_t> listingPages{0}; // readdir requests answered
  std::atomic<std::uint64_t> contentSyncs{0}; // fsync/fdatasync that reached a cache file
  std::atomic<unsigned> renameFlagsSeen{0};   // every rename flag the kernel passed on

  static void add(std::atomic<std::uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
};

} // namespace orvex
