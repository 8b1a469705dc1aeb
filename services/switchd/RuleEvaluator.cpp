// A rule's judgement: value types, valuations, operators, occurrences and
// event control.
#include "services/switchd/RuleEvaluator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "services/switchd/Instances.h"

namespace switchd {

namespace {

constexpr int64_t kMsPerSecond = 1000;

// The increase of a running counter between two reads, none when it cannot
// be known.  A counter that went down wrapped at `modulus` (2^32 for SNMP's
// Counter32) or, when it never wraps (modulus 0), started over.
std::optional<int64_t> CounterIncrease(int64_t previous, int64_t now, uint64_t modulus) {
  const uint64_t p = static_cast<uint64_t>(previous);
  const uint64_t n = static_cast<uint64_t>(now);
  uint64_t increase = n - p;
  if (now < previous) {
    if (modulus == 0 || p >= modulus || n >= modulus) return std::nullopt;
    increase = modulus - p + n;
  }
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(std::min(increase, kMax));
}

}  // namespace

int32_t ClampToInt32(long double value) {
  constexpr long double kMax = std::numeric_limits<int32_t>::max();
  constexpr long double kMin = std::numeric_limits<int32_t>::min();
  if (value >= kMax) return std::numeric_limits<int32_t>::max();
  if (value <= kMin) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::llround(value));
}

RuleEvaluator::RuleEvaluator(const RuleSpec& spec)
    : spec_(spec), needed_(std::max(1, spec.occurrences)) {}

std::optional<long double> RuleEvaluator::Value(Track& track, int64_t raw, const Reading& reading,
                                                int64_t due_ms) const {
  std::optional<long double> sample;
  if (reading.counter) {
    // A counter's reading means nothing by itself: every value type compares
    // its increase since the last poll, which never goes down.
    if (track.has_previous) {
      if (auto increase = CounterIncrease(track.previous, raw, reading.counter_modulus)) {
        sample = spec_.value_type == ValueType::kDeltaDec ? 0 : static_cast<long double>(*increase);
      }
    }
  } else if (spec_.value_type == ValueType::kAbsolute) {
    sample = static_cast<long double>(raw);
  } else if (track.has_previous) {
    const long double change =
        static_cast<long double>(raw) - static_cast<long double>(track.previous);
    switch (spec_.value_type) {
      case ValueType::kDeltaAny:
        sample = std::fabs(change);
        break;
      case ValueType::kDeltaInc:
        sample = std::max(change, 0.0L);
        break;
      default:
        sample = std::max(-change, 0.0L);
        break;
    }
  }
  track.previous = raw;
  track.has_previous = true;
  if (!sample) return std::nullopt;
  return Valuate(track, *sample, due_ms);
}

long double RuleEvaluator::Valuate(Track& track, long double sample, int64_t due_ms) const {
  // A watch period shorter than one interval holds only the sample itself.
  const bool averaging = spec_.watch_period_s > 0 && spec_.watch_period_s >= spec_.interval_s;
  if (!averaging || spec_.valuation == Valuation::kSingleValue) return sample;
  if (spec_.valuation == Valuation::kAverageLinear) {
    track.window.emplace_back(due_ms, sample);
    const int64_t oldest_kept = due_ms - spec_.watch_period_s * kMsPerSecond;
    while (track.window.front().first <= oldest_kept) track.window.pop_front();
    long double sum = 0;
    for (const auto& [due, value] : track.window) sum += value;
    return sum / static_cast<long double>(track.window.size());
  }
  const long double weight =
      static_cast<long double>(spec_.interval_s) / static_cast<long double>(spec_.watch_period_s);
  track.mean = track.has_mean ? track.mean + weight * (sample - track.mean) : sample;
  track.has_mean = true;
  return track.mean;
}

bool RuleEvaluator::Compare(int32_t value) const {
  switch (spec_.op) {
    case Operator::kEqual:
      return value == spec_.value;
    case Operator::kNotEqual:
      return value != spec_.value;
    case Operator::kLess:
      return value < spec_.value;
    case Operator::kLessEqual:
      return value <= spec_.value;
    case Operator::kGreater:
      return value > spec_.value;
    case Operator::kGreaterEqual:
      return value >= spec_.value;
    case Operator::kWithinRange:
      return value >= spec_.range_min && value <= spec_.range_max;
    case Operator::kOutOfRange:
      return value < spec_.range_min || value > spec_.range_max;
    default:
      return false;
  }
}

