// Real processes for the tests, every wait bounded: children, commands, free loopback ports,
// and the environment that keeps a Net-SNMP program inside the test's own directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/WaitFor.h"

namespace test_support {

// "NAME=value" entries that keep a Net-SNMP program below `dir` (created here): persistent
// files in dir/persist, configuration from dir/conf, HOME at dir/home, no MIB module loaded.
// A later entry of the same name replaces an earlier one (a test may append its own MIBS).
std::vector<std::string> NetSnmpEnvironment(const std::string& dir);

class ChildProcess {
 public:
  // Starts argv with the test's environment plus `env`, output to log_path; nullptr on failure.
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
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = kPatience);

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  pid_t pid_;
  std::optional<int> status_;
};

enum class Streams { kMerged, kApart };

struct CommandResult {
  int exit_code = -1;  // -1 if it was killed or did not start; 127 if not found
  std::string output;  // stdout, with stderr merged in unless kept apart
  std::string errors;  // stderr when kept apart
};

// Runs a command (found on PATH) to completion; killed after the timeout.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds timeout = kPatience,
                         Streams streams = Streams::kMerged);

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace test_support
