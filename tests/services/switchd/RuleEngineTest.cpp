// The rule engine against a fake clock and a fake source: a rule polled every
// 10 seconds, its events per poll written as "F<value>" (the rule's severity),
// "I<value>" (the informational end of a violation) or "-" (none).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FakeSource.h"
#include "SwitchdFixture.h"
#include "services/switchd/RuleEngine.h"
#include "services/switchd/Scheduler.h"
#include "switch/SwitchProtocol.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"

namespace switchd_test {
namespace {

namespace sp = switch_protocol;
using switchd::RuleEngine;

constexpr int64_t kInterval = 10'000;

const char* const kResources =
    "<Resources><Resource Name=\"res\"><Request Type=\"builtin\">fake</Request><Unit>%</Unit>"
    "</Resource><Resource Name=\"other\"><Request Type=\"builtin\">other</Request></Resource>"
    "</Resources>";
const char* const kEvents =
    "<Events><Event Name=\"ev\"><Type>snmp-trap</Type><Severity>major</Severity></Event>"
    "<Event Name=\"crit\"><Type>snmp-trap</Type><Severity>critical</Severity></Event></Events>";

// A rule: the case's own items come first and win over the defaults after them.
std::string Rule(const std::string& name, const std::string& items) {
  return "<Rule Name=\"" + name + "\">" + items +
         "<Interval>10</Interval><Resource Name=\"res\"/><Event Name=\"ev\"/>"
         "<Threshold Type=\"absolute\" Operator=\"greater\" Value=\"5\"/></Rule>";
}

std::string RuleSet(const std::string& name, const std::vector<std::string>& members,
                    const std::string& items = "") {
  std::string text = "<RuleSet Name=\"" + name + "\">" + items;
  for (const std::string& member : members) text += "<Rule Name=\"" + member + "\"/>";
  return text + "</RuleSet>";
}

std::string Token(const std::string& document) {
  RecordDocument threshold;
  threshold.LoadText(document);
  RecordDocument event;
  records::ThresholdRecord(threshold).CopyEvent(&event);
  const bool end = records::EventRecord(event).SeverityText() == "informational";
  return (end ? "I" : "F") + threshold.ItemText(records::kThresholdValue);
}

class EngineHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    tables_[sp::kTableResources] = kResources;
    tables_[sp::kTableEvents] = kEvents;
    engine_.Start();
  }

  void SetTables(const std::string& rules, const std::string& sets) {
    tables_[sp::kTableRules] = "<Rules>" + rules + "</Rules>";
    tables_[sp::kTableRuleSets] = "<RuleSets>" + sets + "</RuleSets>";
  }
  void Configure() {
    engine_.Configure([this](DWORD code) { return tables_[code]; });
    scheduler_.RunDue();
  }
  void Advance(int64_t ms) {
    clock_.now_ms += ms;
    scheduler_.RunDue();
  }
  // The events fired since the last call, as tokens.
  std::string Events() {
    std::string tokens;
    for (const std::string& document : fired_) {
      tokens += (tokens.empty() ? "" : ",") + Token(document);
    }
    fired_.clear();
    return tokens.empty() ? "-" : tokens;
  }
  FakeClock clock_;
  switchd::Scheduler scheduler_{clock_};
  FakeSource source_;
  std::vector<std::string> fired_;
  RuleEngine engine_{clock_, scheduler_, source_,
                     [this](const std::string& document) { fired_.push_back(document); }};
  std::map<DWORD, std::string> tables_;
};

// A rule's own threshold: the operator and value, with more attributes.
std::string Th(const std::string& op, int value, const std::string& more = "") {
  return "<Threshold Operator=\"" + op + "\" Value=\"" + std::to_string(value) + "\"" + more + "/>";
}
std::string Delta(const std::string& type, const std::string& op = "greater", int value = 5) {
  return Th(op, value, " Type=\"" + type + "\"");
}
std::string Avg(const std::string& valuation, int watch_period) {
  return "<WatchPeriod>" + std::to_string(watch_period) + "</WatchPeriod>" +
         Th("greater", 50, " Valuation=\"" + valuation + "\"");
}
std::string Exists(const std::string& op) { return "<Threshold Operator=\"" + op + "\"/>"; }
std::string Ev(const std::string& attributes) { return "<Event Name=\"ev\" " + attributes + "/>"; }

struct PollCase {
  const char* label;
  std::string items;                               // the rule's own items
  const char* readings;                            // one per poll of "fake", split by '|'
  const char* expected;                            // one token per poll
  std::optional<uint64_t> counter = std::nullopt;  // a counter wrapping there (0: never)
};

class PollTest : public EngineHarness, public ::testing::WithParamInterface<PollCase> {};