bool RuleEvaluator::ExistenceHolds(const std::set<std::string>& now) const {
  const std::set<std::string>& before = *names_;
  const auto missing_from = [](const std::set<std::string>& from, const std::set<std::string>& in) {
    return std::any_of(from.begin(), from.end(),
                       [&](const std::string& name) { return !in.contains(name); });
  };
  switch (spec_.op) {
    case Operator::kExistToNoneExist:
      return missing_from(before, now);
    case Operator::kNoneExistToExist:
      return missing_from(now, before);
    default:
      return before != now;
  }
}

std::optional<RuleEvaluator::Firing> RuleEvaluator::Poll(int64_t due_ms, const Reading& reading) {
  if (!reading.ok) {
    NoValue(reading.error.empty() ? "the read failed" : reading.error);
    return std::nullopt;
  }
  std::vector<InstanceValue> selected =
      SelectInstances(reading.instances, spec_.indexes, spec_.patterns);
  std::stable_sort(selected.begin(), selected.end(),
                   [](const InstanceValue& a, const InstanceValue& b) { return a.name < b.name; });

  if (JudgesExistence(spec_.op)) {
    std::set<std::string> names;
    for (const InstanceValue& instance : selected) names.insert(instance.name);
    // The first poll has nothing to compare with.
    const bool holds = names_.has_value() && ExistenceHolds(names);
    const int32_t count = ClampToInt32(static_cast<long double>(names.size()));
    names_ = std::move(names);
    last_error_.clear();
    shown_ = {{std::string(), count}};
    shown_with_unit_ = false;  // a number of instances, not a measurement
    return Judge(holds, count, due_ms);
  }

  std::vector<std::pair<std::string, long double>> values;
  std::map<std::string, Track> tracks;
  for (const InstanceValue& instance : selected) {
    // An instance not selected now starts afresh when it comes back.
    auto node = tracks_.extract(instance.name);
    Track& track =
        node.empty() ? tracks[instance.name] : tracks.insert(std::move(node)).position->second;
    if (auto value = Value(track, instance.value, reading, due_ms)) {
      values.emplace_back(instance.name, *value);
    }
  }
  tracks_ = std::move(tracks);
  if (values.empty()) {
    // Every delta needs a second sample: waiting for it is no error.
    NoValue(selected.empty() ? "no instance selected" : "");
    return std::nullopt;
  }
  last_error_.clear();
  shown_with_unit_ = true;

  if (spec_.monitor == InstanceMonitor::kAverage) {
    long double sum = 0;
    for (const auto& [name, value] : values) sum += value;
    const int32_t mean = ClampToInt32(sum / static_cast<long double>(values.size()));
    shown_ = {{std::string(), mean}};
    return Judge(Compare(mean), mean, due_ms);
  }
  shown_.clear();
  std::optional<int32_t> first_holding;
  for (const auto& [name, value] : values) {
    const int32_t shown = ClampToInt32(value);
    shown_.emplace_back(values.size() == 1 ? std::string() : name, shown);
    if (!first_holding && Compare(shown)) first_holding = shown;
  }
  return Judge(first_holding.has_value(), first_holding.value_or(shown_.front().second), due_ms);
}

std::optional<RuleEvaluator::Firing> RuleEvaluator::Judge(bool holds, int32_t value,
                                                          int64_t due_ms) {
  if (!violated_) {
    holding_ = holds ? std::min(holding_ + 1, needed_) : 0;
    if (holding_ < needed_) return std::nullopt;
    violated_ = true;
    last_fired_ms_ = due_ms;
    return Firing{value, false};
  }
  if (!holds) {
    violated_ = false;
    holding_ = 0;
    if (spec_.alternating) return Firing{value, true};
    return std::nullopt;
  }
  switch (spec_.control) {
    case EventControl::kSingleShot:
      return std::nullopt;
    case EventControl::kContinuous:
      last_fired_ms_ = due_ms;
      return Firing{value, false};
    default:
      if (due_ms - last_fired_ms_ < spec_.delay_s * kMsPerSecond) return std::nullopt;
      last_fired_ms_ = due_ms;
      return Firing{value, false};
  }
}

void RuleEvaluator::NoValue(std::string why) {
  last_error_ = std::move(why);
  shown_.clear();
  // A violation ends only at a poll that shows it ended; a violation builds
  // up only from polls that show the condition.
  if (!violated_) holding_ = 0;
}

std::optional<std::string> RuleEvaluator::CurrentValue(std::string_view unit) const {
  if (shown_.empty()) return std::nullopt;
  if (shown_.size() == 1 && shown_.front().first.empty()) {
    std::string text = std::to_string(shown_.front().second);
    if (shown_with_unit_ && !unit.empty()) text += " " + std::string(unit);
    return text;
  }
  std::string text;
  for (const auto& [name, value] : shown_) {
    if (!text.empty()) text += ' ';
    text += name + "=" + std::to_string(value);
  }
  return text;
}

}  // namespace switchd
