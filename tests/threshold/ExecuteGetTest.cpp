// Recorded report values read through SnmpExtensionQuery of the test copy of
// the agent library: GET of record instances, GET-NEXT walks over reports and
// records, the read commands the fake threshold module receives, and the
// hand-over to the MIB tree when the module has nothing (more) to give.
#include <gtest/gtest.h>

#include <string>
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

std::vector<unsigned char> Bytes(const std::string& text, bool with_nul = true) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  if (with_nul) bytes.push_back(0);
  return bytes;
}

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
    lib_.SetReply(kReadRecord, report, Bytes(value), 0, record);
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
    for (const auto& frame : lib_.Frames(first_frame_)) {
      if (frame.oc != kReadRecord) continue;
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
    // As the SNMP service hands them in; a request answered from the module
    // leaves them so.
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
  // GET-NEXT from `from`, then from each answer: the names and values answered.
  void ExpectWalk(Oid from, const std::vector<std::pair<Oid, std::string>>& expected) {
    for (const auto& [name, value] : expected) {
      const auto answer = Next(from);
      EXPECT_EQ(answer.first, name) << threshold_test::OidText(name);
      if (!value.empty()) {
        EXPECT_EQ(answer.second, value);
      }
      from = answer.first;
    }
  }

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

// --- GET-NEXT walks

TEST_F(ExecuteGetTest, WalkAnswersRecordByRecordSkipsAnEmptyReportAndLeavesAfterTheLast) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b", "c"}));
  SetRecord("a", 1, "a-one");
  SetRecord("a", 2, "a-two");
  SetRecord("c", 1, "c-one");
  // After the last record the MIB tree answers with the first object behind
  // the record table.
  ExpectWalk(lib_.At("1.4.8"), {{Record("a", 1), "STRING a-one"},
                                {Record("a", 2), "STRING a-two"},
                                {Record("c", 1), "STRING c-one"},
                                {lib_.At("1.5.2.0"), "INTEGER 0"}});
  EXPECT_EQ(Reads(), "a/0/0 a/0/1 a/0/2 b/0/0 c/0/0 c/0/1");
}

TEST_F(ExecuteGetTest, GetNextFromAPlaceholderOrTheLastReportIndexRowFindsTheFirstRecord) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b"}));
  SetRecord("a", 1, "first");
  SetRecord("b", 1, "other");
  ExpectWalk(Record("a"), {{Record("a", 1), "STRING first"}});
  EXPECT_EQ(Reads(), "a/0/0");
  // reportOldestIndexInUse of the last report is the table's last row.
  ExpectWalk(WithName(lib_.At("1.4.7.1.2"), "b"), {{Record("a", 1), "STRING first"}});
}

TEST_F(ExecuteGetTest, GetNextInsideTheReportIndexTableStaysWithTheMibTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "c"}));
  SetRecord("a", 1, "a-one");
  lib_.SetReply(0x2215, "c", {7, 0, 0, 0});
  ExpectWalk(WithName(lib_.At("1.4.7.1.1"), "a"),
             {{WithName(lib_.At("1.4.7.1.1"), "c"), "INTEGER 7"}});
  EXPECT_EQ(Reads(), "");
}

TEST_F(ExecuteGetTest, WalkWithoutAnyRecordHandsOverAtTheFirstPlaceholderAndGoesOnInTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b", "c"}));
  // Leaving the report index table moves the varbind to the first
  // placeholder; with no record anywhere the tree answers what follows it.
  ExpectWalk(WithName(lib_.At("1.4.7.1.2"), "c"),
             {{Record("b"), "INTEGER 0"}, {Record("c"), ""}, {lib_.At("1.5.2.0"), ""}});
}

TEST_F(ExecuteGetTest, GetNextBeyondTheLastPossibleRecordMovesToTheNextReport) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b"}));
  SetRecord("b", 1, "b-one");
  // A record number past 2^32 - 1 cannot follow; nothing is asked for it.
  ExpectWalk(Record("a", 0xFFFFFFFFu), {{Record("b", 1), "STRING b-one"}});
  EXPECT_EQ(Reads(), "b/0/0");
}

