// Number and time formats: leading-number parsing, the recording end date
// (local noon on reading, UTC date on writing) and Modified stamps, in zones
// with and without daylight saving time.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <utility>

#include "TimeZone.h"
#include "threshold/documents/Formats.h"

namespace {

using records_test::kBerlin;
using records_test::kNewYork;
using records_test::kUtc;
using records_test::ScopedTimeZone;

// A leading number is read up to the first non-digit, saturating beyond 32
// bits; text without one reads zero.
TEST(DecimalFormatTest, LeadingNumberSaturatesOrReadsZero) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"42", 42}, {" \t\n -42abc", -42}, {"+7", 7}, {"007", 7}, {"4.9", 4}, {"12 34", 12},
      {"", 0}, {"abc", 0}, {"- 5", 0}, {"+", 0}, {"x12", 0}, {"2147483647", INT_MAX},
      {"2147483648", INT_MAX}, {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN},
      {"99999999999999999999999999", INT_MAX}};
  // clang-format on
  for (const auto& [text, value] : cases) EXPECT_EQ(records::ParseDecimal(text), value) << text;
}

// Dates read as local noon of that day, stamps as local time: standard time
// on 31 December 2006, daylight saving time on 15 July and 20 October 2006.
TEST(LocalTimeFormatTest, DatesAndStampsReadInTheLocalZone) {
  const std::tuple<const char*, const char*, int64_t> dates[] = {
      {kUtc, "12/31/2006", 1167566400},
      {kNewYork, "12/31/2006", 1167566400 + 5 * 3600},
      {kBerlin, "12/31/2006", 1167566400 - 3600},
      {kNewYork, "07/15/2006", 1152979200},  // 16:00 UTC
      {kBerlin, "7/15/2006", 1152957600},    // 10:00 UTC
  };
  for (const auto& [name, text, time] : dates) {
    ScopedTimeZone zone(name);
    EXPECT_EQ(records::ParseRecordingEnd(text), time) << name << " " << text;
  }
  const std::tuple<const char*, const char*, int64_t> stamps[] = {
      {kBerlin, "10/20/2006 8:56:53", 1161327413},
      {kNewYork, "10/20/2006 8:56:53", 1161349013},
      {kUtc, "10/20/2006  08:56:53", 1161334613},
  };
  for (const auto& [name, text, time] : stamps) {
    ScopedTimeZone zone(name);
    EXPECT_EQ(records::ParseModified(text), time) << name << " " << text;
  }
}

// Missing or incomplete dates, and dates far outside what mktime can show: no
// time rather than a wrong one.  Stamps are read the same way (the table
// document tests).
TEST(LocalTimeFormatTest, MissingOrIncompleteTextReadsZero) {
  ScopedTimeZone zone(kBerlin);
  for (const char* text :
       {"", "12/31", "2006-12-31", "never", "2147483647/2147483647/2147483647"}) {
    EXPECT_EQ(records::ParseRecordingEnd(text), 0) << text;
  }
}

// 1 January 2007 02:00 UTC is still 31 December in New York.
TEST(RecordingEndFormatTest, WrittenAsTheUtcDateWhateverTheLocalZone) {
  for (const char* name : {kUtc, kNewYork, kBerlin}) {
    ScopedTimeZone zone(name);
    EXPECT_EQ(records::FormatRecordingEnd(1167616800), "01/01/2007") << name;
    EXPECT_EQ(records::FormatUtcDateTime(1167616800), "01/01/2007 02:00:00") << name;
  }
}

}  // namespace
