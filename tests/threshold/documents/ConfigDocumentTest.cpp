// Configuration tables: iterating records with its stop rule, the Modified
// stamp, merges that change nothing, and the lock under concurrent merging and
// reading.  Finding and replacing in place is checked by the server-control
// store tests, appending by the agent's SET tables.
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

TEST(ConfigModifiedTest, MissingEmptyOrUnparsableStampIsZeroAndReadingItKeepsTheIteration) {
  for (const char* text :
       {"<Rules/>", "<Rules Modified=\"\"/>", "<Rules Modified=\"today\"/>",
        "<Rules Modified=\"10/20/2006\"/>", "<Rules Modified=\"10/20/2006 8:56\"/>", ""}) {
    ConfigDocument table(text);
    EXPECT_EQ(table.ModifiedTime(), 0) << text;
  }
  ConfigDocument table(
      "<Rules Modified=\"1/1/2000 0:0:0\"><Rule Name=\"a\"/><Rule Name=\"b\"/></Rules>");
  RecordDocument record;
  ASSERT_TRUE(table.FindFirstRecord("Rule", &record));
  EXPECT_NE(table.ModifiedTime(), 0);
  ASSERT_TRUE(table.FindNextRecord("Rule", &record));
  EXPECT_EQ(records::RuleRecord(record).Name(), "b");
}

const char kTable[] =
    "<Rules>\r\n"
    "<Rule Name=\"a\"/>\r\n"
    "<Rule Name=\"x\">\r\n<Description>old</Description>\r\n</Rule>\r\n"
    "<RuleSet Name=\"x\"/>\r\n"
    "<Rule Name=\"b\" Kind=\"k\"/>\r\n"
    "</Rules>\r\n";

TEST(ConfigMergeTest, MalformedOrMissingRecordOrRootChangesNothing) {
  ConfigDocument table(kTable);
  RecordDocument broken;
  broken.LoadText("<Rule Name=\"x\"><Description>d</Rule>");
  EXPECT_FALSE(table.MergeRecord(broken));
  RecordDocument empty;
  EXPECT_FALSE(table.MergeRecord(empty));
  EXPECT_EQ(table.DocumentText(), kTable);
  ConfigDocument rootless;
  RecordDocument record("Rule", "x");
  EXPECT_FALSE(rootless.MergeRecord(record));
  EXPECT_EQ(rootless.DocumentText(), "");
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
