// Initialization files read with the Windows lookup rules, as the agent reads its trap table.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "platform/system/Profile.h"
#include "support/TempDir.h"

namespace {

TEST(ProfileTest, IntegersAreFoundByTheLookupRules) {
  const test_support::TempDir dir("lorveth-ini");
  const struct {
    const char* text;
    const char* section;
    const char* key;
    INT fallback;
    UINT expected;
  } rows[] = {
      // Sections and keys match without case or blanks.
      {"[ TrapTable ]\n  2201 =  2  \nName = 5\n", "traptable", "2201", 1, 2},
      {"[ TrapTable ]\n  2201 =  2  \nName = 5\n", "TrapTable", "NAME", 1, 5},
      // Comments start a line; elsewhere ';' is text.
      {"[TrapTable]\n;2201=2\n", "TrapTable", "2201", 1, 1},
      {"[TrapTable]\n  ; 2202=2\n", "TrapTable", "2202", 1, 1},
      {"[TrapTable]\n;2201=2\n", "TrapTable", ";2201", 1, 1},
      {"[TrapTable]\n2203\n", "TrapTable", "2203", 1, 1},
      {"[TrapTable]\n2204=2 ; not a comment\n", "TrapTable", "2204", 1, 2},
      // The first of repeated keys and sections counts.
      {"[A]\nk=1\nk=2\n[a]\nk=3\nonly_second=4\n", "A", "k", 0, 1},
      {"[A]\nk=1\n[a]\nonly_second=4\n", "A", "only_second", 0, 0},
      // A missing section, key or value gives the default.
      {"[TrapTable]\n2201=2\n", "Missing", "2201", 1, 1},
      {"[TrapTable]\n2201=2\n[Other]\n2203=2\n", "TrapTable", "2203", 1, 1},
      {"[TrapTable]\n2202=\n", "TrapTable", "2202", -5, static_cast<UINT>(-5)},
      // The value is its leading decimal digits with a sign, in 32 bits.
      {"[N]\nv=-3\n", "N", "v", 1, static_cast<UINT>(-3)},
      {"[N]\nv=+7\n", "N", "v", 1, 7},
      {"[N]\nv=12abc\n", "N", "v", 1, 12},
      {"[N]\nv=0x10\n", "N", "v", 1, 0},
      {"[N]\nv=\"5\"\n", "N", "v", 1, 5},  // one pair of quotes goes
      {"[N]\nv=\"6\n", "N", "v", 1, 0},
      {"[N]\nv=4294967297\n", "N", "v", 1, 1},
      // Windows line ends, a byte order mark, no final newline, an unclosed header.
      {"\xEF\xBB\xBF[TrapTable]\r\n2201=2\r\n2202=0", "TrapTable", "2201", 1, 2},
      {"\xEF\xBB\xBF[TrapTable]\r\n2201=2\r\n2202=0", "TrapTable", "2202", 1, 0},
      {"[s\nk=7\n", "s", "k", 1, 7},
  };
  const std::string path = dir.path() + "/traps.ini";
  for (const auto& row : rows) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << row.text;
    EXPECT_EQ(GetPrivateProfileIntA(row.section, row.key, row.fallback, path.c_str()), row.expected)
        << row.text << " [" << row.section << "] " << row.key;
  }
  EXPECT_EQ(GetPrivateProfileIntA("TrapTable", "2201", 1, (path + ".absent").c_str()), 1u);
  std::string windows = path;  // the agent names the file with backslashes
  std::replace(windows.begin(), windows.end(), '/', '\\');
  EXPECT_EQ(GetPrivateProfileIntA("s", "k", 1, windows.c_str()), 7u);
}

}  // namespace
