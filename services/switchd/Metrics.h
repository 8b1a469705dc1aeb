// switchd's state as metrics in the Prometheus text exposition format
// (version 0.0.4): a snapshot copied from the rule engine, the recorder and
// the module under their own locks, and the rendering of one, done outside them.
//
//   MetricsSnapshot snapshot = TakeMetrics(engine.get(), recorder.get(), module);
//   std::string text = RenderMetrics(snapshot);   // served at GET /metrics
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace switchd {

class RuleEngine;
class Recorder;
class ThresholdModule;

// One rule's figures.  `values` are its last values by instance ("" for the
// one value of a resource judged as a whole); empty before the first value
// and after a failed read.
struct RuleMetrics {
  std::string name;
  std::string resource;
  std::string target;
  std::string unit;
  bool violated = false;
  std::vector<std::pair<std::string, int64_t>> values;
  uint64_t violations = 0;
  uint64_t events = 0;
  uint64_t polls = 0;
  uint64_t failed_reads = 0;
};

struct ReportMetrics {
  std::string name;
  std::string resource;
  uint64_t records = 0;         // records kept
  uint64_t highest_record = 0;  // the number of the newest record
  uint64_t failed_reads = 0;
};

struct SetMetrics {
  std::string name;
  bool running = false;
};

struct MetricsSnapshot {
  std::vector<RuleMetrics> rules;
  std::vector<SetMetrics> rule_sets;
  std::vector<ReportMetrics> reports;
  std::vector<SetMetrics> report_sets;
  // Poll delays: delay_ms[d] polls started d milliseconds late, the last
  // entry counts the rest.
  std::vector<uint64_t> poll_delay_ms;
  uint64_t store_requests = 0;
  uint64_t store_refusals = 0;
};

// A copy of the current state; any of the parts may be null (not started).
MetricsSnapshot TakeMetrics(const RuleEngine* engine, const Recorder* recorder,
                            const ThresholdModule* module);

// A label value as the text format writes it: backslash, double quote and
// line feed escaped.
std::string EscapeLabelValue(std::string_view value);

std::string RenderMetrics(const MetricsSnapshot& snapshot);

}  // namespace switchd
