// The threshold agent through its test library and the fake threshold module:
// start-up, live values, recorded values, events, and the real library's exports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::kAgentTrace;
using threshold_test::NameOf;
using threshold_test::Oid;
using threshold_test::TextBytes;
using threshold_test::ThresholdLibrary;
using threshold_test::ValueText;
using threshold_test::VarBinds;
using threshold_test::WithName;
using Bytes = std::vector<unsigned char>;

constexpr unsigned kAllCabinets = 0xFFFFFFFF;
constexpr unsigned kReadRecord = 0x2213;

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override { lib_.Load(); }

  void Start() {
    lib_.capture_trace(1);
    ASSERT_TRUE(lib_.Start());
    first_frame_ = lib_.frame_count();
  }
  bool Traced(const std::string& text, unsigned level) {
    return lib_.TraceLevel(kAgentTrace + text) == level;
  }

  std::optional<AsnInteger32> Query(BYTE type, VarBinds& vbs) {
    AsnInteger32 status = 0, index = 0;
    if (!lib_.query(type, vbs.Get(), &status, &index)) return std::nullopt;
    return status;
  }
  std::pair<Oid, std::string> Next(const Oid& from) {
    VarBinds vbs;
    vbs.Add(from);
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, vbs), 0);
    return {NameOf(vbs[0]), ValueText(vbs[0].value)};
  }

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

TEST_F(AgentTest, StartSendsTheProbeThenEveryTableRequestInTheFixedOrder) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // OC, OE, OID, CABID, Stat and data size of the first probe and the table requests.
  std::vector<std::vector<unsigned>> sent, expected = {{0x2200, 0, 0, kAllCabinets, 19, 0}};
  for (const auto& f : lib_.Frames()) {
    if ((f.oc == 0x2200 && sent.empty()) || (f.oc == 0xE001 && f.oe >= 0x310 && f.oe <= 0x321)) {
      sent.push_back({f.oc, f.oe, f.oid, f.cabid, f.stat, static_cast<unsigned>(f.data.size())});
    }
  }
  for (unsigned code : {0x311, 0x310, 0x314, 0x321, 0x320, 0x312, 0x313}) {
    expected.push_back({0xE001, code, 0, kAllCabinets, 22, 0});
  }
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "1");
  EXPECT_EQ(lib_.VolatileValue("AgentLastError"), "");
  EXPECT_EQ(
      lib_.TraceLevel("\n\nLORVETH_AGENT       : ## Initialization finished - agent status = OK\n"),
      1u);
  EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
}

TEST_F(AgentTest, UnreachableModuleLeavesOnlyTheIdentityScalarsAndStatusFour) {
  lib_.SetReply(0x2200, "", {}, 6);
  ASSERT_NO_FATAL_FAILURE(Start());
  const auto walk = lib_.Walk();
  ASSERT_EQ(walk.size(), 4u);
  EXPECT_EQ(walk[0].oid, lib_.At("1.1.1.0"));
  for (const auto& frame : lib_.FramesOf(0xE001))
    EXPECT_GE(frame.oe, 0x3800u) << "no table request";
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), "4");
  EXPECT_EQ(lib_.VolatileValue("AgentLastError"), "initialization failed");
  for (const char* text :
       {"\n\n ## ERROR! No threshold status available - underlying module not available?!\n",
        "\n\nLORVETH_AGENT       : ## ERROR! Initialization of one of the MIB tables failed!",
        "\n\nLORVETH_AGENT       : ## Initialization finished - agent status = FAILED\n"}) {
    EXPECT_EQ(lib_.TraceLevel(text), 1u) << text;
  }
}

TEST(AgentVersionTest, FailedStartOfAVersionThreeAgentStillReportsStatusOne) {
  ThresholdLibrary lib("Lorveth_ThresholdTest3");
  lib.Load();
  lib.SetReply(0x2200, "", {}, 6);
  ASSERT_TRUE(lib.Start());
  EXPECT_EQ(lib.VolatileValue("AgentStatus"), "1");
  EXPECT_EQ(lib.VolatileValue("AgentLastError"), "initialization failed");
}

