// The rule engine: which rules run, their polls, their events and what the
// agent reads of them.
#include "services/switchd/RuleEngine.h"

#include <algorithm>
#include <set>
#include <utility>

#include "services/switchd/Log.h"

namespace switchd {

namespace {

constexpr int64_t kMsPerSecond = 1000;
// Polls that start within this span of each other share one tick of the
// source: one read of /proc/stat serves all of them.
constexpr int64_t kTickSpanMs = 100;
// Rules that start together have their first polls spread at this many a
// millisecond, so that thousands of rules do not fall due in one instant
// every interval (the last of them would wait for all the others).
constexpr int64_t kStartsPerMs = 100;
// Delays from 0 to this many milliseconds are counted one by one.
constexpr size_t kDelayBuckets = 1000;

constexpr std::string_view kCritical = "critical";
constexpr std::string_view kInformational = "informational";

}  // namespace

struct RuleEngine::Rule {
  RuleConfig config;
  bool running = false;
  // Changed at every start and stop: polls and reads of an earlier run see
  // that they are stale and do nothing.
  uint64_t generation = 0;
  std::unique_ptr<RuleEvaluator> evaluator;
  int64_t due_ms = 0;
  bool reading = false;  // a read is outstanding
  int64_t violated_since = 0;
  std::vector<size_t> sets;  // the places in sets_ of the sets holding it
  // What the rule adds to the statuses now (see Count).
  bool counted = false;
  bool counted_critical = false;
  int counted_performance = 0;
  // Counted since the rule was configured as it is: a changed rule starts at 0.
  uint64_t polls = 0;
  uint64_t failed_reads = 0;
  uint64_t violations = 0;
  uint64_t events = 0;
};

int64_t PollStats::Percentile(double fraction) const {
  if (polls == 0 || delay_ms.empty()) return 0;
  const double wanted = fraction * static_cast<double>(polls);
  uint64_t seen = 0;
  for (size_t d = 0; d < delay_ms.size(); ++d) {
    seen += delay_ms[d];
    if (static_cast<double>(seen) >= wanted) return static_cast<int64_t>(d);
  }
  return static_cast<int64_t>(delay_ms.size() - 1);
}

RuleEngine::RuleEngine(const Clock& clock, Scheduler& scheduler, ResourceSource& source, Fire fire)
    : clock_(clock), scheduler_(scheduler), source_(source), fire_(std::move(fire)) {
  stats_.delay_ms.assign(kDelayBuckets + 1, 0);
}

RuleEngine::~RuleEngine() = default;

void RuleEngine::Start() {
  scheduler_.Post([this] { MinuteTick(); });
}

void RuleEngine::Configure(const TableText& tables) {
  std::lock_guard lock(configure_mutex_);
  EngineConfig config = ReadEngineConfig(tables, source_);
  scheduler_.Post([this, config = std::move(config)]() mutable { Apply(std::move(config)); });
}

void RuleEngine::Apply(EngineConfig config) {
  for (const std::string& problem : config.problems) {
    if (!problems_.contains(problem)) Log(LogLevel::kWarning, problem);
  }
  problems_ = std::set<std::string>(config.problems.begin(), config.problems.end());
  std::map<std::string, std::shared_ptr<Rule>, std::less<>> next;
  std::vector<Rule*> changed;
  for (RuleConfig& incoming : config.rules) {
    if (next.contains(incoming.name)) continue;  // the first record of a name counts
    const auto old = rules_.find(incoming.name);
    std::shared_ptr<Rule> rule;
    if (old != rules_.end() && old->second->config.spec == incoming.spec) {
      rule = old->second;
      if (!(rule->config.labels == incoming.labels)) {
        rule->config.labels = std::move(incoming.labels);
        changed.push_back(rule.get());
      }
    } else {
      if (old != rules_.end()) StopRule(*old->second);
      // A refused resource was logged once above, not once per rule reading it.
      const bool new_error =
          !incoming.spec.error.empty() && !problems_.contains(incoming.spec.error) &&
          (old == rules_.end() || old->second->config.spec.error != incoming.spec.error);
      if (new_error) {
        Log(LogLevel::kWarning,
            "rule \"" + incoming.name + "\" cannot run: " + incoming.spec.error);
      }
      rule = std::make_shared<Rule>();
      rule->config = std::move(incoming);
      changed.push_back(rule.get());
    }
    next.emplace(rule->config.name, rule);
  }
  for (auto& [name, rule] : rules_) {
    if (!next.contains(name)) StopRule(*rule);
  }
  rules_ = std::move(next);
  sets_ = std::move(config.sets);
  {
    std::lock_guard lock(view_mutex_);
    std::erase_if(views_, [&](const auto& entry) { return !rules_.contains(entry.first); });
  }
  for (const Rule* rule : changed) Publish(*rule);

  // The statuses are counted afresh for the new sets and rules.
  violated_ = 0;
  critical_ = 0;
  performance_counts_.fill(0);
  set_violated_.assign(sets_.size(), 0);
  for (auto& [name, rule] : rules_) {
    rule->sets.clear();
    rule->counted = false;
    rule->counted_critical = false;
    rule->counted_performance = 0;
  }
  for (size_t i = 0; i < sets_.size(); ++i) {
    for (const std::string& member : sets_[i].rules) {
      if (const auto rule = rules_.find(member); rule != rules_.end())
        rule->second->sets.push_back(i);
    }
  }
  for (auto& [name, rule] : rules_) Count(*rule);
  CheckSchedules();
}

void RuleEngine::MinuteTick() {
  CheckSchedules();
  // Schedules are in whole minutes: look again just after the next minute begins.
  const std::tm now = clock_.Local(clock_.WallSeconds());
  const int64_t wait_s = 60 - std::clamp(now.tm_sec, 0, 59);
  scheduler_.At(clock_.NowMs() + wait_s * kMsPerSecond, [this] { MinuteTick(); });
}

void RuleEngine::CheckSchedules() {
  const std::tm now = clock_.Local(clock_.WallSeconds());
  const int minute = now.tm_hour * 60 + now.tm_min;
  set_running_.assign(sets_.size(), false);
  std::set<std::string_view> wanted;
  for (size_t i = 0; i < sets_.size(); ++i) {
    const RuleSetConfig& set = sets_[i];
    set_running_[i] = set.enabled && InDailyWindow(minute, set.start, set.stop);
    if (!set_running_[i]) continue;
    for (const std::string& member : set.rules) wanted.insert(member);
  }
  const int64_t now_ms = clock_.NowMs();
  int64_t started = 0;
  for (auto& [name, rule] : rules_) {
    const bool run = rule->config.spec.error.empty() && wanted.contains(name);
    if (run == rule->running) continue;
    if (run) {
      StartRule(rule, now_ms + started++ / kStartsPerMs);
    } else {
      StopRule(*rule);
      Count(*rule);
    }
    Publish(*rule);
  }
  PublishStatus();
}

void RuleEngine::StartRule(const std::shared_ptr<Rule>& rule, int64_t first_due_ms) {
  rule->running = true;
  const uint64_t generation = ++rule->generation;
  rule->evaluator = std::make_unique<RuleEvaluator>(rule->config.spec);
  rule->reading = false;
  rule->due_ms = first_due_ms;
  scheduler_.At(rule->due_ms, [this, rule, generation] { Poll(rule, generation); });
}

void RuleEngine::StopRule(Rule& rule) {
  // A stopped rule forgets its samples and its violation: it starts afresh
  // when it runs again.
  rule.running = false;
  ++rule.generation;
  rule.evaluator.reset();
  rule.reading = false;
}

void RuleEngine::Poll(const std::shared_ptr<Rule>& rule, uint64_t generation) {
  if (generation != rule->generation) return;
  const int64_t now = clock_.NowMs();
  const int64_t due = rule->due_ms;
  const int64_t interval = rule->config.spec.interval_s * kMsPerSecond;
  // Polls keep to their grid of due times; one that could not run in time is
  // left out rather than made up.
  int64_t next = due + interval;
  if (next <= now) next += ((now - next) / interval + 1) * interval;
  rule->due_ms = next;
  scheduler_.At(next, [this, rule, generation] { Poll(rule, generation); });
  {
    std::lock_guard lock(view_mutex_);
    ++stats_.polls;
    stats_.delay_ms[static_cast<size_t>(std::clamp<int64_t>(now - due, 0, kDelayBuckets))]++;
    if (rule->reading) {
      ++stats_.skipped;
      return;
    }
  }
  rule->reading = true;
  if (last_tick_ms_ < 0 || now - last_tick_ms_ >= kTickSpanMs) {
    last_tick_ms_ = now;
    source_.BeginTick();
  }
  source_.Read(rule->config.spec.query, [this, rule, generation, due](Reading reading) {
    if (scheduler_.OnSchedulerThread()) {
      Finish(rule, generation, due, reading);
      return;
    }
    scheduler_.Post([this, rule, generation, due, reading = std::move(reading)] {
      Finish(rule, generation, due, reading);
    });
  });
}

void RuleEngine::Finish(const std::shared_ptr<Rule>& rule, uint64_t generation, int64_t due_ms,
                        const Reading& reading) {
  if (generation != rule->generation) return;
  rule->reading = false;
  ++rule->polls;
  if (!reading.ok) ++rule->failed_reads;
  const bool was_violated = rule->evaluator->Violated();
  const std::optional<RuleEvaluator::Firing> firing = rule->evaluator->Poll(due_ms, reading);
  if (rule->evaluator->Violated() && !was_violated) {
    rule->violated_since = clock_.WallSeconds();
    ++rule->violations;
  }
  if (firing && !rule->config.labels.event_name.empty()) ++rule->events;
  Publish(*rule);
  if (Count(*rule)) PublishStatus();
  if (firing) Send(*rule, *firing);
}

void RuleEngine::Send(const Rule& rule, const RuleEvaluator::Firing& firing) {
  const RuleLabels& labels = rule.config.labels;
  if (labels.event_name.empty()) return;
  // The end of a violation goes out as a copy of the rule's event that the
  // manager can tell from the alarm.
  const std::string_view severity =
      firing.ended ? kInformational : std::string_view(labels.event_severity);
  fire_(ThresholdEventDocument(rule.config.name, labels.comment, std::to_string(firing.value),
                               labels.event_name, labels.event_type, severity));
}

void RuleEngine::Publish(const Rule& rule) {
  View view;
  RuleReport& report = view.report;
  report.name = rule.config.name;
  report.error = rule.config.spec.error;
  report.needed = std::max(1, rule.config.spec.occurrences);
  if (rule.running) {
    const RuleEvaluator& evaluator = *rule.evaluator;
    report.holding = evaluator.Holding();
    report.value = evaluator.CurrentValue(rule.config.labels.unit);
    if (report.error.empty()) report.error = evaluator.LastError();
    if (evaluator.Violated()) {
      report.state = RuleReport::State::kViolated;
      report.violated_since = rule.violated_since;
    } else {
      report.state = report.holding > 0 ? RuleReport::State::kHolding : RuleReport::State::kWaiting;
    }
  }
  if (report.error.empty() && rule.config.labels.event_name.empty()) {
    report.error = "no stored event to fire";
  }
  view.critical = rule.config.labels.event_severity == kCritical;
  view.performance = rule.config.labels.performance;
  RuleMetrics& metrics = view.metrics;
  metrics.name = rule.config.name;
  metrics.resource = rule.config.labels.resource;
  metrics.target = rule.config.labels.target;
  metrics.unit = rule.config.labels.unit;
  metrics.violated = report.state == RuleReport::State::kViolated;
  if (rule.running) {
    for (const auto& [instance, value] : rule.evaluator->ShownValues()) {
      metrics.values.emplace_back(instance, value);
    }
  }
  metrics.polls = rule.polls;
  metrics.failed_reads = rule.failed_reads;
  metrics.violations = rule.violations;
  metrics.events = rule.events;
  std::lock_guard lock(view_mutex_);
  views_.insert_or_assign(rule.config.name, std::move(view));
}

bool RuleEngine::Count(Rule& rule) {
  const bool violated = rule.running && rule.evaluator->Violated();
  const bool critical = violated && rule.config.labels.event_severity == kCritical;
  const int performance =
      violated ? std::clamp<int>(rule.config.labels.performance, 0, kPerformanceCodes - 1) : 0;
  if (violated == rule.counted && critical == rule.counted_critical &&
      performance == rule.counted_performance) {
    return false;
  }
  if (rule.counted) {
    --violated_;
    if (rule.counted_critical) --critical_;
    --performance_counts_[static_cast<size_t>(rule.counted_performance)];
    for (const size_t set : rule.sets) --set_violated_[set];
  }
  if (violated) {
    ++violated_;
    if (critical) ++critical_;
    ++performance_counts_[static_cast<size_t>(performance)];
    for (const size_t set : rule.sets) ++set_violated_[set];
  }
  rule.counted = violated;
  rule.counted_critical = critical;
  rule.counted_performance = performance;
  return true;
}

void RuleEngine::PublishStatus() {
  const BYTE threshold = critical_ > 0 ? 2 : (violated_ > 0 ? 1 : 0);
  BYTE performance = 0;
  for (size_t code = 1; code < performance_counts_.size(); ++code) {
    if (performance_counts_[code] > 0) performance = static_cast<BYTE>(code);
  }
  std::map<std::string, BYTE, std::less<>> sets;
  for (size_t i = 0; i < sets_.size(); ++i) {
    BYTE status = 0;
    if (set_running_[i]) status = set_violated_[i] > 0 ? 2 : 1;
    sets.emplace(sets_[i].name, status);
  }
  std::lock_guard lock(view_mutex_);
  threshold_status_ = threshold;
  performance_status_ = performance;
  set_status_ = std::move(sets);
}

BYTE RuleEngine::ThresholdStatus() const {
  std::lock_guard lock(view_mutex_);
  return threshold_status_;
}

BYTE RuleEngine::PerformanceStatus() const {
  std::lock_guard lock(view_mutex_);
  return performance_status_;
}

std::optional<std::string> RuleEngine::RuleCurrentValue(std::string_view rule) const {
  std::lock_guard lock(view_mutex_);
  const auto view = views_.find(rule);
  if (view == views_.end()) return std::nullopt;
  return view->second.report.value;
}

BYTE RuleEngine::RuleSetStatus(std::string_view set) const {
  std::lock_guard lock(view_mutex_);
  if (set.empty()) {
    BYTE highest = 0;
    for (const auto& [name, status] : set_status_) highest = std::max(highest, status);
    return highest;
  }
  const auto status = set_status_.find(set);
  return status == set_status_.end() ? 0 : status->second;
}

std::vector<RuleReport> RuleEngine::Report() const {
  std::vector<RuleReport> reports;
  std::lock_guard lock(view_mutex_);
  reports.reserve(views_.size());
  for (const auto& [name, view] : views_) reports.push_back(view.report);
  return reports;
}

void RuleEngine::CopyMetrics(MetricsSnapshot* snapshot) const {
  std::lock_guard lock(view_mutex_);
  snapshot->rules.reserve(snapshot->rules.size() + views_.size());
  for (const auto& [name, view] : views_) snapshot->rules.push_back(view.metrics);
  for (const auto& [name, status] : set_status_) snapshot->rule_sets.push_back({name, status > 0});
  snapshot->poll_delay_ms = stats_.delay_ms;
}

PollStats RuleEngine::Stats() const {
  std::lock_guard lock(view_mutex_);
  return stats_;
}

}  // namespace switchd
