// The wire date format: what the service's texts read as, what the client
// writes, and that unreadable dates never fail a record.
#include "Support/LogCapture.h"
#include "Sync/OVVirtualFile.h"
#include "Sync/WireDateFormat.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvex {
namespace {

// 2020-01-02T03:04:05Z in seconds since 1970.
constexpr double kSample = 1577934245;

double read(std::string_view text) {
  return secondsSince1970(NSDateFromNSString(text));
}

TEST(WireDate, ReadsEachOfTheThreeFormsInUTC) {
  test::LogCapture log;
  EXPECT_DOUBLE_EQ(read("2020-01-02T03:04:05.123Z"), kSample + 0.123);
  EXPECT_DOUBLE_EQ(read("2020-01-02T03:04:05Z"), kSample);
  // Step 3: the fraction is cut (not rounded) to milliseconds and the offset applied.
  EXPECT_DOUBLE_EQ(read("2020-01-02T03:04:05.1234567+02:00"), kSample - 2 * 3600 + 0.123);
  EXPECT_DOUBLE_EQ(read("2020-01-02T03:04:05.9999-05:30"), kSample + 5.5 * 3600 + 0.999);
  EXPECT_DOUBLE_EQ(read("2020-01-02T03:04:05.1234Z"), kSample + 0.123);
  EXPECT_TRUE(log.warnings().empty());
}

TEST(WireDate, UnreadableTextsBecomeTheDistantPastWithAWarning) {
  test::LogCapture log;
  const char* unreadable[] = {
      "2020-01-02T03:04:05",          // no zone
      "2020-01-02T03:04:05.12+02:00", // fewer than three digits: step 3 doubles the offset
      "2020-01-02T03:04:05.1234567",  // only digits after the point: no step 3
      "2020-02-30T03:04:05Z",         // no such day
      "2020-01-02 03:04:05Z",         "", "0000-01-01T00:00:00Z",
  };
  for (const char* text : unreadable) {
    EXPECT_EQ(NSDateFromNSString(text), kDistantPast) << text;
  }
  const auto warnings = log.warnings();
  ASSERT_EQ(warnings.size(), std::size(unreadable));
  EXPECT_NE(warnings[0].find("Warning! Failed to parse date: 2020-01-02T03:04:05"), std::string::npos);
}

TEST(WireDate, WritesMillisecondsAndZInUTC) {
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(kSample + 0.123)), "2020-01-02T03:04:05.123Z");
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(kSample)), "2020-01-02T03:04:05.000Z");
  // Cut, not rounded.
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(kSample + 0.9996)), "2020-01-02T03:04:05.999Z");
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(-0.001)), "1969-12-31T23:59:59.999Z");
  EXPECT_EQ(JSONObjectFromNSDate(kDistantPast), "0001-01-01T00:00:00.000Z");
}

TEST(WireDate, WrittenDatesReadBackUnchanged) {
  test::LogCapture log;
  for (const char* text : {"2020-01-02T03:04:05.123Z", "1969-07-20T20:17:40.001Z", "2038-01-19T03:14:08.999Z",
                           "0001-01-01T00:00:00.000Z", "9999-12-31T23:59:59.999Z", "2024-02-29T12:00:00.070Z"}) {
    EXPECT_EQ(JSONObjectFromNSDate(NSDateFromNSString(text)), text);
  }
  EXPECT_TRUE(log.warnings().empty());
}

TEST(WireDate, DatesOutsideTheWritableYearsAreClampedSoTheyReadBack) {
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(-1e13)), "0001-01-01T00:00:00.000Z");
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(1e13)), "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(std::nan(""))), "0001-01-01T00:00:00.000Z");
  EXPECT_EQ(JSONObjectFromNSDate(dateFromSecondsSince1970(HUGE_VAL)), "9999-12-31T23:59:59.999Z");
}

TEST(WireDate, AnUnreadableDateDoesNotFailTheRecordButAMistypedOneDoes) {
  test::LogCapture log;
  const auto base = R"({"Tick":1,"ShareTick":2,"UpdateTick":3,"CreateTick":4,"Local":false,"Deleted":false,
                        "IsFile":true,"LastAccessTime":"2020-01-02T03:04:05Z","LastWriteTime":"2020-01-02T03:04:05Z",)";
  auto parsed = OVVirtualFile::fromJSONText(std::string(base) + R"("CreationTime":"yesterday"})");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_EQ(parsed->CreationTime, kDistantPast);
  EXPECT_EQ(log.warnings().size(), 1u);

  parsed = OVVirtualFile::fromJSONText(std::string(base) + R"("CreationTime":1577934245})");
  ASSERT_FALSE(parsed.ok());
  EXPECT_NE(parsed.error().find("\"CreationTime\""), std::string::npos) << parsed.error();
}

} // namespace
} // namespace orvex
