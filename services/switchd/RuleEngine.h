// The rule engine: runs the rules of the enabled rule sets inside their daily
// schedules, polls each rule's resource every Interval seconds on the
// scheduler, judges the readings (RuleEvaluator), fires the rules' events and
// answers what the agent asks about rules from memory.
//
//   RuleEngine engine(clock, scheduler, source, [&](const std::string& document) {
//     hub.Broadcast(EventFrame::Threshold(document));
//   });
//   engine.Start();
//   engine.Configure([&](DWORD code) { return module.TableDocument(code); });
//
// Thread safety: Configure, the RuleState answers, Report and Stats may be
// called from any thread; the rules live on the scheduler's thread.  A reader
// takes a small lock for one lookup, never waiting for a poll.  Stop the
// scheduler (and end the source's reads) before destroying the engine.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "services/switchd/Metrics.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/RuleConfig.h"
#include "services/switchd/RuleEvaluator.h"
#include "services/switchd/Scheduler.h"

namespace switchd {

// One rule as `switchctl rules` shows it.
struct RuleReport {
  enum class State { kNotRunning, kWaiting, kHolding, kViolated };
  std::string name;
  State state = State::kNotRunning;
  int holding = 0;  // kHolding: polls the condition held, of `needed`
  int needed = 1;
  int64_t violated_since = 0;        // kViolated: seconds since 1970
  std::optional<std::string> value;  // the current value, as the agent shows it
  std::string error;                 // configuration error, else the last read's
};

// How late polls run: the delay between a poll's due time and its start.
struct PollStats {
  uint64_t polls = 0;
  uint64_t skipped = 0;  // polls not made because the previous read had not finished
  // delay_ms[d]: polls that started d milliseconds late; the last counts the rest.
  std::vector<uint64_t> delay_ms;
  // The delay within which `fraction` of the polls started (milliseconds).
  int64_t Percentile(double fraction) const;
};

class RuleEngine final : public RuleState {
 public:
  using Fire = std::function<void(const std::string& threshold_document)>;

  RuleEngine(const Clock& clock, Scheduler& scheduler, ResourceSource& source, Fire fire);
  ~RuleEngine() override;
  RuleEngine(const RuleEngine&) = delete;
  RuleEngine& operator=(const RuleEngine&) = delete;

  // Starts the schedule check at every minute of the wall clock.
  void Start();

  // Reads the tables (on the calling thread) and hands the configuration to
  // the scheduler: a rule whose reading or judgement changed starts over, a
  // deleted one stops, every other rule goes on undisturbed.  Calls take
  // effect in the order they were made.
  void Configure(const TableText& tables);

  BYTE ThresholdStatus() const override;
  BYTE PerformanceStatus() const override;
  std::optional<std::string> RuleCurrentValue(std::string_view rule) const override;
  BYTE RuleSetStatus(std::string_view set) const override;

  // Every configured rule, by name.
  std::vector<RuleReport> Report() const;
  PollStats Stats() const;
  // Copies every rule's figures, the rule sets' running state and the poll
  // delays into the snapshot, under the readers' lock.
  void CopyMetrics(MetricsSnapshot* snapshot) const;

 private:
  struct Rule;
  // What readers see of one rule, published from the scheduler thread.
  struct View {
    RuleReport report;
    bool critical = false;  // its event's severity is "critical"
    int performance = 0;
    RuleMetrics metrics;
  };

  void Apply(EngineConfig config);
  void MinuteTick();
  void CheckSchedules();
  void StartRule(const std::shared_ptr<Rule>& rule, int64_t first_due_ms);
  void StopRule(Rule& rule);
  void Poll(const std::shared_ptr<Rule>& rule, uint64_t generation);
  void Finish(const std::shared_ptr<Rule>& rule, uint64_t generation, int64_t due_ms,
              const Reading& reading);
  void Send(const Rule& rule, const RuleEvaluator::Firing& firing);
  void Publish(const Rule& rule);
  // Brings the rule's share of the statuses up to date; true when it changed.
  bool Count(Rule& rule);
  void PublishStatus();

  const Clock& clock_;
  Scheduler& scheduler_;
  ResourceSource& source_;
  const Fire fire_;
  std::mutex configure_mutex_;  // keeps Configure calls in order

  // Scheduler thread only.
  std::map<std::string, std::shared_ptr<Rule>, std::less<>> rules_;
  std::vector<RuleSetConfig> sets_;
  std::vector<bool> set_running_;
  std::set<std::string> problems_;  // logged once each
  // The violated rules counted: in all, with a critical event, by
  // Performance/Status code, and per set (by place in sets_).
  static constexpr int kPerformanceCodes = 5;
  size_t violated_ = 0;
  size_t critical_ = 0;
  std::array<size_t, kPerformanceCodes> performance_counts_{};
  std::vector<size_t> set_violated_;
  int64_t last_tick_ms_ = -1;

  mutable std::mutex view_mutex_;
  std::map<std::string, View, std::less<>> views_;
  std::map<std::string, BYTE, std::less<>> set_status_;
  BYTE threshold_status_ = 0;
  BYTE performance_status_ = 0;
  PollStats stats_;
};

}  // namespace switchd
