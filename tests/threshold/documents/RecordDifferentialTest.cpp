// Random sequences of setters checked against an independent XML parser: after
// every step the record parses cleanly elsewhere, and every item reads the
// same through the record as through that parser's tree.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "TimeZone.h"
#include "threshold/documents/Records.h"

namespace {

using records::RecordItem;

// The item as the other parser sees it, with the same path rules: first
// element of each name, attribute value or the text of an element without
// element children, and the upper bound read only beside a lower one.
std::string OracleText(const pugi::xml_document& doc, const RecordItem& item) {
  pugi::xml_node node = doc.child(std::string(item.record).c_str());
  if (node && !item.child.empty()) node = node.child(std::string(item.child).c_str());
  if (node && !item.grandchild.empty()) node = node.child(std::string(item.grandchild).c_str());
  if (!node) return "";
  if (!item.only_with.empty() &&
      std::string(node.attribute(std::string(item.only_with).c_str()).value()).empty()) {
    return "";
  }
  if (!item.attribute.empty()) return node.attribute(std::string(item.attribute).c_str()).value();
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) return "";
  }
  return node.child_value();
}

constexpr std::string_view kTags[] = {"Rule",   "RuleSet", "Event",    "Resource",
                                      "Target", "Report",  "ReportSet"};
// No whitespace-only texts: the other parser drops those by default.
const std::string kTexts[] = {"", "x", "a b", "<&>\"'", "read-only", "disable", "7:5", "C:\\*"};
constexpr int64_t kValues[] = {-1, 0, 1, 2, 3, 4, 10, 11, 1440, 1441, 2147483647, 1167616800};

TEST(RecordDifferentialTest, RandomSetterSequencesAgreeWithAnIndependentParser) {
  records_test::ScopedTimeZone zone(records_test::kBerlin);
  std::mt19937 random(20061020);
  for (int sequence = 0; sequence < 300; ++sequence) {
    const std::string_view tag = kTags[random() % std::size(kTags)];
    std::vector<const RecordItem*> items;
    for (const RecordItem* item : records::AllItems()) {
      if (item->record == tag) items.push_back(item);
    }
    RecordDocument record(tag, "n" + std::to_string(sequence));
    for (int step = 0; step < 25; ++step) {
      const RecordItem& item = *items[random() % items.size()];
      const std::string before = record.DocumentText();
      bool written;
      if (random() % 2 == 0) {
        const std::string& text = kTexts[random() % std::size(kTexts)];
        written = record.SetItemText(item, text);
        if (written && item.only_with.empty()) {
          ASSERT_EQ(record.ItemText(item), text) << before;
        }
      } else {
        written = record.SetItemValue(item, kValues[random() % std::size(kValues)]);
      }
      if (random() % 8 == 0) {
        records::RuleSetRecord(record).AddMember(kTexts[random() % std::size(kTexts)]);
        records::ReportSetRecord(record).RemoveMember(kTexts[random() % std::size(kTexts)]);
      }

      pugi::xml_document oracle;
      const pugi::xml_parse_result parsed = oracle.load_string(record.DocumentText().c_str());
      ASSERT_TRUE(parsed) << parsed.description() << "\n" << record.DocumentText();
      ASSERT_TRUE(record.CheckWellFormed()) << record.DocumentText();
      for (const RecordItem* other : items) {
        ASSERT_EQ(record.ItemText(*other), OracleText(oracle, *other))
            << other->record << "/" << other->child << "/" << other->grandchild << "["
            << other->attribute << "] after " << (written ? "writing " : "refusing ") << item.setter
            << " in\n"
            << record.DocumentText();
      }
      if (tag == "RuleSet" || tag == "ReportSet") {
        std::vector<std::string> names;
        const char* member = tag == "RuleSet" ? "Rule" : "Report";
        for (pugi::xml_node m : oracle.child(std::string(tag).c_str()).children(member)) {
          names.emplace_back(m.attribute("Name").value());
        }
        ASSERT_EQ(records::SetRecordView(record, tag, member).MemberNames(), names);
      }
    }
  }
}

}  // namespace
