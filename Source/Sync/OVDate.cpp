// Tick time conversions.
#include "Sync/OVDate.h"

#include <cmath>
#include <limits>

namespace orvex {

namespace {
constexpr std::int64_t kTicksPerSecond = 10'000'000;
} // namespace

std::int64_t ticks(OVDate date) {
  const double seconds = secondsSince1970(date);
  if (std::isnan(seconds)) {
    return 0;
  }
  // The floor of the double product, as the service computes it.
  const double product = std::floor(seconds * double(kTicksPerSecond));
  // Keep product + offset inside int64 (the bounds are a little inside the limits on purpose).
  constexpr double kLargest = 9.2e18 - double(kTicksAtUnixEpoch);
  constexpr double kSmallest = -9.2e18;
  if (product >= kLargest) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (product <= kSmallest) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(product) + kTicksAtUnixEpoch;
}

OVDate dateWithTicks(std::int64_t tickTime) {
  // Whole seconds and the rest apart, so that neither the subtraction can
  // overflow nor a present-day tick lose more than the double itself loses.
  const std::int64_t wholeSeconds = tickTime / kTicksPerSecond - kSecondsFromYearOneToUnixEpoch;
  const std::int64_t restTicks = tickTime % kTicksPerSecond;
  return dateFromSecondsSince1970(double(wholeSeconds) + double(restTicks) / double(kTicksPerSecond));
}

} // namespace orvex
