// Real processes for the service tests: a child that is killed when the test
// ends, a command run to completion with its output, free loopback ports and
// temporary directories.  Every wait is bounded, so a child that fails to
// start or hangs fails the test instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace snmpsvc_test {

// Environment every child gets on top of the test's own: no MIB files are
// read (numeric output, no loading warnings), and Net-SNMP's tools keep their
// persistent files in `persistent_dir` instead of /var/lib/snmp.
std::vector<std::string> ToolEnvironment(const std::string& persistent_dir);

class ChildProcess {
 public:
  // Starts argv with the extra "NAME=value" entries in env; stdout and stderr
  // go to log_path.  nullptr if the program cannot be started.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& env,
                                             const std::string& log_path);
  ~ChildProcess();  // kills a child that still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  void Signal(int signal);
  // The raw wait status once the child has ended within the timeout.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  pid_t pid_;
  std::optional<int> status_;
};

struct CommandResult {
  int exit_code = -1;  // -1 if it was killed or did not start
  std::string output;  // stdout and stderr together
};

// Runs a command to completion (killed after the timeout).
CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

// A fresh directory under $TMPDIR (or /tmp), removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// Polls until the predicate holds or the timeout passes; returns the last result.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout);

}  // namespace snmpsvc_test

#include "ProcessHelpers.inl"
