// Modules of the test process: listing, names, locking and data files.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/system/Modules.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"

namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::vector<HMODULE> ListModules() {
  DWORD needed = 0;
  EXPECT_TRUE(EnumProcessModules(GetCurrentProcess(), nullptr, 0, &needed));
  std::vector<HMODULE> modules(needed / sizeof(HMODULE) + 8);
  EXPECT_TRUE(EnumProcessModules(GetCurrentProcess(), modules.data(),
                                 static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed));
  modules.resize(needed / sizeof(HMODULE));
  return modules;
}

bool IsLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

TEST(ModuleListTest, SmallBufferGetsTheFirstHandlesAndTheFullSize) {
  DWORD needed = 0;
  HMODULE first = nullptr;
  ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), &first, sizeof first, &needed));
  EXPECT_GT(needed, sizeof first);
  EXPECT_EQ(first, ListModules()[0]);
  char cut[4];
  EXPECT_EQ(GetModuleBaseNameA(GetCurrentProcess(), first, cut, sizeof cut), 3u);
  EXPECT_STREQ(cut, "pla");
  DWORD other_needed = 0;
  HMODULE module = nullptr;
  EXPECT_FALSE(
      EnumProcessModules(reinterpret_cast<HANDLE>(0x1234), &module, sizeof module, &other_needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  char name[MAX_PATH];
  int local = 0;
  EXPECT_EQ(
      GetModuleBaseNameA(GetCurrentProcess(), reinterpret_cast<HMODULE>(&local), name, sizeof name),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandleA("LIBC.SO.6"), nullptr);  // names are exact
}

TEST(DataFileTest, DataFileRunsNothingAndKeepsItsPathLoadingForRealRunsTheConstructor) {
  const std::string mark = "LORVETH_MARK_lorveth_test_versioned";
  unsetenv(mark.c_str());
  HMODULE data = LoadLibraryExA(LORVETH_VERSIONED_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::getenv(mark.c_str()), nullptr);
  EXPECT_FALSE(IsLoaded(LORVETH_VERSIONED_MODULE));
  std::string path;
  ASSERT_TRUE(platform::ModuleFilePath(data, path));
  EXPECT_EQ(BaseName(path), BaseName(LORVETH_VERSIONED_MODULE));
  EXPECT_EQ(GetProcAddress(data, "lorveth_test_module_answer"), nullptr);
  EXPECT_TRUE(FreeLibrary(data));
  EXPECT_FALSE(platform::ModuleFilePath(data, path));
  EXPECT_FALSE(FreeLibrary(data));
  EXPECT_EQ(LoadLibraryExA("/nonexistent/Messages.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryExA("/proc/self/status", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
  HMODULE module = LoadLibraryA(LORVETH_VERSIONED_MODULE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(std::getenv(mark.c_str()), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