// A start with some tables scripted and the table request of one code
// answered with a status; then GETs (relative OID and value text, "> x" for a
// GET-NEXT answered with x, "!v" for anything but v), the agent status and
// one agent trace line.  No GET of these asks for a live value.
struct LoadCase {
  const char* name;
  std::vector<std::pair<unsigned, std::string>> tables;
  std::pair<unsigned, unsigned char> failing;  // table code and status; code 0: none
  std::vector<std::pair<std::string, std::string>> gets;
  const char* agent_status;
  std::pair<unsigned, std::string> trace;  // level and text
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
std::string LoadName(const ::testing::TestParamInfo<LoadCase>& row) { return row.param.name; }

class TableLoadTest : public AgentTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(TableLoadTest, TablesLoadUpToTheFirstFailure) {
  const LoadCase& c = GetParam();
  for (const auto& [code, xml] : c.tables) lib_.set_table(code, xml.c_str());
  if (c.failing.first != 0) lib_.SetReply(0xE001, "", {}, c.failing.second, c.failing.first);
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const auto& [relative, value] : c.gets) {
    if (value[0] == '>') {
      EXPECT_EQ(Next(lib_.At(relative)).first, lib_.At(value.substr(2))) << relative;
    } else if (value[0] == '!') {
      EXPECT_NE(lib_.Get(lib_.At(relative)), value.substr(1)) << relative;
    } else {
      EXPECT_EQ(lib_.Get(lib_.At(relative)), value) << relative;
    }
  }
  EXPECT_TRUE(lib_.FramesOf(0x2207, first_frame_).empty());
  EXPECT_EQ(lib_.VolatileValue("AgentStatus"), c.agent_status);
  EXPECT_TRUE(Traced(c.trace.second, c.trace.first)) << c.trace.second;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, TableLoadTest,
    ::testing::Values(
        // The earlier tables stay; the failed table's change scalar and every
        // later loader's objects are missing.
        LoadCase{
            "FailingLoader",
            {{0x311, "<Rules><Rule Name=\"r\"/></Rules>"},
             {0x310, "<RuleSets><RuleSet Name=\"s\"/></RuleSets>"},
             {0x321, "<Reports><Report Name=\"p\"/></Reports>"}},
            {0x314, 6},
            {{"1.3.1.1.1.1.114", "STRING r"},
             {"1.3.3.1.1.1.115", "STRING s"},
             {"1.3.7.0", "error 2"},
             {"1.4.2.0", "error 2"},
             {"1.5.4.0", "error 2"}},
            "4",
            {1, "INIT ## ERROR in InitializeEventTable! Failed to get table data from SWITCH!\n"}},
        // The parser would repair this into two events; a damaged table gives none.
        LoadCase{"NotWellFormed",
                 {{0x314,
                   "<Events Modified=\"1/2/2006 3:04:05\"><Event Name=\"a\"/><Event Name=\"b\">"
                   "</Events>"}},
                 {},
                 {{"1.3.6", "> 1.3.7.0"}, {"1.3.7.0", "!INTEGER 0"}},
                 "1",
                 {1,
                  "INIT ## ERROR in InitializeEventTable! Table data not well-formed: End tag "
                  "'Events' at offset 70 does not match start tag 'Event' at offset 53\n"}},
        // A nameless row has the empty name; its current value is not asked for.
        LoadCase{"NamelessRuleWithoutModified",
                 {{0x311, "<Rules><Rule><Description>d</Description></Rule></Rules>"}},
                 {},
                 {{"1.3.1.1.25.0", "STRING "}, {"1.2.1.0", "INTEGER 0"}, {"1.3.2.0", "INTEGER 0"}},
                 "1",
                 {3, "fGetConfigChangedTime - no configuration change time available!"}}),
    LoadName);