TEST_F(ExecuteGetTest, GetNextWithNothingBehindTheRecordTableIsLeftToTheMibTree) {
  // The report-set request fails, so start-up stops after the reports: no
  // object follows the record table.
  lib_.SetReply(0xE001, "", {}, 6, 0x320);
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  // The tree's answer past its last object: the root's successor.
  Oid beyond = lib_.Root();
  ++beyond.back();
  ExpectWalk(Record("a", 3), {{beyond, ""}});
  EXPECT_EQ(Reads(), "a/0/3");
}

// --- GET

TEST_F(ExecuteGetTest, GetAnswersTheRecordTextOrLeavesTheInstanceToTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 2, "12:00 42.5");
  EXPECT_EQ(lib_.Get(Record("a", 2)), "STRING 12:00 42.5");
  EXPECT_EQ(lib_.Get(Record("a", 3)), "error 2");  // missing: noSuchName from the tree
  EXPECT_EQ(Reads(), "a/0/1 a/0/2");
  EXPECT_EQ(lib_.Get(Record("a")), "INTEGER 0");               // the placeholder
  lib_.SetReply(kReadRecord, "a", Bytes("xyz", false), 0, 1);  // no terminator: every byte
  EXPECT_EQ(lib_.Get(Record("a", 1)), "STRING xyz");
  lib_.SetReply(kReadRecord, "a", Bytes("stale"), 15, 1);  // a failure, even with data
  EXPECT_EQ(lib_.Get(Record("a", 1)), "error 2");
  lib_.SetReply(kReadRecord, "a", Bytes("more"), 12, 1);  // "no more replies" is good
  EXPECT_EQ(lib_.Get(Record("a", 1)), "STRING more");
}

TEST_F(ExecuteGetTest, GetOfOneExistingAndOneMissingRecordLeavesTheMissingOneUnchanged) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 1, "one");
  VarBinds vbs;
  vbs.Add(Record("a", 1));
  vbs.Add(Record("a", 9));
  const Answer answer = Query(SNMP_PDU_GET, vbs);
  EXPECT_TRUE(answer.result);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(ValueText(vbs[0].value), "STRING one");
  EXPECT_EQ(threshold_test::NameOf(vbs[1]), Record("a", 9));
  EXPECT_EQ(ValueText(vbs[1].value), "NULL");
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

// --- Record numbers beyond 16 bits

TEST_F(ExecuteGetTest, RecordNumbersAbove65536AreSplitOverOeAndOidByGetNextOnly) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 65536, "r65536");
  SetRecord("a", 65537, "r65537");
  SetRecord("a", 131072, "r131072");
  SetRecord("a", 70000, "r70000");
  ExpectWalk(Record("a", 65535),
             {{Record("a", 65536), "STRING r65536"}, {Record("a", 65537), "STRING r65537"}});
  ExpectWalk(Record("a", 131071), {{Record("a", 131072), "STRING r131072"}});
  EXPECT_EQ(lib_.Get(Record("a", 70000)), "STRING r70000");
  EXPECT_EQ(Reads(), "a/0/65535 a/1/0 a/1/65535 a/0/69999");
}

// --- Several varbinds

TEST_F(ExecuteGetTest, TwoVarbindGetNextAnsweredByTheRecordLeavesTheOtherUnchanged) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  SetRecord("a", 1, "one");
  const Oid elsewhere = WithName(lib_.At("1.4.1.1.1"), "a");  // reportName of "a"
  VarBinds vbs;
  vbs.Add(Record("a"));
  vbs.Add(elsewhere);
  const Answer answer = Query(SNMP_PDU_GETNEXT, vbs);
  EXPECT_TRUE(answer.result);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(threshold_test::NameOf(vbs[0]), Record("a", 1));
  EXPECT_EQ(ValueText(vbs[0].value), "STRING one");
  EXPECT_EQ(threshold_test::NameOf(vbs[1]), elsewhere);
  EXPECT_EQ(ValueText(vbs[1].value), "NULL");
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

