// The text of a scrape: families with their HELP and TYPE lines, label values
// escaped, one sample per rule, instance, report and set, and the histogram.
#include <gtest/gtest.h>

#include <string>

#include "services/switchd/Metrics.h"

namespace switchd_test {
namespace {

using switchd::MetricsSnapshot;
using switchd::RenderMetrics;

TEST(MetricsTest, ASnapshotRendersEachFamilyOnce) {
  MetricsSnapshot snapshot;
  switchd::RuleMetrics rule;
  rule.name = "disk \"C:\\\"\n";
  rule.resource = "disk";
  rule.unit = "%";
  rule.violated = true;
  rule.values = {{"sda", 93}, {"sdb", -4}};
  rule.violations = 1;
  rule.events = 3;
  rule.polls = 7;
  rule.failed_reads = 2;
  snapshot.rules.push_back(rule);
  snapshot.rule_sets.push_back({"watch", true});
  snapshot.reports.push_back({"load", "cpu", 12, 12, 1});
  snapshot.report_sets.push_back({"daily", false});
  snapshot.poll_delay_ms.assign(1001, 0);
  snapshot.poll_delay_ms[0] = 5;
  snapshot.poll_delay_ms[7] = 2;
  snapshot.poll_delay_ms[1000] = 1;
  snapshot.store_requests = 4;
  snapshot.store_refusals = 1;
  const std::string text = RenderMetrics(snapshot);

  const std::string labels = R"(rule="disk \"C:\\\"\n",resource="disk",target="")";
  const char* const kLines[] = {
      "# TYPE switchd_rule_violated gauge\n",
      "# HELP switchd_rule_events_total ",
      "# TYPE switchd_rule_events_total counter\n",
      "# TYPE switchd_poll_delay_seconds histogram\n",
  };
  for (const char* line : kLines) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find(line), text.rfind(line)) << line;
  }
  const std::string kSamples[] = {
      "switchd_rule_violated{" + labels + "} 1\n",
      "switchd_rule_value{" + labels + ",instance=\"sda\",unit=\"%\"} 93\n",
      "switchd_rule_value{" + labels + ",instance=\"sdb\",unit=\"%\"} -4\n",
      "switchd_rule_events_total{" + labels + "} 3\n",
      "switchd_rule_set_running{set=\"watch\"} 1\n",
      "switchd_report_records{report=\"load\",resource=\"cpu\"} 12\n",
      "switchd_poll_delay_seconds_bucket{le=\"0.001\"} 5\n",
      "switchd_poll_delay_seconds_bucket{le=\"1\"} 8\n",
      "switchd_poll_delay_seconds_bucket{le=\"+Inf\"} 8\n",
      "switchd_poll_delay_seconds_sum 1.014\n",
      "switchd_poll_delay_seconds_count 8\n",
      "switchd_store_refusals_total 1\n",
  };
  for (const std::string& sample : kSamples)
    EXPECT_NE(text.find(sample), std::string::npos) << sample << text;
}

}  // namespace
}  // namespace switchd_test
