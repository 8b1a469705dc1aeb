// Start-up, table loading and the live-value callbacks of the threshold
// agent, driven through the entry points of the test library with the fake
// threshold module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;
using threshold_test::WithName;
using Bytes = std::vector<unsigned char>;

constexpr unsigned kAllCabinets = 0xFFFFFFFF;

class ThresholdAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { lib_.Load(); }

  void Start() {
    lib_.capture_trace(1);
    ASSERT_TRUE(lib_.Start());
  }

  bool HasTrace(const std::string& text, unsigned level) { return lib_.TraceLevel(text) == level; }
  bool Traced(const std::string& text, unsigned level) {
    return HasTrace(threshold_test::kAgentTrace + text, level);
  }

  // The entries of the walk below root.<relative>.
  std::vector<Oid> OidsUnder(const std::string& relative) {
    const Oid prefix = lib_.At(relative);
    std::vector<Oid> oids;
    for (const auto& entry : lib_.Walk(prefix)) {
      if (entry.oid.size() < prefix.size() ||
          !std::equal(prefix.begin(), prefix.end(), entry.oid.begin())) {
        break;
      }
      oids.push_back(entry.oid);
    }
    return oids;
  }

  ThresholdLibrary lib_;
};

TEST_F(ThresholdAgentTest, StartSendsTheProbeThenEveryTableRequestInTheFixedOrder) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const auto frames = lib_.Frames();
  std::vector<unsigned> table_codes;
  bool probe_seen = false;
  for (const auto& frame : frames) {
    if (frame.oc == 0x2200 && !probe_seen) {
      probe_seen = true;
      EXPECT_TRUE(table_codes.empty()) << "the probe comes before the tables";
      EXPECT_EQ(frame.oe, 0u);
      EXPECT_EQ(frame.oid, 0u);
      EXPECT_EQ(frame.cabid, kAllCabinets);
      EXPECT_EQ(frame.stat, 19u);
      EXPECT_TRUE(frame.data.empty());
    }
    if (frame.oc == 0xE001 && frame.oe >= 0x310 && frame.oe <= 0x321) {
      table_codes.push_back(frame.oe);
      EXPECT_EQ(frame.oid, 0u);
      EXPECT_EQ(frame.cabid, kAllCabinets);
      EXPECT_EQ(frame.stat, 22u);
      EXPECT_TRUE(frame.data.empty());
    }
  }
  EXPECT_TRUE(probe_seen);
  EXPECT_EQ(table_codes, (std::vector<unsigned>{0x311, 0x310, 0x314, 0x321, 0x320, 0x312, 0x313}));
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "1");
  EXPECT_EQ(lib_.VolatileValue("AgentLastError"), "");
  EXPECT_TRUE(
      HasTrace("\n\nLORVETH_AGENT       : ## Initialization finished - agent status = OK\n", 1));
  EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
}

TEST_F(ThresholdAgentTest, UnreachableModuleLeavesOnlyTheIdentityScalarsAndStatusFour) {
  lib_.SetReply(0x2200, "", {}, 6);
  ASSERT_NO_FATAL_FAILURE(Start());
  const auto walk = lib_.Walk();
  ASSERT_EQ(walk.size(), 4u);
  EXPECT_EQ(walk[0].oid, lib_.At("1.1.1.0"));
  for (const auto& frame : lib_.FramesOf(0xE001))
    EXPECT_GE(frame.oe, 0x3800u) << "no table request";
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "4");
  EXPECT_EQ(lib_.VolatileValue("AgentLastError"), "initialization failed");
  EXPECT_TRUE(HasTrace(
      "\n\n ## ERROR! No threshold status available - underlying module not available?!\n", 1));
  EXPECT_TRUE(HasTrace(
      "\n\nLORVETH_AGENT       : ## ERROR! Initialization of one of the MIB tables failed!", 1));
  EXPECT_TRUE(HasTrace(
      "\n\nLORVETH_AGENT       : ## Initialization finished - agent status = FAILED\n", 1));
}

TEST(ThresholdAgentVersionTest, FailedStartOfAVersionThreeAgentStillReportsStatusOne) {
  ThresholdLibrary lib("Lorveth_ThresholdTest3");
  lib.Load();
  lib.SetReply(0x2200, "", {}, 6);
  ASSERT_TRUE(lib.Start());
  EXPECT_EQ(lib.VolatileValue("AgentStatus"), "1");
  EXPECT_EQ(lib.VolatileValue("AgentLastError"), "initialization failed");
}

