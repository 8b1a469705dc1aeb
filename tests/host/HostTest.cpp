// FileVersionInfo on a library with a version block (language 0x0407 only), on
// one without and on a missing file; process names of this, a child and none.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <climits>
#include <string>

#include "host/FileVersionInfo.h"
#include "host/ProcessModules.h"
#include "platform/system/Threads.h"
#include "trace/FileDebug.h"

extern char** environ;

namespace {

// One object answers every row in turn: each query starts afresh.
TEST(FileVersionInfoTest, QueriesGiveTheTextTheErrorAndTheTraceLine) {
  const std::string plain = LORVETH_PLAIN_MODULE;
  const struct {
    const char* file;
    const char* key;
    WORD language, codepage;
    const char* text;
    DWORD error;
    std::string line;  // traced at level 1 after the prefix, if any
  } rows[] = {
      {LORVETH_VERSIONED_MODULE, "FileDescription", 0, 0, "Versioned test module", 0, ""},
      {LORVETH_PLAIN_MODULE, "FileVersion", 0, 0, "", ERROR_RESOURCE_TYPE_NOT_FOUND,
       "0x715! GetFileVersionInfoSize() (\"" + plain + "\") FAILED!"},
      // A listed language is found whatever code page is asked.
      {LORVETH_VERSIONED_MODULE, "FileVersion", 0x0407, 0x1234, "4.1.2.3", 0, ""},
      {LORVETH_VERSIONED_MODULE, "FileDescription", 0x0409, 0x04B0, "",
       ERROR_RESOURCE_LANG_NOT_FOUND, "0x717! ContainsLanguageId() FAILED!"},
      {LORVETH_VERSIONED_MODULE, "ProductVersion", 0, 0, "3.5", 0, ""},
      {LORVETH_VERSIONED_MODULE, "PrivateBuild", 0, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND, ""},
      {"/nonexistent/Lorveth_Agent.so", "FileVersion", 0, 0, "", ERROR_FILE_NOT_FOUND,
       "0x2! GetFileVersionInfoSize() (\"/nonexistent/Lorveth_Agent.so\") FAILED!"},
  };
  FileVersionInfo info;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " " + row.key);
    std::string traced;
    GetTrace().SetCapture(
        [&](DWORD level, const std::string& text) { traced += std::to_string(level) + text; });
    EXPECT_STREQ(info.QueryString(row.file, row.key, row.language, row.codepage), row.text);
    GetTrace().SetCapture(nullptr);
    EXPECT_EQ(info.LastError(), row.error);
    EXPECT_EQ(info.ValueLength(), *row.text == 0 ? 0u : std::string(row.text).size() + 1);
    EXPECT_EQ(traced, row.line.empty() ? "" : "1\n                    : ERROR " + row.line);
  }
}

TEST(ProcessNameTest, ProcessesAreNamedAfterTheirExecutablesOthersNotAtAll) {
  char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("30"), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ), 0);
  ProcessModuleReader reader;
  ASSERT_TRUE(reader.Load(nullptr));
  EXPECT_GT(reader.MajorVersion(), 0u);
  ProcessModuleReader unloaded;  // without the functions the name comes from /proc
  for (const auto& [pid, expected] : {std::pair{GetCurrentProcessId(), "host_tests"},
                                      std::pair{static_cast<DWORD>(child), "sleep"}}) {
    for (ProcessModuleReader* source : {&reader, &unloaded}) {
      char name[MAX_PATH] = {};
      char path[PATH_MAX] = {};
      ASSERT_TRUE(source->GetProcessName(pid, name, sizeof name, path, sizeof path)) << expected;
      EXPECT_STREQ(name, expected);
      EXPECT_TRUE(std::string(path).ends_with(std::string("/") + expected)) << path;
    }
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // No such process, or a name or path that does not fit: nothing is copied.
  char name[MAX_PATH] = "untouched";
  EXPECT_FALSE(reader.GetProcessName(0x7FFFFFF0u, name, sizeof name, nullptr, 0));
  EXPECT_STREQ(name, "untouched");
  char short_name[5] = "abcd";
  EXPECT_FALSE(
      reader.GetProcessName(GetCurrentProcessId(), short_name, sizeof short_name, nullptr, 0));
  EXPECT_STREQ(short_name, "abcd");
  char path[4] = "xyz";
  EXPECT_FALSE(reader.GetProcessName(GetCurrentProcessId(), name, sizeof name, path, sizeof path));
  EXPECT_STREQ(path, "xyz");
}

}  // namespace
