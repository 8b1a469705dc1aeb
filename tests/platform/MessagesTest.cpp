// Message libraries built from a text table, and FormatMessageA over them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"
#include "platform/system/Threads.h"

namespace {

class MessageLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryExA(LORVETH_MESSAGE_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override { FreeLibrary(library_); }

  // Formats with the array form, as the alert code does; "<failed N>" on error.
  std::string Format(DWORD id, const uintptr_t* args, DWORD size = 1000,
                     DWORD extra_flags = FORMAT_MESSAGE_ARGUMENT_ARRAY) {
    std::string buffer(size, '#');
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | extra_flags, library_, id, 0,
                                        buffer.data(), size, platform::ArgumentArray(args));
    if (length == 0) return "<failed " + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(buffer[length], '\0');
    return buffer.substr(0, length);
  }
  static uintptr_t Text(const char* text) { return reinterpret_cast<uintptr_t>(text); }

  HMODULE library_ = nullptr;
};

TEST_F(MessageLibraryTest, InsertsFormatsEscapesTheEndMarkAndTheBufferSizeAreHonoured) {
  const uintptr_t args[] = {Text("srv1"), Text("2026-12-05 12:00"), Text("cpu"), Text("97"),
                            Text("busy")};
  EXPECT_EQ(Format(0x80002FAA, args),
            "Warning on server srv1 at 2026-12-05 12:00: rule cpu measured 97 (busy)");
  EXPECT_EQ(Format(0x40002FAB, args), "Information from srv1: 2026-12-05 12:00");
  const uintptr_t numbers[] = {4000000000u, Text("module")};
  EXPECT_EQ(Format(0xC0002FA8, numbers), "Error 4000000000 in module");
  const uintptr_t widths[] = {Text("ab"), 0xBEu, Text("x")};
  EXPECT_EQ(Format(200, widths), "Width [   ab] hex 00BE left [x   ]");
  EXPECT_EQ(Format(100, nullptr), "Percent % sign\nsecond line\tafter a tab");
  const uintptr_t other_args[] = {0, Text("later")};
  EXPECT_EQ(Format(0x40002FAB, other_args), "Information from : later");
  EXPECT_EQ(Format(300, nullptr), "First text for 300");
  EXPECT_EQ(Format(0x2FAA, nullptr), "<failed 317>");  // severity bits are part of the id
  const std::string text = "Information from : later";
  EXPECT_EQ(Format(0x40002FAB, other_args, static_cast<DWORD>(text.size())), "<failed 122>");
  EXPECT_EQ(Format(0x40002FAB, other_args, static_cast<DWORD>(text.size() + 1)), text);
}

TEST(MessageTableTest, LookupSkipsMalformedLinesAndKeepsTheFirst) {
  const std::string table =
      "# c\n0x10|sixteen\r\n16|again\n 0X11 |seventeen\nbad|x\n0x1FFFFFFFF|no\n";
  EXPECT_EQ(platform::FindMessage(table, 16), "sixteen");
  EXPECT_EQ(platform::FindMessage(table, 17), "seventeen");
  EXPECT_EQ(platform::FindMessage(table, 0xFFFFFFFF), std::nullopt);
  EXPECT_EQ(platform::FindMessage("5|last line without newline", 5), "last line without newline");
}

TEST(MessageTableTest, MalformedInsertFormatsNeverReachTheFormatter) {
  const uintptr_t args[] = {reinterpret_cast<uintptr_t>("one")};
  std::string out;
  // An embedded zero once cut the format short of its conversion.
  using namespace std::string_literals;
  for (const std::string& text : {"%1!-30\0\0-10s!"s, "%1!5.5.5s!"s, "%1!.-3s!"s, "%1!5 s!"s,
                                  "%1!!"s, "%1!s"s, "%1!n!"s, "%1!*s!"s, "%1!5000s!"s}) {
    EXPECT_EQ(platform::ExpandMessage(text, args, 1, false, out), ERROR_INVALID_PARAMETER) << text;
  }
  EXPECT_EQ(platform::ExpandMessage("%1!-+5.2s!", args, 1, false, out), ERROR_SUCCESS);
  EXPECT_EQ(out, "on   ");
  EXPECT_EQ(platform::ExpandMessage("%1 %2", args, 1, false, out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(platform::ExpandMessage("%12 %1", args, 1, false, out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(platform::ExpandMessage("%1 %0 %2", args, 1, false, out), ERROR_SUCCESS);
  EXPECT_EQ(out, "one ");
}

}  // namespace