TEST_P(PollTest, EventsPerPoll) {
  const PollCase& c = GetParam();
  SetTables(Rule("r", c.items), RuleSet("s", {"r"}));
  const std::string readings = c.readings;
  std::string outcome;
  for (size_t start = 0, bar = 0; bar != std::string::npos; start = bar + 1) {
    bar = readings.find('|', start);
    source_.Set("fake", readings.substr(start, bar - start), c.counter);
    if (start == 0) {
      Configure();
    } else {
      Advance(kInterval);
    }
    outcome += (start == 0 ? "" : " ") + Events();
  }
  EXPECT_EQ(outcome, c.expected);
}

std::string Ranged(const std::string& op) { return Th(op, 5, R"( RangeMin="3" RangeMax="7")"); }

// clang-format off
const PollCase kPolls[] = {
    {"DeltaAny", Delta("delta-any"), "10|20|12|13", "- F10 F8 -"},
    {"DeltaDec", Delta("delta-dec"), "10|20|12|30", "- - F8 -"},
    {"Counter32Wraps", "", "4294967290|4", "- F10", uint64_t{1} << 32},
    {"CounterThatFallsStartedOver", "", "100|5|15", "- - F10", 0},
    {"CounterNeverDecreases", Delta("delta-dec", "equal", 0), "9|12|14", "- F0 F0", 0},
    {"FailedReadIsNoValueNotZero", Delta("absolute", "less", 5), "9|!|9", "- - -"},
    {"ClampedToInt32", "", "5000000000", "F2147483647"},
    // Greater than 50 averaged over the watch period.
    {"LinearOverThreeIntervals", Avg("average-linear", 30), "90|0|0|0|90|90|90", "F90 - - - - F60 F90"},
    {"MutedWeighsByIntervalOverWatchPeriod", Avg("average-muted", 20), "100|0|0|100", "F100 - - F63"},
    // Operators: value 5, range 3 to 7.
    {"Equal", Ranged("equal"), "2|3|5|7|8", "- - F5 - -"},
    {"NotEqual", Ranged("not-equal"), "2|3|5|7|8", "F2 F3 - F7 F8"},
    {"Less", Ranged("less"), "2|3|5|7|8", "F2 F3 - - -"},
    {"LessEqual", Ranged("less-equal"), "2|3|5|7|8", "F2 F3 F5 - -"},
    {"Greater", Ranged("greater"), "2|3|5|7|8", "- - - F7 F8"},
    {"GreaterEqual", Ranged("greater-equal"), "2|3|5|7|8", "- - F5 F7 F8"},
    {"WithinRangeInclusive", Ranged("within-range"), "2|3|5|7|8", "- F3 F5 F7 -"},
    {"OutOfRange", Ranged("out-of-range"), "2|3|5|7|8", "F2 - - - F8"},
    {"ExistToNoneExist", Exists("exist-to-none-exist"), "a=1 b=1|a=1|a=1 c=1|a=1 c=1", "- F1 - -"},
    {"NoneExistToExist", Exists("none-exist-to-exist"), "a=1 b=1|a=1|a=1 c=1|c=1 a=1", "- - F2 -"},
    {"ExistChange", Exists("exist-change"), "a=1 b=1|a=1|a=1 c=1|a=1 c=1|", "- F1 F2 - F0"},
    {"ZeroIsAtOnce", "<OccurenceCount>0</OccurenceCount>", "9|9|1|9", "F9 F9 - F9"},
    {"FailedReadBreaksTheRun", "<OccurenceCount>2</OccurenceCount>", "9|!|9|9", "- - - F9"},
    {"WithDelay", Ev(R"(Control="continuous-with-delay" Delay="20")"), "9|9|9|9|9|1|9", "F9 - F9 - F9 - F9"},
    {"SingleShotFiresTheEnd", Ev(R"(Control="single-shot" Alternating="true")"), "9|9|1|1|9", "F9 - I1 - F9"},
    {"ContinuousFiresTheEndOnce", Ev(R"(Control="continuous" Alternating="true")"), "9|9|1|2", "F9 F9 I1 -"},
    // Instances, numbered 1, 2, 3 in the order written.
    {"IndexesOrNames", "<Instances><Indexes>1</Indexes><Names>c</Names></Instances>" + Th("less", 50), "a=10 b=20 c=90", "F10"},
    {"NothingSelectedIsNoValue", "<Instances><Names>z*</Names></Instances>" + Th("less", 50), "a=10", "-"},
    {"NewInstanceWaitsForItsSecondSample", Delta("delta-inc"), "a=1|a=2 b=100|a=3 b=200", "- - F100"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rules, PollTest, ::testing::ValuesIn(kPolls), [](const auto& param_info) {
  return std::string(param_info.param.label);
});

TEST_F(EngineHarness, RuleOnlyInADisabledSetIsNeverRead) {
  SetTables(Rule("r", ""),
            RuleSet("off", {"r"}, "<Status>disable</Status>") + RuleSet("empty", {}));
  source_.Set("fake", "9");
  Configure();
  Advance(kInterval);
  EXPECT_EQ(source_.Reads(), 0);
  EXPECT_EQ(engine_.RuleSetStatus("off"), 0);
  EXPECT_EQ(engine_.RuleSetStatus("empty"), 1);
}

// "major" reads "other" and sets a warning; "critical" an information.
TEST_F(EngineHarness, StatusesFollowTheViolatedRules) {
  SetTables(Rule("major", R"(<Resource Name="other"/><Performance><Status>warning</Status>)"
                          "</Performance>") +
                Rule("critical", R"(<Event Name="crit"/><Performance><Status>information)"
                                 "</Status></Performance>"),
            RuleSet("s", {"major", "critical"}));
  const struct {
    const char *other, *fake;
    int threshold, performance, set;
  } kSteps[] = {{"1", "1", 0, 0, 1},
                {"9", "1", 1, 3, 2},
                {"9", "9", 2, 3, 2},
                {"1", "9", 2, 2, 2},
                {"1", "1", 0, 0, 1}};
  Configure();
  for (const auto& step : kSteps) {
    source_.Set("other", step.other);
    source_.Set("fake", step.fake);
    Advance(kInterval);
    SCOPED_TRACE(std::string(step.other) + step.fake);
    EXPECT_EQ(engine_.ThresholdStatus(), step.threshold);
    EXPECT_EQ(engine_.PerformanceStatus(), step.performance);
    EXPECT_EQ(engine_.RuleSetStatus("s"), step.set);
  }
}

TEST_F(EngineHarness, CurrentValueIsTheLastValueEvaluated) {
  const struct {
    const char* items;
    const char* reading;
    const char* expected;  // "" for none
  } kCases[] = {
      {"", "b=60 a=10", "a=10 b=60"},
      {"<Instances Monitor=\"average\"/>", "a=10 b=61", "36 %"},
      {"", "!", ""},
      {"<Threshold Operator=\"exist-change\"/>", "a=1 b=1", "2"},
  };
  for (const auto& c : kCases) {
    SetTables(Rule("r", c.items), RuleSet("s", {"r"}));
    source_.Set("fake", c.reading);
    Configure();
    const auto value = engine_.RuleCurrentValue("r");
    EXPECT_EQ(value.value_or(""), c.expected) << c.reading;
    EXPECT_EQ(value.has_value(), *c.expected != '\0') << c.reading;
  }
}

// A rule on an snmp resource needs a target with an address, whichever table
// the store changes; refused stores change nothing.
TEST_F(DataDirFixture, StoresThatWouldLeaveAnSnmpRuleWithoutAddressAreRefused) {
  // clang-format off
  const struct {
    DWORD table;
    const char* document;
    const char* reason;  // found in the refusal's reason
  } kCases[] = {
      {sp::kTableRules, R"(<Rules><Rule Name="n"><Resource Name="s"/></Rule></Rules>)", "rule \"n\" on resource \"s\": \"\" is not an address"},
      {sp::kTableTargets, R"(<Targets><Target Name="t2">no address</Target></Targets>)", "rule \"sr\""},
      {sp::kTableResources, R"(<Resources><Resource Name="w2"><Request Type="snmp">1.3.6</Request></Resource></Resources>)", "rule \"nt\""},
  };
  // clang-format on
  WriteFile(data_dir_ + "/Resources.xml",
            R"(<Resources><Resource Name="s"><Request Type="snmp">1.3.6</Request></Resource>)"
            R"(<Resource Name="w2"><Request Type="builtin">mem</Request></Resource></Resources>)");
  WriteFile(data_dir_ + "/Targets.xml",
            R"(<Targets><Target Name="t2">127.0.0.2</Target></Targets>)");
  WriteFile(data_dir_ + "/Rules.xml",
            R"(<Rules><Rule Name="sr"><Resource Name="s"/><Target Name="t2"/>)"
            R"(</Rule><Rule Name="nt"><Resource Name="w2"/></Rule></Rules>)");
  const FakeSource source;
  switchd::ThresholdModule module(data_dir_);
  std::string reason;
  ASSERT_TRUE(module.Load(&reason)) << reason;
  module.AddStoreCheck([&](const switchd::StoreCandidate& candidate, std::string* why) {
    return switchd::CheckRuleStore(candidate, source, why);
  });
  int changes = 0;
  module.SetChangeListener([&](DWORD) { ++changes; });
  for (const auto& c : kCases) {
    const std::string before = module.TableDocument(c.table);
    EXPECT_EQ(module.Store(c.table, c.document, &reason), 4u) << c.document;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_NE(module.LastRefusal().find(c.reason), std::string::npos) << module.LastRefusal();
    EXPECT_EQ(module.TableDocument(c.table), before);
  }
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace switchd_test
