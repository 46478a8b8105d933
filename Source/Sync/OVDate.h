// Points in time as the whole client holds them: floating-point seconds since
// 1970-01-01 00:00 UTC, the form the metadata database stores. A double keeps
// sub-microsecond precision for present-day times and still reaches the
// distant past (year 1), which a nanosecond system_clock time point cannot.
//
// Also the service's "tick time": 100-nanosecond intervals since 0001-01-01
// 00:00 UTC. Tick values travel as signed 64-bit integers; an unsigned value
// with all bits set is -1.
#pragma once

#include <chrono>
#include <cstdint>

namespace orvex {

using OVDate = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

// Seconds from 0001-01-01 00:00 UTC (proleptic Gregorian) to the Unix epoch.
inline constexpr std::int64_t kSecondsFromYearOneToUnixEpoch = 62135596800;
// The Unix epoch in tick time.
inline constexpr std::int64_t kTicksAtUnixEpoch = 621355968000000000;

// "A fixed date far in the past": what unreadable and absent dates become.
// It is 0001-01-01 00:00:00 UTC, tick time 0, and is written and read back
// unchanged by the wire date format.
inline constexpr OVDate kDistantPast{std::chrono::duration<double>(-double(kSecondsFromYearOneToUnixEpoch))};

inline OVDate dateFromSecondsSince1970(double seconds) {
  return OVDate{std::chrono::duration<double>(seconds)};
}
inline double secondsSince1970(OVDate date) {
  return date.time_since_epoch().count();
}
inline OVDate OVDateNow() {
  return OVDate{std::chrono::system_clock::now()};
}

// Date -> tick time: floor(seconds since 1970 x 10,000,000) + 621355968000000000,
// the floor taken on the (double) product. Results beyond the 64-bit range are
// clamped; a NaN date counts as the distant past (tick 0).
std::int64_t ticks(OVDate date);

// Tick time -> date: seconds since 1970 = (ticks - 621355968000000000) / 10,000,000.
OVDate dateWithTicks(std::int64_t tickTime);

} // namespace orvex