TEST_F(ThresholdAgentTest, FailingLoaderStopsTheLaterOnesAndKeepsTheEarlierTables) {
  lib_.set_table(0x311, "<Rules><Rule Name=\"r\"/></Rules>");
  lib_.set_table(0x310, "<RuleSets><RuleSet Name=\"s\"/></RuleSets>");
  lib_.SetReply(0xE001, "", {}, 6, 0x314);
  lib_.set_table(0x321, "<Reports><Report Name=\"p\"/></Reports>");
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.1"), "r")), "STRING r");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.3.1.1"), "s")), "STRING s");
  EXPECT_EQ(lib_.Get(lib_.At("1.3.7.0")), "error 2") << "the failed table's change scalar";
  EXPECT_EQ(lib_.Get(lib_.At("1.4.2.0")), "error 2") << "later loaders never ran";
  std::vector<unsigned> codes;
  for (const auto& frame : lib_.FramesOf(0xE001)) {
    if (frame.oe < 0x3800) codes.push_back(frame.oe);
  }
  EXPECT_EQ(codes, (std::vector<unsigned>{0x311, 0x310, 0x314}));
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "4");
  EXPECT_TRUE(
      Traced("INIT ## ERROR in InitializeEventTable! Failed to get table "
             "data from SWITCH!\n",
             1));
}

TEST_F(ThresholdAgentTest, TableAnsweredWithStatusTwelveAndNoDataIsEmptyWithChangeTimeZero) {
  lib_.SetReply(0xE001, "", {}, 12, 0x311);
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_TRUE(OidsUnder("1.3.1").empty());
  EXPECT_EQ(lib_.Get(lib_.At("1.3.2.0")), "INTEGER 0");
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "1");
  EXPECT_TRUE(Traced("INIT  --> no data for table request", 2));
}

// The parser would repair this into two events; a damaged table gives none.
TEST_F(ThresholdAgentTest, TableThatIsNotWellFormedLoadsNoRowsButItsChangeTime) {
  lib_.set_table(0x314,
                 "<Events Modified=\"1/2/2006 3:04:05\"><Event Name=\"a\"/><Event Name=\"b\">"
                 "</Events>");
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_TRUE(OidsUnder("1.3.6").empty());
  EXPECT_NE(lib_.Get(lib_.At("1.3.7.0")), "INTEGER 0");
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "1");
  EXPECT_TRUE(
      Traced("INIT ## ERROR in InitializeEventTable! Table data not well-formed: "
             "End tag 'Events' at offset 70 does not match start tag 'Event' at offset 53\n",
             1));
}

// The current value of a nameless row is not asked for.
TEST_F(ThresholdAgentTest, NamelessRuleIsIndexedByTheEmptyName) {
  lib_.set_table(0x311, "<Rules><Rule><Description>d</Description></Rule></Rules>");
  ASSERT_NO_FATAL_FAILURE(Start());
  const size_t before = lib_.frame_count();
  EXPECT_EQ(lib_.Get(lib_.At("1.3.1.1.25.0")), "STRING ");
  EXPECT_TRUE(lib_.FramesOf(0x2207, before).empty());
}

TEST_F(ThresholdAgentTest, ChangeTimeWithoutAnyModifiedAttributeReadsZero) {
  lib_.set_table(0x311, "<Rules><Rule Name=\"r\"/></Rules>");
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(lib_.Get(lib_.At("1.2.1.0")), "INTEGER 0");
  EXPECT_EQ(lib_.Get(lib_.At("1.3.2.0")), "INTEGER 0");
  EXPECT_TRUE(Traced("fGetConfigChangedTime - no configuration change time available!", 3));
}

