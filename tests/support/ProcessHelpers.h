// Real processes for the tests: a child that is killed when the test ends, a
// command run to completion with its output, free loopback ports, and the
// environment that keeps a Net-SNMP program inside the test's own directory.
// Every wait is bounded, so a child that fails to start or hangs fails the
// test instead of hanging it.
//
//   test_support::TempDir dir;
//   auto env = test_support::NetSnmpEnvironment(dir.path() + "/net-snmp");
//   auto result = test_support::RunCommand({"snmpget", "-v2c", ...}, env);
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

// "NAME=value" entries for a Net-SNMP tool, snmpd, snmptrapd or a service on
// Net-SNMP's library, all below `dir` (created here): persistent files in
// dir/persist instead of /var/lib/snmp, configuration files only from
// dir/conf (empty unless the test writes one there) instead of /etc/snmp and
// ~/.snmp, HOME at dir/home, and no MIB module loaded (numeric output, no
// loading warnings).  A later entry of the same name replaces an earlier one,
// so a test may append its own MIBS or MIBDIRS.
std::vector<std::string> NetSnmpEnvironment(const std::string& dir);

class ChildProcess {
 public:
  // Starts argv (argv[0] a path) with the test's environment, in which the
  // "NAME=value" entries of env replace variables of the same name; stdout and
  // stderr go to log_path.  nullptr if the program cannot be started.
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

// Runs a command (found on PATH) to completion with the environment as for
// ChildProcess::Start; killed after the timeout.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds timeout = kPatience,
                         Streams streams = Streams::kMerged);

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace test_support
