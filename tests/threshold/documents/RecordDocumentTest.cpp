// Reading records: defaults for missing items, the range rule, member lists;
// setters that refuse a value; the threshold event; and the caller's position
// surviving every routine.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "threshold/documents/Records.h"

namespace {

using namespace records;  // NOLINT(google-build-using-namespace)

RecordDocument Load(std::string_view text) {
  RecordDocument doc;
  doc.LoadText(text);
  return doc;
}

TEST(RecordCreationTest, NewRecordHoldsOnlyItsRootWithTheName) {
  EXPECT_EQ(RecordDocument("Rule").DocumentText(), "<Rule/>\r\n");
  EXPECT_EQ(RecordDocument("Rule", "a&b").DocumentText(), "<Rule Name=\"a&amp;b\"/>\r\n");
  RecordDocument doc("ReportSet", "r");
  EXPECT_EQ(doc.RecordTag(), "ReportSet");
  EXPECT_EQ(ReportSetRecord(doc).Name(), "r");
}

// Column values the walk of the fixtures does not reach: a missing event
// keyword, a lower bound of zero or no number, keywords in the wrong case.
TEST(RecordColumnTest, ColumnValuesWithTheirDefaultsAndFallbacks) {
  const std::tuple<const char*, const RecordItem*, int64_t> cases[] = {
      {"<Event/>", &kEventType, 0},
      {"<Event/>", &kEventSeverity, 0},
      {"<Rule><Threshold RangeMin=\"0\" RangeMax=\"9\"/></Rule>", &kRuleRangeMaxValue, 9},
      {"<Rule><Threshold RangeMin=\"x\" RangeMax=\"9\"/></Rule>", &kRuleRangeMaxValue, 9},
      {"<Rule><Event Alternating=\"True\"/></Rule>", &kRuleEventAlternating, 1},
      {"<RuleSet><Status>Disable</Status></RuleSet>", &kRuleSetStatus, 1},
      {"<Event><Access>Read-Only</Access></Event>", &kEventAccess, 2},
  };
  for (const auto& [text, item, value] : cases) {
    EXPECT_EQ(Load(text).ColumnValue(*item), value) << text << " " << item->setter;
  }
}

// The named readers give codes and numbers, with their defaults.
TEST(RecordDefaultsTest, NamedReadersOfEmptyRecordsGiveTheDefaults) {
  RecordDocument doc("Rule");
  RuleRecord rule(doc);
  EXPECT_EQ(rule.Name(), "");
  EXPECT_EQ(rule.Description(), "");
  EXPECT_EQ(rule.PollInterval(), 1);
  EXPECT_EQ(rule.WatchPeriod() + rule.OccurenceCount() + rule.ThresholdValue(), 0);
  EXPECT_EQ(rule.RangeMinValue() + rule.RangeMaxValue() + rule.EventDelay() + rule.Operator(), 0);
  EXPECT_EQ(rule.EventControl(), 1);
  EXPECT_EQ(rule.EventAlternating(), 0);
  EXPECT_FALSE(rule.ReadOnly());
  RecordDocument rule_set_doc("RuleSet");
  RuleSetRecord rule_set(rule_set_doc);
  EXPECT_EQ(rule_set.StartTime(), -1);
  EXPECT_EQ(rule_set.StopTime(), -1);
  EXPECT_TRUE(rule_set.Enabled());
  EXPECT_EQ(rule_set.MemberName(0), std::nullopt);
  RecordDocument report_set_doc("ReportSet");
  ReportSetRecord report_set(report_set_doc);
  EXPECT_EQ(report_set.StartTime(), -1);
  EXPECT_EQ(report_set.RecordingEnd(), 0);
  EXPECT_EQ(ReportRecord(report_set_doc).PollInterval(), 1);  // wrong kind: defaults too
  RecordDocument event_doc("Event");
  EXPECT_EQ(EventRecord(event_doc).Type(), kNoCode);
  EXPECT_EQ(EventRecord(event_doc).Severity(), kNoCode);
  // An element's default applies only when the element is missing.
  doc = Load("<Rule><Interval/><WatchPeriod> 30s</WatchPeriod></Rule>");
  EXPECT_EQ(RuleRecord(doc).PollInterval(), 0);
  EXPECT_EQ(RuleRecord(doc).WatchPeriod(), 30);
  doc = Load("<Report><Interval>abc</Interval></Report>");
  EXPECT_EQ(ReportRecord(doc).PollInterval(), 0);
  // An empty schedule attribute reads unset, a malformed one zero.
  doc = Load("<RuleSet><Schedule Start=\"\" Stop=\"x\"/></RuleSet>");
  EXPECT_EQ(RuleSetRecord(doc).StartTime(), -1);
  EXPECT_EQ(RuleSetRecord(doc).StopTime(), 0);
}

TEST(RecordPathTest, FirstElementOfEachNameIsTheOneReadAndWritten) {
  RecordDocument doc =
      Load("<Rule><Description>a</Description><Description>b</Description></Rule>");
  EXPECT_EQ(RuleRecord(doc).Description(), "a");
  RuleRecord rule(doc);
  ASSERT_TRUE(rule.SetDescription("c"));
  EXPECT_EQ(doc.DocumentText(),
            "<Rule><Description>c</Description><Description>b</Description></Rule>");
}

TEST(RecordPathTest, TagNamesMatchExactly) {
  RecordDocument doc = Load("<Rules><Rule><Descriptions>x</Descriptions></Rule></Rules>");
  EXPECT_EQ(RuleRecord(doc).Description(), "");  // the root is "Rules", not "Rule"
  doc = Load("<Rule><Descriptions>x</Descriptions></Rule>");
  EXPECT_EQ(RuleRecord(doc).Description(), "");
}

TEST(RecordPathTest, TextOfAnElementWithChildElementsCannotBeSet) {
  RecordDocument doc = Load("<Rule><Description><b/></Description></Rule>");
  const std::string before = doc.DocumentText();
  RuleRecord rule(doc);
  EXPECT_FALSE(rule.SetDescription("x"));
  EXPECT_EQ(doc.DocumentText(), before);
}

TEST(RecordPathTest, ExistingTextSurvivesAnAttributeAndViceVersa) {
  RecordDocument doc("Resource", "r");
  ResourceRecord resource(doc);
  ASSERT_TRUE(resource.SetReqString("q"));
  ASSERT_TRUE(resource.SetReqType(1));
  EXPECT_EQ(doc.DocumentText(),
            "<Resource Name=\"r\">\r\n<Request Type=\"snmp\">q</Request>\r\n</Resource>\r\n");
  EXPECT_EQ(resource.ReqString(), "q");
  EXPECT_EQ(resource.ReqType(), 1);
}

TEST(RecordPathTest, ItemsOfOneElementShareIt) {
  RecordDocument doc("Rule", "r");
  RuleRecord rule(doc);
  ASSERT_TRUE(rule.SetOperator(6));
  ASSERT_TRUE(rule.SetRangeMinValue(1));
  ASSERT_TRUE(rule.SetRangeMaxValue(5));
  ASSERT_TRUE(rule.SetInstIndexes("1"));
  ASSERT_TRUE(rule.SetInstNamePatterns("p"));
  ASSERT_TRUE(rule.SetInstMonitor(1));
  EXPECT_EQ(doc.DocumentText(),
            "<Rule Name=\"r\">\r\n"
            "<Threshold Operator=\"within-range\" RangeMin=\"1\" RangeMax=\"5\"/>\r\n"
            "<Instances Monitor=\"average\">\r\n<Indexes>1</Indexes>\r\n<Names>p</Names>\r\n"
            "</Instances>\r\n"
            "</Rule>\r\n");
  EXPECT_EQ(rule.RangeMaxValue(), 5);
}

// Setters that refuse their value leave the record as it was.
struct RefusedCase {
  const RecordItem* item;
  int64_t value;
};

class RecordRefusedValueTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RecordRefusedValueTest, RefusedValueWritesNothing) {
  const RefusedCase& c = GetParam();
  for (const bool holding : {false, true}) {
    RecordDocument doc(c.item->record, "n");
    if (holding) {
      ASSERT_TRUE(doc.SetItemText(*c.item, "kept"));
    }
    const std::string before = doc.DocumentText();
    EXPECT_FALSE(doc.SetItemValue(*c.item, c.value)) << c.item->setter << " " << c.value;
    EXPECT_EQ(doc.DocumentText(), before) << c.item->setter << " " << c.value;
  }
}

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, RecordRefusedValueTest,
    testing::Values(RefusedCase{&kRuleInstMonitor, 2}, RefusedCase{&kRuleInstMonitor, -1},
                    RefusedCase{&kRuleValueType, 4}, RefusedCase{&kRuleValuation, 3},
                    RefusedCase{&kRuleOperator, 11}, RefusedCase{&kRuleOperator, -1},
                    RefusedCase{&kRuleOperator, int64_t{1} << 32},
                    RefusedCase{&kRuleEventControl, 3}, RefusedCase{&kRuleEventAlternating, 2},
                    RefusedCase{&kRulePerfStatusSeverity, 5}, RefusedCase{&kResourceReqType, 3},
                    RefusedCase{&kReportInstMonitor, 2}, RefusedCase{&kRuleSetStartTime, 1441},
                    RefusedCase{&kRuleSetStopTime, -1}, RefusedCase{&kReportSetStartTime, -1},
                    RefusedCase{&kReportSetStopTime, 1441}, RefusedCase{&kReportSetRecordingEnd, 0},
                    RefusedCase{&kRulePollInterval, int64_t{1} << 31}, RefusedCase{&kRuleAccess, 1},
                    RefusedCase{&kRuleDescription, 1}));

