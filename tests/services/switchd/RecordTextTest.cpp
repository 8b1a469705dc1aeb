// Record texts refused, the --since forms, and the instance selection that
// reports share with rules.
#include <gtest/gtest.h>

#include "FakeSource.h"
#include "services/switchd/Instances.h"
#include "services/switchd/RecordText.h"

namespace switchd_test {
namespace {

using switchd::InstanceValue;
using switchd::RecordValue;

TEST(RecordTextTest, TextsOfAnotherShapeAreRefused) {
  for (const char* text :
       {"", "2026-03-01 08:05:09", "2026-03-01 08:05:09 ", "2026-03-01 08:05 17",
        "2026-03-01T08:05:09 17", "2026-03-01 08:05:09 high", "2026-03-01 08:05:09 a=x",
        "2026-03-01 08:05:09 =4", "2026-03-01 08:05:09 99999999999999999999"}) {
    EXPECT_FALSE(switchd::ParseRecord(text)) << text;
  }
}

TEST(RecordTextTest, SinceArgumentsBecomeRecordTimes) {
  FakeClock clock;
  clock.start = 1772352000;  // 2026-03-01 08:00:00
  const struct {
    const char* argument;
    const char* text;  // nullptr: refused
  } kCases[] = {
      {"2026-02-27", "2026-02-27 00:00:00"},
      {"2026-02-27T13:45:10", "2026-02-27 13:45:10"},
      {"90s", "2026-03-01 07:58:30"},
      {"30m", "2026-03-01 07:30:00"},
      {"1d", "2026-02-28 08:00:00"},
      {"2026-02-27T13:45", "2026-02-27 13:45:00"},
      {"2026-02-27 13:45", nullptr},
      {"2026-2-27", nullptr},
      {"-5m", nullptr},
      {"5w", nullptr},
      {"99999999999999d", nullptr},
      {"", nullptr},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(switchd::SinceText(c.argument, clock).value_or("(refused)"),
              c.text ? c.text : "(refused)")
        << c.argument;
  }
}

TEST(InstancesTest, IndexesAndPatternsSelectInTheSourcesOrder) {
  const std::vector<InstanceValue> all = {
      {1, "eth0", 10}, {2, "lo", 20}, {3, "eth1", 30}, {7, "wlan0", 40}, {8, "my disk", 50}};
  const struct {
    const char* indexes;
    const char* patterns;
    const char* chosen;  // names, blank-separated
  } kCases[] = {
      {"", "", "eth0 lo eth1 wlan0 my disk"},
      {"3,1", "", "eth0 eth1"},
      {"2-3", "", "lo eth1"},
      {"5-8", "", "wlan0 my disk"},
      {"9", "", ""},
      {"x, 2", "", "lo"},
      {"3-1", "", ""},
      {"", "eth*", "eth0 eth1"},
      {"", "l? wlan[0-9]", "lo wlan0"},
      {"1", "lo", "eth0 lo"},
      {"", "nothing", ""},
  };
  for (const auto& c : kCases) {
    std::string chosen;
    for (const InstanceValue& instance : switchd::SelectInstances(all, c.indexes, c.patterns)) {
      chosen += (chosen.empty() ? "" : " ") + instance.name;
    }
    EXPECT_EQ(chosen, c.chosen) << "indexes \"" << c.indexes << "\" names \"" << c.patterns << "\"";
  }
}

}  // namespace
}  // namespace switchd_test
