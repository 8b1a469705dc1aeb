// The .reg text reader and writer: documents written, read back and compared;
// malformed files rejected at the right line.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tools/reg/RegFile.h"

namespace {

using regtool::ParseRegText;
using regtool::RegDocument;
using regtool::WriteRegText;

std::vector<BYTE> Bytes(std::string_view text) {
  return std::vector<BYTE>(text.begin(), text.end());
}

TEST(RegFileTest, WriteThenParseGivesTheSameDocument) {
  RegDocument document;
  document.sections.push_back({"SOFTWARE\\Q",
                               false,
                               {{"s", 1, Bytes(std::string_view("back\\slash \"q\"\0", 15))},
                                {"", 1, Bytes(std::string_view("def\0", 4))},
                                {"line", 1, Bytes(std::string_view("two\nlines\0", 10))},
                                {"e", 2, Bytes(std::string_view("%SystemRoot%\\x \xc3\xa9\0", 18))},
                                {"d", 4, {0x0A, 0, 0, 0x80}},
                                {"b", 3, std::vector<BYTE>(100, 0xAB)},
                                {"none", 0, {}},
                                {"q", 11, {1, 2, 3, 4, 5, 6, 7, 8}}}});
  document.sections.push_back({"SOFTWARE\\Q\\Empty", false, {}});
  const std::string text = WriteRegText(document);
  RegDocument again;
  const auto result = ParseRegText(text, &again);
  ASSERT_TRUE(result.ok) << result.line << ": " << result.message << "\n" << text;
  EXPECT_EQ(WriteRegText(again), text);
  ASSERT_EQ(again.sections.size(), 2u);
  EXPECT_EQ(again.sections[0].values[4].data, document.sections[0].values[4].data);
  // The layout that other tools expect.
  EXPECT_NE(text.find("\"d\"=dword:8000000a\n"), std::string::npos);
  EXPECT_NE(text.find("\"s\"=\"back\\\\slash \\\"q\\\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"def\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"none\"=hex(0):\n"), std::string::npos);
  EXPECT_FALSE(std::regex_search(text, std::regex(".{81}")));  // lines of at most 80 characters
}

// UTF-16 with its mark and CRLF line ends, as other tools write; text is kept as UTF-8.
TEST(RegFileTest, AcceptsUtf16FilesWithTheirMark) {
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"Windows Registry Editor Version 5.00\r\n; a comment\r\n"
                                   u"[HKLM\\A]\r\n\"n\"=\"\u00e9t\u00e9\"\r\n")) {
    utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  }
  RegDocument document;
  ASSERT_TRUE(ParseRegText(utf16, &document).ok);
  ASSERT_EQ(document.sections.size(), 1u);
  EXPECT_EQ(document.sections[0].values.at(0).data,
            Bytes(std::string_view("\xc3\xa9t\xc3\xa9\0", 6)));
}

TEST(RegFileTest, MalformedFilesAreRejectedAtTheirLineWithTheReason) {
  const std::string v5 = "Windows Registry Editor Version 5.00\n";
  const std::tuple<std::string, size_t, const char*> rows[] = {
      {"", 1, "empty"},
      {"[HKLM\\A]\n", 1, "not a registry file"},
      {v5 + "\"v\"=\"x\"\n", 2, "before the first"},
      {v5 + "[HKLM\\A\n", 2, "closing"},
      {v5 + "[HKEY_CURRENT_USER\\A]\n", 2, "HKEY_LOCAL_MACHINE"},
      {v5 + "[HKLM\\A\\\\B]\n", 2, "empty key name"},
      {v5 + "[-HKLM]\n", 2, "cannot be deleted"},
      {v5 + "[HKLM\\A]\n\"v\"=dword:123456789\n", 3, "1 to 8"},
      {v5 + "[HKLM\\A]\n\"v\"=dword:12g4\n", 3, "hex digit"},
      {v5 + "[HKLM\\A]\n\"v\"=hex:0,1,zz\n", 3, "bad byte"},
      {v5 + "[HKLM\\A]\n\"v\"=hex:01,,02\n", 3, "bad byte"},
      {v5 + "[HKLM\\A]\n\"v\"=hex(2):41,00,42\n", 3, "even"},
      {v5 + "[HKLM\\A]\n\"v\"=hex(zz):00\n", 3, "type"},
      {v5 + "[HKLM\\A]\n\"v\"=hex:01,\\", 3, "past the end"},
      {v5 + "[HKLM\\A]\n\"v\"=\"open\n", 3, "closing quote"},
      {v5 + "[HKLM\\A]\n\"v\"=\"x\" trailing\n", 3, "after the string"},
      {v5 + "[HKLM\\A]\n\"v\" \"x\"\n", 3, "\"=\""},
      {v5 + "[HKLM\\A]\n\"v\"=float:1\n", 3, "unknown value data"},
      {v5 + "[-HKLM\\A]\n\"v\"=\"x\"\n", 3, "deleted key"},
      {v5 + "[HKLM\\A]\ngarbage\n", 3, "expected"},
  };
  for (const auto& [text, line, reason] : rows) {
    RegDocument document;
    const auto result = ParseRegText(text, &document);
    EXPECT_FALSE(result.ok) << text;
    EXPECT_EQ(result.line, line) << text;
    EXPECT_NE(result.message.find(reason), std::string::npos) << result.message;
  }
}

// Both hive forms, a key without one and another hive are the tool test's.
TEST(RegFileTest, KeyArgumentsMayNameTheHiveInEitherForm) {
  EXPECT_EQ(regtool::KeyBelowHive("SOFTWARE\\X\\"), "SOFTWARE\\X");
  EXPECT_EQ(regtool::KeyBelowHive("HKLM"), "");
  EXPECT_EQ(regtool::KeyBelowHive("HKLMX\\A"), "HKLMX\\A");
  EXPECT_EQ(regtool::KeyBelowHive("A\\\\B"), std::nullopt);
  EXPECT_EQ(regtool::KeyBelowHive(std::string(256, 'k')), std::nullopt);
}

}  // namespace
