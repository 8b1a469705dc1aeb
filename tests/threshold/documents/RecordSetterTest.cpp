// Every setter of every record kind, table-driven: the exact text it writes
// into a record that lacks the item, that the generic item writer produces the
// same text, and that reading the item back gives the written value in its
// column encoding.  Replacing an item in place is checked by the differential
// test against an independent parser.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "TimeZone.h"
#include "threshold/documents/Records.h"

namespace {

using namespace records;  // NOLINT(google-build-using-namespace): the items read best unqualified

// A value to write: text for text items, a number (code, minutes, seconds) otherwise.
using Value = std::variant<std::string, int64_t>;

struct SetterCase {
  const char* setter;
  const RecordItem* item;
  std::function<bool(RecordDocument&)> call;  // the named setter through its view
  Value written;
  std::string element;          // the item's element as the setter writes it
  std::optional<Value> column = {};  // read back in its column encoding (none: written)
};

void PrintTo(const SetterCase& c, std::ostream* os) { *os << c.item->record << "." << c.setter; }

#define CALL(View, expression) [](RecordDocument& doc) { return View(doc).expression; }

// 1 January 2007 02:00 UTC; read back as noon (New York) of the UTC date.
constexpr int64_t kNewYearUtc = 1167616800;
constexpr int64_t kNewYearNoonNewYork = 1167670800;

const SetterCase kSetterCases[] = {
    // Rule
    {"SetDescription", &kRuleDescription, CALL(RuleRecord, SetDescription("d<1>")), "d<1>",
     "<Description>d&lt;1&gt;</Description>"},
    {"SetHelpText", &kRuleHelpText, CALL(RuleRecord, SetHelpText("h")), "h",
     "<HelpText>h</HelpText>"},
    {"SetUserComment", &kRuleUserComment, CALL(RuleRecord, SetUserComment("c & d")), "c & d",
     "<Comment>c &amp; d</Comment>"},
    {"SetPollInterval", &kRulePollInterval, CALL(RuleRecord, SetPollInterval(30)), 30,
     "<Interval>30</Interval>"},
    {"SetWatchPeriod", &kRuleWatchPeriod, CALL(RuleRecord, SetWatchPeriod(0)), 0,
     "<WatchPeriod>0</WatchPeriod>"},
    {"SetOccurenceCount", &kRuleOccurenceCount, CALL(RuleRecord, SetOccurenceCount(2147483647)),
     2147483647, "<OccurenceCount>2147483647</OccurenceCount>"},
    {"SetResource", &kRuleResourceName, CALL(RuleRecord, SetResource("cpu \"0\"")), "cpu \"0\"",
     "<Resource Name=\"cpu &quot;0&quot;\"/>"},
    {"SetTarget", &kRuleTargetName, CALL(RuleRecord, SetTarget("t")), "t", "<Target Name=\"t\"/>"},
    {"SetEvent", &kRuleEventName, CALL(RuleRecord, SetEvent("e")), "e", "<Event Name=\"e\"/>"},
    {"SetInstMonitor", &kRuleInstMonitor, CALL(RuleRecord, SetInstMonitor(0)), 0,
     "<Instances Monitor=\"any\"/>", 1},
    {"SetInstIndexes", &kRuleInstIndexes, CALL(RuleRecord, SetInstIndexes("1,2")), "1,2",
     "<Instances>\r\n<Indexes>1,2</Indexes>\r\n</Instances>"},
    {"SetInstNamePatterns", &kRuleInstPatterns, CALL(RuleRecord, SetInstNamePatterns("C:*")), "C:*",
     "<Instances>\r\n<Names>C:*</Names>\r\n</Instances>"},
    {"SetValueType", &kRuleValueType, CALL(RuleRecord, SetValueType(3)), 3,
     "<Threshold Type=\"delta-dec\"/>", 4},
    {"SetRuleValuation", &kRuleValuation, CALL(RuleRecord, SetRuleValuation(2)), 2,
     "<Threshold Valuation=\"average-muted\"/>", 3},
    {"SetOperator", &kRuleOperator, CALL(RuleRecord, SetOperator(4)), 4,
     "<Threshold Operator=\"greater\"/>", 5},
    {"SetThresholdValue", &kRuleThresholdValue, CALL(RuleRecord, SetThresholdValue(-5)), -5,
     "<Threshold Value=\"-5\"/>"},
    {"SetRangeMinValue", &kRuleRangeMinValue, CALL(RuleRecord, SetRangeMinValue(-2147483647 - 1)),
     -2147483647 - 1, "<Threshold RangeMin=\"-2147483648\"/>"},
    {"SetRangeMaxValue", &kRuleRangeMaxValue, CALL(RuleRecord, SetRangeMaxValue(99)), 99,
     "<Threshold RangeMax=\"99\"/>"},
    {"SetEventControl", &kRuleEventControl, CALL(RuleRecord, SetEventControl(2)), 2,
     "<Event Control=\"continuous-with-delay\"/>", 3},
    {"SetEventDelay", &kRuleEventDelay, CALL(RuleRecord, SetEventDelay(60)), 60,
     "<Event Delay=\"60\"/>"},
    {"SetEventAlternating", &kRuleEventAlternating, CALL(RuleRecord, SetEventAlternating(0)), 0,
     "<Event Alternating=\"false\"/>", 1},
    {"SetPerformanceStatusSeverity", &kRulePerfStatusSeverity,
     CALL(RuleRecord, SetPerformanceStatusSeverity(4)), 4,
     "<Performance>\r\n<Status>critical</Status>\r\n</Performance>", 5},
    // RuleSet
    {"SetDescription", &kRuleSetDescription, CALL(RuleSetRecord, SetDescription("d")), "d",
     "<Description>d</Description>"},
    {"SetStartTime", &kRuleSetStartTime, CALL(RuleSetRecord, SetStartTime(425)), 425,
     "<Schedule Start=\"07:05\"/>"},
    {"SetStopTime", &kRuleSetStopTime, CALL(RuleSetRecord, SetStopTime(1440)), 1440,
     "<Schedule Stop=\"24:00\"/>"},
    {"SetStatus", &kRuleSetStatus, CALL(RuleSetRecord, SetStatus(true)), 1,
     "<Status>enable</Status>"},
    // Event
    {"SetType", &kEventType, CALL(EventRecord, SetType(0)), 0, "<Type>snmp-trap</Type>", 1},
    {"SetSeverity", &kEventSeverity, CALL(EventRecord, SetSeverity(1)), 1,
     "<Severity>major</Severity>", 2},
    // Resource
    {"SetDescription", &kResourceDescription, CALL(ResourceRecord, SetDescription("d")), "d",
     "<Description>d</Description>"},
    {"SetHelpText", &kResourceHelpText, CALL(ResourceRecord, SetHelpText("")), "", "<HelpText/>"},
    {"SetReqType", &kResourceReqType, CALL(ResourceRecord, SetReqType(2)), 2,
     "<Request Type=\"registry\"/>", 3},
    {"SetReqString", &kResourceReqString, CALL(ResourceRecord, SetReqString("1.3.6")), "1.3.6",
     "<Request>1.3.6</Request>"},
    {"SetUnitString", &kResourceValueUnit, CALL(ResourceRecord, SetUnitString("%")), "%",
     "<Unit>%</Unit>"},
    {"SetContainerNameString", &kResourceContainerName,
     CALL(ResourceRecord, SetContainerNameString("c")), "c", "<ContainerName>c</ContainerName>"},
    {"SetGroupName", &kResourceGroupName, CALL(ResourceRecord, SetGroupName("g")), "g",
     "<Group>g</Group>"},
    {"SetInstNameReq", &kResourceInstNameReq, CALL(ResourceRecord, SetInstNameReq("i")), "i",
     "<InstNameReq>i</InstNameReq>"},
    // Target: the element's own text
    {"SetAddress", &kTargetAddress, CALL(TargetRecord, SetAddress("10.0.0.1")), "10.0.0.1",
     ">10.0.0.1<"},
    // Report
    {"SetDescription", &kReportDescription, CALL(ReportRecord, SetDescription("d")), "d",
     "<Description>d</Description>"},
    {"SetHelpText", &kReportHelpText, CALL(ReportRecord, SetHelpText("h")), "h",
     "<HelpText>h</HelpText>"},
    {"SetUserComment", &kReportUserComment, CALL(ReportRecord, SetUserComment("c")), "c",
     "<Comment>c</Comment>"},
    {"SetPollInterval", &kReportPollInterval, CALL(ReportRecord, SetPollInterval(1)), 1,
     "<Interval>1</Interval>"},
    {"SetMaxEntries", &kReportMaxEntries, CALL(ReportRecord, SetMaxEntries(0)), 0,
     "<MaxEntries>0</MaxEntries>"},
    {"SetResource", &kReportResourceName, CALL(ReportRecord, SetResource("r")), "r",
     "<Resource Name=\"r\"/>"},
    {"SetTarget", &kReportTargetName, CALL(ReportRecord, SetTarget("t")), "t",
     "<Target Name=\"t\"/>"},
    {"SetInstMonitor", &kReportInstMonitor, CALL(ReportRecord, SetInstMonitor(1)), 1,
     "<Instances Monitor=\"average\"/>", 2},
    {"SetInstIndexes", &kReportInstIndexes, CALL(ReportRecord, SetInstIndexes("3")), "3",
     "<Instances>\r\n<Indexes>3</Indexes>\r\n</Instances>"},
    {"SetInstNamePatterns", &kReportInstPatterns, CALL(ReportRecord, SetInstNamePatterns("x")), "x",
     "<Instances>\r\n<Names>x</Names>\r\n</Instances>"},
    // ReportSet
    {"SetDescription", &kReportSetDescription, CALL(ReportSetRecord, SetDescription("d")), "d",
     "<Description>d</Description>"},
    {"SetStartTime", &kReportSetStartTime, CALL(ReportSetRecord, SetStartTime(0)), 0,
     "<StartTime>00:00</StartTime>"},
    {"SetStopTime", &kReportSetStopTime, CALL(ReportSetRecord, SetStopTime(1439)), 1439,
     "<StopTime>23:59</StopTime>"},
    {"SetRecordingEndTime", &kReportSetRecordingEnd,
     CALL(ReportSetRecord, SetRecordingEndTime(kNewYearUtc)), kNewYearUtc,
     "<RecordingEnd>01/01/2007</RecordingEnd>", kNewYearNoonNewYork},
    {"SetStatus", &kReportSetStatus, CALL(ReportSetRecord, SetStatus(false)), 0,
     "<Status>disable</Status>", 2},
};

#undef CALL

class RecordSetterTest : public testing::TestWithParam<SetterCase> {
 protected:
  // The recording end is written as a UTC date and read back as local noon;
  // New York puts the two on different days for the time used above.
  records_test::ScopedTimeZone zone_{records_test::kNewYork};

