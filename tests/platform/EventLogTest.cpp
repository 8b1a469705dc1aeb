// Event log entries and administrator alerts as captured records.
#include <gtest/gtest.h>
#include <syslog.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/eventlog/EventLog.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"

namespace {

using platform::EventLogRecord;

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetEventLogSink([this](const EventLogRecord& record) { records_.push_back(record); });
  }
  void TearDown() override { platform::SetEventLogSink(nullptr); }
  std::vector<EventLogRecord> records_;
};

TEST_F(EventLogTest, EventTypesMapToSyslogPriorities) {
  HANDLE source = RegisterEventSourceA("", "Korvell Agents");
  ASSERT_NE(source, nullptr);
  const struct {
    WORD type;
    int priority;
    const char* word;
  } cases[] = {{EVENTLOG_ERROR_TYPE, LOG_ERR, "error"},
               {EVENTLOG_WARNING_TYPE, LOG_WARNING, "warning"},
               {EVENTLOG_INFORMATION_TYPE, LOG_INFO, "information"},
               {EVENTLOG_SUCCESS, LOG_INFO, "success"}};
  for (const auto& c : cases) {
    records_.clear();
    ASSERT_TRUE(ReportEventA(source, c.type, 3, 0x40002FAB, nullptr, 0, 0, nullptr, nullptr));
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].priority, c.priority) << c.word;
    EXPECT_EQ(records_[0].text,
              std::string("Korvell Agents: event 0x40002FAB ") + c.word + " category 3");
  }
  DeregisterEventSource(source);
}

TEST_F(EventLogTest, BadTypeOrHandleWritesNothingRawDataAndNullStringsAreKept) {
  HANDLE source = RegisterEventSourceA(nullptr, "Korvell Agents");
  LPCSTR strings[] = {"x"};
  EXPECT_FALSE(ReportEventA(source, 0x3, 0, 1, nullptr, 1, 0, strings, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 2, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(DeregisterEventSource(source));
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(DeregisterEventSource(source));
  EXPECT_TRUE(records_.empty());
  HANDLE other_source = RegisterEventSourceA(nullptr, "Src");
  LPCSTR other_strings[] = {nullptr, "b"};
  unsigned char data[] = {1, 2, 3};
  ASSERT_TRUE(ReportEventA(other_source, EVENTLOG_INFORMATION_TYPE, 0, 7, nullptr, 2, sizeof data,
                           other_strings, data));
  DeregisterEventSource(other_source);
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].strings, (std::vector<std::string>{"", "b"}));
  EXPECT_EQ(records_[0].data, (std::vector<unsigned char>{1, 2, 3}));
}

TEST_F(EventLogTest, OnlyTheLocalComputerIsAServer) {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  HANDLE local = RegisterEventSourceA((std::string("\\\\") + name).c_str(), "Src");
  EXPECT_NE(local, nullptr);
  DeregisterEventSource(local);
  EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere-host", "Src"), nullptr);
  EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(RegisterEventSourceA(nullptr, ""), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// An alert buffer as the alerting code lays it out: header, UTF-16 text, zeros to 2 * n + 14.
std::vector<unsigned char> AlertBuffer(const std::u16string& text, size_t offset = 0) {
  std::vector<unsigned char> buffer(offset + 2 * text.size() + 14, 0);
  const ADMIN_OTHER_INFO header{0xFFFFFFFF, 1};
  std::memcpy(buffer.data() + offset, &header, sizeof header);
  std::memcpy(buffer.data() + offset + sizeof header, text.data(), 2 * text.size());
  return buffer;
}

TEST_F(EventLogTest, AlertCutShortIsRefusedAndWritesNothing) {
  const std::vector<unsigned char> buffer = AlertBuffer(u"text");
  // Header plus the four characters, without the terminator.
  EXPECT_EQ(NetAlertRaiseEx(u"ADMIN", buffer.data(), 8 + 8, u"Server Control"),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetAlertRaiseEx(u"ADMIN", buffer.data(), 7, u"Server Control"),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetAlertRaiseEx(nullptr, buffer.data(), 20, u"Server Control"),
            ERROR_INVALID_PARAMETER);
  std::vector<unsigned char> many = buffer;
  const ADMIN_OTHER_INFO header{0xFFFFFFFF, 1000};
  std::memcpy(many.data(), &header, sizeof header);
  EXPECT_EQ(
      NetAlertRaiseEx(u"ADMIN", many.data(), static_cast<DWORD>(many.size()), u"Server Control"),
      ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(records_.empty());
}

}  // namespace