// Members
TEST(RecordMemberTest, MembersAreReadByIndexInDocumentOrder) {
  RecordDocument doc = Load(
      "<RuleSet Name=\"s\"><Rule Name=\"a\"/><Description>d</Description><RuleSet Name=\"x\"/>"
      "<Rule Name=\"b\"/><Rule/></RuleSet>");
  RuleSetRecord rule_set(doc);
  EXPECT_EQ(rule_set.MemberName(0), "a");
  EXPECT_EQ(rule_set.MemberName(1), "b");
  EXPECT_EQ(rule_set.MemberName(2), "");  // present without a name
  EXPECT_EQ(rule_set.MemberName(3), std::nullopt);
  EXPECT_EQ(rule_set.MemberName(-1), std::nullopt);
  EXPECT_EQ(rule_set.MemberNames(), (std::vector<std::string>{"a", "b", ""}));
}

TEST(RecordMemberTest, RemoveMemberRemovesTheFirstOfThatNameOnly) {
  RecordDocument doc = Load(
      "<RuleSet Name=\"s\">\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"/>\r\n<Rule Name=\"a\"/>\r\n"
      "</RuleSet>");
  RuleSetRecord rule_set(doc);
  EXPECT_TRUE(rule_set.RemoveMember("a"));
  EXPECT_EQ(doc.DocumentText(),
            "<RuleSet Name=\"s\">\r\n<Rule Name=\"b\"/>\r\n<Rule Name=\"a\"/>\r\n</RuleSet>");
  EXPECT_FALSE(rule_set.RemoveMember("zz"));
  EXPECT_FALSE(rule_set.RemoveMember("s"));  // the set's own name is no member
  EXPECT_EQ(rule_set.MemberNames(), (std::vector<std::string>{"b", "a"}));
}

