// snmpsvc as a real process serving the test agent, driven by Net-SNMP's tools;
// snmptrapd receives its traps and the system's snmpd is the AgentX master.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"

namespace snmpsvc_test {
namespace {

using namespace test_support;
constexpr auto npos = std::string::npos;

const std::string kService = LORVETH_BINARY_DIR "/services/snmpsvc/snmpsvc";
const std::string kAgent = LORVETH_BINARY_DIR "/tests/services/snmpsvc/libsnmpsvc_test_agent.so";
const std::string kRoot = "1.3.6.1.4.1.55555.1";
const std::string kColumns = kRoot + ".1.1.";
const std::string kSecondRoot = "1.3.6.1.4.1.55555.4";

const std::string kConfig =
    "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
    "syscontact ops@example.net\nsyslocation rack 7\nsysservices 72\n"
    "view nothird included .1\nview nothird excluded .1.3.6.1.4.1.55555.1.1.1.3\n"
    "com2sec partial 127.0.0.1 partial\ngroup partial v2c partial\n"
    "access partial \"\" any noauth exact nothird none none\n";

// The table as snmpwalk -On prints it, followed by the scalar of the region.
std::string ExpectedRegionWalk(int rows) {
  std::string out;
  for (int column = 1; column <= 11; ++column) {
    for (int r = 1; r <= rows; ++r) {
      const std::string n = std::to_string(r);
      const std::string values[] = {"INTEGER: " + n,
                                    "STRING: \"row " + n + "\"",
                                    "OID: ." + kRoot + ".7." + n,
                                    "IpAddress: 10.0.0." + n,
                                    "Counter32: " + std::to_string(4294967295u - r),
                                    "Gauge32: " + std::to_string(1000 * r),
                                    "Timeticks: (" + std::to_string(360000 + r) + ") 1:00:00.0" + n,
                                    "OPAQUE: 04 02 6F 3" + std::to_string(r % 10) + " ",
                                    "Gauge32: " + std::to_string(7 * r),
                                    "Counter64: " + std::to_string((1ull << 40) + r),
                                    "INTEGER: -" + n};
      out += "." + kColumns + std::to_string(column) + "." + n + " = " + values[column - 1] + "\n";
    }
  }
  return out + "." + kRoot + ".2.0 = STRING: \"test agent\"\n";
}

std::string WithoutLines(const std::string& text, const std::string& pattern) {
  return std::regex_replace(text, std::regex(".*(" + pattern + ").*\n"), "");
}

class SnmpsvcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_dir_ = dir_.path() + "/state";
    std::filesystem::create_directories(state_dir_ + "/snmpsvc");
    env_ = NetSnmpEnvironment(dir_.path() + "/tools");
    env_.push_back("LORVETH_RUNTIME_DIR=" + dir_.path() + "/run");
  }

  // Starts snmpsvc with the base configuration plus `extra` and waits until it
  // answers; false (with the log in the failure) if it does not.
  bool StartService(const std::string& extra = "") {
    port_ = FreeUdpPort();
    WriteFile(state_dir_ + "/snmpsvc/snmpsvc.conf", kConfig + extra);
    std::vector<std::string> env = env_;
    env.push_back("LORVETH_STATE_DIR=" + state_dir_);
    env.push_back("LORVETH_TEST_AGENT_MARKER=" + Marker());
    service_ = ChildProcess::Start(
        {kService, "-f", "--agent", kAgent, "--listen", "udp:" + Target()}, env, ServiceLog());
    if (service_ == nullptr) return false;
    const auto up = [&] {
      return Query("snmpget", "2c", "public", {"1.3.6.1.2.1.1.3.0"}).find("Timeticks") != npos;
    };
    if (WaitFor([&] { return !service_->Running() || up(); }) && service_->Running()) return true;
    ADD_FAILURE() << "snmpsvc did not come up:\n" << ReadFile(ServiceLog());
    return false;
  }

  // snmpwalk/snmpbulkwalk/... with numeric output against the service.
  std::string Query(const std::string& tool, const std::string& version,
                    const std::string& community, std::vector<std::string> args) {
    args.insert(args.begin(),
                {tool, "-v" + version, "-c", community, "-On", "-t", "2", "-r", "1", Target()});
    return RunCommand(args, env_).output;
  }

  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Marker() const { return dir_.path() + "/agent-marker"; }
  std::string ServiceLog() const { return dir_.path() + "/snmpsvc.log"; }

  TempDir dir_;
  std::string state_dir_;
  std::vector<std::string> env_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> service_;
};

