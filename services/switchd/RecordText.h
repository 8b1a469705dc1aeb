// The text of a report record, as the agent passes it on unchanged:
//
//   2026-01-02 10:00:05 17 %                   one value (and the resource's unit)
//   2026-01-02 10:00:05 eth0=120 lo=4          several instances, name=value each
//
// The time is local time.  The same text is read back for listings, CSV and
// plots.
//
//   std::string text = FormatRecord(clock.Local(now), {{"", 17}}, "%");
//   std::optional<ParsedRecord> parsed = ParseRecord(text);  // time, values
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/switchd/Monitoring.h"

namespace switchd {

// The length of "YYYY-MM-DD hh:mm:ss".
inline constexpr size_t kRecordTimeLength = 19;

struct RecordValue {
  std::string name;  // empty for the one value of a record
  int64_t value = 0;
};

// "YYYY-MM-DD hh:mm:ss" of a local calendar time.
std::string FormatRecordTime(const std::tm& local);
// The value part: "value[ unit]" for one value, "name=value name=value ..."
// for several.
std::string FormatValues(const std::vector<RecordValue>& values, std::string_view unit);
// The whole record text: the time, a blank and the value part.
std::string FormatRecord(const std::tm& local, const std::vector<RecordValue>& values,
                         std::string_view unit);

struct ParsedRecord {
  std::string time;  // "YYYY-MM-DD hh:mm:ss"
  std::vector<RecordValue> values;
  std::string unit;  // of a one-value record; "" otherwise
};

// Reads a record text back; none when it is not of the form above.  An
// instance name may itself hold blanks or "=": a pair ends at the first
// "=number" that is followed by a blank or the end.
std::optional<ParsedRecord> ParseRecord(std::string_view text);

// The record-time text that a --since argument stands for, to compare with
// the start of record texts: "YYYY-MM-DD", "YYYY-MM-DDThh:mm[:ss]" (local
// time), or a span back from the clock's now: a number followed by s, m, h
// or d ("90m").  None for any other text.
std::optional<std::string> SinceText(std::string_view argument, const Clock& clock);

}  // namespace switchd
