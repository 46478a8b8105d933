// The wire date reader and writer: fixed formats, parsed by hand, so that
// neither the process locale nor its time zone can change what a text means.
#include "Sync/WireDateFormat.h"

#include "OVLogger.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>

namespace orvex {

namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr std::int64_t kMillisPerDay = 86'400'000;
// 0001-01-01T00:00:00.000Z and 9999-12-31T23:59:59.999Z in milliseconds since 1970.
constexpr std::int64_t kFirstWritableMillis = -kSecondsFromYearOneToUnixEpoch * 1000;
constexpr std::int64_t kLastWritableMillis = 253402300799999;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads exactly `count` digits at `pos`, advancing it.
std::optional<int> digits(std::string_view text, std::size_t& pos, std::size_t count) {
  if (text.size() < pos + count) {
    return std::nullopt;
  }
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (!isDigit(c)) {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  pos += count;
  return value;
}

bool literal(std::string_view text, std::size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// "yyyy-MM-ddTHH:mm:ss" at the start of `text`: milliseconds since 1970, as
// written (the zone is applied by the caller).
std::optional<std::int64_t> dateAndTime(std::string_view text, std::size_t& pos) {
  const auto y = digits(text, pos, 4);
  if (!y || !literal(text, pos, '-'))
    return std::nullopt;
  const auto mo = digits(text, pos, 2);
  if (!mo || !literal(text, pos, '-'))
    return std::nullopt;
  const auto d = digits(text, pos, 2);
  if (!d || !literal(text, pos, 'T'))
    return std::nullopt;
  const auto h = digits(text, pos, 2);
  if (!h || !literal(text, pos, ':'))
    return std::nullopt;
  const auto mi = digits(text, pos, 2);
  if (!mi || !literal(text, pos, ':'))
    return std::nullopt;
  const auto s = digits(text, pos, 2);
  if (!s)
    return std::nullopt;
  const year_month_day date{std::chrono::year(*y), std::chrono::month(unsigned(*mo)), std::chrono::day(unsigned(*d))};
  if (*y == 0 || !date.ok() || *h > 23 || *mi > 59 || *s > 59) {
    return std::nullopt;
  }
  const std::int64_t day = sys_days(date).time_since_epoch().count();
  return day * kMillisPerDay + ((*h * 60 + *mi) * 60 + *s) * std::int64_t{1000};
}

// "Z", "+HH:MM" or "+HHMM" (or "-") ending the text: the offset in milliseconds.
std::optional<std::int64_t> zone(std::string_view text, std::size_t& pos) {
  if (literal(text, pos, 'Z')) {
    return 0;
  }
  int sign = 1;
  if (!literal(text, pos, '+')) {
    if (!literal(text, pos, '-'))
      return std::nullopt;
    sign = -1;
  }
  const auto h = digits(text, pos, 2);
  literal(text, pos, ':');
  const auto m = digits(text, pos, 2);
  if (!h || !m || *h > 23 || *m > 59) {
    return std::nullopt;
  }
  const std::int64_t minutes = *h * 60 + *m;
  return sign * minutes * 60'000;
}

OVDate fromMillis(std::int64_t millis) {
  return dateFromSecondsSince1970(double(millis) / 1000.0);
}

// yyyy-MM-ddTHH:mm:ss[.SSS] then Z, or with an offset when `offsetAllowed`.
std::optional<OVDate> parseFormat(std::string_view text, bool withMillis, bool offsetAllowed) {
  std::size_t pos = 0;
  auto millis = dateAndTime(text, pos);
  if (!millis)
    return std::nullopt;
  if (withMillis) {
    const auto fraction = literal(text, pos, '.') ? digits(text, pos, 3) : std::nullopt;
    if (!fraction)
      return std::nullopt;
    *millis += *fraction;
  }
  const auto offset =
      offsetAllowed ? zone(text, pos) : (literal(text, pos, 'Z') ? std::optional<std::int64_t>(0) : std::nullopt);
  if (!offset || pos != text.size())
    return std::nullopt;
  return fromMillis(*millis - *offset);
}

// Step 3: the first three fraction digits kept, the rest of the digits dropped.
// The cut is made at a fixed width from the point, so a fraction of fewer
// than three digits leaves a text that no format reads.
std::optional<OVDate> parseCutFraction(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos)
    return std::nullopt;
  std::size_t firstNonDigit = point + 1;
  while (firstNonDigit < text.size() && isDigit(text[firstNonDigit])) {
    ++firstNonDigit;
  }
  if (firstNonDigit == text.size())
    return std::nullopt;
  std::string cut(text.substr(0, point + 4));
  cut += text.substr(firstNonDigit);
  return parseFormat(cut, true, true);
}

} // namespace

OVDate NSDateFromNSString(std::string_view text) {
  if (auto date = parseFormat(text, true, false))
    return *date;
  if (auto date = parseFormat(text, false, false))
    return *date;
  if (auto date = parseCutFraction(text))
    return *date;
  OVLog(kLogMain, "Warning! Failed to parse date: {}", text);
  return kDistantPast;
}

std::string JSONObjectFromNSDate(OVDate date) {
  const double exact = secondsSince1970(date) * 1000.0;
  // Cut to whole milliseconds; a value within a microsecond below a boundary
  // is floating-point noise from reading that very millisecond, not a time before it.
  const double nearest = std::round(exact);
  const double millisValue = (nearest > exact && nearest - exact < 1e-3) ? nearest : std::floor(exact);
  std::int64_t millis = kFirstWritableMillis;
  if (millisValue >= double(kLastWritableMillis)) {
    millis = kLastWritableMillis;
  } else if (millisValue > double(kFirstWritableMillis)) { // false for NaN
    millis = static_cast<std::int64_t>(millisValue);
  }
  std::int64_t day = millis / kMillisPerDay;
  std::int64_t inDay = millis % kMillisPerDay;
  if (inDay < 0) {
    inDay += kMillisPerDay;
    --day;
  }
  const year_month_day ymd{sys_days{days{day}}};
  const std::int64_t seconds = inDay / 1000;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", int(ymd.year()), unsigned(ymd.month()),
                     unsigned(ymd.day()), seconds / 3600, seconds / 60 % 60, seconds % 60, inDay % 1000);
}

void initCustomDateFormatters() {}

} // namespace orvex
