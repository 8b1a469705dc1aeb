// Change and threshold events of the fake threshold module reaching the
// agent: table refresh per table code, traps read back through
// SnmpExtensionTrap, and reloads racing with walks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;
using threshold_test::VarBinds;
using threshold_test::WithName;

class ThresholdEventsTest : public ::testing::Test {
 protected:
  void SetUp() override { lib_.Load(); }

  // A trap taken from the queue through SnmpExtensionTrap.
  struct Trap {
    bool taken = false;
    Oid enterprise;
    AsnInteger32 generic = 0;
    AsnInteger32 specific = 0;
    std::vector<std::pair<Oid, std::string>> bindings;
  };
  Trap TakeTrap() {
    Trap trap;
    AsnObjectIdentifier enterprise{0, nullptr};
    AsnTimeticks stamp = 0;
    SnmpVarBindList list{nullptr, 0};
    trap.taken = lib_.trap(&enterprise, &trap.generic, &trap.specific, &stamp, &list) != FALSE;
    trap.enterprise = Oid(enterprise.ids, enterprise.ids + enterprise.idLength);
    for (UINT i = 0; i < list.len; ++i) {
      trap.bindings.emplace_back(threshold_test::NameOf(list.list[i]),
                                 threshold_test::ValueText(list.list[i].value));
    }
    SnmpUtilOidFree(&enterprise);
    SnmpUtilVarBindListFree(&list);
    return trap;
  }

  ThresholdLibrary lib_;
};

// Per table: rows "a" (1.97) and "b" (1.98); the change deletes "a".  The set
// tables' "a" has a member, whose contents row goes with it.
TEST(TableRefreshTest, ChangeEventReloadsTheTableWithoutTheDeletedRows) {
  const struct {
    unsigned code;
    std::string container, record, deleted, kept;
  } cases[] = {
      {0x311, "Rules", "Rule", "1.3.1.1.2.1.97", "1.3.1.1.2.1.98"},
      {0x310, "RuleSets", "RuleSet", "1.3.4.1.2.1.97.1", "1.3.3.1.1.1.98"},
      {0x314, "Events", "Event", "1.3.6.1.1.1.97", "1.3.6.1.1.1.98"},
      {0x312, "Resources", "Resource", "1.5.1.1.1.1.97", "1.5.1.1.1.1.98"},
      {0x313, "Targets", "Target", "1.5.3.1.1.1.97", "1.5.3.1.1.1.98"},
      {0x321, "Reports", "Report", "1.4.1.1.1.1.97", "1.4.1.1.1.1.98"},
      {0x320, "ReportSets", "ReportSet", "1.4.5.1.2.1.97.1", "1.4.3.1.1.1.98"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.container);
    ThresholdLibrary lib;
    lib.Load();
    const std::string b = "<" + c.record + " Name=\"b\"/></" + c.container + ">";
    lib.set_table(c.code,
                  ("<" + c.container + "><" + c.record + " Name=\"a\"><" +
                   c.record.substr(0, c.record.size() - 3) + " Name=\"x\"/></" + c.record + ">" + b)
                      .c_str());
    ASSERT_TRUE(lib.Start());
    ASSERT_NE(lib.Get(lib.At(c.deleted)), "error 2");
    ASSERT_NE(lib.Get(lib.At(c.kept)), "error 2");
    lib.set_table(c.code, ("<" + c.container + ">" + b).c_str());
    const size_t before = lib.frame_count();
    lib.raise_table_changed(c.code);
    EXPECT_EQ(lib.Get(lib.At(c.deleted)), "error 2");
    EXPECT_NE(lib.Get(lib.At(c.kept)), "error 2");
    const auto frames = lib.Frames(before);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].oc, 0xE001u);
    EXPECT_EQ(frames[0].oe, c.code);
  }
}

