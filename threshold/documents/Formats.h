// Text forms of numbers and times in configuration documents.  Times are
// seconds since 1 January 1970; documents carry local-time texts, except the
// recording end, which is written as a UTC date.
//
//   records::ParseDailyTime("7:5");         // 425 minutes of the day
//   records::FormatDailyTime(1440);         // "24:00"
//   records::ParseModified("10/20/2006 8:56:53");  // that local time
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace records {

// Leading-number semantics: leading blanks and a sign allowed, the number ends
// at the first non-digit, no number gives 0.  Values beyond 32 bits saturate.
int ParseDecimal(std::string_view text);
std::string FormatDecimal(int value);

// Minutes of the day from "hours:minutes" read as "%d:%d" (a field that does
// not match counts 0); -1 for an empty text.  No range check.
int ParseDailyTime(std::string_view text);
// "%02d:%02d"; empty optional outside 0..1440 (1440 is "24:00").
std::optional<std::string> FormatDailyTime(int minutes);

// "month/day/year" read as "%d/%d/%d", taken as 12:00:00 local time of that
// day; 0 for an empty or unparsable text.
int64_t ParseRecordingEnd(std::string_view text);
// The UTC date of `seconds` as "%m/%d/%Y"; empty optional for 0 (refused) or a
// time the calendar cannot show.
std::optional<std::string> FormatRecordingEnd(int64_t seconds);
// The UTC time of `seconds` as "%m/%d/%Y %H:%M:%S", "" if it cannot be shown.
std::string FormatUtcDateTime(int64_t seconds);

// "month/day/year hour:minute:second" read as "%d/%d/%d %d:%d:%d" in local
// time; 0 for an empty text or one without all six fields.
int64_t ParseModified(std::string_view text);

}  // namespace records
