// Formatting and reading back report record texts.
#include "services/switchd/RecordText.h"

#include <charconv>
#include <cstdio>

namespace switchd {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal integer filling `text` exactly.
std::optional<int64_t> Integer(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// Whether `text` is "YYYY-MM-DD hh:mm:ss" by shape.
bool IsRecordTime(std::string_view text) {
  static constexpr std::string_view kShape = "0000-00-00 00:00:00";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::string FormatRecordTime(const std::tm& local) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string FormatValues(const std::vector<RecordValue>& values, std::string_view unit) {
  if (values.size() == 1) {
    std::string text = std::to_string(values[0].value);
    if (!unit.empty()) text.append(" ").append(unit);
    return text;
  }
  std::string text;
  for (const RecordValue& value : values) {
    if (!text.empty()) text += ' ';
    text.append(value.name).append("=").append(std::to_string(value.value));
  }
  return text;
}

std::string FormatRecord(const std::tm& local, const std::vector<RecordValue>& values,
                         std::string_view unit) {
  return FormatRecordTime(local) + " " + FormatValues(values, unit);
}

std::optional<ParsedRecord> ParseRecord(std::string_view text) {
  if (text.size() < kRecordTimeLength + 2 || text[kRecordTimeLength] != ' ' ||
      !IsRecordTime(text.substr(0, kRecordTimeLength))) {
    return std::nullopt;
  }
  ParsedRecord record;
  record.time = std::string(text.substr(0, kRecordTimeLength));
  const std::string_view rest = text.substr(kRecordTimeLength + 1);

  // One value: a number that ends at a blank or the end, then the unit.
  const size_t number_end = rest.find(' ');
  if (const auto value = Integer(rest.substr(0, number_end))) {
    record.values.push_back({"", *value});
    if (number_end != std::string_view::npos)
      record.unit = std::string(rest.substr(number_end + 1));
    return record;
  }

  size_t start = 0;
  size_t search = 0;
  while (start < rest.size()) {
    const size_t equals = rest.find('=', search);
    if (equals == std::string_view::npos) return std::nullopt;
    size_t end = rest.find(' ', equals);
    if (end == std::string_view::npos) end = rest.size();
    const auto value = Integer(rest.substr(equals + 1, end - equals - 1));
    if (!value || equals == start) {
      // Not this "=": it belongs to the name.
      search = equals + 1;
      continue;
    }
    record.values.push_back({std::string(rest.substr(start, equals - start)), *value});
    start = search = end + 1;
  }
  if (record.values.empty()) return std::nullopt;
  return record;
}

std::optional<std::string> SinceText(std::string_view argument, const Clock& clock) {
  if (argument.size() >= 2) {
    const char suffix = argument.back();
    const auto count = Integer(argument.substr(0, argument.size() - 1));
    int64_t unit = 0;
    if (suffix == 's') unit = 1;
    if (suffix == 'm') unit = 60;
    if (suffix == 'h') unit = 3600;
    if (suffix == 'd') unit = 86400;
    // Ten years back is far enough for any record and keeps the product small.
    if (count && unit != 0 && *count >= 0 && *count <= 10 * 366 * 86400 / unit) {
      return FormatRecordTime(clock.Local(clock.WallSeconds() - *count * unit));
    }
  }
  // "YYYY-MM-DD", then optionally "Thh:mm" and ":ss".
  static constexpr std::string_view kShape = "0000-00-00T00:00:00";
  if (argument.size() != 10 && argument.size() != 16 && argument.size() != 19) return std::nullopt;
  std::string text(argument);
  for (size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i]) return std::nullopt;
  }
  if (text.size() > 10) text[10] = ' ';
  const std::string_view full = "0000-00-00 00:00:00";
  text.append(full.substr(text.size()));
  return text;
}

}  // namespace switchd
