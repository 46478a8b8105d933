// The user's local calendar, behind an interface so that tests can pin a time
// zone without touching the process's TZ (which other threads read).
#pragma once

#include <chrono>
#include <ctime>

namespace orvex {

struct LocalDate {
  int year = 0;  // e.g. 2026
  int month = 0; // 1..12
  int day = 0;   // 1..31
};

class LocalTimeZone {
 public:
  using WallTime = std::chrono::system_clock::time_point;
  LocalTimeZone() = default;
  LocalTimeZone(const LocalTimeZone&) = delete;
  LocalTimeZone& operator=(const LocalTimeZone&) = delete;
  virtual ~LocalTimeZone() = default;

  // The local calendar day that `at` falls on.
  virtual LocalDate dateOf(WallTime at) const = 0;
  // The moment of local midnight at the start of `date`.
  virtual WallTime midnightOf(LocalDate date) const = 0;

  // The process's time zone (localtime_r / mktime; honours TZ).
  static const LocalTimeZone& system();
};

class SystemTimeZone final : public LocalTimeZone {
 public:
  LocalDate dateOf(WallTime at) const override;
  WallTime midnightOf(LocalDate date) const override;
};

// A zone at a fixed distance from UTC (east positive), without daylight saving.
class FixedOffsetTimeZone final : public LocalTimeZone {
 public:
  explicit FixedOffsetTimeZone(std::chrono::seconds eastOfUtc) : offset_(eastOfUtc) {}
  LocalDate dateOf(WallTime at) const override;
  WallTime midnightOf(LocalDate date) const override;

 private:
  const std::chrono::seconds offset_;
};

} // namespace orvex
