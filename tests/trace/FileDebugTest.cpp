// The trace facility against a real registry, real files, a real syslog
// socket and standard output: settings, targets and their levels, the line
// layout, the trace file's mutex and roll-over, and re-reading.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/RegistryFixture.h"
#include "platform/registry/Registry.h"
#include "platform/system/Threads.h"
#include "support/ProcessHelpers.h"
#include "trace/FileDebug.h"

namespace {

using platform::RegistryKey;

using test_support::ReadFile;

class FileDebugTest : public RegistryFixture {
 protected:
  void SetUp() override {
    RegistryFixture::SetUp();
    // The settings name the file with backslashes, as an administrator would.
    trace_file_ = root_ + "/trace.log";
    trace_setting_ = trace_file_;
    std::replace(trace_setting_.begin(), trace_setting_.end(), '/', '\\');
    app_ = *RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug\\App");
    // Debugger lines go to a socket of the test's own that nobody reads.
    setenv("LORVETH_SYSLOG_SOCKET", (root_ + "/unread.sock").c_str(), 1);
  }

  void SetApp(const char* name, DWORD value) { app_->SetDword(name, value); }
  void SetDynamicUpdate(DWORD units) {
    RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug")->SetDword("DynamicUpdate", units);
  }
  void UseTraceFile(DWORD level) {
    SetApp("FileDebugLevel", level);
    app_->SetString("TraceFile", trace_setting_);
  }

  std::string trace_file_;
  std::string trace_setting_;
  std::optional<RegistryKey> app_;
};

TEST_F(FileDebugTest, FacilityIsActiveWithAFileTargetDynamicUpdateOrACapture) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug");
  EXPECT_FALSE(CFileDebug("App", true).IsActive());
  EXPECT_FALSE(CFileDebug().IsActive());
  app_ = *RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug\\App");
  SetApp("FileDebugLevel", 3);  // a level without a file name
  CFileDebug trace("App", false);
  EXPECT_FALSE(trace.IsActive());
  // A capture sees every level even with all targets off.
  std::vector<std::pair<DWORD, std::string>> lines;
  trace.SetCapture([&](DWORD level, const std::string& text) { lines.emplace_back(level, text); });
  EXPECT_TRUE(trace.IsActive());
  trace.Print(5, "\n%-20s: %s", "CSwitchClient", "detail");
  trace.SetCapture(nullptr);
  EXPECT_FALSE(trace.IsActive());
  EXPECT_EQ(lines,
            (std::vector<std::pair<DWORD, std::string>>{{5, "\nCSwitchClient       : detail"}}));
  SetDynamicUpdate(5);
  EXPECT_TRUE(CFileDebug("App", false).IsActive());
}

