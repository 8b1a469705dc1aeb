// The agent's message library Messages.dll as built: a text for every trap of
// the trap-to-message table, inserts the alerting can fill, severity words that
// agree with the identifiers, and alerts formatted from it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "frame/TrapAlert.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/system/ElfSections.h"
#include "platform/eventlog/EventLog.h"
#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"
#include "platform/system/Threads.h"

namespace {

constexpr DWORD kFormatFromLibrary = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;
// The alerting hands FormatMessageA an array of this many parameters, so no
// text may use a higher insert: it would read past the array.
constexpr size_t kParams = CTrapAlert::kMaxParams;
// FormatMessageA accepts inserts up to %99.
constexpr size_t kMaxInsert = 99;

DWORD Severity(DWORD message_id) { return message_id >> 30; }

std::vector<DWORD> TableIds() {
  std::vector<DWORD> ids;
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    ids.push_back(row->message_id);
  }
  return ids;
}

// The words of a text, lower case.
std::set<std::string> Words(std::string_view text) {
  std::set<std::string> words;
  std::string word;
  for (const char c : text) {
    if (std::isalpha(static_cast<unsigned char>(c)) != 0) {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!word.empty()) {
      words.insert(word);
      word.clear();
    }
  }
  if (!word.empty()) words.insert(word);
  return words;
}

class MessagesDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = LoadLibraryExA(LORVETH_MESSAGES_LIBRARY, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() {
    if (library_ != nullptr) FreeLibrary(library_);
    library_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(library_, nullptr) << LORVETH_MESSAGES_LIBRARY; }

  // The text as written in the library: inserts kept, escapes applied.
  static bool RawText(DWORD id, std::string& text) {
    char buffer[4096];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        library_, id, 0, buffer, sizeof buffer, nullptr);
    text.assign(buffer, length);
    return length != 0;
  }

  // The text formatted with the given insertion strings; inserts beyond them
  // are filled with "<beyond>" so that a stray one shows in the result.
  static bool Formatted(DWORD id, const std::vector<std::string>& params, std::string& text) {
    std::vector<const char*> arguments(kMaxInsert, "<beyond>");
    for (size_t i = 0; i < params.size(); ++i) arguments[i] = params[i].c_str();
    char buffer[1000];  // the alerting's buffer size
    const DWORD length = FormatMessageA(kFormatFromLibrary, library_, id, 0, buffer, sizeof buffer,
                                        platform::ArgumentArray(arguments.data()));
    text.assign(buffer, length);
    return length != 0;
  }

  static HMODULE library_;
};

HMODULE MessagesDllTest::library_ = nullptr;

TEST_F(MessagesDllTest, EveryTrapOfTheTableFormatsWithTenParametersLeavingNoInsert) {
  std::vector<std::string> params;
  for (size_t i = 1; i <= kParams; ++i) params.push_back("<p" + std::to_string(i) + ">");
  for (const DWORD id : TableIds()) {
    std::string text;
    ASSERT_TRUE(Formatted(id, params, text)) << std::hex << id << " error " << GetLastError();
    EXPECT_GE(text.size(), 40u) << std::hex << id << ": " << text;
    EXPECT_EQ(text.find('%'), std::string::npos) << std::hex << id << ": " << text;
    EXPECT_EQ(text.find("<beyond>"), std::string::npos) << std::hex << id << ": " << text;
    EXPECT_EQ(text.find_first_of("\n\r\t"), std::string::npos) << std::hex << id << ": " << text;
  }
}

