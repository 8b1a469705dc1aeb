// Configuration tables: iterating records with its stop rule, the Modified
// stamp, resetting, finding a record by its attributes and merging a record
// in place or at the end; the lock under concurrent merging and reading.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/Records.h"

namespace {

std::vector<std::string> Names(ConfigDocument& table, std::string_view tag) {
  std::vector<std::string> names;
  RecordDocument record;
  for (bool more = table.FindFirstRecord(tag, &record); more;
       more = table.FindNextRecord(tag, &record)) {
    names.push_back(record.ItemText(records::RecordItem{.record = tag, .attribute = "Name"}));
  }
  return names;
}

// Iteration skips prolog and comments, does not check the root's name, matches
// record tags exactly and stops at the first record of another tag.
TEST(ConfigIterationTest, RecordsOfTheTagAreYieldedUpToAnotherTag) {
  const std::tuple<const char*, const char*, std::vector<std::string>> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- table -->\r\n<Rules>\r\n"
       "<!-- first -->\r\n<Rule Name=\"a\"/>\r\n<?pi?>\r\n<Rule Name=\"b\"/>\r\n</Rules>\r\n",
       "Rule",
       {"a", "b"}},
      {"<Anything><RuleSet Name=\"s\"/><Rule Name=\"a\"/><Rules/></Anything>", "Rule", {"a"}},
      {"<Anything><RuleSet Name=\"s\"/><Rule Name=\"a\"/><Rules/></Anything>", "RuleSet", {"s"}},
      {"<Anything><RuleSet Name=\"s\"/><Rule Name=\"a\"/><Rules/></Anything>", "Rul", {}},
  };
  for (const auto& [text, tag, names] : cases) {
    ConfigDocument table(text);
    EXPECT_EQ(Names(table, tag), names) << text << " " << tag;
  }
}

TEST(ConfigIterationTest, RecordGetsTheElementsMarkupWithItsTrailingLineBreak) {
  ConfigDocument table(
      "<Rules>\r\n<Rule Name=\"a\">\r\n<Interval>5</Interval>\r\n</Rule>\r\n</Rules>");
  RecordDocument record;
  ASSERT_TRUE(table.FindFirstRecord("Rule", &record));
  EXPECT_EQ(record.DocumentText(), "<Rule Name=\"a\">\r\n<Interval>5</Interval>\r\n</Rule>\r\n");
  EXPECT_EQ(records::RuleRecord(record).PollInterval(), 5);
  EXPECT_FALSE(table.FindNextRecord("Rule", &record));
  EXPECT_EQ(records::RuleRecord(record).Name(), "a");  // untouched by the failed step
}

TEST(ConfigIterationTest, NoMatchingRecordLeavesTheRecordUntouched) {
  RecordDocument record("Rule", "keep");
  for (const char* text : {"", "<Rules/>", "<Rules><Event/></Rules>", "not xml", "<Rule/>"}) {
    ConfigDocument table(text);
    EXPECT_FALSE(table.FindFirstRecord("Rule", &record)) << text;
    EXPECT_EQ(record.DocumentText(), "<Rule Name=\"keep\"/>\r\n");
  }
}

TEST(ConfigModifiedTest, MissingEmptyOrUnparsableStampIsZero) {
  for (const char* text : {"<Rules/>", "<Rules Modified=\"\"/>", "<Rules Modified=\"today\"/>",
                           "<Rules Modified=\"10/20/2006\"/>", ""}) {
    ConfigDocument table(text);
    EXPECT_EQ(table.ModifiedTime(), 0) << text;
  }
}

TEST(ConfigModifiedTest, ReadingTheStampKeepsAnIterationGoing) {
  ConfigDocument table(
      "<Rules Modified=\"1/1/2000 0:0:0\"><Rule Name=\"a\"/><Rule Name=\"b\"/></Rules>");
  RecordDocument record;
  ASSERT_TRUE(table.FindFirstRecord("Rule", &record));
  EXPECT_NE(table.ModifiedTime(), 0);
  ASSERT_TRUE(table.FindNextRecord("Rule", &record));
  EXPECT_EQ(records::RuleRecord(record).Name(), "b");
}

TEST(ConfigResetTest, TagThatCannotNameTheRootIsReported) {
  ConfigDocument table;
  EXPECT_FALSE(table.ResetDocument(""));
  EXPECT_FALSE(table.ResetDocument("a b"));
  EXPECT_FALSE(table.ResetDocument("a>"));
}

const char kTable[] =
    "<Rules>\r\n"
    "<Rule Name=\"a\"/>\r\n"
    "<Rule Name=\"x\">\r\n<Description>old</Description>\r\n</Rule>\r\n"
    "<RuleSet Name=\"x\"/>\r\n"
    "<Rule Name=\"b\" Kind=\"k\"/>\r\n"
    "</Rules>\r\n";

TEST(ConfigMatchTest, MatchHasEveryAttributeOfTheRecord) {
  ConfigDocument table(kTable);
  RecordDocument record("Rule", "x");
  ASSERT_TRUE(table.FindMatchingRecord(record));
  EXPECT_EQ(table.TagName(), "Rule");
  EXPECT_EQ(table.ElementAttribute("Name"), "x");
  EXPECT_EQ(table.ElementText(), "");  // the one with the description child

  RecordDocument kinded;
  kinded.LoadText("<Rule Name=\"b\" Kind=\"k\"/>");
  ASSERT_TRUE(table.FindMatchingRecord(kinded));
  EXPECT_EQ(table.ElementAttribute("Name"), "b");
  kinded.LoadText("<Rule Name=\"b\" Kind=\"other\"/>");
  EXPECT_FALSE(table.FindMatchingRecord(kinded));
}

