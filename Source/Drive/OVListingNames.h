// Which stored names a directory listing may show. Names come from the
// service through the metadata store, so they are untrusted: a name the
// kernel could not take as one Linux file name must never reach it.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvex {

// A Linux file name is at most 255 bytes. That is stricter than the
// service's own bound (names of 960 UTF-16 units and more cannot travel back
// to it), which therefore never has to be checked separately.
inline constexpr std::size_t kMaxLinuxNameBytes = 255;

enum class OVListingVerdict {
  listed,
  // Left out silently: the service's character rule and the drive's ignore rule.
  invalidCharacters,
  ignored,
  // Left out and worth a log line: the store holds something that is no file name here.
  notALinuxName,
};

// The verdict for one name of a folder's listing, checked in this order:
// not a Linux name, one of kInvalidChars, ignored.
OVListingVerdict folderEntryVerdict(std::string_view name);

// The verdict for a share's folder name at the root: shares carry no
// service-side character rule, so only the Linux rule and the ignore rule apply.
OVListingVerdict shareEntryVerdict(std::string_view name);

// True when `name` holds no "/" and no NUL and fits in 255 bytes. The empty
// name passes: it is no danger, and the ignore rule drops it.
bool isLinuxFileName(std::string_view name);

} // namespace orvex
