// One running rule's judgement from poll to poll: the instances it selects,
// their samples turned into values by the value type and the valuation, the
// comparison, the consecutive polls the condition held, the violation and
// which polls fire an event.  It knows nothing of time but the polls' due
// times, and nothing of scheduling: the engine feeds it one Reading per poll.
// services/switchd/README.md gives the formulas.
//
//   RuleEvaluator rule(spec);
//   if (auto firing = rule.Poll(due_ms, reading)) Send(firing->value, firing->ended);
//   rule.CurrentValue("%");   // "93 %"
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/switchd/Monitoring.h"
#include "services/switchd/RuleConfig.h"

namespace switchd {

class RuleEvaluator {
 public:
  explicit RuleEvaluator(const RuleSpec& spec);

  struct Firing {
    int32_t value;  // the value reported with the event
    bool ended;     // the violation ended (Alternating): an informational event
  };

  // One poll.  `due_ms` is the poll's scheduled time, so that a watch period
  // holds the same number of samples however late a poll ran.  Returns the
  // event this poll sends, if any.
  std::optional<Firing> Poll(int64_t due_ms, const Reading& reading);

  bool Violated() const { return violated_; }
  // Consecutive polls at which the condition held (reset by a poll at which
  // it did not, or that gave no value), and how many make a violation.
  int Holding() const { return holding_; }
  int Needed() const { return needed_; }
  // The last value as the agent shows it: "93 %", or under Monitor "any" with
  // several instances "cpu0=12 cpu1=93"; none before the first value and
  // after a poll that gave none.
  std::optional<std::string> CurrentValue(std::string_view unit) const;
  // The same values as numbers: (instance name, value), or one ("", value).
  const std::vector<std::pair<std::string, int32_t>>& ShownValues() const { return shown_; }
  // Why the last poll gave no value ("" when it gave one, or is only waiting
  // for a second sample).
  const std::string& LastError() const { return last_error_; }

 private:
  // What is kept of one instance between polls (told apart by name).
  struct Track {
    bool has_previous = false;
    int64_t previous = 0;                                // the last raw sample
    std::deque<std::pair<int64_t, long double>> window;  // average-linear: (due, value)
    bool has_mean = false;
    long double mean = 0;  // average-muted
  };

  std::optional<long double> Value(Track& track, int64_t raw, const Reading& reading,
                                   int64_t due_ms) const;
  long double Valuate(Track& track, long double sample, int64_t due_ms) const;
  bool Compare(int32_t value) const;
  bool ExistenceHolds(const std::set<std::string>& now) const;
  std::optional<Firing> Judge(bool holds, int32_t value, int64_t due_ms);
  void NoValue(std::string why);

  const RuleSpec spec_;
  const int needed_;
  std::map<std::string, Track> tracks_;
  std::optional<std::set<std::string>> names_;  // existence operators: the last poll's names
  bool violated_ = false;
  int holding_ = 0;
  int64_t last_fired_ms_ = 0;
  std::string last_error_;
  // The last shown values: one unnamed value, or (name, value) per instance.
  std::vector<std::pair<std::string, int32_t>> shown_;
  bool shown_with_unit_ = false;
};

// The compared and reported form of a value: rounded to the nearest integer
// (halves away from zero) and clamped to the signed 32-bit range.
int32_t ClampToInt32(long double value);

}  // namespace switchd
