// Conversions of generic wire numbers.
#include "Sync/WireNumber.h"

#include <cmath>
#include <limits>

namespace orvex {

std::int64_t WireNumber::asInt64() const {
  if (!isReal_) {
    return integer_;
  }
  if (std::isnan(real_)) {
    return 0;
  }
  // 2^63 is exactly representable; anything at or beyond it saturates.
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (real_ >= kTwoTo63) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (real_ < -kTwoTo63) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(real_);
}

} // namespace orvex