TEST_F(ThresholdEventsTest, ReportRefreshKeepsTheIndexRowsOfDeletedReports) {
  lib_.set_table(0x321, "<Reports><Report Name=\"a\"/><Report Name=\"b\"/></Reports>");
  ASSERT_TRUE(lib_.Start());
  lib_.set_table(0x321, "<Reports Modified=\"1/2/2007 3:04:05\"><Report Name=\"b\"/></Reports>");
  lib_.raise_table_changed(0x321);
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.4.1.1.1"), "a")), "error 2");
  // Index and placeholder rows lie outside the removed subtree.
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.4.8.1.1"), "a")), "INTEGER 0");
  EXPECT_NE(lib_.Get(WithName(lib_.At("1.4.7.1.1"), "a")), "error 2");
  EXPECT_NE(lib_.Get(lib_.At("1.4.2.0")), "INTEGER 0") << "the change scalar follows the reload";
}

TEST_F(ThresholdEventsTest, ChangeEventForAnUnlistedTableCodeChangesNothing) {
  lib_.set_table(0x311, "<Rules><Rule Name=\"a\"/></Rules>");
  ASSERT_TRUE(lib_.Start());
  const auto walk = lib_.Walk();
  const size_t frames = lib_.frame_count();
  lib_.raise_table_changed(0x315);
  lib_.raise_event(0x2299, 0x311, "");
  EXPECT_EQ(lib_.frame_count(), frames);
  EXPECT_EQ(lib_.Walk(), walk);
}

std::string ThresholdDocument(const char* type, const char* severity, const char* value) {
  std::string xml = "<Threshold><Rule Name=\"cpu\"><Comment>call ops</Comment></Rule>";
  if (value != nullptr) xml += std::string("<Value>") + value + "</Value>";
  xml += "<Event Name=\"e\">";
  if (type != nullptr) xml += std::string("<Type>") + type + "</Type>";
  if (severity != nullptr) xml += std::string("<Severity>") + severity + "</Severity>";
  return xml + "</Event></Threshold>";
}

// One event, one trap: its number by the severity keyword, five bindings.
// The server name is the machine's host name without its domain, cut to 15
// characters; the value is written back as a decimal, a missing one as zero.
TEST_F(ThresholdEventsTest, SnmpTrapEventQueuesTheTrapOfItsSeverityWithFiveBindings) {
  ASSERT_TRUE(lib_.Start());
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string server = std::string(host).substr(0, std::string(host).find('.'));
  const std::tuple<const char*, const char*, AsnInteger32, const char*> cases[] = {
      {"critical", "1", 2200, "1"},
      {"major", "007", 2201, "7"},
      {"minor", nullptr, 2202, "0"},
      {"informational", "-12kg", 2203, "-12"}};
  for (const auto& [severity, value, number, text] : cases) {
    lib_.raise_threshold_event(ThresholdDocument("snmp-trap", severity, value).c_str());
    const Trap trap = TakeTrap();
    ASSERT_TRUE(trap.taken) << severity;
    EXPECT_FALSE(TakeTrap().taken) << "one event, one trap";
    EXPECT_EQ(trap.enterprise, lib_.At("2"));
    EXPECT_EQ(trap.specific, number) << severity;
    ASSERT_EQ(trap.bindings.size(), 5u);
    EXPECT_EQ(trap.bindings[0].second, "STRING " + server.substr(0, 15));
    EXPECT_EQ(trap.bindings[3], std::pair(lib_.At("2.1.4.0"), std::string("STRING ") + text));
  }
}

TEST_F(ThresholdEventsTest, EventsThatAreNotSnmpTrapsOrLackASeverityQueueNothing) {
  ASSERT_TRUE(lib_.Start());
  lib_.capture_trace(1);
  for (const std::string& event :
       {ThresholdDocument("snmp-trap", "warning", "1"), ThresholdDocument("eventlog", "minor", "1"),
        ThresholdDocument(nullptr, "minor", "1"), ThresholdDocument("SNMP-TRAP", "minor", "1"),
        std::string("<Threshold><Rule Name=\"cpu\"/></Threshold>"), std::string("not a document"),
        std::string()}) {
    lib_.raise_threshold_event(event.c_str());
  }
  EXPECT_FALSE(TakeTrap().taken);
  const std::string& agent = threshold_test::kAgentTrace;
  EXPECT_EQ(lib_.TraceLevel(agent + "## ERROR in SendThresholdTrap()! Event severity not "
                                    "available in event data!"),
            1u);
  EXPECT_EQ(lib_.TraceLevel(agent + "SendThresholdTrap(): Event type (eventlog) not "
                                    "\"snmp-trap\" - event ignored"),
            2u);
}