// Live values: the module is asked with the row's name and its terminator
// (the status scalars with no data, the report sets' overall status with a
// single zero byte); its reply maps to the MIB value or falls back.
TEST_F(AgentTest, LiveValuesAskTheModuleAndMapItsReply) {
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
      {0x2200, "", {1}, 6, "1.2.2.0", "INTEGER 1"},
      {0x2200, "", {1}, 12, "1.2.2.0", "INTEGER 3"},
      {0x2220, "", {1}, 0, "1.2.5.0", "INTEGER 2"},
      {0x2220, "", {5}, 0, "1.2.5.0", "INTEGER 1"},
      {0x2210, "", {1}, 0, "1.2.3.0", "INTEGER 2"},
      {0x2207, "cpu", TextBytes("87%"), 0, "1.3.1.1.25", "STRING 87%"},
      {0x2207, "cpu", {}, 0, "1.3.1.1.25", "STRING "},
      {0x2214, "r1", {'1', '2'}, 0, "1.4.1.1.14", "STRING 12"},  // without terminator
      {0x2214, "r1", TextBytes("5"), 2, "1.4.1.1.14", "STRING "},
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
    EXPECT_EQ(frames[0].data,
              c.row.empty() ? (c.oc == 0x2210 ? Bytes{0} : Bytes{}) : TextBytes(c.row));
  }
  for (const char* text :
       {"fGetResourceCurrentValue - current value of resource \"cpu\": 87%",
        "fGetReportOldestIndexInUse() = 10", "fGetReportHighestIndexInUse() = 0!",
        "fGetRulesetStatus - current status of ruleset ab = 2"}) {
    EXPECT_TRUE(Traced(text, 3)) << text;
  }
}

class EventsTest : public AgentTest {
 protected:
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
      trap.bindings.emplace_back(NameOf(list.list[i]), ValueText(list.list[i].value));
    }
    SnmpUtilOidFree(&enterprise);
    SnmpUtilVarBindListFree(&list);
    return trap;
  }
};

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
TEST_F(EventsTest, SnmpTrapEventQueuesTheTrapOfItsSeverityWithFiveBindings) {
  ASSERT_NO_FATAL_FAILURE(Start());
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

TEST_F(EventsTest, EventsThatAreNotSnmpTrapsOrLackASeverityQueueNothing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const std::string& event :
       {ThresholdDocument("snmp-trap", "warning", "1"), ThresholdDocument("eventlog", "minor", "1"),
        ThresholdDocument(nullptr, "minor", "1"), ThresholdDocument("SNMP-TRAP", "minor", "1"),
        std::string("<Threshold><Rule Name=\"cpu\"/></Threshold>"), std::string("not a document"),
        std::string()}) {
    lib_.raise_threshold_event(event.c_str());
  }
  EXPECT_FALSE(TakeTrap().taken);
  EXPECT_EQ(lib_.TraceLevel(kAgentTrace + "## ERROR in SendThresholdTrap()! Event severity not "
                                          "available in event data!"),
            1u);
  EXPECT_EQ(lib_.TraceLevel(kAgentTrace + "SendThresholdTrap(): Event type (eventlog) not "
                                          "\"snmp-trap\" - event ignored"),
            2u);
}

