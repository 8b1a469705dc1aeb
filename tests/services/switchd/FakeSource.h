// A clock and a resource source that tests set by hand. The source answers at
// once, on the caller's thread, with a reading set as text: "cpu0=5 cpu1=93"
// (numbered in that order), "93" (one instance, "total"), "" (none) or "!" (failed).
#pragma once

#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "services/switchd/Monitoring.h"

namespace switchd_test {

class FakeClock final : public switchd::Clock {
 public:
  // 2026-01-05 12:00:00 UTC; local time is UTC, whatever the machine's zone.
  static constexpr int64_t kStartWall = 1767614400;

  int64_t NowMs() const override { return now_ms; }
  int64_t WallSeconds() const override { return start + now_ms / 1000; }
  std::tm Local(int64_t wall_seconds) const override {
    const time_t t = static_cast<time_t>(wall_seconds);
    std::tm local{};
    gmtime_r(&t, &local);
    return local;
  }

  int64_t now_ms = 0;
  int64_t start = kStartWall;  // the wall clock when now_ms is 0
};

// `counter_modulus`: none for plain values, else a counter wrapping there (0: never).
inline switchd::Reading ReadingOf(const std::string& text,
                                  std::optional<uint64_t> counter_modulus = std::nullopt) {
  switchd::Reading reading;
  if (text == "!") {
    reading.error = "the fake read failed";
    return reading;
  }
  reading.ok = true;
  reading.counter = counter_modulus.has_value();
  reading.counter_modulus = counter_modulus.value_or(0);
  std::istringstream words(text);
  DWORD number = 0;
  for (std::string word; words >> word;) {
    const size_t equals = word.find('=');
    const std::string name = equals == std::string::npos ? "total" : word.substr(0, equals);
    const std::string value = equals == std::string::npos ? word : word.substr(equals + 1);
    reading.instances.push_back({++number, name, std::stoll(value)});
  }
  return reading;
}

class FakeSource final : public switchd::ResourceSource {
 public:
  void Set(const std::string& request, const std::string& text,
           std::optional<uint64_t> counter_modulus = std::nullopt) {
    std::lock_guard lock(mutex_);
    readings_[request] = ReadingOf(text, counter_modulus);
  }
  // Requests that Validate refuses as unknown.
  void Refuse(const std::string& request) {
    std::lock_guard lock(mutex_);
    refused_.insert(request);
  }
  int Reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
  }

  // An snmp query needs a target without blanks; a refused request is unknown.
  bool Validate(const switchd::ResourceQuery& query, std::string* reason) const override {
    std::lock_guard lock(mutex_);
    if (refused_.contains(query.request)) {
      *reason = "unknown request \"" + query.request + "\"";
      return false;
    }
    if (query.type == switchd::RequestType::kSnmp &&
        (query.target.empty() || query.target.find(' ') != std::string::npos)) {
      *reason = "\"" + query.target + "\" is not an address";
      return false;
    }
    return true;
  }

  void Read(const switchd::ResourceQuery& query,
            std::function<void(switchd::Reading)> done) override {
    switchd::Reading reading;
    {
      std::lock_guard lock(mutex_);
      ++reads_;
      const auto it = readings_.find(query.request);
      if (it != readings_.end()) {
        reading = it->second;
      } else {
        reading.error = "nothing set for \"" + query.request + "\"";
      }
    }
    done(std::move(reading));
  }
  void BeginTick() override {}

 private:
  mutable std::mutex mutex_;
  std::map<std::string, switchd::Reading> readings_;
  std::set<std::string> refused_;
  int reads_ = 0;
};

}  // namespace switchd_test
