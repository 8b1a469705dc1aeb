// The configuration the rule engine runs from: every rule with what it reads
// and how it judges, and every rule set with its schedule and members, taken
// from the Rules, RuleSets, Resources, Targets and Events tables.  Also the
// store check that refuses a Resource or a rule the sources could never read.
//
//   EngineConfig config = ReadEngineConfig(
//       [&](DWORD code) { return module.TableDocument(code); }, source);
//   for (const RuleConfig& rule : config.rules) ... rule.spec.error ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/WinTypes.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/ThresholdModule.h"

namespace switchd {

// The keyword enumerations of a rule, in code order.
enum class ValueType { kAbsolute, kDeltaAny, kDeltaInc, kDeltaDec };
enum class Valuation { kSingleValue, kAverageLinear, kAverageMuted };
enum class Operator {
  kEqual,
  kNotEqual,
  kLess,
  kLessEqual,
  kGreater,
  kGreaterEqual,
  kWithinRange,
  kOutOfRange,
  kExistToNoneExist,
  kNoneExistToExist,
  kExistChange,
};
enum class InstanceMonitor { kAny, kAverage };
enum class EventControl { kSingleShot, kContinuous, kContinuousWithDelay };

// Whether an operator judges which instances exist rather than their values.
bool JudgesExistence(Operator op);

// What decides a rule's samples and judgement: when any of it changes, the
// rule starts over.
struct RuleSpec {
  ResourceQuery query;
  std::string indexes;   // Instances/Indexes
  std::string patterns;  // Instances/Names
  InstanceMonitor monitor = InstanceMonitor::kAny;
  int interval_s = 1;  // at least 1
  int watch_period_s = 0;
  int occurrences = 0;
  ValueType value_type = ValueType::kAbsolute;
  Valuation valuation = Valuation::kSingleValue;
  Operator op = Operator::kEqual;
  int32_t value = 0;
  int32_t range_min = 0;
  int32_t range_max = 0;
  EventControl control = EventControl::kContinuous;
  int delay_s = 0;
  bool alternating = false;
  // Why the rule can never be read (no resource, a request the sources
  // refuse); "" when it can.  Such a rule does not run.
  std::string error;

  bool operator==(const RuleSpec&) const = default;
};

// What a rule shows and sends; a change is taken over without disturbing it.
struct RuleLabels {
  std::string comment;  // Rule/Comment, sent in its events
  std::string unit;     // Resource/Unit, shown after the current value
  std::string resource;  // the names of the Resource and Target records read
  std::string target;
  // The stored Event record the rule fires; an empty name when the rule names
  // none or it is not stored (the rule then runs but cannot fire).
  std::string event_name;
  std::string event_type;
  std::string event_severity;
  int performance = 0;  // Performance/Status code: 0 unknown ... 4 critical

  bool operator==(const RuleLabels&) const = default;
};

struct RuleConfig {
  std::string name;
  RuleSpec spec;
  RuleLabels labels;
};

struct RuleSetConfig {
  std::string name;
  bool enabled = true;
  int start = -1;  // minutes of the day; -1 when missing
  int stop = -1;
  std::vector<std::string> rules;  // member names, in document order
};

struct EngineConfig {
  std::vector<RuleConfig> rules;  // in table order
  std::vector<RuleSetConfig> sets;
  // Resources whose builtin or registry request the source refuses, each as
  // "resource \"name\": reason".
  std::vector<std::string> problems;
};

// A table's served text by table code.
using TableText = std::function<std::string(DWORD table)>;

// Reads the five tables.  A rule whose Resource is missing, or whose query the
// source refuses (ResourceSource::Validate), gets spec.error and is kept; a
// refused Resource is listed in `problems` whether a rule reads it or not.
EngineConfig ReadEngineConfig(const TableText& tables, const ResourceSource& source);

// The store check the module runs before it accepts a store (AddStoreCheck):
// a Resource whose builtin or registry request the source refuses, and a rule
// reading an snmp Resource whose query the source refuses (a Target text that
// is not an address), are refused with the record and the source's reason.
// Changed Targets and snmp Resources are checked against the rules that use them.
bool CheckRuleStore(const StoreCandidate& candidate, const ResourceSource& source,
                    std::string* reason);

}  // namespace switchd
