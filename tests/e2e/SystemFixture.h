// The whole system as an operator runs it: switchd with the demonstration tables,
// snmpsvc loading the agent through the registry, Net-SNMP's tools as managers and
// snmptrapd as trap receiver, on loopback in a temporary state directory.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace e2e {

using std::chrono::seconds;
using namespace test_support;
constexpr auto npos = std::string::npos;

inline const std::string kBin = LORVETH_BINARY_DIR;
inline const std::string kSwitchd = kBin + "/services/switchd/switchd";
inline const std::string kSwitchctl = kBin + "/services/switchd/switchctl";
inline const std::string kSnmpsvc = kBin + "/services/snmpsvc/snmpsvc";
inline const std::string kReg = kBin + "/tools/reg/lorveth-reg";
inline const std::string kAgent = kBin + "/threshold/Lorveth_Agent.so";
inline const std::string kDemoTables = LORVETH_SOURCE_DIR "/demo/switchd";

inline const std::string kRoot = kMibRoot;
inline const std::string kAgentId = kRoot + ".1.1.1.0";
inline const std::string kLastSetMessage = kRoot + ".1.2.4.0";
inline const std::string kRuleEntry = kRoot + ".1.3.1.1.";
inline const std::string kTrapObjects = kRoot + ".2.1.";

constexpr int kNameColumn = 1;
constexpr int kDescriptionColumn = 2;
constexpr int kPollIntervalColumn = 5;
constexpr int kOperatorColumn = 14;
constexpr int kRowStatusColumn = 23;
constexpr int kStorageTypeColumn = 24;

// A record name as the table index: its length, then its bytes.
inline std::string RuleIndex(const std::string& name) {
  std::string index = std::to_string(name.size());
  for (unsigned char c : name) index += "." + std::to_string(c);
  return index;
}

inline std::string RuleColumn(int column, const std::string& name) {
  return kRuleEntry + std::to_string(column) + "." + RuleIndex(name);
}

// The lines of a numeric walk whose name starts with `prefix`, as
// index -> value text (the part after " = ").
inline std::map<std::string, std::string> LinesUnder(const std::string& walk,
                                                     const std::string& prefix) {
  std::map<std::string, std::string> out;
  std::istringstream lines(walk);
  const std::string dotted = "." + prefix;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find(" = ");
    if (line.rfind(dotted, 0) != 0 || equals == npos) continue;
    out[line.substr(dotted.size(), equals - dotted.size())] = line.substr(equals + 3);
  }
  return out;
}

