// Process names of this process, of a child process and of no process.
#include "host/ProcessModules.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/system/Threads.h"

extern char** environ;

namespace {

TEST(ProcessNameTest, OwnProcessIsNamedAfterItsExecutable) {
  ProcessModuleReader reader;
  ASSERT_TRUE(reader.Load(nullptr));
  char name[MAX_PATH] = {};
  char path[PATH_MAX] = {};
  ASSERT_TRUE(reader.GetProcessName(GetCurrentProcessId(), name, sizeof name, path, sizeof path));
  EXPECT_STREQ(name, "host_tests");
  EXPECT_TRUE(std::string(path).ends_with("/host_tests")) << path;
  EXPECT_GT(reader.MajorVersion(), 0u);
  ProcessModuleReader unloaded;  // without the functions the name comes from /proc
  char own[MAX_PATH] = {};
  ASSERT_TRUE(unloaded.GetProcessName(GetCurrentProcessId(), own, sizeof own, nullptr, 0));
  EXPECT_STREQ(own, "host_tests");
}

TEST(ProcessNameTest, ChildProcessIsNamedAfterItsExecutable) {
  pid_t child = 0;
  char program[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {program, seconds, nullptr};
  ASSERT_EQ(posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  ProcessModuleReader reader;
  reader.Load(nullptr);
  char name[MAX_PATH] = {};
  char path[PATH_MAX] = {};
  const bool found =
      reader.GetProcessName(static_cast<DWORD>(child), name, sizeof name, path, sizeof path);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(found);
  EXPECT_STREQ(name, "sleep");
  EXPECT_TRUE(std::string(path).ends_with("/sleep")) << path;
}

TEST(ProcessNameTest, NoSuchProcessOrTooSmallABufferGivesNoName) {
  ProcessModuleReader reader;
  reader.Load(nullptr);
  char name[MAX_PATH] = "untouched";
  EXPECT_FALSE(reader.GetProcessName(0x7FFFFFF0u, name, sizeof name, nullptr, 0));
  EXPECT_STREQ(name, "untouched");
  char short_name[5] = "abcd";  // a name or path that does not fit is not copied
  EXPECT_FALSE(
      reader.GetProcessName(GetCurrentProcessId(), short_name, sizeof short_name, nullptr, 0));
  EXPECT_STREQ(short_name, "abcd");
  char full_name[MAX_PATH] = {};
  char path[4] = "xyz";
  EXPECT_FALSE(
      reader.GetProcessName(GetCurrentProcessId(), full_name, sizeof full_name, path, sizeof path));
  EXPECT_STREQ(path, "xyz");
}

}  // namespace
