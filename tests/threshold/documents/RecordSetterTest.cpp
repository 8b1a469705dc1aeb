// Every setter of every record kind, table-driven: the exact text it writes
// into a record that lacks the item and into one that holds it, that the
// generic item writer produces the same text, and that reading the item back
// gives the written value in its column encoding.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "TimeZone.h"
#include "threshold/documents/Records.h"

namespace {

using namespace records;  // NOLINT(google-build-using-namespace): the items read best unqualified

// Joins lines the way the markup editor writes them.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

const std::string kFullRule = Lines({
    "<Rule Name=\"n\">",
    "<Description>old d</Description>",
    "<HelpText>old h</HelpText>",
    "<Comment>old c</Comment>",
    "<Interval>5</Interval>",
    "<WatchPeriod>6</WatchPeriod>",
    "<OccurenceCount>7</OccurenceCount>",
    "<Resource Name=\"old r\"/>",
    "<Target Name=\"old t\"/>",
    "<Instances Monitor=\"average\">",
    "<Indexes>old i</Indexes>",
    "<Names>old p</Names>",
    "</Instances>",
    "<Threshold Type=\"delta-any\" Valuation=\"average-linear\" Operator=\"less\" Value=\"10\" "
    "RangeMin=\"1\" RangeMax=\"20\"/>",
    "<Event Name=\"old e\" Control=\"single-shot\" Delay=\"3\" Alternating=\"true\"/>",
    "<Performance>",
    "<Status>warning</Status>",
    "</Performance>",
    "<Access>read-only</Access>",
    "</Rule>",
});

const std::string kFullRuleSet = Lines({
    "<RuleSet Name=\"n\">",
    "<Description>old d</Description>",
    "<Schedule Start=\"01:00\" Stop=\"02:00\"/>",
    "<Rule Name=\"a\"/>",
    "<Status>disable</Status>",
    "<Access>read-only</Access>",
    "</RuleSet>",
});

const std::string kFullEvent = Lines({
    "<Event Name=\"n\">",
    "<Type>mail</Type>",
    "<Severity>minor</Severity>",
    "</Event>",
});

const std::string kFullResource = Lines({
    "<Resource Name=\"n\">",
    "<Description>old d</Description>",
    "<HelpText>old h</HelpText>",
    "<Request Type=\"snmp\">old q</Request>",
    "<Unit>old u</Unit>",
    "<ContainerName>old c</ContainerName>",
    "<Group>old g</Group>",
    "<InstNameReq>old i</InstNameReq>",
    "</Resource>",
});

const std::string kFullTarget = Lines({"<Target Name=\"n\">old a</Target>"});

const std::string kFullReport = Lines({
    "<Report Name=\"n\">",
    "<Description>old d</Description>",
    "<HelpText>old h</HelpText>",
    "<Comment>old c</Comment>",
    "<Interval>5</Interval>",
    "<MaxEntries>100</MaxEntries>",
    "<Resource Name=\"old r\"/>",
    "<Target Name=\"old t\"/>",
    "<Instances Monitor=\"any\">",
    "<Indexes>old i</Indexes>",
    "<Names>old p</Names>",
    "</Instances>",
    "</Report>",
});

const std::string kFullReportSet = Lines({
    "<ReportSet Name=\"n\">",
    "<Description>old d</Description>",
    "<StartTime>01:00</StartTime>",
    "<StopTime>02:00</StopTime>",
    "<RecordingEnd>01/02/2003</RecordingEnd>",
    "<Report Name=\"a\"/>",
    "<Status>enable</Status>",
    "</ReportSet>",
});

const std::string& FullRecord(std::string_view tag) {
  static const std::string kNone;
  if (tag == "Rule") return kFullRule;
  if (tag == "RuleSet") return kFullRuleSet;
  if (tag == "Event") return kFullEvent;
  if (tag == "Resource") return kFullResource;
  if (tag == "Target") return kFullTarget;
  if (tag == "Report") return kFullReport;
  if (tag == "ReportSet") return kFullReportSet;
  return kNone;
}

// A value to write: text for text items, a number (code, minutes, seconds) otherwise.
using Value = std::variant<std::string, int64_t>;

struct SetterCase {
  const char* setter;
  const RecordItem* item;
  std::function<bool(RecordDocument&)> call;  // the named setter through its view
  Value written;
  std::string added;            // the item's element as a record without it gets it ("": `by`)
  std::string replaced;         // the old text in the full record...
  std::string by;               // ...and what the setter leaves in its place
  std::optional<Value> column;  // reading the item back, in its column encoding (none: written)
};

void PrintTo(const SetterCase& c, std::ostream* os) { *os << c.item->record << "." << c.setter; }

#define CALL(View, expression) [](RecordDocument& doc) { return View(doc).expression; }

// 1 January 2007 02:00 UTC; read back as noon (New York) of the UTC date.
constexpr int64_t kNewYearUtc = 1167616800;
constexpr int64_t kNewYearNoonNewYork = 1167670800;

const SetterCase kSetterCases[] = {
    // Rule
    {"SetDescription", &kRuleDescription, CALL(RuleRecord, SetDescription("d<1>")), "d<1>", "",
     "<Description>old d</Description>", "<Description>d&lt;1&gt;</Description>", std::nullopt},
    {"SetHelpText", &kRuleHelpText, CALL(RuleRecord, SetHelpText("h")), "h", "",
     "<HelpText>old h</HelpText>", "<HelpText>h</HelpText>", std::nullopt},
    {"SetUserComment", &kRuleUserComment, CALL(RuleRecord, SetUserComment("c & d")), "c & d", "",
     "<Comment>old c</Comment>", "<Comment>c &amp; d</Comment>", std::nullopt},
    {"SetPollInterval", &kRulePollInterval, CALL(RuleRecord, SetPollInterval(30)), 30, "",
     "<Interval>5</Interval>", "<Interval>30</Interval>", std::nullopt},
    {"SetWatchPeriod", &kRuleWatchPeriod, CALL(RuleRecord, SetWatchPeriod(0)), 0, "",
     "<WatchPeriod>6</WatchPeriod>", "<WatchPeriod>0</WatchPeriod>", std::nullopt},
    {"SetOccurenceCount", &kRuleOccurenceCount, CALL(RuleRecord, SetOccurenceCount(2147483647)),
     2147483647, "", "<OccurenceCount>7</OccurenceCount>",
     "<OccurenceCount>2147483647</OccurenceCount>", std::nullopt},
    {"SetResource", &kRuleResourceName, CALL(RuleRecord, SetResource("cpu \"0\"")), "cpu \"0\"", "",
     "<Resource Name=\"old r\"/>", "<Resource Name=\"cpu &quot;0&quot;\"/>", std::nullopt},
    {"SetTarget", &kRuleTargetName, CALL(RuleRecord, SetTarget("t")), "t", "",
     "<Target Name=\"old t\"/>", "<Target Name=\"t\"/>", std::nullopt},
    {"SetEvent", &kRuleEventName, CALL(RuleRecord, SetEvent("e")), "e", "<Event Name=\"e\"/>",
     "Name=\"old e\"", "Name=\"e\"", std::nullopt},
    {"SetInstMonitor", &kRuleInstMonitor, CALL(RuleRecord, SetInstMonitor(0)), 0,
     "<Instances Monitor=\"any\"/>", "Monitor=\"average\"", "Monitor=\"any\"", 1},
    {"SetInstIndexes", &kRuleInstIndexes, CALL(RuleRecord, SetInstIndexes("1,2")), "1,2",
     "<Instances>\r\n<Indexes>1,2</Indexes>\r\n</Instances>", "<Indexes>old i</Indexes>",
     "<Indexes>1,2</Indexes>", std::nullopt},
    {"SetInstNamePatterns", &kRuleInstPatterns, CALL(RuleRecord, SetInstNamePatterns("C:*")), "C:*",
     "<Instances>\r\n<Names>C:*</Names>\r\n</Instances>", "<Names>old p</Names>",
     "<Names>C:*</Names>", std::nullopt},
    {"SetValueType", &kRuleValueType, CALL(RuleRecord, SetValueType(3)), 3,
     "<Threshold Type=\"delta-dec\"/>", "Type=\"delta-any\"", "Type=\"delta-dec\"", 4},
    {"SetRuleValuation", &kRuleValuation, CALL(RuleRecord, SetRuleValuation(2)), 2,
     "<Threshold Valuation=\"average-muted\"/>", "Valuation=\"average-linear\"",
     "Valuation=\"average-muted\"", 3},
    {"SetOperator", &kRuleOperator, CALL(RuleRecord, SetOperator(4)), 4,
     "<Threshold Operator=\"greater\"/>", "Operator=\"less\"", "Operator=\"greater\"", 5},
    {"SetThresholdValue", &kRuleThresholdValue, CALL(RuleRecord, SetThresholdValue(-5)), -5,
     "<Threshold Value=\"-5\"/>", "Value=\"10\"", "Value=\"-5\"", std::nullopt},
    {"SetRangeMinValue", &kRuleRangeMinValue, CALL(RuleRecord, SetRangeMinValue(-2147483647 - 1)),
     -2147483647 - 1, "<Threshold RangeMin=\"-2147483648\"/>", "RangeMin=\"1\"",
     "RangeMin=\"-2147483648\"", std::nullopt},
    {"SetRangeMaxValue", &kRuleRangeMaxValue, CALL(RuleRecord, SetRangeMaxValue(99)), 99,
     "<Threshold RangeMax=\"99\"/>", "RangeMax=\"20\"", "RangeMax=\"99\"", std::nullopt},
    {"SetEventControl", &kRuleEventControl, CALL(RuleRecord, SetEventControl(2)), 2,
     "<Event Control=\"continuous-with-delay\"/>", "Control=\"single-shot\"",
     "Control=\"continuous-with-delay\"", 3},
    {"SetEventDelay", &kRuleEventDelay, CALL(RuleRecord, SetEventDelay(60)), 60,
     "<Event Delay=\"60\"/>", "Delay=\"3\"", "Delay=\"60\"", std::nullopt},
    {"SetEventAlternating", &kRuleEventAlternating, CALL(RuleRecord, SetEventAlternating(0)), 0,
     "<Event Alternating=\"false\"/>", "Alternating=\"true\"", "Alternating=\"false\"", 1},
    {"SetPerformanceStatusSeverity", &kRulePerfStatusSeverity,
     CALL(RuleRecord, SetPerformanceStatusSeverity(4)), 4,
     "<Performance>\r\n<Status>critical</Status>\r\n</Performance>", "<Status>warning</Status>",
     "<Status>critical</Status>", 5},
    // RuleSet
    {"SetDescription", &kRuleSetDescription, CALL(RuleSetRecord, SetDescription("d")), "d", "",
     "<Description>old d</Description>", "<Description>d</Description>", std::nullopt},
    {"SetStartTime", &kRuleSetStartTime, CALL(RuleSetRecord, SetStartTime(425)), 425,
     "<Schedule Start=\"07:05\"/>", "Start=\"01:00\"", "Start=\"07:05\"", std::nullopt},
    {"SetStopTime", &kRuleSetStopTime, CALL(RuleSetRecord, SetStopTime(1440)), 1440,
     "<Schedule Stop=\"24:00\"/>", "Stop=\"02:00\"", "Stop=\"24:00\"", std::nullopt},
    {"SetStatus", &kRuleSetStatus, CALL(RuleSetRecord, SetStatus(true)), 1, "",
     "<Status>disable</Status>", "<Status>enable</Status>", std::nullopt},
    // Event
    {"SetType", &kEventType, CALL(EventRecord, SetType(0)), 0, "", "<Type>mail</Type>",
     "<Type>snmp-trap</Type>", 1},
    {"SetSeverity", &kEventSeverity, CALL(EventRecord, SetSeverity(1)), 1, "",
     "<Severity>minor</Severity>", "<Severity>major</Severity>", 2},
    // Resource
    {"SetDescription", &kResourceDescription, CALL(ResourceRecord, SetDescription("d")), "d", "",
     "<Description>old d</Description>", "<Description>d</Description>", std::nullopt},
    {"SetHelpText", &kResourceHelpText, CALL(ResourceRecord, SetHelpText("")), "", "<HelpText/>",
     "<HelpText>old h</HelpText>", "<HelpText></HelpText>", std::nullopt},
    {"SetReqType", &kResourceReqType, CALL(ResourceRecord, SetReqType(2)), 2,
     "<Request Type=\"registry\"/>", "Type=\"snmp\"", "Type=\"registry\"", 3},
    {"SetReqString", &kResourceReqString, CALL(ResourceRecord, SetReqString("1.3.6")), "1.3.6",
     "<Request>1.3.6</Request>", ">old q</Request>", ">1.3.6</Request>", std::nullopt},
    {"SetUnitString", &kResourceValueUnit, CALL(ResourceRecord, SetUnitString("%")), "%", "",
     "<Unit>old u</Unit>", "<Unit>%</Unit>", std::nullopt},
    {"SetContainerNameString", &kResourceContainerName,
     CALL(ResourceRecord, SetContainerNameString("c")), "c", "",
     "<ContainerName>old c</ContainerName>", "<ContainerName>c</ContainerName>", std::nullopt},
    {"SetGroupName", &kResourceGroupName, CALL(ResourceRecord, SetGroupName("g")), "g", "",
     "<Group>old g</Group>", "<Group>g</Group>", std::nullopt},
    {"SetInstNameReq", &kResourceInstNameReq, CALL(ResourceRecord, SetInstNameReq("i")), "i", "",
     "<InstNameReq>old i</InstNameReq>", "<InstNameReq>i</InstNameReq>", std::nullopt},
    // Target: the element's own text
    {"SetAddress", &kTargetAddress, CALL(TargetRecord, SetAddress("10.0.0.1")), "10.0.0.1", "",
     ">old a<", ">10.0.0.1<", std::nullopt},
    // Report
    {"SetDescription", &kReportDescription, CALL(ReportRecord, SetDescription("d")), "d", "",
     "<Description>old d</Description>", "<Description>d</Description>", std::nullopt},
    {"SetHelpText", &kReportHelpText, CALL(ReportRecord, SetHelpText("h")), "h", "",
     "<HelpText>old h</HelpText>", "<HelpText>h</HelpText>", std::nullopt},
    {"SetUserComment", &kReportUserComment, CALL(ReportRecord, SetUserComment("c")), "c", "",
     "<Comment>old c</Comment>", "<Comment>c</Comment>", std::nullopt},
    {"SetPollInterval", &kReportPollInterval, CALL(ReportRecord, SetPollInterval(1)), 1, "",
     "<Interval>5</Interval>", "<Interval>1</Interval>", std::nullopt},
    {"SetMaxEntries", &kReportMaxEntries, CALL(ReportRecord, SetMaxEntries(0)), 0, "",
     "<MaxEntries>100</MaxEntries>", "<MaxEntries>0</MaxEntries>", std::nullopt},
    {"SetResource", &kReportResourceName, CALL(ReportRecord, SetResource("r")), "r", "",
     "<Resource Name=\"old r\"/>", "<Resource Name=\"r\"/>", std::nullopt},
    {"SetTarget", &kReportTargetName, CALL(ReportRecord, SetTarget("t")), "t", "",
     "<Target Name=\"old t\"/>", "<Target Name=\"t\"/>", std::nullopt},
    {"SetInstMonitor", &kReportInstMonitor, CALL(ReportRecord, SetInstMonitor(1)), 1,
     "<Instances Monitor=\"average\"/>", "Monitor=\"any\"", "Monitor=\"average\"", 2},
    {"SetInstIndexes", &kReportInstIndexes, CALL(ReportRecord, SetInstIndexes("3")), "3",
     "<Instances>\r\n<Indexes>3</Indexes>\r\n</Instances>", "<Indexes>old i</Indexes>",
     "<Indexes>3</Indexes>", std::nullopt},
    {"SetInstNamePatterns", &kReportInstPatterns, CALL(ReportRecord, SetInstNamePatterns("x")), "x",
     "<Instances>\r\n<Names>x</Names>\r\n</Instances>", "<Names>old p</Names>", "<Names>x</Names>",
     std::nullopt},
    // ReportSet
    {"SetDescription", &kReportSetDescription, CALL(ReportSetRecord, SetDescription("d")), "d", "",
     "<Description>old d</Description>", "<Description>d</Description>", std::nullopt},
    {"SetStartTime", &kReportSetStartTime, CALL(ReportSetRecord, SetStartTime(0)), 0, "",
     "<StartTime>01:00</StartTime>", "<StartTime>00:00</StartTime>", std::nullopt},
    {"SetStopTime", &kReportSetStopTime, CALL(ReportSetRecord, SetStopTime(1439)), 1439, "",
     "<StopTime>02:00</StopTime>", "<StopTime>23:59</StopTime>", std::nullopt},
    {"SetRecordingEndTime", &kReportSetRecordingEnd,
     CALL(ReportSetRecord, SetRecordingEndTime(kNewYearUtc)), kNewYearUtc, "",
     "<RecordingEnd>01/02/2003</RecordingEnd>", "<RecordingEnd>01/01/2007</RecordingEnd>",
     kNewYearNoonNewYork},
    {"SetStatus", &kReportSetStatus, CALL(ReportSetRecord, SetStatus(false)), 0, "",
     "<Status>enable</Status>", "<Status>disable</Status>", 2},
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
    return open + ">\r\n" + (c.added.empty() ? c.by : c.added) + "\r\n</" +
           std::string(c.item->record) + ">\r\n";
  }
  static std::string ExpectedOnFull(const SetterCase& c) {
    std::string text = FullRecord(c.item->record);
    const size_t at = text.find(c.replaced);
    EXPECT_NE(at, std::string::npos) << c.replaced;
    EXPECT_EQ(text.find(c.replaced, at + 1), std::string::npos) << "ambiguous: " << c.replaced;
    if (at != std::string::npos) text.replace(at, c.replaced.size(), c.by);
    return text;
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

TEST_P(RecordSetterTest, RecordHoldingTheItemHasItReplacedInPlace) {
  const SetterCase& c = GetParam();
  RecordDocument doc;
  doc.LoadText(FullRecord(c.item->record));
  ASSERT_TRUE(c.call(doc));
  EXPECT_EQ(doc.DocumentText(), ExpectedOnFull(c));
  ExpectReadsBack(doc, c);
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
