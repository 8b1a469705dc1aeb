// Initialization files read from real files with the Windows lookup rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/system/Profile.h"
#include "support/TempDir.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test_support::MakeTempDirectory("lorveth-ini"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& text, const std::string& name = "traps.ini") {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  UINT Int(const std::string& file, const char* section, const char* key, INT fallback = 1) {
    return GetPrivateProfileIntA(section, key, fallback, file.c_str());
  }
  std::string Text(const std::string& file, const char* section, const char* key,
                   const char* fallback = "none", DWORD size = 64) {
    std::string buffer(size, '#');
    const DWORD length =
        GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
    return buffer.substr(0, length);
  }
  std::string dir_;
};

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutCaseBlanksOrComments) {
  const std::string file = Write("[ TrapTable ]\n  2201 =  2  \nName = Value\n");
  EXPECT_EQ(Int(file, "traptable", "2201"), 2u);
  EXPECT_EQ(Int(file, "TRAPTABLE", "2201"), 2u);
  EXPECT_EQ(Text(file, "TrapTable", "name"), "Value");
  const std::string other_file =
      Write("[TrapTable]\n;2201=2\n  ; 2202=2\n2203\n2204=2 ; not a comment\n");
  EXPECT_EQ(Int(other_file, "TrapTable", "2201"), 1u);
  EXPECT_EQ(Int(other_file, "TrapTable", "2202"), 1u);
  EXPECT_EQ(Int(other_file, "TrapTable", "2203"), 1u);
  EXPECT_EQ(Int(other_file, "TrapTable", "2204"), 2u);
  EXPECT_EQ(Int(other_file, "TrapTable", ";2201"), 1u);
  const std::string repeated = Write("[A]\nk=1\nk=2\n[a]\nk=3\nonly_second=4\n");
  EXPECT_EQ(Int(repeated, "A", "k", 0), 1u);
  EXPECT_EQ(Int(repeated, "A", "only_second", 0), 0u);
}

TEST_F(ProfileTest, MissingFileSectionKeyOrValueGiveTheDefault) {
  const std::string file = Write("[TrapTable]\n2201=2\n2202=\n[Other]\n2203=2\n");
  EXPECT_EQ(Int(dir_ + "/absent.ini", "TrapTable", "2201"), 1u);
  EXPECT_EQ(Int(file, "Missing", "2201"), 1u);
  EXPECT_EQ(Int(file, "TrapTable", "2204"), 1u);
  EXPECT_EQ(Int(file, "TrapTable", "2203"), 1u);  // only in another section
  EXPECT_EQ(Int(file, "TrapTable", "2202"), 1u);  // empty value
  EXPECT_EQ(Int(file, "TrapTable", "2202", -5), static_cast<UINT>(-5));
  EXPECT_EQ(Text(file, "TrapTable", "2204", "fallback  "), "fallback");
  EXPECT_EQ(Text(file, "TrapTable", "2204", nullptr), "");
}

TEST_F(ProfileTest, IntegersAreTheLeadingDecimalDigitsWithSign) {
  const std::string file = Write(
      "[N]\nplain=2201\nsigned=-3\nplus=+7\ntrailing=12abc\nletters=abc\nhex=0x10\n"
      "quoted=\"5\"\nhuge=4294967297\n");
  EXPECT_EQ(Int(file, "N", "plain"), 2201u);
  EXPECT_EQ(Int(file, "N", "signed"), static_cast<UINT>(-3));
  EXPECT_EQ(Int(file, "N", "plus"), 7u);
  EXPECT_EQ(Int(file, "N", "trailing"), 12u);
  EXPECT_EQ(Int(file, "N", "letters"), 0u);
  EXPECT_EQ(Int(file, "N", "hex"), 0u);
  EXPECT_EQ(Int(file, "N", "quoted"), 5u);
  EXPECT_EQ(Int(file, "N", "huge"), 1u);  // wraps as 32 bits
}

TEST_F(ProfileTest, WindowsLineEndingsByteOrderMarkAndNoFinalNewline) {
  const std::string file = Write("\xEF\xBB\xBF[TrapTable]\r\n2201=2\r\n2202=0");
  EXPECT_EQ(Int(file, "TrapTable", "2201"), 2u);
  EXPECT_EQ(Int(file, "TrapTable", "2202"), 0u);
  const std::string other_file = Write("[S]\nk=9\n", "backslash.ini");
  std::string windows = other_file;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(Int(windows, "S", "k"), 9u);
}

TEST_F(ProfileTest, StringsLoseOnePairOfQuotesAndAreCutToTheBuffer) {
  const std::string file = Write("[S]\nq=\"quoted value\"\nhalf=\"open\nlong=abcdefghij\n");
  EXPECT_EQ(Text(file, "S", "q"), "quoted value");
  EXPECT_EQ(Text(file, "S", "half"), "\"open");
  char small[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(GetPrivateProfileStringA("S", "long", "", small, sizeof small, file.c_str()), 4u);
  EXPECT_STREQ(small, "abcd");
}

TEST_F(ProfileTest, NullKeyListsKeysAndNullSectionListsSections) {
  const std::string file = Write("[One]\na=1\nb=2\n[Two]\nc=3\n");
  EXPECT_EQ(Text(file, "One", nullptr), std::string("a\0b\0", 4));
  EXPECT_EQ(Text(file, nullptr, nullptr), std::string("One\0Two\0", 8));
  char small[6];
  // "One\0Two\0\0" does not fit six bytes: cut, double-terminated, size - 2.
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", small, sizeof small, file.c_str()), 4u);
  EXPECT_EQ(std::string(small, 6), std::string("One\0\0\0", 6));
}

TEST(ProfileTextTest, LookupOnTextMatchesTheFileRules) {
  EXPECT_EQ(platform::FindProfileValue("[s]\nk = v \n", "S", "K"), "v");
  EXPECT_EQ(platform::FindProfileValue("k=v\n[s]\n", "s", "k"), std::nullopt);
  EXPECT_EQ(platform::FindProfileValue("[s\nk=v\n", "s", "k"), "v");
  EXPECT_EQ(platform::FindProfileValue("", "s", "k"), std::nullopt);
}

}  // namespace