TEST_F(MessagesDllTest, TextsUseOnlyInsertsOneToTenWithoutFormats) {
  for (const DWORD id : TableIds()) {
    std::string text;
    ASSERT_TRUE(RawText(id, text)) << std::hex << id;
    EXPECT_EQ(text.find_first_of("\n\r\t"), std::string::npos) << std::hex << id << ": " << text;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
      size_t end = at + 1;
      while (end < text.size() && end < at + 3 && std::isdigit(static_cast<unsigned char>(text[end]))) {
        ++end;
      }
      const std::string digits = text.substr(at + 1, end - at - 1);
      ASSERT_FALSE(digits.empty()) << std::hex << id << ": literal percent sign in " << text;
      const unsigned long number = std::stoul(digits);
      EXPECT_GE(number, 1u) << std::hex << id << ": " << text;
      EXPECT_LE(number, kParams) << std::hex << id << ": " << text;
      // "%2!u!" would take a number where the alerting passes only texts.
      EXPECT_FALSE(end < text.size() && text[end] == '!') << std::hex << id << ": " << text;
    }
  }
}

TEST_F(MessagesDllTest, LibraryHoldsEachTableIdentifierOnceAndNothingElse) {
  std::vector<unsigned char> bytes;
  ASSERT_EQ(platform::ReadElfSection(LORVETH_MESSAGES_LIBRARY, ".lorveth_messages", bytes),
            platform::ElfResult::kOk);
  // The section may be padded with zero bytes after the text (sanitizer builds
  // put a guard zone after every global).
  std::string table(bytes.begin(), bytes.end());
  table.resize(std::strlen(table.c_str()));
  std::map<DWORD, int> seen;
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const size_t bar = line.find('|');
    ASSERT_NE(bar, std::string::npos) << line.substr(0, 80);
    ++seen[static_cast<DWORD>(std::stoul(line.substr(0, bar), nullptr, 0))];
  }
  const std::vector<DWORD> ids = TableIds();
  EXPECT_EQ(seen.size(), ids.size());
  for (const DWORD id : ids) EXPECT_EQ(seen[id], 1) << std::hex << id;
}

// The keyword rule: a text names its own severity with at least one of its
// words and uses no word of another severity, so an error never reads as
// informational and a note never reads as an error.
TEST_F(MessagesDllTest, EveryTextNamesItsOwnSeverityAndNoOther) {
  const std::map<DWORD, std::set<std::string>> severity_words = {
      {1, {"informational"}}, {2, {"warning", "minor"}}, {3, {"error", "critical", "major"}}};
  for (const DWORD id : TableIds()) {
    std::string text;
    ASSERT_TRUE(RawText(id, text)) << std::hex << id;
    const std::set<std::string> words = Words(text);
    for (const auto& [severity, keywords] : severity_words) {
      bool named = false;
      for (const std::string& keyword : keywords) named = named || words.count(keyword) != 0;
      EXPECT_EQ(named, severity == Severity(id))
          << std::hex << id << " (severity " << Severity(id) << "): " << text;
    }
  }
}

TEST_F(MessagesDllTest, ThresholdTrapsNameServerRuleValueAndComment) {
  const std::vector<std::string> params = {"srv1", "1165000000", "cpu-load", "97", "nightly batch"};
  const std::map<int, std::string> level = {
      {2200, "critical"}, {2201, "major"}, {2202, "minor"}, {2203, "informational"}};
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    if (row->trap_number < 2200 || row->trap_number > 2203) continue;
    std::string raw;
    ASSERT_TRUE(RawText(row->message_id, raw));
    for (const char* insert : {"%1", "%3", "%4", "%5"}) {
      // "%1" must not merely be the start of "%10".
      const size_t at = raw.find(insert);
      ASSERT_NE(at, std::string::npos) << row->trap_number << " lacks " << insert << ": " << raw;
      EXPECT_FALSE(at + 2 < raw.size() && std::isdigit(static_cast<unsigned char>(raw[at + 2])))
          << row->trap_number << ": " << raw;
    }
    std::string text;
    ASSERT_TRUE(Formatted(row->message_id, params, text));
    for (const char* part : {"srv1", "cpu-load", "97", "nightly batch"}) {
      EXPECT_NE(text.find(part), std::string::npos) << row->trap_number << ": " << text;
    }
    EXPECT_NE(text.find(level.at(row->trap_number)), std::string::npos) << text;
  }
}

