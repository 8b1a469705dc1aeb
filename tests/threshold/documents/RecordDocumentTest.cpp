// Records: setters that refuse a value and member lists; column values are read
// in the fixture test, items sharing an element written in the SET tables.
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

// Setters that refuse their value leave a record that already holds the item
// as it was; setters and member routines refuse a record of another kind.
// Enumeration codes a SET can carry are refused through the agent's SET tables.
TEST(RecordRefusedValueTest, RefusedValueWritesNothing) {
  const std::tuple<const RecordItem*, int64_t> cases[] = {
      {&kRuleOperator, int64_t{1} << 32},
      {&kRuleSetStartTime, 1441},
      {&kReportSetStopTime, -1},
      {&kReportSetRecordingEnd, 0},
      {&kRulePollInterval, int64_t{1} << 31},
      {&kRuleAccess, 1},
      {&kRuleDescription, 1},
  };
  for (const auto& [item, value] : cases) {
    for (const bool holding : {false, true}) {
      RecordDocument doc(item->record, "n");
      if (holding) {
        ASSERT_TRUE(doc.SetItemText(*item, "kept"));
      }
      const std::string before = doc.DocumentText();
      EXPECT_FALSE(doc.SetItemValue(*item, value)) << item->setter << " " << value;
      EXPECT_EQ(doc.DocumentText(), before) << item->setter << " " << value;
    }
  }
  RecordDocument other("Other", "n");
  EXPECT_FALSE(RuleRecord(other).SetDescription("d"));
  EXPECT_FALSE(RuleSetRecord(other).AddMember("x"));
  EXPECT_FALSE(RuleSetRecord(other).RemoveMember("x"));
  EXPECT_EQ(other.DocumentText(), "<Other Name=\"n\"/>\r\n");
}

TEST(RecordMemberTest, MembersAreReadByIndexAndRemovedFirstOfTheirName) {
  RecordDocument doc = Load(
      "<RuleSet Name=\"s\"><Rule Name=\"a\"/><Description>d</Description><RuleSet Name=\"x\"/>"
      "<Rule Name=\"b\"/><Rule/></RuleSet>");
  RuleSetRecord rule_set(doc);
  EXPECT_EQ(rule_set.MemberName(2), "");  // present without a name
  EXPECT_EQ(rule_set.MemberName(3), std::nullopt);
  EXPECT_EQ(rule_set.MemberName(-1), std::nullopt);
  EXPECT_EQ(rule_set.MemberNames(), (std::vector<std::string>{"a", "b", ""}));

  doc = Load(
      "<RuleSet Name=\"s\">\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"/>\r\n<Rule Name=\"a\"/>\r\n"
      "</RuleSet>");
  RuleSetRecord set(doc);
  EXPECT_TRUE(set.RemoveMember("a"));
  EXPECT_EQ(doc.DocumentText(),
            "<RuleSet Name=\"s\">\r\n<Rule Name=\"b\"/>\r\n<Rule Name=\"a\"/>\r\n</RuleSet>");
  EXPECT_FALSE(set.RemoveMember("zz"));
  EXPECT_FALSE(set.RemoveMember("s"));  // the set's own name is no member
}

}  // namespace
