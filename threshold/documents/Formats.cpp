// Number and time formats of configuration documents.  The scanning mimics
// sscanf's "%d" without its undefined behaviour on overflow.
#include "threshold/documents/Formats.h"

#include <climits>
#include <cstdio>
#include <ctime>

namespace records {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an optionally signed decimal number at *pos after leading blanks, as
// "%d" does; saturates at the 32-bit limits.  False (and *pos unchanged) when
// no digit follows.
bool ScanInt(std::string_view text, size_t* pos, int* value) {
  size_t p = *pos;
  while (p < text.size() && IsBlank(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p >= text.size() || !IsDigit(text[p])) return false;
  int64_t magnitude = 0;
  for (; p < text.size() && IsDigit(text[p]); ++p) {
    if (magnitude <= int64_t{INT_MAX} + 1) magnitude = magnitude * 10 + (text[p] - '0');
  }
  if (negative) {
    *value = magnitude > int64_t{INT_MAX} + 1 ? INT_MIN : static_cast<int>(-magnitude);
  } else {
    *value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
  }
  *pos = p;
  return true;
}

// A small sscanf: "%d" converts, a blank matches any run of blanks, any other
// character must match itself.  Returns how many numbers were converted.
int ScanFields(std::string_view text, std::string_view format, int* fields, int max_fields) {
  size_t p = 0;
  int count = 0;
  for (size_t f = 0; f < format.size(); ++f) {
    if (format[f] == '%' && f + 1 < format.size() && format[f + 1] == 'd') {
      if (count == max_fields || !ScanInt(text, &p, &fields[count])) break;
      ++count;
      ++f;
    } else if (IsBlank(format[f])) {
      while (p < text.size() && IsBlank(text[p])) ++p;
    } else {
      if (p >= text.size() || text[p] != format[f]) break;
      ++p;
    }
  }
  return count;
}

int Saturate(int64_t value) {
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Local broken-down time to seconds; 0 when mktime cannot represent it.
int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = Saturate(int64_t{year} - 1900);
  tm.tm_mon = Saturate(int64_t{month} - 1);
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;  // let the zone's rules decide whether daylight saving applies
  const time_t t = std::mktime(&tm);
  return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

std::string FormatUtc(int64_t seconds, const char* format) {
  const auto t = static_cast<time_t>(seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return {};
  char text[64];
  const size_t length = std::strftime(text, sizeof text, format, &tm);
  return std::string(text, length);
}

}  // namespace

int ParseDecimal(std::string_view text) {
  size_t pos = 0;
  int value = 0;
  return ScanInt(text, &pos, &value) ? value : 0;
}

std::string FormatDecimal(int value) { return std::to_string(value); }

int ParseDailyTime(std::string_view text) {
  if (text.empty()) return -1;
  int fields[2] = {0, 0};
  ScanFields(text, "%d:%d", fields, 2);
  return Saturate(int64_t{fields[0]} * 60 + fields[1]);
}

std::optional<std::string> FormatDailyTime(int minutes) {
  if (minutes < 0 || minutes > 1440) return std::nullopt;
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
  return std::string(text);
}

int64_t ParseRecordingEnd(std::string_view text) {
  int fields[3];
  if (ScanFields(text, "%d/%d/%d", fields, 3) != 3) return 0;
  return LocalTime(fields[2], fields[0], fields[1], 12, 0, 0);
}

std::optional<std::string> FormatRecordingEnd(int64_t seconds) {
  if (seconds == 0) return std::nullopt;
  std::string date = FormatUtc(seconds, "%m/%d/%Y");
  if (date.empty()) return std::nullopt;
  return date;
}

std::string FormatUtcDateTime(int64_t seconds) { return FormatUtc(seconds, "%m/%d/%Y %H:%M:%S"); }

int64_t ParseModified(std::string_view text) {
  int fields[6];
  if (ScanFields(text, "%d/%d/%d %d:%d:%d", fields, 6) != 6) return 0;
  return LocalTime(fields[2], fields[0], fields[1], fields[3], fields[4], fields[5]);
}

}  // namespace records