// Each target takes the lines up to its own level; the file gets CR LF, the
// debugger target one syslog entry per line, leading newlines as empty lines.
TEST_F(FileDebugTest, EachTargetFiltersByItsOwnLevel) {
  UseTraceFile(3);
  setenv("LORVETH_TEST_TRACE_DIR", root_.c_str(), 1);
  app_->SetString("TraceFile", "%LORVETH_TEST_TRACE_DIR%\\trace.log", REG_EXPAND_SZ);
  SetApp("ConDebugLevel", 2);
  SetApp("WinDebugLevel", 1);
  // The debugger target sends each line as a syslog notice of "App".
  const int syslog = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/log.sock", root_.c_str());
  ASSERT_EQ(bind(syslog, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  setenv("LORVETH_SYSLOG_SOCKET", address.sun_path, 1);
  CFileDebug trace("App", false);
  testing::internal::CaptureStdout();
  for (DWORD level = 1; level <= 5; ++level) trace.Print(level, "\nline %u", level);
  trace.Print(1, "\n\ntext\nsecond");
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(ReadFile(trace_file_), "\r\nline 1\r\nline 2\r\nline 3\r\n\r\ntext\r\nsecond");
  EXPECT_EQ(console, "\nline 1\nline 2\n\ntext\nsecond");
  std::vector<std::string> messages;
  char buffer[4096];
  for (ssize_t n; (n = recv(syslog, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;) {
    const std::string datagram(buffer, static_cast<size_t>(n));
    EXPECT_TRUE(std::regex_search(datagram, std::regex("^<15>.* App\\[\\d+\\]: "))) << datagram;
    messages.push_back(datagram.substr(datagram.find("]: ") + 3));
  }
  close(syslog);
  EXPECT_EQ(messages, (std::vector<std::string>{"line 1", "", "text", "second"}));
}

// The file's mutex is named after its path with separators replaced, and lives
// as a lock file of that name; a line is written even while another holder
// keeps it.
TEST_F(FileDebugTest, FileMutexIsNamedAfterThePathAndDoesNotBlockALine) {
  SetApp("FileDebugLevel", 3);
  app_->SetString("TraceFile", "C:\\t\\a.log");
  CFileDebug named("App", false);
  EXPECT_TRUE(std::filesystem::exists(runtime_dir_ + "/locks/CFileDebug_C__t_a.log.lock"));
  UseTraceFile(1);
  CFileDebug trace("App", false);
  std::string mutex_name = "CFileDebug_" + trace_setting_;
  std::replace(mutex_name.begin(), mutex_name.end(), '\\', '_');
  UniqueHandle other(CreateMutexA(nullptr, FALSE, mutex_name.c_str()));
  ASSERT_EQ(WaitForSingleObject(other.Get(), 0), WAIT_OBJECT_0);
  trace.Print(1, "\nunguarded");
  ReleaseMutex(other.Get());
  EXPECT_EQ(ReadFile(trace_file_), "\r\nunguarded");
}

TEST_F(FileDebugTest, FileAtTheLimitRollsOverReplacingTheOlderGenerationBelowItIsAppended) {
  UseTraceFile(1);
  SetApp("TraceFileLimit", 1);
  for (const size_t size : {size_t{1048575}, size_t{1048576}}) {
    { std::ofstream(trace_file_ + ".txt") << "oldest"; }
    { std::ofstream(trace_file_, std::ios::binary) << std::string(size, 'a'); }
    CFileDebug trace("App", false);
    trace.Print(1, "\nfresh");
    const bool rolled = size == 1048576;
    EXPECT_EQ(std::filesystem::file_size(trace_file_), rolled ? 7u : size + 7u) << size;
    EXPECT_EQ(std::filesystem::file_size(trace_file_ + ".txt"), rolled ? size : 6u) << size;
  }
}

// Two processes with two threads each write to one trace file: the file
// mutex keeps every line whole and none is lost.
TEST_F(FileDebugTest, WritersInSeveralProcessesAndThreadsKeepEveryLineWhole) {
  UseTraceFile(1);
  constexpr int kLines = 60;
  const std::string payload(200, 'p');
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      CFileDebug trace("App", false);
      std::thread second([&] {
        for (int i = 0; i < kLines; ++i) trace.Print(1, "\n<%s>", payload.c_str());
      });
      for (int i = 0; i < kLines; ++i) trace.Print(1, "\n<%s>", payload.c_str());
      second.join();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  const std::string text = ReadFile(trace_file_);
  const std::string line = "\r\n<" + payload + ">";
  size_t count = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
  EXPECT_EQ(count, 4u * kLines);
  EXPECT_EQ(text.size(), 4u * kLines * line.size());
}

TEST_F(FileDebugTest, PrefixesComeInTheirOrderAfterTheNewlinesAndLongLinesAreCut) {
  for (const char* name : {"DateStampOn", "TimeStampOn", "ThreadIdOn", "CpuIdOn", "MemUsageOn",
                           "HandleCountOn", "AppNameOn", "ConDebugLevel"}) {
    SetApp(name, 1);
  }
  CFileDebug trace("App", false);
  std::string line;
  trace.SetCapture([&](DWORD, const std::string& text) { line = text; });
  testing::internal::CaptureStdout();
  trace.Print(1, "\nbody");
  testing::internal::GetCapturedStdout();
  const std::regex layout(
      "\n\\[\\d{4}-\\d\\d-\\d\\d\\] \\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\(\\d{5,}\\) #\\d\\d+ "
      "\\{PB \\d{5,}kB, MU \\d{5,}kB\\} \\{\\d{3,} H\\} App:           body");
  EXPECT_TRUE(std::regex_match(line, layout)) << line;
  // A prefix of one hundred newlines is replaced; a long text is cut.
  auto plain = RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug\\Plain");
  plain->SetDword("ConDebugLevel", 1);
  CFileDebug trace_plain("Plain", false);
  std::vector<std::string> lines;
  trace_plain.SetCapture([&](DWORD, const std::string& text) { lines.push_back(text); });
  testing::internal::CaptureStdout();
  trace_plain.Print(1, (std::string(99, '\n') + "kept").c_str());
  trace_plain.Print(1, (std::string(100, '\n') + "text").c_str());
  trace_plain.Print(1, "\n%s", std::string(5000, 'x').c_str());  // cut at the buffer size
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "\n" + std::string(1024, 'x'));
  EXPECT_EQ(lines[0], std::string(99, '\n') + "kept");
  EXPECT_EQ(lines[1], "!! BUFFER TOO SMALL - FIXME !! text");
}

TEST_F(FileDebugTest, BannerAnnouncesTheApplicationAndTheCallersLastErrorSurvives) {
  UseTraceFile(1);
  CFileDebug trace("App", true);
  const std::regex banner(
      "\r\n\r\n----- Application \\[App\\] started at \\d\\d:\\d\\d:\\d\\d \\d\\d/\\d\\d/\\d{4} "
      "-----\r\n");
  EXPECT_TRUE(std::regex_match(ReadFile(trace_file_), banner)) << ReadFile(trace_file_);
  // Neither the start nor a line lost on an unreachable file changes it.
  app_->SetString("TraceFile", "\\nonexistent-dir\\sub\\trace.log");
  SetApp("WinDebugLevel", 1);
  SetLastError(1234);
  CFileDebug lost("App", true);
  EXPECT_EQ(GetLastError(), 1234u);
  lost.Print(1, "\nlost line");
  EXPECT_EQ(GetLastError(), 1234u);
}

// The level written after the start is seen only by a re-read: once the
// interval has passed (also across a wrap of the tick count), never for 0.
TEST_F(FileDebugTest, DynamicUpdateReReadsOnlyOnceItsIntervalHasPassed) {
  const struct {
    DWORD units, start;
    std::vector<std::pair<DWORD, const char*>> prints;  // clock, then text
    const char* written;
  } rows[] = {
      {5, 10 * 1024, {{15 * 1024 - 1, "early"}, {15 * 1024, "on time"}}, "\r\non time"},
      {0, 0, {{0x7FFFFFFF, "never"}}, ""},
      {100, 0xFFFFF000u, {{10, "after wrap"}}, "\r\nafter wrap"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(trace_file_);
    UseTraceFile(1);
    SetDynamicUpdate(row.units);
    DWORD clock = row.start;
    CFileDebug trace;
    trace.SetTickSource([&clock] { return clock; });
    trace.Configure("App", false);
    SetApp("FileDebugLevel", 3);
    for (const auto& [at, text] : row.prints) {
      clock = at;
      trace.Print(3, "\n%s", text);
    }
    EXPECT_EQ(ReadFile(trace_file_), row.written) << row.units;
  }
}

}  // namespace