// Every read as the tools print it: the whole answer, or parts of it.
TEST_F(SnmpsvcTest, ReadsAnswerAsTheToolsPrintThemAndSigintClosesTheAgent) {
  ASSERT_TRUE(StartService());
  const std::string all = "1.3.6.1.4.1.55555";
  const std::string both =
      ExpectedRegionWalk(3) + "." + kSecondRoot + ".1.0 = STRING: \"second region\"\n";
  std::vector<std::string> every_type;
  for (int column = 1; column <= 11; ++column) {
    every_type.push_back(kColumns + std::to_string(column) + ".2");
  }
  // clang-format off
  const struct {
    const char* label;
    const char* tool;
    const char* version;
    std::vector<std::string> args;
    std::string answer;              // the whole answer, unless empty
    std::vector<std::string> parts;  // else what it holds
  } kCases[] = {
      {"walk on into the second region", "snmpwalk", "2c", {all}, both, {}},
      {"bulk walk, 1 repetition", "snmpbulkwalk", "2c", {"-Cr1", all}, both, {}},
      {"bulk walk, 7 repetitions", "snmpbulkwalk", "2c", {"-Cr7", all}, both, {}},
      {"bulk walk in a view without column 3", "snmpbulkwalk", "2c", {"-c", "partial", "-Cr7", all}, WithoutLines(both, kColumns + "3\\."), {}},
      {"v1 walk skips Counter64 only", "snmpwalk", "1", {kRoot}, WithoutLines(ExpectedRegionWalk(3), "Counter64"), {}},
      {"getnext before the region", "snmpgetnext", "2c", {all}, "." + kColumns + "1.1 = INTEGER: 1\n", {}},
      {"getnext between columns", "snmpgetnext", "2c", {kColumns + "2.99"}, "." + kColumns + "3.1 = OID: ." + kRoot + ".7.1\n", {}},
      {"get of every value type", "snmpget", "2c", every_type, WithoutLines(ExpectedRegionWalk(2), "\\.1 = |\\.2\\.0 ="), {}},
      {"v2c get of missing instances and objects", "snmpget", "2c", {kColumns + "2.9", kColumns + "2.1", kRoot + ".99.0", kRoot + ".2.1"}, "." + kColumns + "2.9 = No Such Instance currently exists at this OID\n" + "." + kColumns + "2.1 = STRING: \"row 1\"\n" + "." + kRoot + ".99.0 = No Such Object available on this agent at this OID\n" + "." + kRoot + ".2.1 = No Such Instance currently exists at this OID\n", {}},
      {"get of a failing object", "snmpget", "2c", {kColumns + "2.1", kRoot + ".3.0"}, "", {"(genError)", "Failed object: ." + kRoot + ".3.0"}},
      {"system group from the configuration", "snmpwalk", "2c", {"1.3.6.1.2.1.1"}, "", {".1.3.6.1.2.1.1.1.0 = STRING: ", ".1.3.6.1.2.1.1.2.0 = OID: ", ".1.3.6.1.2.1.1.3.0 = Timeticks: ", ".1.3.6.1.2.1.1.4.0 = STRING: \"ops@example.net\"", ".1.3.6.1.2.1.1.5.0 = STRING: ", ".1.3.6.1.2.1.1.6.0 = STRING: \"rack 7\"", ".1.3.6.1.2.1.1.7.0 = INTEGER: 72"}},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string out = Query(c.tool, c.version, "public", c.args);
    EXPECT_EQ(c.answer.empty() ? c.answer : out, c.answer);
    for (const std::string& part : c.parts) EXPECT_NE(out.find(part), npos) << out;
  }

  // The log stays quiet while serving; SIGINT closes the agent and ends the
  // service cleanly (SIGTERM is the system tests' way to stop it).
  const std::string log = ReadFile(ServiceLog());
  for (const char* noise : {"Cannot find module", "Connection from", "MIB search path"}) {
    EXPECT_EQ(log.find(noise), npos) << log;
  }
  EXPECT_NE(log.find("serving 2 region(s) of 1 agent(s)"), npos) << log;
  service_->Signal(SIGINT);
  const auto status = service_->WaitExit();
  ASSERT_TRUE(status.has_value()) << "snmpsvc did not stop";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  // Init with the service's time reference, then a single close.
  const std::string marker = ReadFile(Marker());
  EXPECT_TRUE(std::regex_match(marker, std::regex("init [0-9]+\nclose\n"))) << marker;
}

