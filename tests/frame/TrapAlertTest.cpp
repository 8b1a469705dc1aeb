// The trap-to-message table and the forwarding of traps to the event log and
// as administrator alerts, captured at the platform's event-log seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/TrapAlert.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/eventlog/EventLog.h"

namespace {

DWORD MessageIdOf(int trap) {
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    if (row->trap_number == trap) return row->message_id;
  }
  return CTrapAlert::kNoMessage;
}

TEST(Trap2MsgTableTest, HasEveryRowWithItsCodeAndBoundaries) {
  EXPECT_EQ(Trap2MsgTableSize(), 347u);
  // The first and last row of every range, and numbers just outside.
  const int present[] = {
      0,    4,    7,    23,   25,   27,   29,   32,   34,   37,   44,   46,   51,   128,  133,
      200,  240,  250,  258,  260,  262,  270,  271,  275,  277,  300,  305,  310,  313,  320,
      325,  330,  334,  600,  604,  606,  618,  620,  679,  700,  712,  747,  751,  801,  810,
      812,  830,  832,  840,  841,  850,  853,  860,  863,  895,  897,  910,  913,  920,  942,
      1000, 1002, 1020, 1022, 1100, 2000, 2006, 2010, 2015, 2020, 2024, 2030, 2036, 2040, 2043,
      2050, 2054, 2060, 2074, 2080, 2081, 2090, 2095, 2100, 2102, 2110, 2113, 2200, 2204};
  for (int trap : present) {
    const DWORD id = MessageIdOf(trap);
    ASSERT_NE(id, CTrapAlert::kNoMessage) << trap;
    EXPECT_EQ(id & 0xFFFFu, static_cast<DWORD>(10000 + trap)) << trap;
    EXPECT_EQ(id & 0x3FFF0000u, 0u) << trap;  // facility 0
  }
  for (int trap : {5,   6,   24,  26,  30,  31,  35,  45,   52,   127,  134, 199,
                   241, 259, 605, 619, 680, 800, 802, 1003, 2007, 2205, 2300}) {
    EXPECT_EQ(MessageIdOf(trap), CTrapAlert::kNoMessage) << trap;
  }
}

// A trap's binding list built from values.
class Bindings {
 public:
  ~Bindings() {
    for (SnmpVarBind& vb : items_) SnmpUtilVarBindFree(&vb);
  }
  void Text(const char* text) { SetVarbindText(&Next(), text, ASN_OCTETSTRING); }
  void Number(DWORD value, BYTE type) { SetVarbindNumber(&Next(), value, type); }
  void Oid(const char* text) { SetVarbindText(&Next(), text, ASN_OBJECTIDENTIFIER); }
  SnmpVarBindList List() { return {items_.data(), static_cast<UINT>(items_.size())}; }

 private:
  SnmpVarBind& Next() {
    items_.emplace_back();
    std::memset(&items_.back(), 0, sizeof(SnmpVarBind));
    return items_.back();
  }
  std::vector<SnmpVarBind> items_;
};

class TrapAlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetEventLogSink(
        [this](const platform::EventLogRecord& record) { records_.push_back(record); });
  }
  void TearDown() override { platform::SetEventLogSink(nullptr); }
  std::vector<platform::EventLogRecord> records_;
};

// Twelve bindings give ten parameters, object identifiers skipped; the entry
// follows the filter by severity.  An unknown trap is neither logged nor
// alerted; without the message library a known one is still logged.
TEST_F(TrapAlertTest, EventLogEntryCarriesTenParametersAndFollowsTheFilterBySeverity) {
  Bindings bindings;
  bindings.Text("srv1");
  bindings.Oid("1.3.6.1");
  bindings.Number(0xFFFFFFFFu, ASN_INTEGER);
  bindings.Number(7, ASN_COUNTER32);
  for (int i = 0; i < 8; ++i) bindings.Text("x");
  SnmpVarBindList list = bindings.List();
  CTrapAlert alert;
  alert.SetTrapParams(&list, 2202);
  EXPECT_EQ(alert.MessageId(), 0x80002FAAu);
  ASSERT_EQ(alert.ParamCount(), 10u);
  EXPECT_STREQ(alert.Param(2), "7");
  EXPECT_FALSE(alert.Write2EventLog(5, nullptr));  // informational and error only
  EXPECT_TRUE(records_.empty());
  EXPECT_TRUE(alert.Write2EventLog(2, nullptr));
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].source, "Korvell Agents");
  EXPECT_EQ(records_[0].type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(records_[0].event_id, 0x80002FAAu);
  ASSERT_EQ(records_[0].strings.size(), 10u);
  EXPECT_EQ(records_[0].strings[0], "srv1");
  EXPECT_EQ(records_[0].strings[1], "4294967295");  // numbers are formatted unsigned
  EXPECT_EQ(records_[0].strings[9], "x");

  alert.SetTrapParams(&list, 2200);
  EXPECT_TRUE(alert.Write2EventLog(4, ""));
  EXPECT_EQ(records_.back().type, EVENTLOG_ERROR_TYPE);
  alert.SetTrapParams(nullptr, 5);
  EXPECT_FALSE(alert.Write2EventLog(7, nullptr));
  EXPECT_FALSE(alert.RaiseAdminAlert(7));
  EXPECT_FALSE(alert.LoadMessageDLL("/nonexistent/Messages.dll"));
  alert.SetTrapParams(nullptr, 2203);
  EXPECT_FALSE(alert.RaiseAdminAlert(1));
  EXPECT_TRUE(alert.Write2EventLog(1, nullptr));
  ASSERT_EQ(records_.size(), 3u);
  EXPECT_EQ(records_[2].type, EVENTLOG_INFORMATION_TYPE);
}

TEST_F(TrapAlertTest, AlertCarriesTheFormattedMessageUnderTheServiceName) {
  CTrapAlert alert;
  ASSERT_TRUE(alert.LoadMessageDLL(LORVETH_BINARY_DIR "/tests/frame/TestMessages.dll"));
  Bindings bindings;
  bindings.Text("srv1");
  bindings.Number(1165000000, ASN_INTEGER);
  bindings.Text("cpu");
  bindings.Text("97");
  bindings.Text("too hot");
  SnmpVarBindList list = bindings.List();
  alert.SetTrapParams(&list, 2202);
  EXPECT_FALSE(alert.RaiseAdminAlert(5));
  ASSERT_TRUE(alert.RaiseAdminAlert(2));
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].kind, platform::EventLogRecord::Kind::kAlert);
  EXPECT_EQ(records_[0].source, "Server Control");
  EXPECT_EQ(records_[0].alert_type, "ADMIN");
  EXPECT_EQ(records_[0].error_code, 0xFFFFFFFFu);
  ASSERT_EQ(records_[0].strings.size(), 1u);
  EXPECT_EQ(records_[0].strings[0], "Rule cpu on srv1 crossed its threshold with 97 (too hot)");
}

}  // namespace
