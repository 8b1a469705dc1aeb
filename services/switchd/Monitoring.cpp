// The machine's clock, the daily window shared by rule and report sets, and the
// decimal values that sources read.
#include "services/switchd/Monitoring.h"

#include <charconv>
#include <chrono>

namespace switchd {

int64_t SystemClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t SystemClock::WallSeconds() const {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::tm SystemClock::Local(int64_t wall_seconds) const {
  const time_t t = static_cast<time_t>(wall_seconds);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

bool InDailyWindow(int minute_of_day, int start, int stop) {
  if (start < 0 || stop < 0 || start == stop) return true;
  if (start < stop) return minute_of_day >= start && minute_of_day < stop;
  return minute_of_day >= start || minute_of_day < stop;  // spans midnight
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int64_t> ParseDecimalValue(std::string_view text) {
  text = TrimBlanks(text);
  // from_chars takes a minus but no plus.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  }
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace switchd