// A refused set answers the status and failed object snmpset prints and
// applies nothing; an accepted one applies every value, and the agent's trap
// reaches the v1 and v2c sinks with its bindings.
TEST_F(SnmpsvcTest, SetsApplyAllOrNothingAndTrapsReachTheSinks) {
  const std::string sink = "127.0.0.1:" + std::to_string(FreeUdpPort());
  const std::string trap_log = dir_.path() + "/traps.log";
  WriteFile(dir_.path() + "/snmptrapd.conf", "disableAuthorization yes\n");
  const auto trapd = ChildProcess::Start({"/usr/sbin/snmptrapd", "-f", "-Lo", "-n", "-On", "-C",
                                          "-c", dir_.path() + "/snmptrapd.conf", "udp:" + sink},
                                         env_, trap_log);
  ASSERT_TRUE(trapd && WaitFor([&] { return ReadFile(trap_log).find("NET-SNMP version") != npos; }))
      << ReadFile(trap_log);
  ASSERT_TRUE(StartService("trapsink " + sink + " public\ntrap2sink " + sink + " public\n" +
                           "v1trapaddress 127.0.0.1\n"));
  const std::string c = kColumns;
  const struct {
    const char* label;
    const char* version;
    const char* community;
    std::vector<std::string> args;  // name type value ...
    const char* reason;
    std::string failed;  // the varbind the error names, if any
  } kRefusals[] = {
      // clang-format off
      {"read-only column v2c", "2c", "private", {c + "1.1", "i", "5"}, "notWritable", c + "1.1"},
      {"read-only column v1", "1", "private", {c + "1.1", "i", "5"}, "(readOnly)", c + "1.1"},
      {"wrong type", "2c", "private", {c + "6.1", "s", "text"}, "wrongType", c + "6.1"},
      {"too long", "2c", "private", {c + "2.1", "s", std::string(40, 'x')},
       "wrongLength", c + "2.1"},
      {"out of range v2c", "2c", "private", {c + "11.2", "i", "500"}, "wrongValue", c + "11.2"},
      {"out of range v1", "1", "private", {c + "11.2", "i", "500"}, "(badValue)", c + "11.2"},
      {"missing row v2c", "2c", "private", {c + "2.9", "s", "new"}, "noCreation", c + "2.9"},
      {"missing row v1", "1", "private", {c + "2.9", "s", "new"}, "(noSuchName)", c + "2.9"},
      {"unknown object", "2c", "private", {kRoot + ".5.0", "i", "1"},
       "notWritable", kRoot + ".5.0"},
      {"second varbind fails", "2c", "private", {c + "2.1", "s", "changed", c + "1.2", "i", "5"},
       "notWritable", c + "1.2"},
      {"read-only community", "2c", "public", {c + "2.1", "s", "nope"}, "noAccess", ""},
      // clang-format on
  };
  for (const auto& r : kRefusals) {
    SCOPED_TRACE(r.label);
    const std::string out = Query("snmpset", r.version, r.community, r.args);
    EXPECT_NE(out.find(r.reason), npos) << out;
    EXPECT_TRUE(r.failed.empty() || out.find("Failed object: ." + r.failed + "\n") != npos) << out;
    EXPECT_EQ(Query("snmpget", "2c", "public", {c + "2.1"}), "." + c + "2.1 = STRING: \"row 1\"\n");
  }

  const std::string set = Query("snmpset", "2c", "private",
                                {c + "2.1", "s", "renamed", c + "3.1", "o", "1.3.6.9", c + "4.1",
                                 "a", "192.168.7.1", c + "6.1", "u", "99", c + "7.1", "t", "4242"});
  EXPECT_EQ(set.find("Error"), npos) << set;
  EXPECT_EQ(
      Query("snmpget", "2c", "public", {c + "2.1", c + "3.1", c + "4.1", c + "6.1", c + "7.1"}),
      "." + c + "2.1 = STRING: \"renamed\"\n." + c + "3.1 = OID: .1.3.6.9\n." + c +
          "4.1 = IpAddress: 192.168.7.1\n." + c + "6.1 = Gauge32: 99\n." + c +
          "7.1 = Timeticks: (4242) 0:00:42.42\n");

  const std::string trap = Query("snmpset", "2c", "private", {c + "11.2", "i", "42"});
  ASSERT_EQ(trap.find("Error"), npos) << trap;
  ASSERT_TRUE(WaitFor([&] {
    const std::string log = ReadFile(trap_log);
    return log.find("SNMP v1") != npos && log.find(".1.3.6.1.6.3.1.1.4.1.0 = OID") != npos;
  })) << ReadFile(trap_log);
  const std::string log = ReadFile(trap_log);
  const std::string bindings = "." + c + "2.2 = STRING: \"row 2\"\t." + c +
                               "11.2 = INTEGER: 42\t." + c + "4.2 = IpAddress: 10.0.0.2";
  // SNMPv1: enterprise, specific number, the agent's time stamp, agent address.
  EXPECT_NE(log.find("[127.0.0.1] (via UDP: [127.0.0.1]"), npos) << log;
  const std::size_t v1_header =
      log.find(".1.3.6.1.4.1.55555.9 Enterprise Specific Trap (2202) Uptime: 0:20:34.56");
  ASSERT_NE(v1_header, npos) << log;
  EXPECT_NE(log.find("\n\t" + bindings, v1_header), npos) << log;
  // SNMPv2c: sysUpTime.0 = time stamp, snmpTrapOID.0 = enterprise.0.specific,
  // the bindings, snmpTrapEnterprise.0.
  EXPECT_NE(log.find(".1.3.6.1.2.1.1.3.0 = Timeticks: (123456) 0:20:34.56\t"
                     ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.55555.9.0.2202\t" +
                     bindings + "\t.1.3.6.1.6.3.1.1.4.3.0 = OID: .1.3.6.1.4.1.55555.9"),
            npos)
      << log;
}