// A trap's binding list built from values.
class Bindings {
 public:
  ~Bindings() {
    for (SnmpVarBind& vb : items_) SnmpUtilVarBindFree(&vb);
  }
  void Text(const char* text) { SetVarbindText(&Next(), text, ASN_OCTETSTRING); }
  void Number(DWORD value) { SetVarbindNumber(&Next(), value, ASN_INTEGER); }
  SnmpVarBindList List() { return {items_.data(), static_cast<UINT>(items_.size())}; }

 private:
  SnmpVarBind& Next() {
    items_.emplace_back();
    std::memset(&items_.back(), 0, sizeof(SnmpVarBind));
    return items_.back();
  }
  std::vector<SnmpVarBind> items_;
};

class AlertFromMessagesDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetEventLogSink([this](const platform::EventLogRecord& record) {
      records_.push_back(record);
    });
    // The agent names the library "<FileRoot>\Messages.dll".
    ASSERT_TRUE(alert_.LoadMessageDLL(LORVETH_MESSAGES_DIRECTORY "\\Messages.dll"));
  }
  void TearDown() override { platform::SetEventLogSink(nullptr); }

  std::string AlertText() const {
    if (records_.size() != 1 || records_[0].strings.size() != 1) return "<no single alert>";
    return records_[0].strings[0];
  }

  CTrapAlert alert_;
  std::vector<platform::EventLogRecord> records_;
};

TEST_F(AlertFromMessagesDllTest, CriticalThresholdAlertCarriesServerRuleValueAndComment) {
  Bindings bindings;
  bindings.Text("srv1");
  bindings.Number(1165000000);
  bindings.Text("cpu-load");
  bindings.Text("97");
  bindings.Text("nightly batch");
  SnmpVarBindList list = bindings.List();
  alert_.SetTrapParams(&list, 2200);
  ASSERT_TRUE(alert_.RaiseAdminAlert(4));
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].kind, platform::EventLogRecord::Kind::kAlert);
  EXPECT_EQ(AlertText(),
            "Threshold rule cpu-load on server srv1 reported a critical condition: value 97 "
            "(nightly batch).");
}

TEST_F(AlertFromMessagesDllTest, ThresholdAlertWithMissingBindingsLeavesTheirPlacesEmpty) {
  Bindings bindings;
  bindings.Text("srv1");
  SnmpVarBindList list = bindings.List();
  alert_.SetTrapParams(&list, 2202);
  ASSERT_TRUE(alert_.RaiseAdminAlert(2));
  const std::string text = AlertText();
  EXPECT_NE(text.find("server srv1"), std::string::npos) << text;
  EXPECT_NE(text.find("minor"), std::string::npos) << text;
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
}

TEST_F(AlertFromMessagesDllTest, HardwareTrapWithTwelveBindingsShowsTheFirstTen) {
  Bindings bindings;
  std::vector<std::string> values;
  for (int i = 1; i <= 12; ++i) values.push_back("value" + std::to_string(i) + "x");
  for (const std::string& value : values) bindings.Text(value.c_str());
  SnmpVarBindList list = bindings.List();
  alert_.SetTrapParams(&list, 205);  // an error-severity environment trap
  ASSERT_TRUE(alert_.RaiseAdminAlert(4));
  const std::string text = AlertText();
  for (int i = 1; i <= 10; ++i) {
    EXPECT_NE(text.find(values[static_cast<size_t>(i - 1)]), std::string::npos) << text;
  }
  EXPECT_EQ(text.find("value11x"), std::string::npos) << text;
  EXPECT_NE(text.find("error"), std::string::npos) << text;
}

TEST_F(AlertFromMessagesDllTest, InformationalTrapIsNotAlertedUnderAnErrorOnlyFilter) {
  alert_.SetTrapParams(nullptr, 2203);
  EXPECT_FALSE(alert_.RaiseAdminAlert(4));
  EXPECT_TRUE(alert_.RaiseAdminAlert(1));
  EXPECT_NE(AlertText().find("informational"), std::string::npos) << AlertText();
}

}  // namespace