// Two versions of the rule table with different rows; each request below asks,
// in one varbind list, for the successor of every row name of both versions.
// The answers of a request that saw version A, version B, or anything in
// between differ, so a request that sees a half-loaded table is caught.
TEST_F(ThresholdEventsTest, RequestsDuringReloadsSeeEitherTheOldOrTheNewTableWhole) {
  std::vector<std::string> names_a, names_b;
  std::string table_a = "<Rules>", table_b = "<Rules>";
  // Document order differs from OID order, so a partial load is visible.
  for (int i = 40; i > 0; --i) {
    names_a.push_back("a" + std::to_string(i));
    table_a += "<Rule Name=\"" + names_a.back() + "\"><Description>A</Description></Rule>";
    if (i % 2 == 0) {
      names_b.push_back("b" + std::to_string(i));
      table_b += "<Rule Name=\"" + names_b.back() + "\"><Description>B</Description></Rule>";
    }
  }
  table_a += "</Rules>";
  table_b += "</Rules>";
  lib_.set_table(0x311, table_a.c_str());
  ASSERT_TRUE(lib_.Start());

  const Oid column = lib_.At("1.3.1.1.2");
  std::set<Oid> all;
  for (const auto& name : names_a) all.insert(WithName(column, name));
  for (const auto& name : names_b) all.insert(WithName(column, name));
  std::vector<Oid> starts{column};
  starts.insert(starts.end(), all.begin(), all.end());

  // The answers of a whole table: successor of each start within the table's rows.
  const auto answers_of = [&](const std::vector<std::string>& names) {
    std::set<Oid> rows;
    for (const auto& name : names) rows.insert(WithName(column, name));
    std::vector<Oid> answers;
    for (const Oid& start : starts) {
      const auto next = rows.upper_bound(start);
      answers.push_back(next != rows.end() ? *next : Oid{});
    }
    return answers;
  };
  const std::vector<Oid> expect_a = answers_of(names_a);
  const std::vector<Oid> expect_b = answers_of(names_b);

  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, requests{0}, walks{0};
  std::vector<std::thread> walkers;
  for (int t = 0; t < 3; ++t) {
    walkers.emplace_back([&, t] {
      while (!stop.load()) {
        if (t == 2) {
          // A plain walk of the whole MIB must always end.
          lib_.Walk();
          ++walks;
          continue;
        }
        VarBinds vbs;
        for (const Oid& start : starts) vbs.Add(start);
        AsnInteger32 status = 0, index = 0;
        lib_.query(SNMP_PDU_GETNEXT, vbs.Get(), &status, &index);
        std::vector<Oid> answers;
        for (size_t i = 0; i < vbs.size(); ++i) {
          Oid name = threshold_test::NameOf(vbs[i]);
          // Past the last row the answer lies in the next column.
          answers.push_back(name.size() > column.size() &&
                                    std::equal(column.begin(), column.end(), name.begin())
                                ? name
                                : Oid{});
        }
        if (answers != expect_a && answers != expect_b) ++torn;
        ++requests;
      }
    });
  }
  for (int reload = 0; reload < 60; ++reload) {
    lib_.set_table(0x311, reload % 2 == 0 ? table_b.c_str() : table_a.c_str());
    lib_.raise_table_changed(0x311);
  }
  stop = true;
  for (auto& walker : walkers) walker.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(requests.load(), 0);
  EXPECT_GT(walks.load(), 0);
}

}  // namespace
