#include "Platform/LocalTimeZone.h"

namespace orvex {

namespace {

using std::chrono::days;
using std::chrono::sys_days;

LocalDate toLocalDate(std::chrono::year_month_day ymd) {
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

sys_days toSysDays(LocalDate date) {
  return sys_days{std::chrono::year{date.year} / std::chrono::month{static_cast<unsigned>(date.month)} /
                  std::chrono::day{static_cast<unsigned>(date.day)}};
}

} // namespace

const LocalTimeZone& LocalTimeZone::system() {
  // Never destroyed: the logger thread may still use it while the process exits.
  static const SystemTimeZone* const zone = new SystemTimeZone();
  return *zone;
}

LocalDate SystemTimeZone::dateOf(WallTime at) const {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  localtime_r(&seconds, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

LocalTimeZone::WallTime SystemTimeZone::midnightOf(LocalDate date) const {
  std::tm local{};
  local.tm_year = date.year - 1900;
  local.tm_mon = date.month - 1;
  local.tm_mday = date.day;
  local.tm_isdst = -1; // let the zone's rules decide
  return std::chrono::system_clock::from_time_t(mktime(&local));
}

LocalDate FixedOffsetTimeZone::dateOf(WallTime at) const {
  const auto local = std::chrono::floor<days>(at + offset_);
  return toLocalDate(std::chrono::year_month_day{local});
}

LocalTimeZone::WallTime FixedOffsetTimeZone::midnightOf(LocalDate date) const {
  return WallTime{toSysDays(date).time_since_epoch()} - offset_;
}

} // namespace orvex