// Live values: the module is asked with the row's name and its terminator
// (the status scalars with no data, the report sets' overall status with a
// single zero byte); its reply maps to the MIB value or falls back.
TEST_F(ThresholdAgentTest, LiveValuesAskTheModuleAndMapItsReply) {
  lib_.set_table(0x311, "<Rules><Rule Name=\"cpu\"/></Rules>");
  lib_.set_table(0x321, "<Reports><Report Name=\"r1\"/></Reports>");
  lib_.set_table(0x310, "<RuleSets><RuleSet Name=\"ab\"/></RuleSets>");
  lib_.set_table(0x320, "<ReportSets><ReportSet Name=\"rs\"/></ReportSets>");
  ASSERT_NO_FATAL_FAILURE(Start());
  const struct {
    unsigned oc;
    std::string row;
    Bytes reply;
    unsigned char status;
    const char* column;
    const char* value;
  } cases[] = {
      {0x2200, "", {0}, 0, "1.2.2.0", "INTEGER 2"},
      {0x2200, "", {2}, 0, "1.2.2.0", "INTEGER 4"},
      {0x2200, "", {3}, 0, "1.2.2.0", "INTEGER 1"},
      {0x2200, "", {1, 0}, 0, "1.2.2.0", "INTEGER 1"},
      {0x2200, "", {}, 0, "1.2.2.0", "INTEGER 1"},
      {0x2200, "", {1}, 6, "1.2.2.0", "INTEGER 1"},
      {0x2200, "", {1}, 12, "1.2.2.0", "INTEGER 3"},
      {0x2220, "", {1}, 0, "1.2.5.0", "INTEGER 2"},
      {0x2220, "", {5}, 0, "1.2.5.0", "INTEGER 1"},
      {0x2220, "", {4, 4}, 0, "1.2.5.0", "INTEGER 1"},
      {0x2220, "", {2}, 19, "1.2.5.0", "INTEGER 1"},
      {0x2210, "", {1}, 0, "1.2.3.0", "INTEGER 2"},
      {0x2207, "cpu", threshold_test::TextBytes("87%"), 0, "1.3.1.1.25", "STRING 87%"},
      {0x2207, "cpu", {}, 0, "1.3.1.1.25", "STRING "},
      {0x2214, "r1", {'1', '2'}, 0, "1.4.1.1.14", "STRING 12"},  // without terminator
      {0x2214, "r1", threshold_test::TextBytes("5"), 2, "1.4.1.1.14", "STRING "},
      // Record index bounds need exactly four bytes.
      {0x2215, "r1", {9, 0, 0, 0}, 0, "1.4.7.1.1", "INTEGER 9"},
      {0x2216, "r1", {9, 0, 0, 0}, 0, "1.4.7.1.2", "INTEGER 10"},
      {0x2215, "r1", {9, 0, 0}, 0, "1.4.7.1.1", "INTEGER 0"},
      {0x2216, "r1", {9, 0, 0, 0, 0}, 0, "1.4.7.1.2", "INTEGER 0"},
      // Set status: any byte but 0, 1 and 2 leaves the value unset.
      {0x2208, "ab", {}, 0, "1.3.3.1.5", "INTEGER 1"},
      {0x2208, "ab", {2}, 0, "1.3.3.1.5", "INTEGER 2"},
      {0x2208, "ab", {3}, 0, "1.3.3.1.5", "NULL"},
      {0x2210, "rs", {1}, 0, "1.4.3.1.6", "INTEGER 2"},
  };
  for (const auto& c : cases) {
    lib_.SetReply(c.oc, c.row, c.reply, c.status);
    const size_t before = lib_.frame_count();
    const Oid oid = c.row.empty() ? lib_.At(c.column) : WithName(lib_.At(c.column), c.row);
    EXPECT_EQ(lib_.Get(oid), c.value)
        << c.column << " status " << int{c.status} << " bytes " << c.reply.size();
    const auto frames = lib_.FramesOf(c.oc, before);
    ASSERT_EQ(frames.size(), 1u) << c.column;
    EXPECT_EQ(frames[0].stat, 19u);
    EXPECT_EQ(frames[0].cabid, kAllCabinets);
    EXPECT_EQ(frames[0].data, c.row.empty() ? (c.oc == 0x2210 ? Bytes{0} : Bytes{})
                                            : threshold_test::TextBytes(c.row));
  }
  for (const char* text :
       {"fGetResourceCurrentValue - current value of resource \"cpu\": 87%",
        "fGetReportOldestIndexInUse() = 10", "fGetReportHighestIndexInUse() = 0!",
        "fGetRulesetStatus - current status of ruleset ab = 2"}) {
    EXPECT_TRUE(Traced(text, 3)) << text;
  }
}

TEST_F(ThresholdAgentTest, RowAvailableFindsLoadedInstancesOnly) {
  lib_.set_table(0x310, "<RuleSets><RuleSet Name=\"ab\"><Rule Name=\"x\"/></RuleSet></RuleSets>");
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string root = lib_.mib_root();
  const std::string row_status = root + ".1.3.3.1.6";
  const std::string member_status = root + ".1.3.4.1.3";
  EXPECT_TRUE(lib_.row_available(row_status.c_str(), "ab", -1));
  EXPECT_FALSE(lib_.row_available(row_status.c_str(), "zz", -1));
  EXPECT_TRUE(lib_.row_available(member_status.c_str(), "ab", 1));
  EXPECT_FALSE(lib_.row_available(member_status.c_str(), "ab", 2));
  // An empty name or column is false without looking into the tree.
  lib_.capture_trace(1);
  EXPECT_FALSE(lib_.row_available(row_status.c_str(), "", -1));
  EXPECT_FALSE(lib_.row_available("", "ab", -1));
  EXPECT_TRUE(lib_.TraceLines().empty());
}

}  // namespace
