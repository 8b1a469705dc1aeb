// Module file names, the computer name and path translation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/system/Paths.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"

namespace {

TEST(SystemTest, ModuleOfAnAddressInTheExecutableIsTheExecutable) {
  char own[MAX_PATH] = {};
  char from_address[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, own, sizeof own), 0u);
  HMODULE module = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&GetTickCount));
  ASSERT_NE(module, nullptr);
  ASSERT_GT(GetModuleFileNameA(module, from_address, sizeof from_address), 0u);
  EXPECT_NE(std::strstr(own, "platform_tests"), nullptr);
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 3u);
  EXPECT_EQ(small[3], '\0');
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(SystemTest, ComputerNameFitsFifteenCharacters) {
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

TEST(SystemTest, LocalTimeIsPlausible) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_GE(now.wMonth, 1);
  EXPECT_LE(now.wMonth, 12);
  EXPECT_LE(now.wHour, 23);
}

TEST(PathsTest, BackslashesBecomeSlashes) {
  EXPECT_EQ(platform::ToNativePath("\\var\\lib\\x.ini"), "/var/lib/x.ini");
  EXPECT_EQ(platform::ToNativePath("plain"), "plain");
}

}  // namespace
