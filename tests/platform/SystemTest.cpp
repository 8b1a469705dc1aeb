// Module file names and the computer name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/system/System.h"
#include "platform/system/Threads.h"

namespace {

TEST(SystemTest, ModuleFileNameIsCutAndComputerNameFitsFifteenCharacters) {
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 3u);
  EXPECT_EQ(small[3], '\0');
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(size, std::strlen(name));
  EXPECT_LE(size, MAX_COMPUTERNAME_LENGTH);
  EXPECT_EQ(std::strchr(name, '.'), nullptr);
  DWORD tiny = 1;
  EXPECT_FALSE(GetComputerNameA(name, &tiny));
  EXPECT_EQ(tiny, size + 1);
}

}  // namespace
