// Recorded report values read through SnmpExtensionQuery of the test copy of
// the agent library: GET of record instances, GET-NEXT walks over reports and
// records, the read commands the fake threshold module receives, and the
// hand-over to the MIB tree when the module has nothing (more) to give.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;
using threshold_test::ValueText;
using threshold_test::VarBinds;
using threshold_test::WithName;

constexpr unsigned kReadRecord = 0x2213;
constexpr unsigned kReportsTable = 0x321;

std::string ReportsXml(const std::vector<std::string>& names) {
  std::string xml = "<Reports Modified=\"01/02/2024 10:00:00\">";
  for (const std::string& name : names) {
    xml += "<Report Name=\"" + name + "\"><Resource Name=\"cpu\"/></Report>";
  }
  return xml + "</Reports>";
}

class ExecuteGetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_THROW(lib_.Load()); }

  // Loads the reports and starts the agent.
  void Start(const std::vector<std::string>& reports) {
    lib_.set_table(kReportsTable, ReportsXml(reports).c_str());
    ASSERT_TRUE(lib_.Start());
    first_frame_ = lib_.frame_count();
  }

  void SetRecord(const std::string& report, unsigned record, const std::string& value) {
    lib_.SetReply(kReadRecord, report, threshold_test::TextBytes(value), 0, record);
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
  void ForgetReads() { first_frame_ = lib_.frame_count(); }

  struct Answer {
    BOOL result = FALSE;
    AsnInteger32 status = 0;
    AsnInteger32 index = 0;
  };
  Answer Query(BYTE type, VarBinds& vbs) {
    Answer answer;
    answer.result = lib_.query(type, vbs.Get(), &answer.status, &answer.index);
    return answer;
  }

  // One GET-NEXT of a single varbind: the name and value text answered.
  std::pair<Oid, std::string> Next(const Oid& from) {
    VarBinds vbs;
    vbs.Add(from);
    const Answer answer = Query(SNMP_PDU_GETNEXT, vbs);
    EXPECT_TRUE(answer.result);
    EXPECT_EQ(answer.status, 0);
    return {threshold_test::NameOf(vbs[0]), ValueText(vbs[0].value)};
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

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

// Instances written "a#2" (record 2 of report "a"), "a#" (the placeholder of
// "a"), "c@1.4.7.1.1" (that column's row of "c"), "@1.5.2.0" (below the root)
// or "beyond" (the root's successor).
Oid ExecuteGetTest::Instance(const std::string& written) const {
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

class GetNextWalkTest : public ExecuteGetTest, public ::testing::WithParamInterface<WalkCase> {};

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
        WalkCase{{"a", "b"}, "a#1=first b#1=other", "a# > a#1=STRING first", "a/0/0"},
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
        WalkCase{{"a"}, "a#131072=r131072", "a#131071 > a#131072=STRING r131072", "a/1/65535"},
        // A name length past the OID reads no further than the OID.
        WalkCase{{"a"}, "", "@1.4.8.1.1.4294967295.97 > @1.5.2.0", "a\x01/0/0"}));

// The report-set request fails, so start-up stops after the reports: no
// object follows the record table, and the tree answers past its last object.
TEST_F(ExecuteGetTest, GetNextWithNothingBehindTheRecordTableIsLeftToTheMibTree) {
  lib_.SetReply(0xE001, "", {}, 6, 0x320);
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  ExpectWalk("a#3 > beyond");
  EXPECT_EQ(Reads(), "a/0/3");
}

TEST_F(ExecuteGetTest, GetAnswersTheRecordTextOrLeavesTheInstanceToTheTree) {
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
  lib_.SetReply(kReadRecord, "a", threshold_test::TextBytes("stale"), 15, 1);
  EXPECT_EQ(lib_.Get(Record("a", 1)), "error 2");
  lib_.SetReply(kReadRecord, "a", threshold_test::TextBytes("more"), 12, 1);
  EXPECT_EQ(lib_.Get(Record("a", 1)), "STRING more");
}

TEST_F(ExecuteGetTest, OtherObjectsAndRequestTypesNeverAskForARecord) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  // reportName of "a" ends in 97 like record 97 of "a" would.
  SetRecord("a", 97, "not this");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.4.1.1.1"), "a")), "STRING a");
  VarBinds vbs;
  vbs.Add(Record("a"));
  Query(0xA5, vbs);  // GetBulk
  EXPECT_EQ(Reads(), "");
}

// GET and GET-NEXT of two varbinds, one answered by a record: the other one,
// a missing record or an object elsewhere, is left as it came.
TEST_F(ExecuteGetTest, TwoVarbindRequestAnsweredByARecordLeavesTheOtherUnchanged) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 1, "one");
  const Oid elsewhere = WithName(lib_.At("1.4.1.1.1"), "a");  // reportName of "a"
  for (const auto& [type, first, second] :
       {std::tuple(BYTE{SNMP_PDU_GET}, Record("a", 1), Record("a", 9)),
        std::tuple(BYTE{SNMP_PDU_GETNEXT}, Record("a"), elsewhere)}) {
    VarBinds vbs;
    vbs.Add(first);
    vbs.Add(second);
    const Answer answer = Query(type, vbs);
    EXPECT_TRUE(answer.result);
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(threshold_test::NameOf(vbs[0]), Record("a", 1));
    EXPECT_EQ(ValueText(vbs[0].value), "STRING one");
    EXPECT_EQ(threshold_test::NameOf(vbs[1]), second);
    EXPECT_EQ(ValueText(vbs[1].value), "NULL");
  }
}

// A varbind that leaves the record table after another was answered hands
// the whole request, as changed so far, to the tree.
TEST_F(ExecuteGetTest, AnExitAfterAnAnsweredVarbindHandsTheChangedRequestToTheTree) {
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
    EXPECT_EQ(Query(SNMP_PDU_GETNEXT, vbs).status, 0);
    // The tree goes on from record 1 of "a", as the first varbind was left.
    EXPECT_EQ(threshold_test::NameOf(vbs[0]), c.first_answer);
    EXPECT_EQ(ValueText(vbs[0].value), "INTEGER 0");
    EXPECT_EQ(threshold_test::NameOf(vbs[1]), lib_.At("1.5.2.0"));
  }
}

TEST_F(ExecuteGetTest, ModuleThatStopsAnsweringMidWalkLeavesTheWalkToTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b", "c"}));
  Script("a#1=a-one a#2=a-two c#1=c-one");
  ExpectWalk("@1.4.8 > a#1=STRING a-one");
  // From now on every read fails: "device not responding" or a failed command.
  lib_.SetReply(kReadRecord, "a", {}, 15, 2);
  lib_.SetReply(kReadRecord, "b", {}, 6, 1);
  lib_.SetReply(kReadRecord, "c", {}, 15, 1);
  ForgetReads();
  ExpectWalk("a#1 > b# > c# > @1.5.2.0 > @1.5.4.0");
  // Each step asks for what could follow and finds nothing.
  EXPECT_EQ(Reads(), "a/0/1 b/0/0 c/0/0 b/0/0 c/0/0 c/0/0");
}

}  // namespace
