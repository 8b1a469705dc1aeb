// Registration, removal, lookup and the varbind operations of the MIB tree, with
// the trace lines the registrations write.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TestAgent.h"
#include "mibtree/SnmpErrorText.h"

namespace {

constexpr const char* kRoot = "1.3.6.1.4.1.32473.2.47";

std::string Oid(const std::string& suffix) { return std::string(kRoot) + "." + suffix; }

// Captures trace lines for the lifetime of the object.
class TraceCapture {
 public:
  TraceCapture() {
    GetTrace().SetCapture([this](DWORD level, const std::string& text) {
      lines.emplace_back(level, text);
    });
  }
  ~TraceCapture() { GetTrace().SetCapture(nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::pair<DWORD, std::string>> lines;
};

class SnmpMibTreeTest : public ::testing::Test {
 protected:
  // GET or GET-NEXT of oid_text; returns (result, status, answer text).
  struct Answer {
    bool found;
    AsnInteger32 status;
    std::string varbind;
    std::string object;
  };
  Answer Query(const std::string& oid_text, BYTE type) {
    VarBindOwner varbind = MakeVarbind(oid_text.c_str());
    AsnInteger32 status = -1;
    const char* object = "(unset)";
    const bool found = agent.MibGetVarbind(varbind.Get(), type, &status, &object);
    return Answer{found, status, VarbindText(varbind.Get()), object};
  }
  Answer Get(const std::string& oid_text) { return Query(oid_text, SNMP_PDU_GET); }
  Answer GetNext(const std::string& oid_text) { return Query(oid_text, SNMP_PDU_GETNEXT); }

  // Check pass and apply pass of an INTEGER SET; returns the two statuses.
  std::pair<AsnInteger32, AsnInteger32> SetInteger(const std::string& oid_text, DWORD value) {
    VarBindOwner varbind = MakeVarbind(oid_text.c_str());
    SetVarbindNumber(varbind.Get(), value, ASN_INTEGER);
    AsnInteger32 check = -1;
    AsnInteger32 set = -1;
    EXPECT_TRUE(agent.MibCheckSetVarbind(varbind.Get(), &check, nullptr));
    EXPECT_TRUE(agent.MibSetVarbind(varbind.Get(), &set));
    return {check, set};
  }

  TestAgent agent;
};

// --- registration -------------------------------------------------------------

TEST_F(SnmpMibTreeTest, RegisteringSameOidTwiceKeepsOneEntryWithLaterValue) {
  ASSERT_TRUE(agent.AddConstMibEntry(Oid("1.1.1.0").c_str(), "threshAgentId", "first",
                                     ASN_OCTETSTRING, kMibReadOnly));
  ASSERT_TRUE(agent.AddConstMibEntry(Oid("1.1.1.0").c_str(), "threshAgentId", 7, ASN_INTEGER,
                                     kMibReadOnly));
  EXPECT_EQ(agent.GetMibEntryCount(), 1u);
  EXPECT_EQ(Get(Oid("1.1.1.0")).varbind, "Oid=" + Oid("1.1.1.0") + ", Value=INTEGER: 7 (0x7)");
}

TEST_F(SnmpMibTreeTest, ReRegisteringScalarReplacesCallbacksAccessAndUserWord) {
  ASSERT_TRUE(agent.AddVarMibEntry(Oid("1.2.2.0").c_str(), "threshThresholdStatus", ASN_INTEGER,
                                   &TestAgent::fGetCounter, &TestAgent::fSet,
                                   &TestAgent::fCheckSet, &TestAgent::fPreRead, kMibReadWrite, 77));
  ASSERT_TRUE(agent.AddConstMibEntry(Oid("1.2.2.0").c_str(), nullptr, 3, ASN_INTEGER,
                                     kMibReadOnly));
  OidOwner key;
  OidFromString(Oid("1.2.2.0").c_str(), key.Get());
  TestAgent::MibEntryInfo info;
  ASSERT_TRUE(agent.GetMibEntryInfo(key.Get(), &info));
  EXPECT_STREQ(info.object_name, "threshThresholdStatus");  // kept: no name given
  EXPECT_EQ(info.access, kMibReadOnly);
  EXPECT_EQ(info.user_word, 0u);
  EXPECT_EQ(info.get, nullptr);
  EXPECT_EQ(info.pre_read, nullptr);
  EXPECT_EQ(Get(Oid("1.2.2.0")).varbind, "Oid=" + Oid("1.2.2.0") + ", Value=INTEGER: 3 (0x3)");
  EXPECT_TRUE(agent.calls.empty());
}

TEST_F(SnmpMibTreeTest, VarScalarStoresZeroValueOfItsTypeAndUserWord) {
  ASSERT_TRUE(agent.AddVarMibEntry(Oid("1.2.4.0").c_str(), "threshLastSetResultMessage",
                                   ASN_OCTETSTRING, nullptr, nullptr, nullptr, nullptr,
                                   kMibReadOnly, 0xABCD));
  EXPECT_EQ(Get(Oid("1.2.4.0")).varbind, "Oid=" + Oid("1.2.4.0") + ", Value=STRING: NULL");
  OidOwner key;
  OidFromString(Oid("1.2.4.0").c_str(), key.Get());
  TestAgent::MibEntryInfo info;
  ASSERT_TRUE(agent.GetMibEntryInfo(key.Get(), &info));
  EXPECT_EQ(info.user_word, 0xABCDu);
}

TEST_F(SnmpMibTreeTest, ReRegisteringVarTableCellKeepsTheValueASetStored) {
  ASSERT_TRUE(agent.AddVarTableEntry(Oid("1.3.1.1.25").c_str(), "threshRuleCurrentValue", nullptr,
                                     nullptr, nullptr, nullptr, kMibReadWrite, "cpu"));
  const std::string cell = Oid("1.3.1.1.25.3.99.112.117");
  EXPECT_EQ(Get(cell).varbind, "Oid=" + cell + ", Value=NULL");
  EXPECT_EQ(SetInteger(cell, 42), std::make_pair(0, 0));
  ASSERT_TRUE(agent.AddVarTableEntry(Oid("1.3.1.1.25").c_str(), "threshRuleCurrentValue",
                                     &TestAgent::fGetCounter, nullptr, nullptr, nullptr,
                                     kMibReadOnly, "cpu"));
  EXPECT_EQ(agent.GetMibEntryCount(), 1u);
  // The get callback now answers, but it is handed the stored value first.
  const Answer answer = Get(cell);
  ASSERT_EQ(agent.calls.size(), 1u);
  EXPECT_EQ(agent.calls[0].value, "INTEGER: 42 (0x2A)");
  EXPECT_EQ(answer.varbind, "Oid=" + cell + ", Value=INTEGER: 100 (0x64)");
  EXPECT_EQ(SetInteger(cell, 1), std::make_pair(4, 4));
}

TEST_F(SnmpMibTreeTest, TableCellKeyAppendsTextIndexThenNumberIndex) {
  ASSERT_TRUE(agent.AddConstTableEntry("1.3.6", "member", 1, ASN_INTEGER, "ab", 3));
  ASSERT_TRUE(agent.AddConstTableEntry("1.3.6", "name", "x", ASN_OCTETSTRING, "ab",
                                       kNoNumberIndex));
  ASSERT_TRUE(agent.AddConstTableEntry("1.3.7", "unnamed", 0, ASN_INTEGER, "", kNoNumberIndex));
  EXPECT_TRUE(Get("1.3.6.2.97.98.3").found);
  EXPECT_TRUE(Get("1.3.6.2.97.98").found);
  EXPECT_TRUE(Get("1.3.7.0").found);
  EXPECT_EQ(agent.GetMibEntryCount(), 3u);
}

TEST_F(SnmpMibTreeTest, TableCellsAreReadOnlyWithoutCallbacks) {
  ASSERT_TRUE(agent.AddConstTableEntry(Oid("1.3.1.1.2").c_str(), "threshRuleDescription", "d",
                                       ASN_OCTETSTRING, "a", kNoNumberIndex));
  EXPECT_EQ(SetInteger(Oid("1.3.1.1.2.1.97"), 1), std::make_pair(4, 4));
  EXPECT_EQ(Get(Oid("1.3.1.1.2.1.97")).varbind,
            "Oid=" + Oid("1.3.1.1.2.1.97") + ", Value=STRING: \"d\"");
}

TEST_F(SnmpMibTreeTest, UnparsableOidTextIsRejectedAndChangesNothing) {
  ASSERT_TRUE(agent.AddConstMibEntry("1.3", "a", 1, ASN_INTEGER, kMibReadOnly));
  EXPECT_FALSE(agent.AddConstMibEntry("7", "b", 1, ASN_INTEGER, kMibReadOnly));
  EXPECT_FALSE(agent.AddConstMibEntry("1.x", "b", "v", ASN_OCTETSTRING, kMibReadOnly));
  EXPECT_FALSE(agent.AddVarMibEntry(nullptr, "b", ASN_INTEGER, nullptr, nullptr, nullptr, nullptr,
                                    kMibReadOnly, 0));
  EXPECT_FALSE(agent.AddConstTableEntry("", "b", 1, ASN_INTEGER, "r", kNoNumberIndex));
  EXPECT_FALSE(agent.AddVarTableEntry("1.3 ", "b", nullptr, nullptr, nullptr, nullptr,
                                      kMibReadOnly, "r"));
  EXPECT_EQ(agent.GetMibEntryCount(), 1u);
  EXPECT_FALSE(Get("").found);
}

TEST_F(SnmpMibTreeTest, ValueThatDoesNotSuitItsTypeIsStoredAsNull) {
  ASSERT_TRUE(agent.AddConstMibEntry("1.3.1", "n", 5, ASN_OCTETSTRING, kMibReadOnly));
  ASSERT_TRUE(agent.AddConstMibEntry("1.3.2", "i", "1.2", ASN_IPADDRESS, kMibReadOnly));
  EXPECT_EQ(Get("1.3.1").varbind, "Oid=1.3.1, Value=NULL");
  EXPECT_EQ(Get("1.3.2").varbind, "Oid=1.3.2, Value=NULL");
}

TEST_F(SnmpMibTreeTest, RegistrationsWriteTheirTraceLines) {
  TraceCapture trace;
  agent.AddConstMibEntry("1.3.1.0", "threshAgentId", "Agent", ASN_OCTETSTRING, kMibReadOnly);
  agent.AddConstMibEntry("1.3.2.0", "writable", 5, ASN_INTEGER, kMibReadWrite);
  agent.AddVarMibEntry("1.3.3.0", "threshReportStatus", ASN_INTEGER, &TestAgent::fGetCounter,
                       nullptr, nullptr, nullptr, kMibReadOnly, 0);
  agent.AddConstTableEntry("1.3.4", "threshRuleName", "cpu", ASN_OCTETSTRING, "cpu",
                           kNoNumberIndex);
  agent.AddVarTableEntry("1.3.5", "threshRuleCurrentValue", &TestAgent::fGetCounter, nullptr,
                         nullptr, nullptr, kMibReadOnly, "a");
  const std::vector<std::pair<DWORD, std::string>> expected = {
      {1, "\n## Const MIB entry:   threshAgentId                  - "
          "Oid=1.3.1.0, Value=STRING: \"Agent\""},
      {1, "\n## Const MIB entry:   writable                       (RW) - "
          "Oid=1.3.2.0, Value=INTEGER: 5 (0x5)"},
      {1, "\n## Var MIB entry:     threshReportStatus             - "
          "Oid=1.3.3.0, Value=INTEGER: 0 (0x0)"},
      {1, "\n## Const table entry: threshRuleName                 - "
          "Oid=1.3.4.3.99.112.117, Value=STRING: \"cpu\""},
      {1, "\n## Var table entry:   threshRuleCurrentValue         - Oid=1.3.5.1.97"},
  };
  EXPECT_EQ(trace.lines, expected);
}

// --- regions --------------------------------------------------------------------

TEST_F(SnmpMibTreeTest, RegionsKeepTheirOrderAndDescriptions) {
  TraceCapture trace;
  ASSERT_TRUE(agent.AddMibRegion(kRoot));
  ASSERT_TRUE(agent.AddMibRegion("1.3.6.1.4.1.32473.3", "second region"));
  EXPECT_FALSE(agent.AddMibRegion("bad"));
  ASSERT_EQ(agent.GetMibRegionCount(), 2u);
  EXPECT_STREQ(OidToString(agent.GetMibRegionOid(0)), kRoot);
  EXPECT_STREQ(agent.GetMibRegionDescription(0), "");
  EXPECT_STREQ(OidToString(agent.GetMibRegionOid(1)), "1.3.6.1.4.1.32473.3");
  EXPECT_STREQ(agent.GetMibRegionDescription(1), "second region");
  EXPECT_STREQ(VarbindValueText(&agent.GetMibRegion(1)->value), "STRING: \"second region\"");
  EXPECT_EQ(agent.GetMibRegionOid(2), nullptr);
  ASSERT_GE(trace.lines.size(), 2u);
  EXPECT_EQ(trace.lines[0].second,
            "\nTestAgent           :  add MIB region: 1.3.6.1.4.1.32473.2.47");
  EXPECT_EQ(trace.lines[1].second,
            "\nTestAgent           :  add MIB region: 1.3.6.1.4.1.32473.3 - second region");
}

// --- removal --------------------------------------------------------------------

TEST_F(SnmpMibTreeTest, RemoveMibSubtreeRemovesExactlyTheEntriesUnderThePrefix) {
  for (const char* oid : {"1.3.6.1", "1.3.6.1.2", "1.3.6.1.2.0", "1.3.6.1.2.4294967295.1",
                          "1.3.6.1.20", "1.3.6.1.3", "1.3.6.2"}) {
    ASSERT_TRUE(agent.AddConstMibEntry(oid, "o", 1, ASN_INTEGER, kMibReadOnly));
  }
  EXPECT_TRUE(agent.RemoveMibSubtree("1.3.6.1.2"));
  EXPECT_EQ(agent.GetMibEntryCount(), 4u);
  for (const char* kept : {"1.3.6.1", "1.3.6.1.20", "1.3.6.1.3", "1.3.6.2"}) {
    EXPECT_TRUE(Get(kept).found) << kept;
  }
  EXPECT_FALSE(agent.RemoveMibSubtree("1.3.6.1.2"));
  EXPECT_FALSE(agent.RemoveMibSubtree("1.3.6.1.20.1"));
  EXPECT_FALSE(agent.RemoveMibSubtree("not an oid"));
  EXPECT_EQ(agent.GetMibEntryCount(), 4u);
}

TEST_F(SnmpMibTreeTest, ClearMibRemovesEverythingAndTheTreeIsUsableAfterwards) {
  agent.AddConstMibEntry("1.3.1", "a", 1, ASN_INTEGER, kMibReadOnly);
  agent.AddConstMibEntry("1.3.2", "b", 1, ASN_INTEGER, kMibReadOnly);
  agent.ClearMib();
  EXPECT_EQ(agent.GetMibEntryCount(), 0u);
  EXPECT_FALSE(GetNext("0.0").found);
  agent.AddConstMibEntry("1.3.2", "b", 2, ASN_INTEGER, kMibReadOnly);
  EXPECT_EQ(GetNext("0.0").varbind, "Oid=1.3.2, Value=INTEGER: 2 (0x2)");
}

// --- GET and GET-NEXT ---------------------------------------------------------

class SnmpMibTreeLookupTest : public SnmpMibTreeTest {
 protected:
  void SetUp() override {
    agent.AddConstMibEntry("1.3.6.1.2", "two", 2, ASN_INTEGER, kMibReadOnly);
    agent.AddConstMibEntry("1.3.6.1.4", "four", "four", ASN_OCTETSTRING, kMibReadWrite);
    agent.AddConstMibEntry("1.3.6.1.4.0", "fourzero", 40, ASN_GAUGE32, kMibReadOnly);
  }
};

TEST_F(SnmpMibTreeLookupTest, GetOfUnregisteredOidLeavesVarbindUnchanged) {
  for (const char* oid : {"1.3.6.1.3", "1.3.6.1", "1.3.6.1.2.0", "0.0"}) {
    const Answer answer = Get(oid);
    EXPECT_FALSE(answer.found);
    EXPECT_EQ(answer.status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(answer.varbind, std::string("Oid=") + oid + ", Value=NULL");
    EXPECT_EQ(answer.object, "(unset)");
  }
}

TEST_F(SnmpMibTreeLookupTest, GetOfRegisteredOidAnswersStoredValueAndObjectName) {
  const Answer answer = Get("1.3.6.1.4");
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.varbind, "Oid=1.3.6.1.4, Value=STRING: \"four\"");
  EXPECT_EQ(answer.object, "four");
}

TEST_F(SnmpMibTreeLookupTest, GetNextPastLastEntryLeavesVarbindUnchanged) {
  for (const char* oid : {"1.3.6.1.4.0", "1.3.6.1.4.0.0", "1.3.6.1.5", "2.0"}) {
    const Answer answer = GetNext(oid);
    EXPECT_FALSE(answer.found) << oid;
    EXPECT_EQ(answer.status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(answer.varbind, std::string("Oid=") + oid + ", Value=NULL");
  }
}

TEST_F(SnmpMibTreeLookupTest, GetNextBetweenOrBeforeEntriesReturnsTheNextGreater) {
  EXPECT_EQ(GetNext("1.3.6.1.3").varbind, "Oid=1.3.6.1.4, Value=STRING: \"four\"");
  EXPECT_EQ(GetNext("1.3.6.1.2.4294967295").varbind, "Oid=1.3.6.1.4, Value=STRING: \"four\"");
  EXPECT_EQ(GetNext("1.3.6.1.2").varbind, "Oid=1.3.6.1.4, Value=STRING: \"four\"");
  EXPECT_EQ(GetNext("1.3.6.1.4").varbind, "Oid=1.3.6.1.4.0, Value=GAUGE: 40 (0x28)");
  EXPECT_EQ(GetNext("1.3").varbind, "Oid=1.3.6.1.2, Value=INTEGER: 2 (0x2)");
  VarBindOwner empty;
  AsnInteger32 status = -1;
  ASSERT_TRUE(agent.MibGetVarbind(empty.Get(), SNMP_PDU_GETNEXT, &status, nullptr));
  EXPECT_STREQ(OidToString(&empty->name), "1.3.6.1.2");
}

TEST_F(SnmpMibTreeLookupTest, OtherRequestTypesFindNothing) {
  EXPECT_FALSE(Query("1.3.6.1.2", SNMP_PDU_SET).found);
  EXPECT_FALSE(Query("1.3.6.1.2", SNMP_PDU_GETBULK).found);
}

TEST_F(SnmpMibTreeLookupTest, AnswerReplacesTheRequestValueOfAnyType) {
  VarBindOwner varbind = MakeVarbind("1.3.6.1.2");
  SetVarbindText(varbind.Get(), "1.2.3.4.5", ASN_OBJECTIDENTIFIER);
  AsnInteger32 status = -1;
  ASSERT_TRUE(agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GET, &status, nullptr));
  EXPECT_STREQ(VarbindText(varbind.Get()), "Oid=1.3.6.1.2, Value=INTEGER: 2 (0x2)");
}

TEST_F(SnmpMibTreeLookupTest, GetNextMibEntryCopiesTheNextEntryWithoutCallbacks) {
  agent.AddVarMibEntry("1.3.6.1.3", "cb", ASN_INTEGER, &TestAgent::fGetCounter, nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  VarBindOwner varbind = MakeVarbind("1.3.6.1.2.9");
  ASSERT_TRUE(agent.GetNextMibEntry(varbind.Get()));
  EXPECT_STREQ(VarbindText(varbind.Get()), "Oid=1.3.6.1.3, Value=INTEGER: 0 (0x0)");
  EXPECT_TRUE(agent.calls.empty());
  VarBindOwner last = MakeVarbind("1.3.6.1.4.0");
  SetVarbindNumber(last.Get(), 5, ASN_INTEGER);
  EXPECT_FALSE(agent.GetNextMibEntry(last.Get()));
  EXPECT_STREQ(VarbindText(last.Get()), "Oid=1.3.6.1.4.0, Value=INTEGER: 5 (0x5)");
}

// --- callbacks in GET ---------------------------------------------------------

TEST_F(SnmpMibTreeTest, GetCallbackAnswersButNeverChangesTheStore) {
  agent.AddVarMibEntry("1.3.1", "counter", ASN_INTEGER, &TestAgent::fGetCounter, nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  EXPECT_EQ(Get("1.3.1").varbind, "Oid=1.3.1, Value=INTEGER: 100 (0x64)");
  EXPECT_EQ(GetNext("1.3").varbind, "Oid=1.3.1, Value=INTEGER: 101 (0x65)");
  ASSERT_EQ(agent.calls.size(), 2u);
  for (const auto& call : agent.calls) {
    EXPECT_EQ(call.mode, kMibModeGet);
    EXPECT_EQ(call.oid, "1.3.1");
    EXPECT_EQ(call.value, "INTEGER: 0 (0x0)");  // the stored value, untouched
  }
}

TEST_F(SnmpMibTreeTest, PreReadRunsFirstAndItsFailureSuppressesTheGetCallback) {
  agent.AddVarMibEntry("1.3.1", "counter", ASN_INTEGER, &TestAgent::fGetCounter, nullptr, nullptr,
                       &TestAgent::fPreRead, kMibReadOnly, 0);
  EXPECT_EQ(Get("1.3.1").status, 0);
  ASSERT_EQ(agent.calls.size(), 2u);
  EXPECT_EQ(agent.calls[0].callback, "pre");
  EXPECT_EQ(agent.calls[0].mode, kMibModePreRead);
  EXPECT_EQ(agent.calls[1].callback, "get");
  agent.calls.clear();
  agent.pre_read_status = SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE;
  const Answer answer = Get("1.3.1");
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
  ASSERT_EQ(agent.calls.size(), 1u);
  EXPECT_EQ(agent.calls[0].callback, "pre");
}

TEST_F(SnmpMibTreeTest, ThrowingGetCallbackGivesGenericErrorAndGetNextCanStepPastIt) {
  agent.AddConstMibEntry("1.3.1", "before", 1, ASN_INTEGER, kMibReadOnly);
  agent.AddVarMibEntry("1.3.2", "throws", ASN_INTEGER, &TestAgent::fThrow, nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  agent.AddVarMibEntry("1.3.3", "throwsint", ASN_INTEGER, &TestAgent::fThrowInt, nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  agent.AddConstMibEntry("1.3.4", "after", 4, ASN_INTEGER, kMibReadOnly);
  Answer answer = GetNext("1.3.1");
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.status, SNMP_ERRORSTATUS_GENERR);
  EXPECT_EQ(answer.object, "throws");
  EXPECT_EQ(answer.varbind, "Oid=1.3.2, Value=INTEGER: 0 (0x0)");
  answer = GetNext("1.3.2");
  EXPECT_EQ(answer.status, SNMP_ERRORSTATUS_GENERR);
  answer = GetNext("1.3.3");
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.varbind, "Oid=1.3.4, Value=INTEGER: 4 (0x4)");
}

// Callbacks of a class derived from the agent, placed at a non-zero offset, are
// called on the right object.
class Padding {
 public:
  virtual ~Padding() = default;
  char bytes[24] = {};
};

class DerivedAgent : public Padding, public TestAgent {
 public:
  DWORD fGetMarker(SnmpVarBind* varbind, DWORD /*mode*/) {
    SetVarbindNumber(varbind, marker, ASN_INTEGER);
    return 0;
  }
  DWORD marker = 0x5EED;
};

TEST(SnmpMibTreeDerivedAgentTest, DerivedClassCallbackIsCalledOnTheDerivedObject) {
  DerivedAgent agent;
  ASSERT_TRUE(agent.AddVarMibEntry("1.3.1", "marker", ASN_INTEGER,
                                   static_cast<MibCallback>(&DerivedAgent::fGetMarker), nullptr,
                                   nullptr, nullptr, kMibReadOnly, 0));
  VarBindOwner varbind = MakeVarbind("1.3.1");
  AsnInteger32 status = -1;
  ASSERT_TRUE(agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GET, &status, nullptr));
  EXPECT_EQ(GetInteger(varbind.Get()), 0x5EED);
}

// --- SET ----------------------------------------------------------------------

TEST_F(SnmpMibTreeTest, GetAfterSetOfReadWriteConstScalarReturnsTheSetValue) {
  agent.AddConstMibEntry("1.3.1.0", "rw", 1, ASN_INTEGER, kMibReadWrite);
  EXPECT_EQ(SetInteger("1.3.1.0", 99), std::make_pair(0, 0));
  EXPECT_EQ(Get("1.3.1.0").varbind, "Oid=1.3.1.0, Value=INTEGER: 99 (0x63)");
}

TEST_F(SnmpMibTreeTest, SetOfReadOnlyOidGivesReadOnlyAndKeepsTheValue) {
  agent.AddVarMibEntry("1.3.1.0", "ro", ASN_INTEGER, nullptr, &TestAgent::fSet,
                       &TestAgent::fCheckSet, nullptr, kMibReadOnly, 0);
  const std::pair<AsnInteger32, AsnInteger32> expected{SNMP_ERRORSTATUS_READONLY,
                                                       SNMP_ERRORSTATUS_READONLY};
  EXPECT_EQ(SetInteger("1.3.1.0", 5), expected);
  EXPECT_TRUE(agent.calls.empty());
  EXPECT_EQ(Get("1.3.1.0").varbind, "Oid=1.3.1.0, Value=INTEGER: 0 (0x0)");
}

TEST_F(SnmpMibTreeTest, SetOfUnregisteredOidIsNoSuchName) {
  agent.AddConstMibEntry("1.3.1.0", "rw", 1, ASN_INTEGER, kMibReadWrite);
  VarBindOwner varbind = MakeVarbind("1.3.1");
  AsnInteger32 status = -1;
  const char* object = "(unset)";
  EXPECT_FALSE(agent.MibCheckSetVarbind(varbind.Get(), &status, &object));
  EXPECT_EQ(status, SNMP_ERRORSTATUS_NOSUCHNAME);
  EXPECT_STREQ(object, "(unset)");
  status = -1;
  EXPECT_FALSE(agent.MibSetVarbind(varbind.Get(), &status));
  EXPECT_EQ(status, SNMP_ERRORSTATUS_NOSUCHNAME);
}

TEST_F(SnmpMibTreeTest, CheckAndSetCallbacksSeeTheRequestValueAndDecideTheStatus) {
  agent.AddVarMibEntry("1.3.1.0", "rw", ASN_INTEGER, nullptr, &TestAgent::fSet,
                       &TestAgent::fCheckSet, nullptr, kMibReadWrite, 0);
  VarBindOwner varbind = MakeVarbind("1.3.1.0");
  SetVarbindText(varbind.Get(), "text for an INTEGER", ASN_OCTETSTRING);
  AsnInteger32 status = -1;
  const char* object = nullptr;
  agent.check_status = SNMP_ERRORSTATUS_WRONGTYPE;
  ASSERT_TRUE(agent.MibCheckSetVarbind(varbind.Get(), &status, &object));
  EXPECT_EQ(status, SNMP_ERRORSTATUS_WRONGTYPE);
  EXPECT_STREQ(object, "rw");
  agent.set_status = SNMP_ERRORSTATUS_COMMITFAILED;
  ASSERT_TRUE(agent.MibSetVarbind(varbind.Get(), &status));
  EXPECT_EQ(status, SNMP_ERRORSTATUS_COMMITFAILED);
  ASSERT_EQ(agent.calls.size(), 2u);
  EXPECT_EQ(agent.calls[0].mode, kMibModeCheckSet);
  EXPECT_EQ(agent.calls[1].mode, kMibModeSet);
  EXPECT_EQ(agent.calls[1].value, "STRING: \"text for an INTEGER\"");
  // A failed set stores nothing.
  EXPECT_EQ(Get("1.3.1.0").varbind, "Oid=1.3.1.0, Value=INTEGER: 0 (0x0)");
  // A successful one stores the request value, whatever its type.
  agent.set_status = 0;
  ASSERT_TRUE(agent.MibSetVarbind(varbind.Get(), &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Get("1.3.1.0").varbind, "Oid=1.3.1.0, Value=STRING: \"text for an INTEGER\"");
}

TEST_F(SnmpMibTreeTest, ThrowingSetCallbackGivesGenericErrorAndStoresNothing) {
  agent.AddVarMibEntry("1.3.1.0", "rw", ASN_INTEGER, nullptr, &TestAgent::fThrow,
                       &TestAgent::fThrowInt, nullptr, kMibReadWrite, 0);
  const std::pair<AsnInteger32, AsnInteger32> expected{SNMP_ERRORSTATUS_GENERR,
                                                       SNMP_ERRORSTATUS_GENERR};
  EXPECT_EQ(SetInteger("1.3.1.0", 5), expected);
  EXPECT_EQ(Get("1.3.1.0").varbind, "Oid=1.3.1.0, Value=INTEGER: 0 (0x0)");
}

// --- re-entrant callbacks -----------------------------------------------------

class ReentrantAgent : public TestAgent {
 public:
  // Looks the tree up, registers into it and removes from it while the tree is
  // serving this very callback.
  DWORD fGetReentrant(SnmpVarBind* varbind, DWORD /*mode*/) {
    VarBindOwner other = MakeVarbind("1.3.9");
    AsnInteger32 status = -1;
    MibGetVarbind(other.Get(), SNMP_PDU_GET, &status, nullptr);
    AddConstMibEntry("1.3.8", "added", GetInteger(other.Get()) + 1, ASN_INTEGER, kMibReadOnly);
    RemoveMibSubtree("1.3.7");
    SetVarbindNumber(varbind, static_cast<DWORD>(GetMibEntryCount()), ASN_INTEGER);
    return 0;
  }
  // Removes its own entry while the SET is being applied.
  DWORD fSetRemovingItself(SnmpVarBind* /*varbind*/, DWORD /*mode*/) {
    RemoveMibSubtree("1.3.5");
    return 0;
  }
};

TEST(SnmpMibTreeReentryTest, CallbackThatUsesTheTreeDuringGetDoesNotDeadlock) {
  ReentrantAgent agent;
  agent.AddConstMibEntry("1.3.9", "nine", 9, ASN_INTEGER, kMibReadOnly);
  agent.AddConstMibEntry("1.3.7.1", "removed", 1, ASN_INTEGER, kMibReadOnly);
  agent.AddVarMibEntry("1.3.1", "reentrant", ASN_INTEGER,
                       static_cast<MibCallback>(&ReentrantAgent::fGetReentrant), nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  VarBindOwner varbind = MakeVarbind("1.3.1");
  AsnInteger32 status = -1;
  ASSERT_TRUE(agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GET, &status, nullptr));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(GetInteger(varbind.Get()), 3);  // 1.3.1, 1.3.8, 1.3.9
  VarBindOwner added = MakeVarbind("1.3.8");
  ASSERT_TRUE(agent.MibGetVarbind(added.Get(), SNMP_PDU_GET, &status, nullptr));
  EXPECT_EQ(GetInteger(added.Get()), 10);
}

TEST(SnmpMibTreeReentryTest, SetCallbackThatRemovesItsOwnEntryLeavesTheTreeConsistent) {
  ReentrantAgent agent;
  agent.AddVarMibEntry("1.3.5.1", "self", ASN_INTEGER, nullptr,
                       static_cast<MibCallback>(&ReentrantAgent::fSetRemovingItself), nullptr,
                       nullptr, kMibReadWrite, 0);
  VarBindOwner varbind = MakeVarbind("1.3.5.1");
  SetVarbindNumber(varbind.Get(), 1, ASN_INTEGER);
  AsnInteger32 status = -1;
  EXPECT_TRUE(agent.MibSetVarbind(varbind.Get(), &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(agent.GetMibEntryCount(), 0u);
}

}  // namespace