// Two versions of the rule table with different rows; each request below asks,
// in one varbind list, for the successor of every row name of both versions.
// The answers of a request that saw version A, version B, or anything in
// between differ, so a request that sees a half-loaded table is caught.
TEST_F(EventsTest, RequestsDuringReloadsSeeEitherTheOldOrTheNewTableWhole) {
  const Oid column = lib_.At("1.3.1.1.2");
  std::string table[2] = {"<Rules>", "<Rules>"};
  std::set<Oid> rows[2], all;
  // Document order differs from OID order, so a partial load is visible.
  for (int i = 40; i > 0; --i) {
    for (int version : {0, 1}) {
      if (version == 1 && i % 2 != 0) continue;  // the second version has every other row
      const std::string name = (version == 0 ? "a" : "b") + std::to_string(i);
      table[version] += "<Rule Name=\"" + name + "\"><Description/></Rule>";
      rows[version].insert(WithName(column, name));
      all.insert(WithName(column, name));
    }
  }
  for (std::string& text : table) text += "</Rules>";
  lib_.set_table(0x311, table[0].c_str());
  ASSERT_NO_FATAL_FAILURE(Start());
  lib_.capture_trace(0);  // the walkers would trace without end
  std::vector<Oid> starts{column}, expect[2];
  starts.insert(starts.end(), all.begin(), all.end());
  for (int version = 0; version < 2; ++version) {  // each start's successor in that version
    for (const Oid& start : starts) {
      const auto next = rows[version].upper_bound(start);
      expect[version].push_back(next != rows[version].end() ? *next : Oid{});
    }
  }

  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, requests{0};
  std::vector<std::thread> walkers;
  for (int t = 0; t < 2; ++t) {
    walkers.emplace_back([&] {
      while (!stop.load()) {
        VarBinds vbs;
        for (const Oid& start : starts) vbs.Add(start);
        AsnInteger32 status = 0, index = 0;
        lib_.query(SNMP_PDU_GETNEXT, vbs.Get(), &status, &index);
        std::vector<Oid> answers;
        for (size_t i = 0; i < vbs.size(); ++i) {
          Oid name = NameOf(vbs[i]);
          // Past the last row the answer lies in the next column.
          const bool in_column =
              name.size() > column.size() && std::equal(column.begin(), column.end(), name.begin());
          answers.push_back(in_column ? name : Oid{});
        }
        if (answers != expect[0] && answers != expect[1]) ++torn;
        ++requests;
      }
    });
  }
  for (int reload = 0; reload < 60; ++reload) {
    lib_.set_table(0x311, table[(reload + 1) % 2].c_str());
    lib_.raise_table_changed(0x311);
  }
  stop = true;
  for (auto& walker : walkers) walker.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(requests.load(), 0);
}

std::string ReportsXml(const std::vector<std::string>& names) {
  std::string xml = "<Reports Modified=\"01/02/2024 10:00:00\">";
  for (const std::string& name : names) {
    xml += "<Report Name=\"" + name + "\"><Resource Name=\"cpu\"/></Report>";
  }
  return xml + "</Reports>";
}

class RecordTest : public AgentTest {
 protected:
  void Start(const std::vector<std::string>& reports) {
    lib_.set_table(0x321, ReportsXml(reports).c_str());
    AgentTest::Start();
  }

  void SetRecord(const std::string& report, unsigned record, const std::string& value) {
    lib_.SetReply(kReadRecord, report, TextBytes(value), 0, record);
  }

  // root.1.4.8.1.1.<name>[.record]
  Oid Record(const std::string& report) const { return WithName(lib_.At("1.4.8.1.1"), report); }
  Oid Record(const std::string& report, unsigned record) const {
    Oid oid = Record(report);
    oid.push_back(record);
    return oid;
  }

  // The read commands since the agent started, "name/OE/OID ..."; checks the
  // fixed header fields and the data layout (name and terminating zero).
  std::string Reads() {
    std::string reads;
    for (const auto& frame : lib_.FramesOf(kReadRecord, first_frame_)) {
      EXPECT_EQ(frame.cabid, 0xFFFFFFFFu);
      EXPECT_EQ(frame.stat, 19u);
      EXPECT_FALSE(frame.data.empty());
      if (frame.data.empty()) continue;
      EXPECT_EQ(frame.data.back(), 0);
      reads += (reads.empty() ? "" : " ") + std::string(frame.data.begin(), frame.data.end() - 1) +
               "/" + std::to_string(frame.oe) + "/" + std::to_string(frame.oid);
    }
    return reads;
  }

