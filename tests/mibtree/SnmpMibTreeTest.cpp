// Registration, re-registration and SET of the MIB tree, with the trace lines
// the registrations write. Ordering, misses and removal over random OIDs are
// the differential test's.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "TestAgent.h"
#include "support/TraceCapture.h"

namespace {

using Statuses = std::pair<AsnInteger32, AsnInteger32>;

class SnmpMibTreeTest : public ::testing::Test {
 protected:
  std::string Get(const std::string& oid_text) {
    VarBindOwner varbind = MakeVarbind(oid_text.c_str());
    AsnInteger32 status = -1;
    agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GET, &status, nullptr);
    return VarbindText(varbind.Get());
  }
  // Check pass and apply pass of a SET, both finding the entry or neither;
  // returns the two statuses and keeps the object name the check answered.
  Statuses Set(const std::string& oid_text, const char* value, BYTE type = ASN_INTEGER,
               bool found = true) {
    VarBindOwner varbind = MakeVarbind(oid_text.c_str());
    SetVarbindText(varbind.Get(), value, type);
    AsnInteger32 check = -1;
    AsnInteger32 set = -1;
    checked_object = "(unset)";
    EXPECT_EQ(agent.MibCheckSetVarbind(varbind.Get(), &check, &checked_object), found);
    EXPECT_EQ(agent.MibSetVarbind(varbind.Get(), &set), found);
    return {check, set};
  }
  TestAgent::MibEntryInfo Info(const char* oid_text) {
    OidOwner key;
    OidFromString(oid_text, key.Get());
    TestAgent::MibEntryInfo info;
    EXPECT_TRUE(agent.GetMibEntryInfo(key.Get(), &info));
    return info;
  }
  void AddVar(const char* oid, const char* name, MibCallback get, MibCallback set,
              MibCallback check, MibCallback pre, DWORD access = kMibReadOnly) {
    ASSERT_TRUE(agent.AddVarMibEntry(oid, name, ASN_INTEGER, get, set, check, pre, access, 0));
  }

  TestAgent agent;
  const char* checked_object = nullptr;
};

TEST_F(SnmpMibTreeTest, ReRegisteringReplacesCallbacksAccessAndUserWordButKeepsAStoredValue) {
  ASSERT_TRUE(agent.AddVarMibEntry("1.3.2.0", "threshThresholdStatus", ASN_OCTETSTRING,
                                   &TestAgent::fGetCounter, &TestAgent::fSet, &TestAgent::fCheckSet,
                                   &TestAgent::fPreRead, kMibReadWrite, 77));
  EXPECT_EQ(Get("1.3.2.0"), "Oid=1.3.2.0, Value=INTEGER: 100 (0x64)");
  EXPECT_EQ(Info("1.3.2.0").user_word, 77u);
  agent.calls.clear();
  ASSERT_TRUE(agent.AddConstMibEntry("1.3.2.0", nullptr, 3, ASN_INTEGER, kMibReadOnly));
  const TestAgent::MibEntryInfo info = Info("1.3.2.0");  // the name kept: none given
  EXPECT_EQ(std::make_tuple(std::string(info.object_name), info.access, info.user_word),
            std::make_tuple(std::string("threshThresholdStatus"), kMibReadOnly, 0u));
  EXPECT_TRUE(info.get == nullptr && info.pre_read == nullptr);
  EXPECT_EQ(agent.GetMibEntryCount(), 1u);
  EXPECT_EQ(Get("1.3.2.0"), "Oid=1.3.2.0, Value=INTEGER: 3 (0x3)");
  EXPECT_TRUE(agent.calls.empty());

  // A var table cell registered again keeps the value a SET stored.
  ASSERT_TRUE(agent.AddVarTableEntry("1.3.25", "threshRuleCurrentValue", nullptr, nullptr, nullptr,
                                     nullptr, kMibReadWrite, "cpu"));
  const std::string cell = "1.3.25.3.99.112.117";
  EXPECT_EQ(Get(cell), "Oid=" + cell + ", Value=NULL");
  EXPECT_EQ(Set(cell, "42"), Statuses(0, 0));
  ASSERT_TRUE(agent.AddVarTableEntry("1.3.25", "threshRuleCurrentValue", &TestAgent::fGetCounter,
                                     nullptr, nullptr, nullptr, kMibReadOnly, "cpu"));
  EXPECT_EQ(agent.GetMibEntryCount(), 2u);
  // The get callback now answers, but it is handed the stored value first.
  EXPECT_EQ(Get(cell), "Oid=" + cell + ", Value=INTEGER: 101 (0x65)");
  ASSERT_EQ(agent.calls.size(), 1u);
  EXPECT_EQ(agent.calls[0].value, "INTEGER: 42 (0x2A)");
  EXPECT_EQ(Set(cell, "1"), Statuses(4, 4));
}