TEST(ThresholdRecordTest, EventDataWithoutEventGivesAnEmptyEventRecord) {
  RecordDocument doc = Load("<Threshold><Rule Name=\"cpu\"/></Threshold>");
  RecordDocument event_doc("Event", "stale");
  ThresholdRecord(doc).CopyEvent(&event_doc);
  EXPECT_EQ(event_doc.DocumentText(), "");
  EXPECT_EQ(EventRecord(event_doc).Type(), kNoCode);
  EXPECT_EQ(ThresholdRecord(doc).Value(), 0);
  EXPECT_EQ(ThresholdRecord(doc).RuleComment(), "");
}

// Position: every reader and setter leaves the caller where it was.
struct Position {
  std::string tag, child_tag, name;
  bool operator==(const Position&) const = default;
};

Position Where(RecordDocument& doc) {
  return {doc.TagName(), doc.ChildTagName(), doc.ChildElementAttribute("Name")};
}

const char kPositionRecord[] =
    "<Rule Name=\"r\"><Description>d</Description><Threshold Operator=\"less\"/>"
    "<Instances><Indexes>1</Indexes><Names>n</Names></Instances><Target Name=\"t\"/>"
    "<Event Name=\"e\"/></Rule>";

class RecordPositionTest : public testing::TestWithParam<const RecordItem*> {
 protected:
  // Parent Rule, current element Instances, current child Names.
  static RecordDocument Positioned() {
    RecordDocument doc = Load(kPositionRecord);
    doc.NextElement("Rule");
    doc.EnterElement();
    doc.NextElement("Instances");
    doc.NextChildElement("Names");
    return doc;
  }
  static void ExpectStill(RecordDocument& doc, const Position& before) {
    EXPECT_EQ(Where(doc), before);
    // The level above survives too: leaving and moving on reaches the next element.
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.TagName(), "Rule");
    EXPECT_EQ(doc.ChildTagName(), "Instances");
    ASSERT_TRUE(doc.NextChildElement());
    EXPECT_EQ(doc.ChildTagName(), "Target");
  }
};

