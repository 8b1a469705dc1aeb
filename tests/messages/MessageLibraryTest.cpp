// The agent's message library Messages.dll as built: a whole text of its
// severity for every trap of the table, and alerts formatted from it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "frame/TrapAlert.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/eventlog/EventLog.h"
#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"
#include "platform/system/Threads.h"

namespace {

// The alerting passes this many parameters: a higher insert would read past them.
constexpr size_t kParams = CTrapAlert::kMaxParams;

// The text formatted with the given insertion strings (none: inserts kept);
// "<beyond>" fills the inserts after them, up to %99, so that a stray one shows.
std::string Text(HMODULE library, DWORD id, const std::vector<std::string>* params) {
  std::vector<const char*> arguments(99, "<beyond>");
  for (size_t i = 0; params != nullptr && i < params->size(); ++i)
    arguments[i] = (*params)[i].c_str();
  char buffer[1000];  // the alerting's buffer size
  const DWORD flags =
      FORMAT_MESSAGE_FROM_HMODULE |
      (params != nullptr ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS);
  const DWORD length = FormatMessageA(flags, library, id, 0, buffer, sizeof buffer,
                                      platform::ArgumentArray(arguments.data()));
  return std::string(buffer, length);
}

// Every text uses only %1..%10 as plain texts (the alerting passes only texts),
// and names its severity and no other; a threshold trap names server, rule,
// value, comment and its level.
TEST(MessagesDllTest, EveryTrapOfTheTableHasAWholeTextOfItsSeverity) {
  HMODULE library = LoadLibraryExA(LORVETH_MESSAGES_LIBRARY, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(library, nullptr) << LORVETH_MESSAGES_LIBRARY;
  std::vector<std::string> params;
  for (size_t i = 1; i <= kParams; ++i) params.push_back("<p" + std::to_string(i) + ">");
  const std::regex severity_words[] = {
      std::regex("\\binformational\\b", std::regex::icase),
      std::regex("\\b(warning|minor)\\b", std::regex::icase),
      std::regex("\\b(error|critical|major)\\b", std::regex::icase)};
  const std::map<int, std::string> level = {
      {2200, "critical"}, {2201, "major"}, {2202, "minor"}, {2203, "informational"}};
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    const std::string raw = Text(library, row->message_id, nullptr);
    const std::string text = Text(library, row->message_id, &params);
    SCOPED_TRACE(std::to_string(row->trap_number) + ": " + raw);
    ASSERT_FALSE(raw.empty()) << GetLastError();
    EXPECT_GE(text.size(), 40u);
    EXPECT_EQ(text.find('%'), std::string::npos) << text;
    EXPECT_EQ(text.find("<beyond>"), std::string::npos) << text;
    EXPECT_EQ(raw.find_first_of("\n\r\t"), std::string::npos);
    static const std::regex insert("%([0-9]{0,2})(!?)");
    for (std::sregex_iterator it(raw.begin(), raw.end(), insert), end; it != end; ++it) {
      ASSERT_FALSE((*it)[1].str().empty()) << "literal percent sign";
      EXPECT_TRUE(std::stoul((*it)[1]) >= 1 && std::stoul((*it)[1]) <= kParams) << it->str();
      EXPECT_EQ((*it)[2], "");
    }
    for (DWORD severity = 1; severity <= 3; ++severity) {
      EXPECT_EQ(std::regex_search(raw, severity_words[severity - 1]),
                severity == row->message_id >> 30)
          << "severity " << severity;
    }
    if (level.count(row->trap_number) != 0) {
      // "<p1>" is no part of "<p10>": %1 may not merely be the start of %10.
      for (const char* part :
           {"<p1>", "<p3>", "<p4>", "<p5>", level.at(row->trap_number).c_str()}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
      }
    }
  }
  FreeLibrary(library);
}

// Alerts raised from the library as the agent names it, "<FileRoot>\Messages.dll".
TEST(AlertFromMessagesDllTest, AlertsCarryTheFirstTenBindingsUnderTheirFilter) {
  std::vector<platform::EventLogRecord> records;
  platform::SetEventLogSink(
      [&](const platform::EventLogRecord& record) { records.push_back(record); });
  CTrapAlert alert;
  ASSERT_TRUE(alert.LoadMessageDLL(LORVETH_MESSAGES_DIRECTORY "\\Messages.dll"));
  // The bindings are texts, but a number for the time.
  const auto raise = [&](DWORD trap, const std::vector<std::string>& values, BYTE filter) {
    std::vector<SnmpVarBind> bindings(values.size(), SnmpVarBind{});
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i] == "1165000000") {
        SetVarbindNumber(&bindings[i], 1165000000, ASN_INTEGER);
      } else {
        SetVarbindText(&bindings[i], values[i].c_str(), ASN_OCTETSTRING);
      }
    }
    SnmpVarBindList list{bindings.data(), static_cast<UINT>(bindings.size())};
    alert.SetTrapParams(values.empty() ? nullptr : &list, trap);
    records.clear();
    const bool raised = alert.RaiseAdminAlert(filter);
    for (SnmpVarBind& vb : bindings) SnmpUtilVarBindFree(&vb);
    if (records.size() != 1 || records[0].strings.size() != 1) {
      return std::string(raised ? "<not one>" : "<not raised>");
    }
    EXPECT_EQ(records[0].kind, platform::EventLogRecord::Kind::kAlert);
    return records[0].strings[0];
  };
  EXPECT_EQ(raise(2200, {"srv1", "1165000000", "cpu-load", "97", "nightly batch"}, 4),
            "Threshold rule cpu-load on server srv1 reported a critical condition: value 97 "
            "(nightly batch).");
  // Missing bindings leave their places empty.
  std::string text = raise(2202, {"srv1"}, 2);
  EXPECT_NE(text.find("server srv1"), std::string::npos) << text;
  EXPECT_NE(text.find("minor"), std::string::npos) << text;
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
  std::vector<std::string> values;
  for (int i = 1; i <= 12; ++i) values.push_back("value" + std::to_string(i) + "x");
  text = raise(205, values, 4);  // an error-severity environment trap
  for (int i = 0; i < 10; ++i) EXPECT_NE(text.find(values[i]), std::string::npos) << text;
  EXPECT_EQ(text.find("value11x"), std::string::npos) << text;
  EXPECT_NE(text.find("error"), std::string::npos) << text;
  EXPECT_EQ(raise(2203, {}, 4), "<not raised>");
  EXPECT_NE(raise(2203, {}, 1).find("informational"), std::string::npos);
  platform::SetEventLogSink(nullptr);
}

}  // namespace