  Oid Instance(const std::string& written) const;
  // Records "a#1=text b#2=text ...".
  void Script(const std::string& records) {
    std::istringstream in(records);
    for (std::string record; in >> record;) {
      const size_t hash = record.find('#'), eq = record.find('=');
      SetRecord(record.substr(0, hash), std::stoul(record.substr(hash + 1, eq - hash - 1)),
                record.substr(eq + 1));
    }
  }
  // "start > answer=value > ...": each GET-NEXT from the answer before; a
  // value left out is not checked.
  void ExpectWalk(const std::string& walk) {
    size_t at = walk.find(" > ");
    Oid from = Instance(walk.substr(0, at));
    while (at != std::string::npos) {
      const size_t end = walk.find(" > ", at + 3);
      const std::string step = walk.substr(at + 3, end == std::string::npos ? end : end - at - 3);
      const size_t eq = step.find('=');
      const auto answer = Next(from);
      EXPECT_EQ(answer.first, Instance(step.substr(0, eq))) << step;
      if (eq != std::string::npos) {
        EXPECT_EQ(answer.second, step.substr(eq + 1));
      }
      from = answer.first;
      at = end;
    }
  }
};

// Instances written "a#2" (record 2 of report "a"), "a#" (the placeholder of
// "a"), "c@1.4.7.1.1" (that column's row of "c"), "@1.5.2.0" (below the root)
// or "beyond" (the root's successor).
Oid RecordTest::Instance(const std::string& written) const {
  if (written == "beyond") {
    Oid beyond = lib_.Root();
    ++beyond.back();
    return beyond;
  }
  if (written[0] == '@') return lib_.At(written.substr(1));
  if (const size_t at = written.find('@'); at != std::string::npos) {
    return WithName(lib_.At(written.substr(at + 1)), written.substr(0, at));
  }
  const size_t hash = written.find('#');
  if (hash + 1 == written.size()) return Record(written.substr(0, hash));
  return Record(written.substr(0, hash),
                static_cast<unsigned>(std::stoul(written.substr(hash + 1))));
}

struct WalkCase {
  std::vector<std::string> reports;
  std::string records, walk, reads;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.walk; }

class GetNextWalkTest : public RecordTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(GetNextWalkTest, WalksRecordsAndHandsOverToTheTree) {
  const WalkCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start(c.reports));
  lib_.SetReply(0x2215, "c", {7, 0, 0, 0});  // the highest record number of "c"
  Script(c.records);
  ExpectWalk(c.walk);
  EXPECT_EQ(Reads(), c.reads);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, GetNextWalkTest,
    ::testing::Values(
        // Record by record, skipping an empty report; after the last record the
        // tree answers with the first object behind the record table.
        WalkCase{{"a", "b", "c"},
                 "a#1=a-one a#2=a-two c#1=c-one",
                 "@1.4.8 > a#1=STRING a-one > a#2=STRING a-two > c#1=STRING c-one > "
                 "@1.5.2.0=INTEGER 0",
                 "a/0/0 a/0/1 a/0/2 b/0/0 c/0/0 c/0/1"},
        // reportOldestIndexInUse of the last report is the index table's last row.
        WalkCase{{"a", "b"}, "a#1=first", "b@1.4.7.1.2 > a#1=STRING first", "a/0/0"},
        WalkCase{{"a", "c"}, "a#1=a-one", "a@1.4.7.1.1 > c@1.4.7.1.1=INTEGER 7", ""},
        // No record anywhere: from the first placeholder the tree answers.
        WalkCase{{"a", "b", "c"},
                 "",
                 "c@1.4.7.1.2 > b#=INTEGER 0 > c# > @1.5.2.0",
                 "a/0/0 b/0/0 c/0/0 b/0/0 c/0/0 c/0/0"},
        // A record number past 2^32 - 1 cannot follow; nothing is asked for it.
        WalkCase{{"a", "b"}, "b#1=b-one", "a#4294967295 > b#1=STRING b-one", "b/0/0"},
        // Record numbers above 65536 are split over OE and OID.
        WalkCase{{"a"},
                 "a#65536=r65536 a#65537=r65537",
                 "a#65535 > a#65536=STRING r65536 > a#65537=STRING r65537",
                 "a/0/65535 a/1/0"},
        // A name length past the OID reads no further than the OID.
        WalkCase{{"a"}, "", "@1.4.8.1.1.4294967295.97 > @1.5.2.0", "a\x01/0/0"}));

