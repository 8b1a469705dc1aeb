// Every setter of every record kind, table-driven: it writes what the generic
// item writer writes (whose text the agent's SET table checks column by
// column), refuses a record of another kind, and reading the item back gives
// the written value in its column encoding.  Replacing an item in place is
// checked by the differential test against an independent parser.
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
  std::function<bool(RecordDocument&)> call;  // the named setter through its view
  Value written;
  const RecordItem* item;
  std::optional<Value> column = {};  // read back in its column encoding (none: written)
};

void PrintTo(const SetterCase& c, std::ostream* os) { *os << c.item->record << "." << c.setter; }

// The setter's name, a call of it through the view and the value written.
#define S(View, Setter, value) \
#Setter, [](RecordDocument & doc) { return View(doc).Setter(value); }, Value(value)

// 1 January 2007 02:00 UTC; read back as noon (New York) of the UTC date.
constexpr int64_t kNewYearUtc = 1167616800;
constexpr int64_t kNewYearNoonNewYork = 1167670800;

const SetterCase kSetterCases[] = {
    // Rule
    {S(RuleRecord, SetDescription, "d<1>"), &kRuleDescription},
    {S(RuleRecord, SetHelpText, "h"), &kRuleHelpText},
    {S(RuleRecord, SetUserComment, "c & d"), &kRuleUserComment},
    {S(RuleRecord, SetPollInterval, 30), &kRulePollInterval},
    {S(RuleRecord, SetWatchPeriod, 0), &kRuleWatchPeriod},
    {S(RuleRecord, SetOccurenceCount, 2147483647), &kRuleOccurenceCount},
    {S(RuleRecord, SetResource, "cpu \"0\""), &kRuleResourceName},
    {S(RuleRecord, SetTarget, "t"), &kRuleTargetName},
    {S(RuleRecord, SetEvent, "e"), &kRuleEventName},
    {S(RuleRecord, SetInstMonitor, 0), &kRuleInstMonitor, 1},
    {S(RuleRecord, SetInstIndexes, "1,2"), &kRuleInstIndexes},
    {S(RuleRecord, SetInstNamePatterns, "C:*"), &kRuleInstPatterns},
    {S(RuleRecord, SetValueType, 3), &kRuleValueType, 4},
    {S(RuleRecord, SetRuleValuation, 2), &kRuleValuation, 3},
    {S(RuleRecord, SetOperator, 4), &kRuleOperator, 5},
    {S(RuleRecord, SetThresholdValue, -5), &kRuleThresholdValue},
    {S(RuleRecord, SetRangeMinValue, -2147483647 - 1), &kRuleRangeMinValue},
    {S(RuleRecord, SetRangeMaxValue, 99), &kRuleRangeMaxValue},
    {S(RuleRecord, SetEventControl, 2), &kRuleEventControl, 3},
    {S(RuleRecord, SetEventDelay, 60), &kRuleEventDelay},
    {S(RuleRecord, SetEventAlternating, 0), &kRuleEventAlternating, 1},
    {S(RuleRecord, SetPerformanceStatusSeverity, 4), &kRulePerfStatusSeverity, 5},
    // RuleSet
    {S(RuleSetRecord, SetDescription, "d"), &kRuleSetDescription},
    {S(RuleSetRecord, SetStartTime, 425), &kRuleSetStartTime},
    {S(RuleSetRecord, SetStopTime, 1440), &kRuleSetStopTime},
    {S(RuleSetRecord, SetStatus, true), &kRuleSetStatus},
    // Event
    {S(EventRecord, SetType, 0), &kEventType, 1},
    {S(EventRecord, SetSeverity, 1), &kEventSeverity, 2},
    // Resource
    {S(ResourceRecord, SetDescription, "d"), &kResourceDescription},
    {S(ResourceRecord, SetHelpText, ""), &kResourceHelpText},
    {S(ResourceRecord, SetReqType, 2), &kResourceReqType, 3},
    {S(ResourceRecord, SetReqString, "1.3.6"), &kResourceReqString},
    {S(ResourceRecord, SetUnitString, "%"), &kResourceValueUnit},
    {S(ResourceRecord, SetContainerNameString, "c"), &kResourceContainerName},
    {S(ResourceRecord, SetGroupName, "g"), &kResourceGroupName},
    {S(ResourceRecord, SetInstNameReq, "i"), &kResourceInstNameReq},
    // Target: the element's own text
    {S(TargetRecord, SetAddress, "10.0.0.1"), &kTargetAddress},
    // Report
    {S(ReportRecord, SetDescription, "d"), &kReportDescription},
    {S(ReportRecord, SetHelpText, "h"), &kReportHelpText},
    {S(ReportRecord, SetUserComment, "c"), &kReportUserComment},
    {S(ReportRecord, SetPollInterval, 1), &kReportPollInterval},
    {S(ReportRecord, SetMaxEntries, 0), &kReportMaxEntries},
    {S(ReportRecord, SetResource, "r"), &kReportResourceName},
    {S(ReportRecord, SetTarget, "t"), &kReportTargetName},
    {S(ReportRecord, SetInstMonitor, 1), &kReportInstMonitor, 2},
    {S(ReportRecord, SetInstIndexes, "3"), &kReportInstIndexes},
    {S(ReportRecord, SetInstNamePatterns, "x"), &kReportInstPatterns},
    // ReportSet
    {S(ReportSetRecord, SetDescription, "d"), &kReportSetDescription},
    {S(ReportSetRecord, SetStartTime, 0), &kReportSetStartTime},
    {S(ReportSetRecord, SetStopTime, 1439), &kReportSetStopTime},
    {S(ReportSetRecord, SetRecordingEndTime, kNewYearUtc), &kReportSetRecordingEnd,
     kNewYearNoonNewYork},
    {S(ReportSetRecord, SetStatus, false), &kReportSetStatus, 2},
};

#undef S

class RecordSetterTest : public testing::TestWithParam<SetterCase> {
 protected:
  // The recording end is written as a UTC date and read back as local noon;
  // New York puts the two on different days for the time used above.
  records_test::ScopedTimeZone zone_{records_test::kNewYork};
};

TEST_P(RecordSetterTest, WritesAsTheItemWriterReadsBackAndLeavesOtherKindsAlone) {
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
  EXPECT_NE(named.DocumentText(), RecordDocument(c.item->record, "n").DocumentText());
  EXPECT_TRUE(named.CheckWellFormed());
  // An upper bound without a lower one is not read.
  if (c.item->only_with.empty()) {
    const Value column = c.column.value_or(c.written);
    if (const auto* text = std::get_if<std::string>(&column)) {
      EXPECT_EQ(named.ItemText(*c.item), *text);
    } else {
      EXPECT_EQ(named.ColumnValue(*c.item), std::get<int64_t>(column));
    }
  }
  RecordDocument other("Other", "n");
  EXPECT_FALSE(c.call(other));
  EXPECT_EQ(other.DocumentText(), "<Other Name=\"n\"/>\r\n");
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
