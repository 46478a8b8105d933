// Tick time: 100-nanosecond intervals since 0001-01-01 UTC, floored on the product.
#include "Sync/OVDate.h"
#include "Sync/WireDateFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvex {
namespace {

TEST(TickTime, EpochAndDistantPast) {
  EXPECT_EQ(ticks(dateFromSecondsSince1970(0)), 621355968000000000);
  EXPECT_EQ(ticks(kDistantPast), 0);
  EXPECT_EQ(dateWithTicks(621355968000000000), dateFromSecondsSince1970(0));
  EXPECT_EQ(dateWithTicks(0), kDistantPast);
}

TEST(TickTime, PartsOfATickAreFlooredEvenBefore1970) {
  // 50 ns is half a tick: the epoch's value. 0.5 us is five whole ticks.
  EXPECT_EQ(ticks(dateFromSecondsSince1970(50e-9)), kTicksAtUnixEpoch);
  EXPECT_EQ(ticks(dateFromSecondsSince1970(0.5e-6)), kTicksAtUnixEpoch + 5);
  EXPECT_EQ(ticks(dateFromSecondsSince1970(150e-9)), kTicksAtUnixEpoch + 1);
  // Floor, not truncation towards zero: half a tick before the epoch is one tick before it.
  EXPECT_EQ(ticks(dateFromSecondsSince1970(-50e-9)), kTicksAtUnixEpoch - 1);
  EXPECT_EQ(ticks(dateFromSecondsSince1970(-1.5)), kTicksAtUnixEpoch - 15'000'000);
}

TEST(TickTime, PresentDayDatesConvertBothWays) {
  const OVDate date = NSDateFromNSString("2020-01-02T03:04:05.123Z");
  EXPECT_EQ(ticks(date), 637135310451230000);
  EXPECT_EQ(JSONObjectFromNSDate(dateWithTicks(637135310451230000)), "2020-01-02T03:04:05.123Z");
  EXPECT_EQ(ticks(dateWithTicks(637135310451230000)), 637135310451230000);
  // Before 1970 the remainder is negative; the date is still the right one.
  EXPECT_EQ(JSONObjectFromNSDate(dateWithTicks(kTicksAtUnixEpoch - 10'000)), "1969-12-31T23:59:59.999Z");
}

TEST(TickTime, ExtremeValuesNeitherOverflowNorTrap) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(ticks(dateFromSecondsSince1970(1e300)), kMax);
  EXPECT_EQ(ticks(dateFromSecondsSince1970(-1e300)), kMin);
  EXPECT_EQ(ticks(dateFromSecondsSince1970(std::nan(""))), 0);
  // All bits set (-1), and both ends of the range, give finite dates.
  EXPECT_TRUE(std::isfinite(secondsSince1970(dateWithTicks(-1))));
  EXPECT_TRUE(std::isfinite(secondsSince1970(dateWithTicks(kMax))));
  EXPECT_TRUE(std::isfinite(secondsSince1970(dateWithTicks(kMin))));
  // One tick is below what a double resolves that far from 1970.
  EXPECT_LE(dateWithTicks(-1), kDistantPast);
}

} // namespace
} // namespace orvex