TEST_F(SnmpMibTreeTest, UnparsableOidTextChangesNothingRegistrationsWriteTheirTraceLines) {
  ASSERT_TRUE(agent.AddConstMibEntry("1.3", "a", 1, ASN_INTEGER, kMibReadOnly));
  EXPECT_FALSE(agent.AddConstMibEntry("1.x", "b", "v", ASN_OCTETSTRING, kMibReadOnly));
  EXPECT_FALSE(agent.AddConstTableEntry("", "b", 1, ASN_INTEGER, "r", kNoNumberIndex));
  EXPECT_FALSE(agent.AddMibRegion("bad"));
  EXPECT_FALSE(agent.RemoveMibSubtree("not an oid"));
  EXPECT_EQ(agent.GetMibEntryCount(), 1u);
  AsnInteger32 status = -1;
  EXPECT_FALSE(agent.MibGetVarbind(MakeVarbind("").Get(), SNMP_PDU_GET, &status, nullptr));
  test_support::TraceCapture trace;
  agent.AddConstMibEntry("1.3.1", "threshAgentId", "A", ASN_OCTETSTRING, kMibReadOnly);
  agent.AddConstMibEntry("1.3.2.0", "writable", 5, ASN_INTEGER, kMibReadWrite);
  agent.AddConstTableEntry("1.4", "threshRuleName", "c", ASN_OCTETSTRING, "c", kNoNumberIndex);
  agent.AddVarTableEntry("1.3.5", "threshRuleCurrentValue", &TestAgent::fGetCounter, nullptr,
                         nullptr, nullptr, kMibReadOnly, "a");
  ASSERT_TRUE(agent.AddMibRegion("1.3.6.1.4.1.32473.2.47"));
  ASSERT_TRUE(agent.AddMibRegion("1.3.6.1.4.1.32473.3", "second region"));
  const char* const expected[] = {
      "\n## Const MIB entry:   threshAgentId                  - Oid=1.3.1, Value=STRING: \"A\"",
      ("\n## Const MIB entry:   writable                       (RW) - "
       "Oid=1.3.2.0, Value=INTEGER: 5 (0x5)"),
      "\n## Const table entry: threshRuleName                 - Oid=1.4.1.99, Value=STRING: \"c\"",
      "\n## Var table entry:   threshRuleCurrentValue         - Oid=1.3.5.1.97",
      "\nTestAgent           :  add MIB region: 1.3.6.1.4.1.32473.2.47",
      "\nTestAgent           :  add MIB region: 1.3.6.1.4.1.32473.3 - second region"};
  const auto lines = trace.Lines();
  ASSERT_EQ(lines.size(), std::size(expected));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, expected[i]);
    EXPECT_EQ(lines[i].level, 1u) << i;
  }
  ASSERT_EQ(agent.GetMibRegionCount(), 2u);
  EXPECT_STREQ(agent.GetMibRegionDescription(1), "second region");
  EXPECT_EQ(agent.GetMibRegionOid(2), nullptr);
}

TEST_F(SnmpMibTreeTest, SetStatusesOfAccessMissingEntriesAndCallbacks) {
  agent.AddConstMibEntry("1.3.1.0", "rw", 1, ASN_INTEGER, kMibReadWrite);
  AddVar("1.3.2.0", "ro", nullptr, &TestAgent::fSet, &TestAgent::fCheckSet, nullptr);
  AddVar("1.3.3.0", "throws", nullptr, &TestAgent::fThrow, &TestAgent::fThrowInt, nullptr,
         kMibReadWrite);
  EXPECT_EQ(Set("1.3.1.0", "99"), Statuses(0, 0));
  EXPECT_EQ(Get("1.3.1.0"), "Oid=1.3.1.0, Value=INTEGER: 99 (0x63)");
  EXPECT_EQ(Set("1.3.2.0", "5"), Statuses(SNMP_ERRORSTATUS_READONLY, SNMP_ERRORSTATUS_READONLY));
  EXPECT_EQ(Set("1.3.3.0", "5"), Statuses(SNMP_ERRORSTATUS_GENERR, SNMP_ERRORSTATUS_GENERR));
  EXPECT_EQ(agent.calls.size(), 2u);  // only the throwing pair ran
  EXPECT_EQ(Get("1.3.2.0"), "Oid=1.3.2.0, Value=INTEGER: 0 (0x0)");
  EXPECT_EQ(Get("1.3.3.0"), "Oid=1.3.3.0, Value=INTEGER: 0 (0x0)");
  EXPECT_EQ(Set("1.3.1", "5", ASN_INTEGER, false),
            Statuses(SNMP_ERRORSTATUS_NOSUCHNAME, SNMP_ERRORSTATUS_NOSUCHNAME));
  EXPECT_STREQ(checked_object, "(unset)");

  // Check and set callbacks see the request value and decide the status.
  AddVar("1.3.4.0", "rw", nullptr, &TestAgent::fSet, &TestAgent::fCheckSet, nullptr, kMibReadWrite);
  agent.calls.clear();
  agent.check_status = SNMP_ERRORSTATUS_WRONGTYPE;
  agent.set_status = SNMP_ERRORSTATUS_COMMITFAILED;
  const char* text = "text for an INTEGER";
  EXPECT_EQ(Set("1.3.4.0", text, ASN_OCTETSTRING),
            Statuses(SNMP_ERRORSTATUS_WRONGTYPE, SNMP_ERRORSTATUS_COMMITFAILED));
  EXPECT_STREQ(checked_object, "rw");
  ASSERT_EQ(agent.calls.size(), 2u);
  EXPECT_EQ(agent.calls[0].mode, kMibModeCheckSet);
  EXPECT_EQ(agent.calls[1].mode, kMibModeSet);
  EXPECT_EQ(agent.calls[1].value, "STRING: \"text for an INTEGER\"");
  EXPECT_EQ(Get("1.3.4.0"), "Oid=1.3.4.0, Value=INTEGER: 0 (0x0)");  // a failed set stores nothing
  agent.set_status = 0;  // a successful one stores the request value, whatever its type
  EXPECT_EQ(Set("1.3.4.0", text, ASN_OCTETSTRING).second, 0);
  EXPECT_EQ(Get("1.3.4.0"), "Oid=1.3.4.0, Value=STRING: \"text for an INTEGER\"");
}

}  // namespace