// Each record of a table file as the agent's walk prints it, by its index:
// its name, or the text of its child element `item`.
inline std::map<std::string, std::string> TableTexts(const std::string& path, const char* record,
                                                     const char* item = nullptr) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_file(path.c_str())) << path;
  std::map<std::string, std::string> texts;
  for (pugi::xml_node node : document.document_element().children(record)) {
    const std::string name = node.attribute("Name").value();
    texts[RuleIndex(name)] =
        "STRING: \"" + (item ? std::string(node.child(item).text().get()) : name) + "\"";
  }
  return texts;
}

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_dir_ = dir_.path() + "/state";
    std::filesystem::create_directories(state_dir_ + "/snmpsvc");
    std::filesystem::copy(kDemoTables, state_dir_ + "/switchd");
    env_ = NetSnmpEnvironment(dir_.path() + "/tools");
    env_.push_back("LORVETH_STATE_DIR=" + state_dir_);
    env_.push_back("LORVETH_RUNTIME_DIR=" + dir_.path() + "/run");
    port_ = FreeUdpPort();
    trap_port_ = FreeUdpPort();
    Reg({"add", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents",
         "/v", "1", "/d", "SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion", "/v", "Pathname", "/d",
         kAgent, "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Quorvath\\#Setup", "/v", "FileRoot", "/d", kBin + "/lib", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Debug\\Lorveth_Agent", "/v", "FileDebugLevel", "/t", "REG_DWORD",
         "/d", "3", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Debug\\Lorveth_Agent", "/v", "TraceFile", "/d", TraceFile(),
         "/f"});
    const std::string sink = " 127.0.0.1:" + std::to_string(trap_port_) + " public\n";
    WriteFile(state_dir_ + "/snmpsvc/snmpsvc.conf",
              "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
              "createUser operator SHA \"e2e-auth-pass\" AES \"e2e-priv-pass\"\n"
              "rwuser operator priv\ntrap2sink" +
                  sink + "trapsink" + sink + "v1trapaddress 127.0.0.1\n");
  }

  // Stops the services as an operator would (snmpsvc first, so the agent
  // detaches from a running switch) and fails on any sanitizer report in
  // their logs, so a sanitized build checks the services too.
  void TearDown() override {
    for (ChildProcess* child : {snmpsvc_.get(), switchd_.get()}) {
      if (child == nullptr || !child->Running()) continue;
      child->Signal(SIGTERM);
      EXPECT_TRUE(child->WaitExit(kPatience).has_value())
          << (child == switchd_.get() ? "switchd" : "snmpsvc") << " did not stop";
    }
    for (const std::string& log : {ServiceLog(), dir_.path() + "/switchd.log"}) {
      const std::string text = ReadFile(log);
      for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
        EXPECT_EQ(text.find(report), npos) << log << ":\n" << text;
      }
    }
  }

  void Reg(std::vector<std::string> args) {
    args.insert(args.begin(), kReg);
    const CommandResult result = RunCommand(args, env_);
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }

  bool StartSwitchd() {
    const std::string socket = dir_.path() + "/run/switch.sock";
    std::filesystem::remove(socket);
    switchd_ = ChildProcess::Start({kSwitchd, "-f", "--data", state_dir_ + "/switchd"}, env_,
                                   dir_.path() + "/switchd.log");
    if (switchd_ == nullptr) return false;
    WaitFor([&] { return !switchd_->Running() || std::filesystem::exists(socket); });
    if (switchd_->Running() && std::filesystem::exists(socket)) return true;
    ADD_FAILURE() << "switchd did not come up:\n" << ReadFile(dir_.path() + "/switchd.log");
    return false;
  }

  // switchd, then snmpsvc; true once the agent answers its identity.
  bool StartSystem() {
    if (!StartSwitchd()) return false;
    snmpsvc_ = ChildProcess::Start(
        {kSnmpsvc, "-f", "--config-dir", state_dir_ + "/snmpsvc", "--listen", "udp:" + Target()},
        env_, ServiceLog());
    if (snmpsvc_ == nullptr) return false;
    const auto serves = [&] { return Get({kAgentId}).find("STRING") != npos; };
    WaitFor([&] { return !snmpsvc_->Running() || serves(); });
    if (snmpsvc_->Running() && serves()) return true;
    ADD_FAILURE() << "snmpsvc did not serve the agent:\n"
                  << ReadFile(ServiceLog()) << "\ntrace:\n"
                  << ReadFile(TraceFile());
    return false;
  }

  CommandResult Tool(std::vector<std::string> argv) { return RunCommand(argv, env_); }

  // Edits the test's copy of a table file.
  void ReplaceInTable(const std::string& file, const std::string& from, const std::string& to) {
    const std::string path = state_dir_ + "/switchd/" + file;
    std::string text = ReadFile(path);
    for (size_t at = text.find(from); at != npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
    WriteFile(path, text);
  }

  // For tests that compare two walks: nothing may change between them, so no
  // rule polls (its status and current value would move) and no report records.
  void HoldStill() {
    ReplaceInTable("RuleSets.xml", "<Status>enable</Status>", "<Status>disable</Status>");
    ReplaceInTable("ReportSets.xml", "<Status>enable</Status>", "<Status>disable</Status>");
  }

  // A Net-SNMP tool with numeric output against the agent.
  std::string Query(const std::string& tool, const std::string& version,
                    const std::string& community, std::vector<std::string> args,
                    const char* timeout = "2", const char* retries = "1") {
    args.insert(args.begin(), {tool, "-m", "", "-v" + version, "-c", community, "-On", "-t",
                               timeout, "-r", retries, Target()});
    return Tool(args).output;
  }
  // A quick snmpget, for polling.
  std::string Get(std::vector<std::string> names, const std::string& version = "2c") {
    return Query("snmpget", version, "public", names, "0.5", "0");
  }

  std::string V3(const std::string& tool, std::vector<std::string> args,
                 const std::string& auth_pass = "e2e-auth-pass") {
    args.insert(args.begin(),
                {tool,  "-m",  "",   "-v3",     "-l", "authPriv", "-u", "operator",
                 "-a",  "SHA", "-A", auth_pass, "-x", "AES",      "-X", "e2e-priv-pass",
                 "-On", "-t",  "2",  "-r",      "1",  Target()});
    return Tool(args).output;
  }

  // Polls snmpget until its answer contains `expected` (changes reach the
  // agent through switchd's change event, not at once).
  bool ExpectServed(const std::string& name, const std::string& expected) {
    if (WaitFor([&] { return Get({name}).find(expected) != npos; })) return true;
    ADD_FAILURE() << name << " never held " << expected << ": " << Get({name});
    return false;
  }
  // A SET with the private community that must succeed.
  void SetOk(const std::vector<std::string>& args) {
    const std::string out = Query("/usr/bin/snmpset", "2c", "private", args);
    EXPECT_EQ(out.find("Error"), npos) << out;
  }

  // Three bulk walks of the whole subtree at once while `meanwhile` runs, each
  // answered in order. Tools are named by path: a child forked beside other
  // threads then only calls execve, without a PATH search.
  std::vector<std::string> WalksDuring(const std::function<void()>& meanwhile) {
    std::vector<std::string> walks(3);
    std::vector<std::thread> walkers;
    for (std::string& walk : walks) {
      walkers.emplace_back([&] { walk = Query("/usr/bin/snmpbulkwalk", "2c", "public", {kRoot}); });
    }
    meanwhile();
    for (std::thread& walker : walkers) walker.join();
    for (const std::string& walk : walks) {
      EXPECT_EQ(walk.find("Timeout"), npos) << walk;
      EXPECT_EQ(walk.find("not increasing"), npos) << walk;
    }
    return walks;
  }

  // snmptrapd on the sinks' port, printing numeric OIDs to its log.
  bool StartTrapReceiver() {
    const std::string conf = dir_.path() + "/snmptrapd.conf";
    WriteFile(conf, "disableAuthorization yes\n");
    trapd_ = ChildProcess::Start({"/usr/sbin/snmptrapd", "-f", "-Lo", "-n", "-On", "-m", "", "-C",
                                  "-c", conf, "udp:127.0.0.1:" + std::to_string(trap_port_)},
                                 env_, TrapLog());
    if (trapd_ && WaitFor([&] { return ReadFile(TrapLog()).find("NET-SNMP version") != npos; })) {
      return true;
    }
    ADD_FAILURE() << "snmptrapd did not start:\n" << ReadFile(TrapLog());
    return false;
  }

  std::string TrapLog() const { return dir_.path() + "/traps.log"; }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string ServiceLog() const { return dir_.path() + "/snmpsvc.log"; }
  std::string TraceFile() const { return dir_.path() + "/agent-trace.txt"; }

  TempDir dir_;
  std::string state_dir_;
  std::vector<std::string> env_;
  int port_ = 0;
  int trap_port_ = 0;
  // Declared in start order: snmpsvc is killed before switchd.
  std::unique_ptr<ChildProcess> trapd_;
  std::unique_ptr<ChildProcess> switchd_;
  std::unique_ptr<ChildProcess> snmpsvc_;
};

}  // namespace e2e
