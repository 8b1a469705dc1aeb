// Taking switchd's figures and writing them in the Prometheus text format.
#include "services/switchd/Metrics.h"

#include <array>
#include <charconv>

#include "services/switchd/Recorder.h"
#include "services/switchd/RuleEngine.h"
#include "services/switchd/ThresholdModule.h"

namespace switchd {

namespace {

// The upper bounds of the poll delay histogram, in milliseconds: a poll is
// late by a few milliseconds on a quiet machine, by up to a second when the
// scheduler falls behind.
constexpr std::array<int64_t, 8> kDelayBoundsMs = {1, 5, 10, 25, 50, 100, 250, 1000};

void AppendEscaped(std::string& out, std::string_view value) {
  for (const char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
}

// Appends the text of a sample's labels and value to one output string: the
// rendering of 10,000 rules writes into one buffer and never formats twice.
class Writer {
 public:
  explicit Writer(std::string* out) : out_(*out) {}

  void Family(std::string_view name, std::string_view type, std::string_view help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }

  // name{label="value",...} number
  template <size_t N>
  void Sample(std::string_view name,
              const std::array<std::pair<std::string_view, std::string_view>, N>& labels,
              uint64_t value) {
    Head(name, labels);
    Number(value);
  }
  template <size_t N>
  void SignedSample(std::string_view name,
                    const std::array<std::pair<std::string_view, std::string_view>, N>& labels,
                    int64_t value) {
    Head(name, labels);
    Number(value);
  }

 private:
  template <size_t N>
  void Head(std::string_view name,
            const std::array<std::pair<std::string_view, std::string_view>, N>& labels) {
    out_ += name;
    if constexpr (N > 0) {
      char separator = '{';
      for (const auto& [label, value] : labels) {
        out_ += separator;
        out_ += label;
        out_ += "=\"";
        AppendEscaped(out_, value);
        out_ += '"';
        separator = ',';
      }
      out_ += '}';
    }
    out_ += ' ';
  }

  template <typename T>
  void Number(T value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out_.append(text, end);
    out_ += '\n';
  }

  std::string& out_;
};

using Labels1 = std::array<std::pair<std::string_view, std::string_view>, 1>;
using Labels2 = std::array<std::pair<std::string_view, std::string_view>, 2>;
using Labels3 = std::array<std::pair<std::string_view, std::string_view>, 3>;
using Labels5 = std::array<std::pair<std::string_view, std::string_view>, 5>;
constexpr std::array<std::pair<std::string_view, std::string_view>, 0> kNoLabels{};

Labels3 RuleLabels(const RuleMetrics& rule) {
  return {{{"rule", rule.name}, {"resource", rule.resource}, {"target", rule.target}}};
}

// One counter or gauge per rule.
template <typename Field>
void PerRule(Writer& writer, const MetricsSnapshot& snapshot, std::string_view name,
             std::string_view type, std::string_view help, Field field) {
  writer.Family(name, type, help);
  for (const RuleMetrics& rule : snapshot.rules) writer.Sample(name, RuleLabels(rule), field(rule));
}

template <typename Field>
void PerReport(Writer& writer, const MetricsSnapshot& snapshot, std::string_view name,
               std::string_view type, std::string_view help, Field field) {
  writer.Family(name, type, help);
  for (const ReportMetrics& report : snapshot.reports) {
    writer.Sample(name, Labels2{{{"report", report.name}, {"resource", report.resource}}},
                  field(report));
  }
}

void PerSet(Writer& writer, const std::vector<SetMetrics>& sets, std::string_view name,
            std::string_view help) {
  writer.Family(name, "gauge", help);
  for (const SetMetrics& set : sets) writer.Sample(name, Labels1{{{"set", set.name}}}, set.running);
}

void PollDelay(Writer& writer, std::string* out, const std::vector<uint64_t>& delay_ms) {
  constexpr std::string_view kName = "switchd_poll_delay_seconds";
  writer.Family(kName, "histogram", "How late rule polls started after their due time.");
  uint64_t count = 0;
  uint64_t sum_ms = 0;
  size_t next = 0;
  for (const int64_t bound : kDelayBoundsMs) {
    for (; next < delay_ms.size() && static_cast<int64_t>(next) <= bound; ++next) {
      count += delay_ms[next];
      sum_ms += delay_ms[next] * next;
    }
    char le[16];
    const auto end = std::to_chars(le, le + sizeof le, static_cast<double>(bound) / 1000).ptr;
    writer.Sample(std::string(kName) + "_bucket",
                  Labels1{{{"le", std::string_view(le, static_cast<size_t>(end - le))}}}, count);
  }
  // The last entry counts every delay beyond the table: taken at its bound.
  for (; next < delay_ms.size(); ++next) {
    count += delay_ms[next];
    sum_ms += delay_ms[next] * next;
  }
  writer.Sample(std::string(kName) + "_bucket", Labels1{{{"le", "+Inf"}}}, count);
  *out += kName;
  *out += "_sum ";
  char sum[32];
  const auto end = std::to_chars(sum, sum + sizeof sum, static_cast<double>(sum_ms) / 1000).ptr;
  out->append(sum, end);
  *out += '\n';
  writer.Sample(std::string(kName) + "_count", kNoLabels, count);
}

}  // namespace

MetricsSnapshot TakeMetrics(const RuleEngine* engine, const Recorder* recorder,
                            const ThresholdModule* module) {
  MetricsSnapshot snapshot;
  if (engine != nullptr) engine->CopyMetrics(&snapshot);
  if (recorder != nullptr) recorder->CopyMetrics(&snapshot);
  if (module != nullptr) {
    snapshot.store_requests = module->StoreRequests();
    snapshot.store_refusals = module->StoreRefusals();
  }
  return snapshot;
}

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  AppendEscaped(out, value);
  return out;
}

std::string RenderMetrics(const MetricsSnapshot& snapshot) {
  std::string out;
  // About 700 bytes of samples per rule.
  out.reserve(4096 + snapshot.rules.size() * 768 + snapshot.reports.size() * 256);
  Writer writer(&out);

  PerRule(writer, snapshot, "switchd_rule_violated", "gauge",
          "Whether the rule is violated now (1) or not (0).",
          [](const RuleMetrics& rule) -> uint64_t { return rule.violated; });
  constexpr std::string_view kValue = "switchd_rule_value";
  writer.Family(kValue, "gauge", "The rule's last value per instance, in the resource's unit.");
  for (const RuleMetrics& rule : snapshot.rules) {
    for (const auto& [instance, value] : rule.values) {
      writer.SignedSample(kValue,
                          Labels5{{{"rule", rule.name},
                                   {"resource", rule.resource},
                                   {"target", rule.target},
                                   {"instance", instance},
                                   {"unit", rule.unit}}},
                          value);
    }
  }
  PerRule(writer, snapshot, "switchd_rule_violations_total", "counter",
          "Times the rule became violated.",
          [](const RuleMetrics& rule) { return rule.violations; });
  PerRule(writer, snapshot, "switchd_rule_events_total", "counter", "Events the rule fired.",
          [](const RuleMetrics& rule) { return rule.events; });
  PerRule(writer, snapshot, "switchd_rule_polls_total", "counter",
          "Reads of the rule's resource finished.",
          [](const RuleMetrics& rule) { return rule.polls; });
  PerRule(writer, snapshot, "switchd_rule_failed_reads_total", "counter",
          "Reads of the rule's resource that gave no value.",
          [](const RuleMetrics& rule) { return rule.failed_reads; });
  PerSet(writer, snapshot.rule_sets, "switchd_rule_set_running",
         "Whether the rule set runs now (enabled and inside its schedule).");

  PerReport(writer, snapshot, "switchd_report_records", "gauge", "Records the report keeps.",
            [](const ReportMetrics& report) { return report.records; });
  PerReport(writer, snapshot, "switchd_report_highest_record", "gauge",
            "The number of the report's newest record.",
            [](const ReportMetrics& report) { return report.highest_record; });
  PerReport(writer, snapshot, "switchd_report_failed_reads_total", "counter",
            "Reads of the report's resource that gave no value.",
            [](const ReportMetrics& report) { return report.failed_reads; });
  PerSet(writer, snapshot.report_sets, "switchd_report_set_running",
         "Whether the report set records now.");

  PollDelay(writer, &out, snapshot.poll_delay_ms);
  writer.Family("switchd_store_requests_total", "counter", "Table stores handled.");
  writer.Sample("switchd_store_requests_total", kNoLabels, snapshot.store_requests);
  writer.Family("switchd_store_refusals_total", "counter", "Table stores refused.");
  writer.Sample("switchd_store_refusals_total", kNoLabels, snapshot.store_refusals);
  return out;
}

}  // namespace switchd