// --- A module that stops answering

TEST_F(ExecuteGetTest, ModuleThatStopsAnsweringMidWalkLeavesTheWalkToTheTree) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b", "c"}));
  SetRecord("a", 1, "a-one");
  SetRecord("a", 2, "a-two");
  SetRecord("c", 1, "c-one");
  ExpectWalk(lib_.At("1.4.8"), {{Record("a", 1), "STRING a-one"}});
  // From now on every read fails: "device not responding" or a failed command.
  lib_.SetReply(kReadRecord, "a", {}, 15, 2);
  lib_.SetReply(kReadRecord, "b", {}, 6, 1);
  lib_.SetReply(kReadRecord, "c", {}, 15, 1);
  ForgetReads();
  ExpectWalk(
      Record("a", 1),
      {{Record("b"), ""}, {Record("c"), ""}, {lib_.At("1.5.2.0"), ""}, {lib_.At("1.5.4.0"), ""}});
  // Each step asks for what could follow and finds nothing.
  EXPECT_EQ(Reads(), "a/0/1 b/0/0 c/0/0 b/0/0 c/0/0 c/0/0");
}

TEST_F(ExecuteGetTest, GetNextWithAnOversizedNameLengthReadsNoFurtherThanTheOid) {
  ASSERT_NO_FATAL_FAILURE(Start({"a"}));
  Oid odd = lib_.At("1.4.8.1.1");
  odd.push_back(0xFFFFFFFFu);
  odd.push_back('a');
  // No record for that name: the walk goes on behind the record table.
  ExpectWalk(odd, {{lib_.At("1.5.2.0"), ""}});
  EXPECT_EQ(Reads(), "a\x01/0/0");
}

// --- Trace

TEST_F(ExecuteGetTest, TraceNamesEachStepAtItsLevel) {
  ASSERT_NO_FATAL_FAILURE(Start({"a", "b"}));
  SetRecord("a", 1, "one");
  lib_.capture_trace(1);
  Next(Record("a", 1));
  lib_.Get(Record("a", 1));
  Next(Record("a"));
  const std::string a1 = threshold_test::OidText(Record("a", 1));
  const std::pair<unsigned, std::string> expected[] = {
      {5, "GETNEXT(): OID (" + a1 + ")"},
      {5, "GETNEXT(): OID is in Range reportValueRecordTable"},
      {5, "GETNEXT(): Search next Oid for (" + a1 + ")"},
      {5, "GETNEXT(): OID specified WITH ReportName, Check for Index ... "},
      {5, "GETNEXT(): Index available, take 2 as next one"},
      {5, "GETNEXT(): fetch report value (a)[2] from VARN"},
      {5, "GETNEXT(): VARN has no data -> get next value record"},
      {5, "GETNEXT(): new OID found is (" + threshold_test::OidText(Record("b")) + ")"},
      {5, "ReportReadRecord - current value of resource \"a\" not available"},
      {5, "GETNEXT(): No index available, take 1 as the first one"},
      {5, "GETNEXT(): new OID found is (" + threshold_test::OidText(lib_.At("1.5.2.0")) + ")"},
      {5, "GETNEXT():not within range of recordvalue. Bailing out"},
      {3, "ExecuteGET(): Request for reportValueRecordTable"},
      {3, " ExecuteGET(): index (a) and create XML doc"},
      {3, "ReportReadRecord - current value of resource \"a\": one"},
      // An answered GET-NEXT traces the value alone on a line of its own.
      {5, "GETNEXT(): VARN has data"},
      {4, "ReportReadRecord - current value of resource \"a\":\n"},
  };
  for (const auto& [level, text] : expected) {
    EXPECT_EQ(lib_.TraceLevel("\nLORVETH_AGENT       : " + text), level) << text;
  }
  EXPECT_EQ(lib_.TraceLevel("\n one"), 5u);
}

}  // namespace
