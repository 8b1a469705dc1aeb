// Reading the rule engine's configuration out of the table documents, and the
// store check for records the sources could never read.
#include "services/switchd/RuleConfig.h"
#include "services/switchd/TableRecords.h"

#include <map>
#include <optional>
#include <utility>

#include "switch/SwitchProtocol.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"

namespace switchd {

namespace sp = switch_protocol;

namespace {

std::string Trimmed(std::string text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

struct ResourceInfo {
  RequestType type = RequestType::kBuiltin;
  std::string request;
  std::string inst_name_req;
  std::string unit;
};

std::map<std::string, ResourceInfo> ReadResources(const std::string& text) {
  std::map<std::string, ResourceInfo> resources;
  ForEachRecord<records::ResourceRecord>(text, [&](const records::ResourceRecord& resource) {
    // Request types outside the list read as builtin (their read fallback).
    resources.emplace(
        resource.Name(),
        ResourceInfo{static_cast<RequestType>(resource.ReqType()), Trimmed(resource.ReqString()),
                     Trimmed(resource.InstNameReq()), resource.Unit()});
  });
  return resources;
}

std::map<std::string, std::string> ReadTargets(const std::string& text) {
  std::map<std::string, std::string> targets;
  ForEachRecord<records::TargetRecord>(text, [&](const records::TargetRecord& target) {
    targets.emplace(target.Name(), Trimmed(target.Address()));
  });
  return targets;
}

ResourceQuery QueryOf(const ResourceInfo& resource, const std::string& target) {
  return ResourceQuery{resource.type, resource.request, resource.inst_name_req, target};
}

template <typename Value>
const Value* Find(const std::map<std::string, Value>& map, const std::string& name) {
  const auto it = map.find(name);
  return it == map.end() ? nullptr : &it->second;
}

// Validation results by query: many rules read the same resource.
class Validator {
 public:
  explicit Validator(const ResourceSource& source) : source_(source) {}

  // "" when the source can read the query, else its reason.
  const std::string& Problem(const ResourceQuery& query) {
    const std::string key = std::to_string(static_cast<int>(query.type)) + '\n' + query.request +
                            '\n' + query.inst_name_req + '\n' + query.target;
    auto it = problems_.find(key);
    if (it == problems_.end()) {
      std::string reason;
      if (source_.Validate(query, &reason)) {
        reason.clear();
      } else if (reason.empty()) {
        reason = "the request cannot be read";
      }
      it = problems_.emplace(key, std::move(reason)).first;
    }
    return it->second;
  }

 private:
  const ResourceSource& source_;
  std::map<std::string, std::string> problems_;
};

}  // namespace

bool JudgesExistence(Operator op) {
  return op == Operator::kExistToNoneExist || op == Operator::kNoneExistToExist ||
         op == Operator::kExistChange;
}

EngineConfig ReadEngineConfig(const TableText& tables, const ResourceSource& source) {
  const std::map<std::string, ResourceInfo> resources = ReadResources(tables(sp::kTableResources));
  const std::map<std::string, std::string> targets = ReadTargets(tables(sp::kTableTargets));
  std::map<std::string, std::pair<std::string, std::string>> events;  // type, severity
  ForEachRecord<records::EventRecord>(
      tables(sp::kTableEvents), [&](const records::EventRecord& event) {
        events.emplace(event.Name(), std::make_pair(event.TypeText(), event.SeverityText()));
      });

  EngineConfig config;
  Validator validator(source);
  for (const auto& [name, resource] : resources) {
    if (resource.type == RequestType::kSnmp) continue;  // judged with each rule's target
    if (const std::string& problem = validator.Problem(QueryOf(resource, {})); !problem.empty()) {
      config.problems.push_back("resource \"" + name + "\": " + problem);
    }
  }
  ForEachRecord<records::RuleRecord>(tables(sp::kTableRules), [&](const records::RuleRecord& rule) {
    RuleConfig out;
    out.name = rule.Name();
    RuleSpec& spec = out.spec;
    spec.indexes = rule.InstIndexes();
    spec.patterns = rule.InstNamePatterns();
    spec.monitor = static_cast<InstanceMonitor>(rule.InstMonitor());
    spec.interval_s = std::max(1, rule.PollInterval());
    spec.watch_period_s = std::max(0, rule.WatchPeriod());
    spec.occurrences = std::max(0, rule.OccurenceCount());
    spec.value_type = static_cast<ValueType>(rule.ValueType());
    spec.valuation = static_cast<Valuation>(rule.Valuation());
    spec.op = static_cast<Operator>(rule.Operator());
    spec.value = rule.ThresholdValue();
    spec.range_min = rule.RangeMinValue();
    spec.range_max = rule.RangeMaxValue();
    spec.control = static_cast<EventControl>(rule.EventControl());
    spec.delay_s = std::max(0, rule.EventDelay());
    spec.alternating = rule.EventAlternating() == 1;

    const std::string resource_name = rule.ResourceName();
    const ResourceInfo* resource = Find(resources, resource_name);
    const std::string* target = Find(targets, rule.TargetName());
    out.labels.resource = resource_name;
    out.labels.target = rule.TargetName();
    if (resource_name.empty()) {
      spec.error = "the rule names no resource";
    } else if (resource == nullptr) {
      spec.error = "the resource \"" + resource_name + "\" is not stored";
    } else {
      spec.query = QueryOf(*resource, target == nullptr ? std::string() : *target);
      out.labels.unit = resource->unit;
      if (const std::string& problem = validator.Problem(spec.query); !problem.empty()) {
        spec.error = "resource \"" + resource_name + "\": " + problem;
      }
    }

    out.labels.comment = rule.UserComment();
    out.labels.performance = rule.PerformanceStatusSeverity();
    const std::string event_name = rule.EventName();
    if (const auto* event = Find(events, event_name)) {
      out.labels.event_name = event_name;
      out.labels.event_type = event->first;
      out.labels.event_severity = event->second;
    }
    config.rules.push_back(std::move(out));
  });

  ForEachRecord<records::RuleSetRecord>(
      tables(sp::kTableRuleSets), [&](const records::RuleSetRecord& set) {
        config.sets.push_back(
            {set.Name(), set.Enabled(), set.StartTime(), set.StopTime(), set.MemberNames()});
      });
  return config;
}

bool CheckRuleStore(const StoreCandidate& candidate, const ResourceSource& source,
                    std::string* reason) {
  const bool resources_changed = candidate.table == sp::kTableResources;
  const bool rules_changed = candidate.table == sp::kTableRules;
  const bool targets_changed = candidate.table == sp::kTableTargets;
  if (!resources_changed && !rules_changed && !targets_changed) return true;

  const auto changed = [&](const std::string& name) {
    for (const std::string& n : candidate.names) {
      if (n == name) return true;
    }
    return false;
  };
  const std::map<std::string, ResourceInfo> resources =
      ReadResources(candidate.text(sp::kTableResources));
  Validator validator(source);

  // Builtin and registry requests do not depend on a target: check them alone.
  if (resources_changed) {
    for (const std::string& name : candidate.names) {
      const ResourceInfo* resource = Find(resources, name);
      if (resource == nullptr || resource->type == RequestType::kSnmp) continue;
      if (const std::string& problem = validator.Problem(QueryOf(*resource, {}));
          !problem.empty()) {
        *reason = "resource \"" + name + "\": " + problem;
        return false;
      }
    }
  }

  // An snmp query needs the rule's target: check every rule the store touches.
  bool any_snmp = false;
  for (const auto& [name, resource] : resources) any_snmp |= resource.type == RequestType::kSnmp;
  if (!any_snmp) return true;
  const std::map<std::string, std::string> targets = ReadTargets(candidate.text(sp::kTableTargets));
  const auto check_rule = [&](const records::RuleRecord& rule) {
    const std::string resource_name = rule.ResourceName();
    const std::string target_name = rule.TargetName();
    const ResourceInfo* resource = Find(resources, resource_name);
    if (resource == nullptr || resource->type != RequestType::kSnmp) return true;
    const std::string* target = Find(targets, target_name);
    const ResourceQuery query = QueryOf(*resource, target == nullptr ? std::string() : *target);
    if (const std::string& problem = validator.Problem(query); !problem.empty()) {
      *reason = "rule \"" + rule.Name() + "\" on resource \"" + resource_name + "\": " + problem;
      return false;
    }
    return true;
  };

  ConfigDocument rules(candidate.text(sp::kTableRules));
  if (rules_changed) {
    // Only the rules stored; a large table is not read record by record.
    for (const std::string& name : candidate.names) {
      RecordDocument key(records::RuleRecord::kTag, name);
      if (!rules.FindMatchingRecord(key)) continue;
      RecordDocument record;
      record.LoadText(rules.ElementMarkup());
      if (!check_rule(records::RuleRecord(record))) return false;
    }
    return true;
  }
  RecordDocument record;
  for (bool more = rules.FindFirstRecord(records::RuleRecord::kTag, &record); more;
       more = rules.FindNextRecord(records::RuleRecord::kTag, &record)) {
    const records::RuleRecord rule(record);
    const bool touched =
        resources_changed ? changed(rule.ResourceName()) : changed(rule.TargetName());
    if (touched && !check_rule(rule)) return false;
  }
  return true;
}

}  // namespace switchd
