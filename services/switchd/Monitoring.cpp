// The machine's clock and the daily window shared by rule and report sets.
#include "services/switchd/Monitoring.h"

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

}  // namespace switchd