TEST_F(SnmpsvcTest, BadStartsEndWithAMessage) {
  // clang-format off
  const struct {
    std::vector<std::string> argv;
    int exit_code;
    const char* message;
  } kCases[] = {
      {{kService, "-f", "--agent", dir_.path() + "/missing.so", "--listen", "udp:127.0.0.1:" + std::to_string(FreeUdpPort())}, 1, "missing.so"},
      {{kService, "--bogus"}, 2, "usage: snmpsvc"},
      {{kService, "-f", "--agent", "libz.so.1"}, 1, "SnmpExtensionInit"},
  };
  // clang-format on
  for (const auto& c : kCases) {
    const CommandResult result = RunCommand(c.argv, env_);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.message;
    EXPECT_NE(result.output.find(c.message), npos) << result.output;
  }
}

// Reconnects after the AgentX master restarts; a second service with the same
// regions is refused by the master until the first one leaves.
TEST_F(SnmpsvcTest, AgentxReconnectsToARestartedMasterAndRetriesARefusedRegistration) {
  const std::string socket = dir_.path() + "/agentx.sock";
  const std::string conf = dir_.path() + "/snmpd.conf";
  port_ = FreeUdpPort();
  WriteFile(conf, "master agentx\nagentXSocket " + socket + "\nagentaddress udp:" + Target() +
                      "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n");
  std::unique_ptr<ChildProcess> master;
  const auto start_master = [&] {
    master = ChildProcess::Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf, "-I", "-smux"},
                                 env_, dir_.path() + "/snmpd.log");
    WaitFor([&] { return std::filesystem::exists(socket) || !master->Running(); });
    return master->Running();
  };
  const auto start_subagent = [&](const std::string& state, const std::string& log) {
    std::filesystem::create_directories(state + "/snmpsvc");
    WriteFile(state + "/snmpsvc/snmpsvc.conf", "");
    std::vector<std::string> env = env_;
    env.push_back("LORVETH_STATE_DIR=" + state);
    return ChildProcess::Start({kService, "-f", "--agent", kAgent, "--agentx", socket}, env, log);
  };
  // A walk through the master, once it shows the table.
  const auto walk_when_registered = [&] {
    std::string walk;
    WaitFor([&] {
      walk = Query("snmpwalk", "2c", "public", {kRoot});
      return walk == ExpectedRegionWalk(3) || !service_->Running();
    });
    return walk;
  };
  ASSERT_TRUE(start_master()) << ReadFile(dir_.path() + "/snmpd.log");
  service_ = start_subagent(state_dir_, ServiceLog());
  ASSERT_EQ(walk_when_registered(), ExpectedRegionWalk(3)) << ReadFile(ServiceLog());
  master->Signal(SIGTERM);
  ASSERT_TRUE(master->WaitExit().has_value());
  ASSERT_TRUE(start_master()) << ReadFile(dir_.path() + "/snmpd.log");
  ASSERT_EQ(walk_when_registered(), ExpectedRegionWalk(3)) << ReadFile(ServiceLog());
  const std::string set = Query("snmpset", "2c", "private", {kColumns + "2.2", "s", "via agentx"});
  EXPECT_EQ(set, "." + kColumns + "2.2 = STRING: \"via agentx\"\n");

  const std::string second_log = dir_.path() + "/second.log";
  auto second = start_subagent(dir_.path() + "/second-state", second_log);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(second_log).find("registering pdu failed") != npos; }))
      << ReadFile(second_log);
  // A subagent once left Net-SNMP callbacks whose argument lived on its
  // stack: the library's shutdown freed it and the stop ended in an abort.
  service_->Signal(SIGTERM);
  const auto stopped = service_->WaitExit(kPatience);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_TRUE(WIFEXITED(*stopped) && WEXITSTATUS(*stopped) == 0) << *stopped;
  service_ = std::move(second);
  EXPECT_EQ(walk_when_registered(), ExpectedRegionWalk(3)) << ReadFile(second_log);
  EXPECT_NE(
      ReadFile(second_log).find("region 1.3.6.1.4.1.55555.1 registered with the AgentX master"),
      npos)
      << ReadFile(second_log);
}

}  // namespace
}  // namespace snmpsvc_test
