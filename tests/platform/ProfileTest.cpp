// Initialization files read from real files with the Windows lookup rules, as
// the agent reads its trap table: integers only.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/system/Profile.h"
#include "support/TempDir.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text, const std::string& name = "traps.ini") {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  UINT Int(const std::string& file, const char* section, const char* key, INT fallback = 1) {
    return GetPrivateProfileIntA(section, key, fallback, file.c_str());
  }
  const test_support::TempDir temp_{"lorveth-ini"};
  const std::string dir_ = temp_.path();
};

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutCaseBlanksOrComments) {
  const std::string file = Write("[ TrapTable ]\n  2201 =  2  \nName = 5\n");
  EXPECT_EQ(Int(file, "traptable", "2201"), 2u);
  EXPECT_EQ(Int(file, "TRAPTABLE", "2201"), 2u);
  EXPECT_EQ(Int(file, "TrapTable", "NAME"), 5u);
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
  EXPECT_EQ(platform::FindProfileValue("[s\nk=v\n", "s", "k"), "v");  // an unclosed header
}

TEST_F(ProfileTest, MissingFileSectionKeyOrValueGiveTheDefault) {
  const std::string file = Write("[TrapTable]\n2201=2\n2202=\n[Other]\n2203=2\n");
  EXPECT_EQ(Int(dir_ + "/absent.ini", "TrapTable", "2201"), 1u);
  EXPECT_EQ(Int(file, "Missing", "2201"), 1u);
  EXPECT_EQ(Int(file, "TrapTable", "2204"), 1u);
  EXPECT_EQ(Int(file, "TrapTable", "2203"), 1u);  // only in another section
  EXPECT_EQ(Int(file, "TrapTable", "2202"), 1u);  // empty value
  EXPECT_EQ(Int(file, "TrapTable", "2202", -5), static_cast<UINT>(-5));
}

TEST_F(ProfileTest, IntegersAreTheLeadingDecimalDigitsWithSign) {
  const std::string file = Write(
      "[N]\nplain=2201\nsigned=-3\nplus=+7\ntrailing=12abc\nletters=abc\nhex=0x10\n"
      "quoted=\"5\"\nhalf=\"6\nhuge=4294967297\n");
  EXPECT_EQ(Int(file, "N", "plain"), 2201u);
  EXPECT_EQ(Int(file, "N", "signed"), static_cast<UINT>(-3));
  EXPECT_EQ(Int(file, "N", "plus"), 7u);
  EXPECT_EQ(Int(file, "N", "trailing"), 12u);
  EXPECT_EQ(Int(file, "N", "letters"), 0u);
  EXPECT_EQ(Int(file, "N", "hex"), 0u);
  EXPECT_EQ(Int(file, "N", "quoted"), 5u);  // one pair of quotes goes
  EXPECT_EQ(Int(file, "N", "half"), 0u);
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

}  // namespace