// The report-set request fails, so start-up stops after the reports: no
// object follows the record table, and the tree answers past its last object.
TEST_F(RecordTest, GetNextWithNothingBehindTheRecordTableIsLeftToTheMibTree) {
  lib_.SetReply(0xE001, "", {}, 6, 0x320);
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  ExpectWalk("a#3 > beyond");
  EXPECT_EQ(Reads(), "a/0/3");
}

TEST_F(RecordTest, GetAnswersTheRecordTextOrLeavesTheInstanceToTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 2, "12:00 42.5");
  SetRecord("a", 70000, "r70000");
  EXPECT_EQ(lib_.Get(Record("a", 2)), "STRING 12:00 42.5");
  EXPECT_EQ(lib_.Get(Record("a", 3)), "error 2");            // missing: noSuchName from the tree
  EXPECT_EQ(lib_.Get(Record("a", 70000)), "STRING r70000");  // the whole number in OID
  EXPECT_EQ(Reads(), "a/0/1 a/0/2 a/0/69999");
  EXPECT_EQ(lib_.Get(Record("a")), "INTEGER 0");           // the placeholder
  lib_.SetReply(kReadRecord, "a", {'x', 'y', 'z'}, 0, 1);  // no terminator: every byte
  EXPECT_EQ(lib_.Get(Record("a", 1)), "STRING xyz");
  // A failure, even with data; "no more replies" is good.
  lib_.SetReply(kReadRecord, "a", TextBytes("stale"), 15, 1);
  EXPECT_EQ(lib_.Get(Record("a", 1)), "error 2");
  lib_.SetReply(kReadRecord, "a", TextBytes("more"), 12, 1);
  EXPECT_EQ(lib_.Get(Record("a", 1)), "STRING more");
}

// A varbind that leaves the record table after another was answered hands
// the whole request, as changed so far, to the tree.
TEST_F(RecordTest, AnExitAfterAnAnsweredVarbindHandsTheChangedRequestToTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b"}));
  SetRecord("a", 1, "one");
  const struct {
    Oid second, first_answer;
  } cases[] = {
      {Record("b", 1), Record("b")},      // no further record and nothing behind "b"
      {lib_.At("1.4.8.2"), Record("b")},  // behind every placeholder, no report name
  };
  for (const auto& c : cases) {
    VarBinds vbs;
    vbs.Add(Record("a"));  // answered with record 1 of "a"
    vbs.Add(c.second);
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, vbs), 0);
    // The tree goes on from record 1 of "a", as the first varbind was left.
    EXPECT_EQ(NameOf(vbs[0]), c.first_answer);
    EXPECT_EQ(ValueText(vbs[0].value), "INTEGER 0");
    EXPECT_EQ(NameOf(vbs[1]), lib_.At("1.5.2.0"));
  }
}

// The defined dynamic symbols of the real library, as nm lists them.
TEST(AgentExportsTest, AgentLibraryExportsExactlyTheFiveEntryPoints) {
  const std::string command = "nm -D --defined-only '" LORVETH_AGENT_LIBRARY "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::set<std::string> symbols;
  char address[64], type[8], name[256];
  while (std::fscanf(pipe.get(), "%63s %7s %255s", address, type, name) == 3) symbols.insert(name);
  EXPECT_EQ(symbols,
            (std::set<std::string>{"SnmpExtensionClose", "SnmpExtensionInit", "SnmpExtensionInitEx",
                                   "SnmpExtensionQuery", "SnmpExtensionTrap"}));
}

}  // namespace
