// The date form of every wire record. Written as
// "yyyy-MM-dd'T'HH':'mm':'ss.SSS'Z'" in UTC (always three fraction digits and a
// literal Z). Read by trying, in order:
//   1. yyyy-MM-ddTHH:mm:ss.SSSZ
//   2. yyyy-MM-ddTHH:mm:ssZ
//   3. only if both fail, and the text has a "." followed by something other
//      than digits: the text up to the third character after the first ".",
//      then the text again from the first non-digit after the ".", read as
//      yyyy-MM-ddTHH:mm:ss.SSS followed by "Z" or a numeric offset (+02:00).
// The servers send more than three fraction digits and offsets; step 3 cuts
// the fraction to milliseconds. A text no step reads is logged as
// "Warning! Failed to parse date: <text>" and reads as the distant past.
//
// Pure functions of their arguments: safe from any thread.
#pragma once

#include "Sync/OVDate.h"

#include <string>
#include <string_view>

namespace orvex {

// Reads a wire date; never fails (see above).
OVDate NSDateFromNSString(std::string_view text);

// Writes a wire date. The time is cut to whole milliseconds; times outside
// years 1 to 9999 (and NaN) are written as the nearest end of that range, so
// that every written text reads back.
std::string JSONObjectFromNSDate(OVDate date);

// The readers and the writer need no set-up here; kept so that start-up can
// make the call it always makes before the first record is read. Idempotent.
void initCustomDateFormatters();

} // namespace orvex