TEST(ConfigMatchTest, MissingAttributeComparesAsEmptyText) {
  ConfigDocument table(kTable);
  RecordDocument record;
  record.LoadText("<Rule Name=\"a\" Kind=\"\"/>");
  ASSERT_TRUE(table.FindMatchingRecord(record));
  EXPECT_EQ(table.ElementAttribute("Name"), "a");
}

TEST(ConfigMatchTest, RecordWithoutAttributesMatchesNothing) {
  ConfigDocument table("<Rules><Rule/></Rules>");
  RecordDocument record("Rule");
  EXPECT_FALSE(table.FindMatchingRecord(record));
  RecordDocument empty;
  EXPECT_FALSE(table.FindMatchingRecord(empty));
}

TEST(ConfigMatchTest, FailedSearchKeepsBothPositions) {
  ConfigDocument table(kTable);
  table.NextElement();
  table.NextChildElement("RuleSet");
  RecordDocument record("Rule", "none");
  record.NextElement();
  EXPECT_FALSE(table.FindMatchingRecord(record));
  EXPECT_EQ(table.TagName(), "Rules");
  EXPECT_EQ(table.ChildTagName(), "RuleSet");
  EXPECT_EQ(record.TagName(), "Rule");
}

TEST(ConfigMergeTest, MatchingRecordIsReplacedInPlace) {
  ConfigDocument table(kTable);
  RecordDocument record("Rule", "x");
  records::RuleRecord rule(record);
  ASSERT_TRUE(rule.SetDescription("new"));
  ASSERT_TRUE(table.MergeRecord(record));
  EXPECT_EQ(table.DocumentText(),
            "<Rules>\r\n"
            "<Rule Name=\"a\"/>\r\n"
            "<Rule Name=\"x\">\r\n<Description>new</Description>\r\n</Rule>\r\n"
            "<RuleSet Name=\"x\"/>\r\n"
            "<Rule Name=\"b\" Kind=\"k\"/>\r\n"
            "</Rules>\r\n");
  EXPECT_TRUE(table.CheckWellFormed());
  EXPECT_EQ(Names(table, "Rule"), (std::vector<std::string>{"a", "x"}));
}

TEST(ConfigMergeTest, RecordWithoutMatchIsAppendedAsTheLastChild) {
  ConfigDocument table(kTable);
  RecordDocument record("Rule", "y");
  ASSERT_TRUE(table.MergeRecord(record));
  EXPECT_EQ(table.DocumentText(),
            std::string(kTable).insert(std::string(kTable).size() - 10, "<Rule Name=\"y\"/>\r\n"));
}

TEST(ConfigMergeTest, MalformedOrMissingRecordChangesNothing) {
  ConfigDocument table(kTable);
  RecordDocument broken;
  broken.LoadText("<Rule Name=\"x\"><Description>d</Rule>");
  EXPECT_FALSE(table.MergeRecord(broken));
  RecordDocument empty;
  EXPECT_FALSE(table.MergeRecord(empty));
  EXPECT_EQ(table.DocumentText(), kTable);
}

TEST(ConfigMergeTest, TableWithoutRootRefusesTheRecord) {
  ConfigDocument table;
  RecordDocument record("Rule", "x");
  EXPECT_FALSE(table.MergeRecord(record));
  EXPECT_EQ(table.DocumentText(), "");
}

TEST(ConfigMergeTest, CallersPositionSurvivesWhereItsElementDoes) {
  ConfigDocument table(kTable);
  table.NextElement();
  table.NextChildElement("Rule");  // a
  RecordDocument record("Rule", "x");
  ASSERT_TRUE(table.MergeRecord(record));
  EXPECT_EQ(table.ChildElementAttribute("Name"), "a");

  table.ResetPosition();
  table.NextElement();
  table.EnterElement();
  table.NextElement("Rule");
  table.NextElement("Rule");  // x, about to be replaced
  ASSERT_TRUE(table.MergeRecord(record));
  EXPECT_EQ(table.TagName(), "");  // reset: the element is gone
}

// Readers iterate under the lock while writers merge new records.
TEST(ConfigConcurrencyTest, MergingWhileIteratingUnderTheLockKeepsTheTableWhole) {
  ConfigDocument table("<Rules/>");
  constexpr int kWriters = 2;
  constexpr int kRecordsEach = 40;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&table, w] {
      for (int i = 0; i < kRecordsEach; ++i) {
        RecordDocument record("Rule", "w" + std::to_string(w) + "-" + std::to_string(i));
        records::RuleRecord(record).SetPollInterval(i + 1);
        table.MergeRecord(record);
        table.MergeRecord(record);  // the second merge replaces the first
      }
    });
  }
  threads.emplace_back([&table] {
    for (int round = 0; round < 40; ++round) {
      const auto lock = table.Lock();
      RecordDocument record;
      for (bool more = table.FindFirstRecord("Rule", &record); more;
           more = table.FindNextRecord("Rule", &record)) {
        EXPECT_GE(records::RuleRecord(record).PollInterval(), 1);
      }
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(table.CheckWellFormed());
  EXPECT_EQ(Names(table, "Rule").size(), static_cast<size_t>(kWriters * kRecordsEach));
}

}  // namespace