TEST_P(RecordPositionTest, ReadingKeepsTheCallersPosition) {
  RecordDocument doc = Positioned();
  const Position before = Where(doc);
  ASSERT_EQ(before.child_tag, "Names");
  doc.ItemText(*GetParam());
  doc.ColumnValue(*GetParam());
  ExpectStill(doc, before);
}

TEST_P(RecordPositionTest, WritingKeepsTheCallersPosition) {
  RecordDocument doc = Positioned();
  const Position before = Where(doc);
  doc.SetItemText(*GetParam(), "v");
  doc.SetItemValue(*GetParam(), 1);
  ExpectStill(doc, before);
}

INSTANTIATE_TEST_SUITE_P(EveryItem, RecordPositionTest, testing::ValuesIn(AllItems()));

TEST(RecordPositionMemberTest, MemberRoutinesKeepTheCallersPosition) {
  RecordDocument doc = Load(
      "<RuleSet Name=\"s\"><Description>d</Description><Rule Name=\"a\"/><Rule Name=\"b\"/>"
      "</RuleSet>");
  doc.NextElement();
  doc.NextChildElement("Description");
  RuleSetRecord rule_set(doc);
  rule_set.MemberName(1);
  rule_set.MemberNames();
  rule_set.AddMember("c");
  rule_set.AddMember("a");
  rule_set.RemoveMember("b");
  rule_set.RemoveMember("zz");
  EXPECT_EQ(doc.TagName(), "RuleSet");
  EXPECT_EQ(doc.ChildTagName(), "Description");
  ASSERT_TRUE(doc.NextChildElement());
  EXPECT_EQ(doc.ChildElementAttribute("Name"), "a");
}

TEST(RecordPositionMemberTest, RemovingTheCallersElementLeavesTheResetPosition) {
  RecordDocument doc = Load("<RuleSet><Rule Name=\"a\"/><Rule Name=\"b\"/></RuleSet>");
  doc.NextElement();
  doc.NextChildElement("Rule");
  RuleSetRecord rule_set(doc);
  ASSERT_TRUE(rule_set.RemoveMember("a"));
  EXPECT_EQ(doc.TagName(), "");
  ASSERT_TRUE(doc.NextElement());
  EXPECT_EQ(doc.TagName(), "RuleSet");
}

}  // namespace