  // The text that a record without the item has after the setter.
  static std::string ExpectedOnEmpty(const SetterCase& c) {
    const std::string open = "<" + std::string(c.item->record) + " Name=\"n\"";
    if (c.item->child.empty()) {  // the record's own text
      return open + ">" + std::get<std::string>(c.written) + "</" + std::string(c.item->record) +
             ">\r\n";
    }
    return open + ">\r\n" + c.element + "\r\n</" + std::string(c.item->record) + ">\r\n";
  }
  static void ExpectReadsBack(RecordDocument& doc, const SetterCase& c) {
    const Value column = c.column.value_or(c.written);
    if (const auto* text = std::get_if<std::string>(&column)) {
      EXPECT_EQ(doc.ItemText(*c.item), *text);
    } else {
      EXPECT_EQ(doc.ColumnValue(*c.item), std::get<int64_t>(column));
    }
  }
};

TEST_P(RecordSetterTest, RecordWithoutTheItemGetsItAsItsLastChild) {
  const SetterCase& c = GetParam();
  RecordDocument doc(c.item->record, "n");
  ASSERT_TRUE(c.call(doc));
  EXPECT_EQ(doc.DocumentText(), ExpectedOnEmpty(c));
  EXPECT_TRUE(doc.CheckWellFormed());
  // An upper bound without a lower one is not read; the full record has one.
  if (c.item->only_with.empty()) ExpectReadsBack(doc, c);
}

TEST_P(RecordSetterTest, NamedSetterAndItemWriterAgree) {
  const SetterCase& c = GetParam();
  EXPECT_EQ(c.item->setter, c.setter);
  RecordDocument named(c.item->record, "n");
  RecordDocument generic(c.item->record, "n");
  ASSERT_TRUE(c.call(named));
  if (const auto* text = std::get_if<std::string>(&c.written)) {
    ASSERT_TRUE(generic.SetItemText(*c.item, *text));
  } else {
    ASSERT_TRUE(generic.SetItemValue(*c.item, std::get<int64_t>(c.written)));
  }
  EXPECT_EQ(named.DocumentText(), generic.DocumentText());
}

TEST_P(RecordSetterTest, SetterOnRecordOfAnotherKindFailsAndChangesNothing) {
  const SetterCase& c = GetParam();
  RecordDocument doc("Other", "n");
  const std::string before = doc.DocumentText();
  EXPECT_FALSE(c.call(doc));
  EXPECT_EQ(doc.DocumentText(), before);
}

INSTANTIATE_TEST_SUITE_P(EverySetter, RecordSetterTest, testing::ValuesIn(kSetterCases));

TEST(RecordSetterCoverageTest, EveryItemWithAWriterHasASetterCase) {
  for (const RecordItem* item : AllItems()) {
    if (item->setter.empty()) continue;
    bool found = false;
    for (const SetterCase& c : kSetterCases) found = found || c.item == item;
    EXPECT_TRUE(found) << item->record << "." << item->setter;
  }
}

}  // namespace
