// The whole system as an operator runs it: switchd with the demonstration
// tables, snmpsvc loading the threshold agent through the registry's
// extension-agent list, Net-SNMP's command-line tools as managers and
// snmptrapd as the trap receiver, all on loopback in a temporary state
// directory.  Every wait is bounded; every process dies with the fixture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

using std::chrono::seconds;
using test_support::ChildProcess;
using test_support::CommandResult;
using test_support::kPatience;
using test_support::ReadFile;
using test_support::RunCommand;
using test_support::TempDir;
using test_support::WaitFor;
using test_support::WriteFile;

const std::string kBin = LORVETH_BINARY_DIR;
const std::string kSwitchd = kBin + "/services/switchd/switchd";
const std::string kSwitchctl = kBin + "/services/switchd/switchctl";
const std::string kSnmpsvc = kBin + "/services/snmpsvc/snmpsvc";
const std::string kReg = kBin + "/tools/reg/lorveth-reg";
const std::string kAgent = kBin + "/threshold/Lorveth_Agent.so";
const std::string kDemoTables = LORVETH_SOURCE_DIR "/demo/switchd";

const std::string kRoot = kMibRoot;
const std::string kAgentId = kRoot + ".1.1.1.0";
const std::string kLastSetMessage = kRoot + ".1.2.4.0";
const std::string kRuleEntry = kRoot + ".1.3.1.1.";
const std::string kTrapObjects = kRoot + ".2.1.";

constexpr int kNameColumn = 1;
constexpr int kDescriptionColumn = 2;
constexpr int kPollIntervalColumn = 5;
constexpr int kOperatorColumn = 14;
constexpr int kRowStatusColumn = 23;
constexpr int kStorageTypeColumn = 24;

// A record name as the table index: its length, then its bytes.
std::string RuleIndex(const std::string& name) {
  std::string index = std::to_string(name.size());
  for (unsigned char c : name) index += "." + std::to_string(c);
  return index;
}

std::string RuleColumn(int column, const std::string& name) {
  return kRuleEntry + std::to_string(column) + "." + RuleIndex(name);
}

// The lines of a numeric walk whose name starts with `prefix`, as
// index -> value text (the part after " = ").
std::map<std::string, std::string> LinesUnder(const std::string& walk, const std::string& prefix) {
  std::map<std::string, std::string> out;
  std::size_t start = 0;
  while (start < walk.size()) {
    std::size_t end = walk.find('\n', start);
    if (end == std::string::npos) end = walk.size();
    const std::string line = walk.substr(start, end - start);
    start = end + 1;
    const std::string dotted = "." + prefix;
    const std::size_t equals = line.find(" = ");
    if (line.rfind(dotted, 0) != 0 || equals == std::string::npos) continue;
    out[line.substr(dotted.size(), equals - dotted.size())] = line.substr(equals + 3);
  }
  return out;
}

// The rule names and descriptions of a Rules.xml document, keyed by the
// table index that the agent gives each rule.
struct RuleTexts {
  std::map<std::string, std::string> names;
  std::map<std::string, std::string> descriptions;
};

RuleTexts RulesOfTableFile(const std::string& path) {
  pugi::xml_document document;
  RuleTexts texts;
  if (!document.load_file(path.c_str())) {
    ADD_FAILURE() << "cannot read " << path;
    return texts;
  }
  for (pugi::xml_node rule : document.child("Rules").children("Rule")) {
    const std::string name = rule.attribute("Name").value();
    const std::string index = RuleIndex(name);
    texts.names[index] = "STRING: \"" + name + "\"";
    texts.descriptions[index] =
        "STRING: \"" + std::string(rule.child("Description").text().get()) + "\"";
  }
  return texts;
}

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_dir_ = dir_.path() + "/state";
    run_dir_ = dir_.path() + "/run";
    std::filesystem::create_directories(state_dir_ + "/switchd");
    std::filesystem::create_directories(state_dir_ + "/snmpsvc");
    std::filesystem::create_directories(run_dir_);
    std::filesystem::create_directories(dir_.path() + "/tools");
    for (const auto& entry : std::filesystem::directory_iterator(kDemoTables)) {
      if (entry.path().extension() == ".xml") {
        std::filesystem::copy_file(entry.path(),
                                   state_dir_ + "/switchd/" + entry.path().filename().string());
      }
    }
    env_ = test_support::NetSnmpEnvironment(dir_.path() + "/tools");
    env_.push_back("LORVETH_STATE_DIR=" + state_dir_);
    env_.push_back("LORVETH_RUNTIME_DIR=" + run_dir_);
    port_ = test_support::FreeUdpPort();
    trap_port_ = test_support::FreeUdpPort();

    Reg({"add", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents",
         "/v", "1", "/d", "SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion", "/v", "Pathname", "/d",
         kAgent, "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Quorvath\\#Setup", "/v", "FileRoot", "/d", kBin + "/lib", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Debug\\Lorveth_Agent", "/v", "FileDebugLevel", "/t", "REG_DWORD",
         "/d", "3", "/f"});
    Reg({"add", "HKLM\\SOFTWARE\\Debug\\Lorveth_Agent", "/v", "TraceFile", "/d", TraceFile(),
         "/f"});

    const std::string sink = "127.0.0.1:" + std::to_string(trap_port_);
    WriteFile(state_dir_ + "/snmpsvc/snmpsvc.conf",
              "rocommunity public 127.0.0.1\n"
              "rwcommunity private 127.0.0.1\n"
              "createUser operator SHA \"e2e-auth-pass\" AES \"e2e-priv-pass\"\n"
              "rwuser operator priv\n"
              "trap2sink " +
                  sink +
                  " public\n"
                  "trapsink " +
                  sink +
                  " public\n"
                  "v1trapaddress 127.0.0.1\n");
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
        EXPECT_EQ(text.find(report), std::string::npos) << log << ":\n" << text;
      }
    }
  }

  void Reg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kReg};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult result = RunCommand(argv, env_);
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }

  bool StartSwitchd() {
    std::filesystem::remove(run_dir_ + "/switch.sock");
    switchd_ = ChildProcess::Start({kSwitchd, "-f", "--data", state_dir_ + "/switchd"}, env_,
                                   dir_.path() + "/switchd.log");
    if (switchd_ == nullptr) return false;
    const bool up = WaitFor(
        [&] { return !switchd_->Running() || std::filesystem::exists(run_dir_ + "/switch.sock"); },
        kPatience);
    if (!up || !switchd_->Running()) {
      ADD_FAILURE() << "switchd did not come up:\n" << ReadFile(dir_.path() + "/switchd.log");
      return false;
    }
    return true;
  }

  // switchd, then snmpsvc; true once the agent answers its identity.
  bool StartSystem() {
    if (!StartSwitchd()) return false;
    snmpsvc_ = ChildProcess::Start(
        {kSnmpsvc, "-f", "--listen", "udp:" + Target(), "--config-dir", state_dir_ + "/snmpsvc"},
        env_, ServiceLog());
    if (snmpsvc_ == nullptr) return false;
    const bool up = WaitFor(
        [&] {
          return !snmpsvc_->Running() ||
                 Get("2c", "public", {kAgentId}).find("STRING") != std::string::npos;
        },
        kPatience);
    if (!up || !snmpsvc_->Running()) {
      ADD_FAILURE() << "snmpsvc did not serve the agent:\n"
                    << ReadFile(ServiceLog()) << "\ntrace:\n"
                    << ReadFile(TraceFile());
      return false;
    }
    return true;
  }

  // The system's snmpd as AgentX master answering on the test's port, and
  // snmpsvc registering the agent's regions with it.
  bool StartSystemAsSubagent() {
    const std::string socket = dir_.path() + "/agentx.sock";
    const std::string conf = dir_.path() + "/snmpd.conf";
    WriteFile(conf, "master agentx\nagentXSocket " + socket + "\nagentaddress udp:" + Target() +
                        "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n");
    master_ = ChildProcess::Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf, "-I", "-smux"},
                                  env_, dir_.path() + "/snmpd.log");
    if (master_ == nullptr) return false;
    WaitFor([&] { return std::filesystem::exists(socket) || !master_->Running(); }, kPatience);
    if (!master_->Running()) {
      ADD_FAILURE() << "snmpd did not start:\n" << ReadFile(dir_.path() + "/snmpd.log");
      return false;
    }
    if (!StartSwitchd()) return false;
    snmpsvc_ = ChildProcess::Start(
        {kSnmpsvc, "-f", "--agentx", socket, "--config-dir", state_dir_ + "/snmpsvc"}, env_,
        ServiceLog());
    if (snmpsvc_ == nullptr) return false;
    const bool up = WaitFor(
        [&] {
          return !snmpsvc_->Running() ||
                 Get("2c", "public", {kAgentId}).find("STRING") != std::string::npos;
        },
        kPatience);
    if (!up || !snmpsvc_->Running()) {
      ADD_FAILURE() << "the agent did not register with snmpd:\n" << ReadFile(ServiceLog());
      return false;
    }
    return true;
  }

  CommandResult Tool(std::vector<std::string> argv) { return RunCommand(argv, env_); }

  // Edits the test's copy of a demonstration table file before switchd starts.
  void ReplaceInTable(const std::string& file, const std::string& from, const std::string& to) {
    const std::string path = state_dir_ + "/switchd/" + file;
    std::string text = ReadFile(path);
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
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

  CommandResult Switchctl(std::vector<std::string> args) {
    args.insert(args.begin(), kSwitchctl);
    return Tool(args);
  }

  // A Net-SNMP tool with numeric output against the agent.
  std::string Query(const std::string& tool, const std::string& version,
                    const std::string& community, std::vector<std::string> args) {
    std::vector<std::string> argv = {tool,  "-m", "",  "-v" + version, "-c", community,
                                     "-On", "-t", "2", "-r",           "1",  Target()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Tool(argv).output;
  }

  std::string Get(const std::string& version, const std::string& community,
                  std::vector<std::string> names) {
    std::vector<std::string> argv = {"snmpget", "-m", "",    "-v" + version, "-c", community,
                                     "-On",     "-t", "0.5", "-r",           "0",  Target()};
    argv.insert(argv.end(), names.begin(), names.end());
    return Tool(argv).output;
  }

  std::string V3(const std::string& tool, std::vector<std::string> args) {
    std::vector<std::string> argv = {
        tool, "-m",       "",   "-v3",           "-l",  "authPriv",
        "-u", "operator", "-a", "SHA",           "-A",  "e2e-auth-pass",
        "-x", "AES",      "-X", "e2e-priv-pass", "-On", "-t",
        "2",  "-r",       "1",  Target()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Tool(argv).output;
  }

  // Polls snmpget until its answer contains `expected` (changes reach the
  // agent through switchd's change event, not at once).
  bool GetEventually(const std::string& name, const std::string& expected) {
    return WaitFor([&] { return Get("2c", "public", {name}).find(expected) != std::string::npos; },
                   kPatience);
  }

  // snmptrapd on the sinks' port, printing numeric OIDs to its log.
  bool StartTrapReceiver() {
    const std::string conf = dir_.path() + "/snmptrapd.conf";
    WriteFile(conf, "disableAuthorization yes\n");
    trapd_ = ChildProcess::Start({"/usr/sbin/snmptrapd", "-f", "-Lo", "-n", "-On", "-m", "", "-C",
                                  "-c", conf, "udp:127.0.0.1:" + std::to_string(trap_port_)},
                                 env_, TrapLog());
    if (trapd_ == nullptr) return false;
    if (!WaitFor([&] { return ReadFile(TrapLog()).find("NET-SNMP version") != std::string::npos; },
                 kPatience)) {
      ADD_FAILURE() << "snmptrapd did not start:\n" << ReadFile(TrapLog());
      return false;
    }
    return true;
  }

  std::string TrapLog() const { return dir_.path() + "/traps.log"; }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string ServiceLog() const { return dir_.path() + "/snmpsvc.log"; }
  std::string TraceFile() const { return dir_.path() + "/agent-trace.txt"; }

  TempDir dir_;
  std::string state_dir_;
  std::string run_dir_;
  std::vector<std::string> env_;
  int port_ = 0;
  int trap_port_ = 0;
  // Declared in start order: snmpsvc is killed before switchd.
  std::unique_ptr<ChildProcess> trapd_;
  std::unique_ptr<ChildProcess> master_;
  std::unique_ptr<ChildProcess> remote_agent_;  // an snmpd whose value a rule reads
  std::unique_ptr<ChildProcess> switchd_;
  std::unique_ptr<ChildProcess> snmpsvc_;
};

// --- Walks -------------------------------------------------------------------

TEST_F(SystemTest, WalkAndBulkWalkOfTheSubtreeAgree) {
  HoldStill();
  ASSERT_TRUE(StartSystem());
  const std::string walk = Query("snmpwalk", "2c", "public", {kRoot});
  EXPECT_EQ(walk.find("Error"), std::string::npos) << walk;
  EXPECT_EQ(walk.find("not increasing"), std::string::npos) << walk;
  EXPECT_GT(LinesUnder(walk, kRoot).size(), 20u) << walk;
  EXPECT_EQ(Query("snmpbulkwalk", "2c", "public", {"-Cr10", kRoot}), walk);
  EXPECT_EQ(Query("snmpbulkwalk", "2c", "public", {"-Cr1", kRoot}), walk);
}

TEST_F(SystemTest, WalkListsTheRuleNamesAndDescriptionsOfTheTableFile) {
  ASSERT_TRUE(StartSystem());
  const RuleTexts expected = RulesOfTableFile(state_dir_ + "/switchd/Rules.xml");
  ASSERT_FALSE(expected.names.empty());
  const std::string walk = Query("snmpwalk", "2c", "public", {kRoot});
  EXPECT_EQ(LinesUnder(walk, kRuleEntry + std::to_string(kNameColumn) + "."), expected.names)
      << walk;
  EXPECT_EQ(LinesUnder(walk, kRuleEntry + std::to_string(kDescriptionColumn) + "."),
            expected.descriptions)
      << walk;
}

TEST_F(SystemTest, WalkListsTheRecordNamesOfEveryTableFile) {
  ASSERT_TRUE(StartSystem());
  const std::string walk = Query("snmpwalk", "2c", "public", {kRoot});
  struct Table {
    const char* file;
    const char* root;
    const char* record;
    const char* name_column;  // the entry's column 1
  };
  for (const Table& table : {Table{"Rules.xml", "Rules", "Rule", ".1.3.1.1.1."},
                             Table{"RuleSets.xml", "RuleSets", "RuleSet", ".1.3.3.1.1."},
                             Table{"Events.xml", "Events", "Event", ".1.3.6.1.1."},
                             Table{"Reports.xml", "Reports", "Report", ".1.4.1.1.1."},
                             Table{"ReportSets.xml", "ReportSets", "ReportSet", ".1.4.3.1.1."},
                             Table{"Resources.xml", "Resources", "Resource", ".1.5.1.1.1."},
                             Table{"Targets.xml", "Targets", "Target", ".1.5.3.1.1."}}) {
    SCOPED_TRACE(table.file);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_file((state_dir_ + "/switchd/" + table.file).c_str()));
    std::map<std::string, std::string> expected;
    for (pugi::xml_node record : document.child(table.root).children(table.record)) {
      const std::string name = record.attribute("Name").value();
      expected[RuleIndex(name)] = "STRING: \"" + name + "\"";
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(LinesUnder(walk, kRoot + table.name_column), expected) << walk;
  }
}

// The demonstration reports record this machine's processor and memory load;
// after a few polls a walk of the index table shows their record numbers and a
// walk of the record table every record that switchctl lists, in order.
TEST_F(SystemTest, WalksOfTheReportTablesShowTheRecordedValues) {
  ReplaceInTable("Reports.xml", "<Interval>5</Interval>", "<Interval>1</Interval>");
  ASSERT_TRUE(StartSystem());
  const std::vector<std::string> reports = {"cpu-history", "memory-history"};
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const std::string& report : reports) {
          if (Switchctl({"records", report, "--from", "3"}).exit_code != 0) return false;
        }
        return true;
      },
      seconds(30)))
      << Switchctl({"reports"}).output;

  const std::string index_walk = Query("snmpwalk", "2c", "public", {kRoot + ".1.4.7"});
  const std::string record_walk = Query("snmpwalk", "2c", "public", {kRoot + ".1.4.8"});
  // A bulk walk, later, sees the same records and perhaps newer ones.
  const auto bulk = LinesUnder(Query("snmpbulkwalk", "2c", "public", {"-Cr7", kRoot + ".1.4.8"}),
                               kRoot + ".1.4.8.");
  for (const auto& [instance, value] : LinesUnder(record_walk, kRoot + ".1.4.8.")) {
    EXPECT_EQ(bulk.contains(instance) ? bulk.at(instance) : "(missing)", value) << instance;
  }
  for (const std::string& report : reports) {
    SCOPED_TRACE(report);
    const std::string index = RuleIndex(report);
    const auto highest = LinesUnder(index_walk, kRoot + ".1.4.7.1.1.");
    const auto oldest = LinesUnder(index_walk, kRoot + ".1.4.7.1.2.");
    ASSERT_TRUE(highest.contains(index)) << index_walk;
    EXPECT_GE(std::stoi(highest.at(index).substr(highest.at(index).find(' ') + 1)), 3);
    EXPECT_EQ(oldest.at(index), "INTEGER: 1");

    // The listing is taken after the walk: it may hold newer records, never other texts.
    const std::map<std::string, std::string> walked =
        LinesUnder(record_walk, kRoot + ".1.4.8.1.1." + index + ".");
    const CommandResult listing = Switchctl({"records", report});
    ASSERT_EQ(listing.exit_code, 0) << listing.output;
    std::map<std::string, std::string> listed;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line) && line != "OK";) {
      const size_t blank = line.find(' ');
      listed[line.substr(0, blank)] = "STRING: \"" + line.substr(blank + 1) + "\"";
    }
    ASSERT_GE(walked.size(), 3u) << record_walk;
    for (const auto& [number, value] : walked) {
      EXPECT_EQ(value, listed[number]) << number;
      EXPECT_NE(value.find(" %\""), std::string::npos) << value;
    }
    for (size_t n = 1; n <= walked.size(); ++n) EXPECT_TRUE(walked.contains(std::to_string(n)));
  }
}

// --- GET ---------------------------------------------------------------------

TEST_F(SystemTest, GetOfScalarsAnswersIdentityAndNoSetYet) {
  ASSERT_TRUE(StartSystem());
  EXPECT_EQ(Get("2c", "public", {kAgentId, kLastSetMessage}),
            "." + kAgentId + " = STRING: \"Lorveth Threshold and Report Agent\"\n." +
                kLastSetMessage + " = STRING: \"No SET executed\"\n");
}

TEST_F(SystemTest, V1GetOfMissingRuleReportsNoSuchName) {
  ASSERT_TRUE(StartSystem());
  const std::string missing = RuleColumn(kDescriptionColumn, "no-such-rule");
  const std::string out = Get("1", "public", {kAgentId, missing});
  EXPECT_NE(out.find("(noSuchName)"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed object: ." + missing), std::string::npos) << out;
}

TEST_F(SystemTest, V2cGetAnswersTheKnownVarbindsBesideMissingRuleAndObject) {
  ASSERT_TRUE(StartSystem());
  const std::string missing_rule = RuleColumn(kDescriptionColumn, "no-such-rule");
  const std::string missing_object = kRoot + ".1.9.9.0";
  const std::string out = Get("2c", "public", {missing_rule, kAgentId, missing_object});
  EXPECT_NE(out.find("." + missing_rule + " = No Such "), std::string::npos) << out;
  EXPECT_NE(out.find("." + kAgentId + " = STRING: "), std::string::npos) << out;
  EXPECT_NE(out.find("." + missing_object + " = No Such Object"), std::string::npos) << out;
}

// A rule index spans several sub-identifiers (the name's length, then its
// bytes): the missing row is still an instance of an existing column.
TEST_F(SystemTest, V2cGetOfMissingRuleAnswersNoSuchInstance) {
  ASSERT_TRUE(StartSystem());
  for (const std::string rule : {"no-such-rule", "x", "cpu-highest"}) {
    const std::string missing = RuleColumn(kDescriptionColumn, rule);
    EXPECT_EQ(Get("2c", "public", {missing}),
              "." + missing + " = No Such Instance currently exists at this OID\n");
  }
}

// --- SET ---------------------------------------------------------------------

TEST_F(SystemTest, SetCreatesChangesAndDestroysARuleEachVisibleToGet) {
  ASSERT_TRUE(StartSystem());
  const std::string rule = "e2e-rule";
  const std::string description = RuleColumn(kDescriptionColumn, rule);
  const std::string status = RuleColumn(kRowStatusColumn, rule);
  ASSERT_NE(Get("2c", "public", {description}).find(" = No Such "), std::string::npos);

  const std::string created =
      Query("snmpset", "2c", "private", {description, "s", "Made by the test", status, "i", "4"});
  EXPECT_EQ(created.find("Error"), std::string::npos) << created;
  EXPECT_TRUE(GetEventually(description, "STRING: \"Made by the test\""))
      << Get("2c", "public", {description});
  EXPECT_TRUE(GetEventually(RuleColumn(kNameColumn, rule), "STRING: \"" + rule + "\""));

  const std::string changed = Query("snmpset", "2c", "private",
                                    {description, "s", "Changed by the test", status, "i", "1"});
  EXPECT_EQ(changed.find("Error"), std::string::npos) << changed;
  EXPECT_TRUE(GetEventually(description, "STRING: \"Changed by the test\""))
      << Get("2c", "public", {description});

  const std::string destroyed = Query("snmpset", "2c", "private", {status, "i", "6"});
  EXPECT_EQ(destroyed.find("Error"), std::string::npos) << destroyed;
  EXPECT_TRUE(GetEventually(description, " = No Such ")) << Get("2c", "public", {description});
  // The change went through switchd to its table file.
  EXPECT_EQ(ReadFile(state_dir_ + "/switchd/Rules.xml").find(rule), std::string::npos);
}

TEST_F(SystemTest, SetCreatingARuleReachesTheTableFile) {
  ASSERT_TRUE(StartSystem());
  const std::string rule = "stored-rule";
  const std::string out = Query("snmpset", "2c", "private",
                                {RuleColumn(kDescriptionColumn, rule), "s", "Kept on disk",
                                 RuleColumn(kRowStatusColumn, rule), "i", "4"});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  const std::string table = state_dir_ + "/switchd/Rules.xml";
  ASSERT_TRUE(
      WaitFor([&] { return ReadFile(table).find("Kept on disk") != std::string::npos; }, kPatience))
      << ReadFile(table);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(table.c_str()));
  const pugi::xml_node stored =
      document.child("Rules").find_child_by_attribute("Rule", "Name", rule.c_str());
  ASSERT_TRUE(stored);
  EXPECT_STREQ(stored.child("Description").text().get(), "Kept on disk");
}

TEST_F(SystemTest, SetOfZeroPollIntervalIsInconsistentValueAndChangesNothing) {
  ASSERT_TRUE(StartSystem());
  const std::string interval = RuleColumn(kPollIntervalColumn, "cpu-high");
  const std::string before = Get("2c", "public", {interval});
  ASSERT_NE(before.find("INTEGER: "), std::string::npos) << before;
  const std::string out =
      Query("snmpset", "2c", "private",
            {interval, "i", "0", RuleColumn(kRowStatusColumn, "cpu-high"), "i", "1"});
  EXPECT_NE(out.find("Reason: inconsistentValue"), std::string::npos) << out;
  EXPECT_NE(out.find("Failed object: ." + interval), std::string::npos) << out;
  EXPECT_EQ(Get("2c", "public", {interval}), before);
}

TEST_F(SystemTest, SetOfStorageTypeIsRefusedAsNotWritable) {
  ASSERT_TRUE(StartSystem());
  const std::string storage = RuleColumn(kStorageTypeColumn, "cpu-high");
  const std::string before = Get("2c", "public", {storage});
  const std::string out =
      Query("snmpset", "2c", "private",
            {storage, "i", "3", RuleColumn(kRowStatusColumn, "cpu-high"), "i", "1"});
  EXPECT_NE(out.find("Reason: notWritable"), std::string::npos) << out;
  EXPECT_EQ(Get("2c", "public", {storage}), before);
}

TEST_F(SystemTest, SetWithoutRowStatusIsRefusedAndChangesNothing) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string before = Get("2c", "public", {description});
  const std::string out = Query("snmpset", "2c", "private", {description, "s", "no status"});
  EXPECT_NE(out.find("Error in packet"), std::string::npos) << out;
  EXPECT_EQ(Get("2c", "public", {description}), before);
}

TEST_F(SystemTest, V1SetOfStorageTypeGetsAV1ErrorCode) {
  ASSERT_TRUE(StartSystem());
  const std::string out = Query("snmpset", "1", "private",
                                {RuleColumn(kStorageTypeColumn, "cpu-high"), "i", "3",
                                 RuleColumn(kRowStatusColumn, "cpu-high"), "i", "1"});
  const bool v1_code = out.find("(noSuchName)") != std::string::npos ||
                       out.find("(readOnly)") != std::string::npos ||
                       out.find("(badValue)") != std::string::npos;
  EXPECT_TRUE(v1_code) << out;
  EXPECT_EQ(out.find("notWritable"), std::string::npos) << out;
}

TEST_F(SystemTest, CreateAndGoOfAnExistingRuleIsRefusedAndChangesNothing) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string before = Get("2c", "public", {description});
  const std::string out =
      Query("snmpset", "2c", "private",
            {description, "s", "twice", RuleColumn(kRowStatusColumn, "cpu-high"), "i", "4"});
  EXPECT_NE(out.find("Error in packet"), std::string::npos) << out;
  EXPECT_EQ(Get("2c", "public", {description}), before);
  EXPECT_EQ(ReadFile(state_dir_ + "/switchd/Rules.xml").find("twice"), std::string::npos);
}

TEST_F(SystemTest, ActiveOnAMissingRuleIsRefusedAndCreatesNothing) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "ghost-rule");
  const std::string out =
      Query("snmpset", "2c", "private",
            {description, "s", "ghost", RuleColumn(kRowStatusColumn, "ghost-rule"), "i", "1"});
  EXPECT_NE(out.find("Error in packet"), std::string::npos) << out;
  EXPECT_NE(Get("2c", "public", {description}).find(" = No Such "), std::string::npos);
  EXPECT_EQ(ReadFile(state_dir_ + "/switchd/Rules.xml").find("ghost-rule"), std::string::npos);
}

TEST_F(SystemTest, LastSetResultMessageStaysOnSuccessAndNamesAWrongEnumerationValue) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "disk-root");
  const std::string status = RuleColumn(kRowStatusColumn, "disk-root");
  const std::string ok =
      Query("snmpset", "2c", "private", {description, "s", "Root almost full", status, "i", "1"});
  EXPECT_EQ(ok.find("Error"), std::string::npos) << ok;
  EXPECT_EQ(Get("2c", "public", {kLastSetMessage}),
            "." + kLastSetMessage + " = STRING: \"No SET executed\"\n");

  // An operator outside the list is accepted but writes nothing; the other
  // column of the request is still stored.
  const std::string operator_column = RuleColumn(kOperatorColumn, "disk-root");
  const std::string before = Get("2c", "public", {operator_column});
  const std::string wrong =
      Query("snmpset", "2c", "private",
            {description, "s", "Root full", operator_column, "i", "12", status, "i", "1"});
  EXPECT_EQ(wrong.find("Error"), std::string::npos) << wrong;
  EXPECT_EQ(Get("2c", "public", {kLastSetMessage}),
            "." + kLastSetMessage + " = STRING: \"Wrong enum value in SetOperator!\"\n");
  EXPECT_TRUE(GetEventually(description, "STRING: \"Root full\""))
      << Get("2c", "public", {description});
  EXPECT_EQ(Get("2c", "public", {operator_column}), before);
}

// switchd takes a record that names only its row as the row's removal: a
// SET with RowStatus active that changes nothing must keep the rule.
TEST_F(SystemTest, ActiveSetThatChangesNothingKeepsTheRule) {
  ASSERT_TRUE(StartSystem());
  const std::string operator_column = RuleColumn(kOperatorColumn, "disk-root");
  const std::string status = RuleColumn(kRowStatusColumn, "disk-root");
  const std::string before = Get("2c", "public", {operator_column});
  ASSERT_NE(before.find("INTEGER: "), std::string::npos) << before;
  const std::vector<std::vector<std::string>> requests = {
      {operator_column, "i", "12", status, "i", "1"},
      {RuleColumn(kNameColumn, "disk-root"), "s", "disk-root", status, "i", "1"},
      {status, "i", "1"},
  };
  for (const std::vector<std::string>& request : requests) {
    const std::string out = Query("snmpset", "2c", "private", request);
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_NE(ReadFile(state_dir_ + "/switchd/Rules.xml").find("Operator=\"within-range\""),
              std::string::npos)
        << request.front();
  }
  // Once a later change has reached the agent, the rule is served as before.
  const std::string description = RuleColumn(kDescriptionColumn, "disk-root");
  Query("snmpset", "2c", "private", {description, "s", "marker", status, "i", "1"});
  EXPECT_TRUE(GetEventually(description, "STRING: \"marker\""));
  EXPECT_EQ(Get("2c", "public", {operator_column}), before);
}

TEST_F(SystemTest, DestroyWithAnotherColumnRemovesTheRule) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "load-rising");
  const std::string out =
      Query("snmpset", "2c", "private",
            {description, "s", "going", RuleColumn(kRowStatusColumn, "load-rising"), "i", "6"});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(state_dir_ + "/switchd/Rules.xml").find("\"load-rising\""), std::string::npos);
  EXPECT_TRUE(GetEventually(description, " = No Such Instance"))
      << Get("2c", "public", {description});
}

// A set that states nothing but its members: removing the last member must
// not send a record that names only the set, which removes the set.
TEST_F(SystemTest, RemovingTheLastMemberOfASetKeepsTheEmptySet) {
  WriteFile(state_dir_ + "/switchd/RuleSets.xml",
            "<RuleSets><RuleSet Name=\"bare\"><Rule Name=\"cpu-high\"/></RuleSet></RuleSets>");
  ASSERT_TRUE(StartSystem());
  const std::string contents = kRoot + ".1.3.4.1.";
  const std::string member = "." + RuleIndex("bare") + ".1";
  const std::string out =
      Query("snmpset", "2c", "private",
            {contents + "2" + member, "s", "cpu-high", contents + "3" + member, "i", "6"});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  pugi::xml_document sets;
  ASSERT_TRUE(sets.load_file((state_dir_ + "/switchd/RuleSets.xml").c_str()));
  const pugi::xml_node bare =
      sets.child("RuleSets").find_child_by_attribute("RuleSet", "Name", "bare");
  ASSERT_TRUE(bare) << ReadFile(state_dir_ + "/switchd/RuleSets.xml");
  EXPECT_FALSE(bare.child("Rule"));
  EXPECT_TRUE(GetEventually(contents + "2" + member, " = No Such "));
  EXPECT_NE(Get("2c", "public", {kRoot + ".1.3.3.1.1." + RuleIndex("bare")}).find("\"bare\""),
            std::string::npos);

  // A member of a set that switchd does not hold: nothing to remove, no error.
  const std::string ghost = "." + RuleIndex("ghost") + ".1";
  const std::string none =
      Query("snmpset", "2c", "private",
            {contents + "2" + ghost, "s", "cpu-high", contents + "3" + ghost, "i", "6"});
  EXPECT_EQ(none.find("Error"), std::string::npos) << none;
  EXPECT_TRUE(sets.load_file((state_dir_ + "/switchd/RuleSets.xml").c_str()));
  EXPECT_TRUE(sets.child("RuleSets").find_child_by_attribute("RuleSet", "Name", "bare"));
}

// The agent reads a table's records up to the first element of another kind:
// switchd puts a new record behind the last record of its kind, and warns of
// a table file whose records are split by a foreign element.
TEST_F(SystemTest, ForeignElementsInTableFilesHideNoNewRecordAndAreReported) {
  const std::string rules_file = state_dir_ + "/switchd/Rules.xml";
  std::string rules = ReadFile(rules_file);
  rules.insert(rules.rfind("</Rules>"), "<Note>kept by hand</Note>\n");
  WriteFile(rules_file, rules);
  const std::string events_file = state_dir_ + "/switchd/Events.xml";
  std::string events = ReadFile(events_file);
  events.insert(events.find("<Event ", events.find("<Event ") + 1), "<Remark/>\n");
  WriteFile(events_file, events);
  ASSERT_TRUE(StartSystem());
  const std::string log = ReadFile(dir_.path() + "/switchd.log");
  EXPECT_NE(log.find(events_file + ": the element <Remark>"), std::string::npos) << log;
  EXPECT_EQ(log.find(rules_file), std::string::npos) << "a foreign element at the end is harmless";

  const std::string description = RuleColumn(kDescriptionColumn, "after-note");
  const std::string out =
      Query("snmpset", "2c", "private",
            {description, "s", "seen", RuleColumn(kRowStatusColumn, "after-note"), "i", "4"});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  EXPECT_TRUE(GetEventually(description, "STRING: \"seen\""))
      << Get("2c", "public", {description}) << ReadFile(rules_file);
  EXPECT_NE(ReadFile(rules_file).find("<Note>kept by hand</Note>"), std::string::npos);

  // The same warning when an edited file is reloaded.
  const std::string targets_file = state_dir_ + "/switchd/Targets.xml";
  std::string targets = ReadFile(targets_file);
  targets.insert(targets.find("<Target "), "<Target Name=\"first\">10.0.0.1</Target><Aside/>");
  WriteFile(targets_file, targets);
  const CommandResult reload = Tool({kSwitchctl, "reload"});
  EXPECT_EQ(reload.exit_code, 0) << reload.output;
  EXPECT_NE(reload.output.find("warning " + targets_file + ": the element <Aside>"),
            std::string::npos)
      << reload.output;
}

// The SET that the run command prints for a new user works as printed.
TEST_F(SystemTest, SetPrintedByTheRunCommandWorks) {
  ASSERT_TRUE(StartSystem());
  const std::string script = ReadFile(LORVETH_SOURCE_DIR "/scripts/run-demo.sh");
  auto line_with = [&](const std::string& start) {
    const std::size_t at = script.find(start);
    if (at == std::string::npos) return std::string();
    return script.substr(at, script.find('\n', at + 1) - at);
  };
  const std::string assignment = line_with("\ncpu_high=");
  std::string set = line_with("  snmpset ");
  ASSERT_FALSE(set.empty()) << script;
  const std::string printed_target = "127.0.0.1:1161";
  ASSERT_NE(set.find(printed_target), std::string::npos) << set;
  set.replace(set.find(printed_target), printed_target.size(), Target());
  const CommandResult out =
      Tool({"/bin/bash", "-c", "root_oid=" + kRoot + assignment + "\n" + set});
  EXPECT_EQ(out.exit_code, 0) << set << "\n" << out.output;
  EXPECT_EQ(out.output.find("Error"), std::string::npos) << out.output;
  EXPECT_TRUE(GetEventually(RuleColumn(kDescriptionColumn, "cpu-high"), "CPU above 90%"));
}

// --- Changes from the switch side ---------------------------------------------

TEST_F(SystemTest, SwitchctlListsTheAgentUnderItsModuleName) {
  ASSERT_TRUE(StartSystem());
  const CommandResult status = Tool({kSwitchctl, "status"});
  ASSERT_EQ(status.exit_code, 0) << status.output;
  EXPECT_NE(status.output.find(" name \"Lorveth_Agent\" "), std::string::npos) << status.output;
  EXPECT_EQ(ReadFile(TraceFile()).find("Could not get a valid module name"), std::string::npos);
}

TEST_F(SystemTest, EditedTableFileReloadedBySwitchctlIsServed) {
  ASSERT_TRUE(StartSystem());
  const std::string table = state_dir_ + "/switchd/Rules.xml";
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(table.c_str()));
  document.child("Rules")
      .find_child_by_attribute("Rule", "Name", "load-rising")
      .child("Description")
      .text()
      .set("Edited on disk");
  ASSERT_TRUE(document.save_file(table.c_str()));
  const CommandResult reload = Tool({kSwitchctl, "reload"});
  ASSERT_EQ(reload.exit_code, 0) << reload.output;
  const std::string description = RuleColumn(kDescriptionColumn, "load-rising");
  EXPECT_TRUE(GetEventually(description, "STRING: \"Edited on disk\""))
      << Get("2c", "public", {description});
}

// --- Access ------------------------------------------------------------------

TEST_F(SystemTest, V3AuthPrivUserSetsWhileReadOnlyCommunityIsRefused) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "memory-high");
  const std::string status = RuleColumn(kRowStatusColumn, "memory-high");
  const std::string refused =
      Query("snmpset", "2c", "public", {description, "s", "by the reader", status, "i", "1"});
  EXPECT_NE(refused.find("Reason: noAccess"), std::string::npos) << refused;

  const std::string accepted =
      V3("snmpset", {description, "s", "by the v3 user", status, "i", "1"});
  EXPECT_EQ(accepted.find("Error"), std::string::npos) << accepted;
  EXPECT_TRUE(GetEventually(description, "STRING: \"by the v3 user\""))
      << Get("2c", "public", {description});
  EXPECT_NE(V3("snmpget", {description}).find("by the v3 user"), std::string::npos);
  std::vector<std::string> wrong_key = {
      "snmpget", "-m",       "",   "-v3",           "-l",       "authPriv",
      "-u",      "operator", "-a", "SHA",           "-A",       "not-the-auth-pass",
      "-x",      "AES",      "-X", "e2e-priv-pass", "-On",      "-t",
      "1",       "-r",       "0",  Target(),        description};
  const std::string refused_key = Tool(wrong_key).output;
  EXPECT_NE(refused_key.find("Authentication failure"), std::string::npos) << refused_key;
}

// --- Traps -------------------------------------------------------------------

TEST_F(SystemTest, ThresholdEventArrivesAsV1TrapAndV2cNotification) {
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  const std::string trap_log = TrapLog();

  const CommandResult event = Tool({kSwitchctl, "event", "cpu-high", "97", "critical-trap"});
  ASSERT_EQ(event.exit_code, 0) << event.output;

  const std::string v2_trap_oid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + kRoot + ".2.0.2200";
  auto both_arrived = [&] {
    const std::string log = ReadFile(trap_log);
    return log.find("Enterprise Specific Trap (2200)") != std::string::npos &&
           log.find(v2_trap_oid) != std::string::npos;
  };
  ASSERT_TRUE(WaitFor(both_arrived, kPatience)) << ReadFile(trap_log) << ReadFile(ServiceLog());
  const std::string log = ReadFile(trap_log);

  pugi::xml_document rules;
  ASSERT_TRUE(rules.load_file((state_dir_ + "/switchd/Rules.xml").c_str()));
  const std::string comment = rules.child("Rules")
                                  .find_child_by_attribute("Rule", "Name", "cpu-high")
                                  .child("Comment")
                                  .text()
                                  .get();
  ASSERT_FALSE(comment.empty());

  // SNMPv1: the enterprise is the notifications' parent; SNMPv2c: it follows
  // the bindings as snmpTrapEnterprise.0.
  EXPECT_NE(log.find("." + kRoot + ".2 Enterprise Specific Trap (2200)"), std::string::npos) << log;
  EXPECT_NE(log.find(".1.3.6.1.6.3.1.1.4.3.0 = OID: ." + kRoot + ".2\n"), std::string::npos) << log;
  const std::size_t v1 = log.find("Enterprise Specific Trap (2200)");
  const std::size_t v2 = log.find(v2_trap_oid);
  for (const std::size_t start : {v1, v2}) {
    // A v1 trap prints its bindings on the line after its header; a v2c
    // notification prints everything on one line.
    std::size_t end = log.find('\n', start);
    if (start == v1 && end != std::string::npos) end = log.find('\n', end + 1);
    const std::string trap = log.substr(start, end == std::string::npos ? end : end - start);
    EXPECT_NE(trap.find("." + kTrapObjects + "1.0 = STRING: "), std::string::npos) << trap;
    EXPECT_NE(trap.find("." + kTrapObjects + "2.0 = "), std::string::npos) << trap;
    EXPECT_NE(trap.find("." + kTrapObjects + "3.0 = STRING: \"cpu-high\""), std::string::npos)
        << trap;
    EXPECT_NE(trap.find("." + kTrapObjects + "4.0 = STRING: \"97\""), std::string::npos) << trap;
    EXPECT_NE(trap.find("." + kTrapObjects + "5.0 = STRING: \"" + comment + "\""),
              std::string::npos)
        << trap;
  }
}

TEST_F(SystemTest, EventSeverityChoosesTheNotificationNumber) {
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  struct Case {
    const char* rule;
    const char* event;
    const char* number;
  };
  for (const Case& c :
       {Case{"memory-high", "major-trap", "2201"}, Case{"disk-root", "minor-trap", "2202"},
        Case{"load-rising", "info-trap", "2203"}}) {
    const CommandResult event = Tool({kSwitchctl, "event", c.rule, "42", c.event});
    ASSERT_EQ(event.exit_code, 0) << event.output;
    const std::string expected = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + kRoot + ".2.0." + c.number +
                                 "\t." + kTrapObjects + "1.0";
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(TrapLog()).find(expected) != std::string::npos; }, kPatience))
        << c.event << "\n"
        << ReadFile(TrapLog());
    const std::string log = ReadFile(TrapLog());
    const std::size_t at = log.find(expected);
    if (at == std::string::npos) continue;
    const std::string line = log.substr(at, log.find('\n', at) - at);
    EXPECT_NE(line.find("." + kTrapObjects + "3.0 = STRING: \"" + c.rule + "\""), std::string::npos)
        << line;
  }
}

TEST_F(SystemTest, ThresholdEventAfterSwitchdRestartsStillArrives) {
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  switchd_->Signal(SIGTERM);
  ASSERT_TRUE(switchd_->WaitExit(kPatience).has_value());
  ASSERT_TRUE(StartSwitchd());
  // The agent advises again once its remoting has reconnected; until then an
  // event has no listener, so it is repeated until one arrives.
  const std::string trap_oid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + kRoot + ".2.0.2200";
  const bool arrived = WaitFor(
      [&] {
        Tool({kSwitchctl, "event", "cpu-high", "99", "critical-trap"});
        return WaitFor([&] { return ReadFile(TrapLog()).find(trap_oid) != std::string::npos; },
                       std::chrono::milliseconds(500));
      },
      kPatience);
  EXPECT_TRUE(arrived) << ReadFile(TrapLog()) << ReadFile(ServiceLog());
  EXPECT_NE(ReadFile(TrapLog()).find("." + kTrapObjects + "4.0 = STRING: \"99\""),
            std::string::npos);
}

// --- Lifecycle ---------------------------------------------------------------

TEST_F(SystemTest, SigtermStopsTheServiceWithTheAgentsCloseSequence) {
  ASSERT_TRUE(StartSystem());
  snmpsvc_->Signal(SIGTERM);
  const auto status = snmpsvc_->WaitExit(kPatience);
  ASSERT_TRUE(status.has_value()) << "snmpsvc did not stop";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  const std::string trace = ReadFile(TraceFile());
  const std::size_t shutting = trace.find("SnmpClose(): Shutting down agent");
  EXPECT_NE(shutting, std::string::npos) << trace;
  EXPECT_NE(trace.find("SNMP agent DLL unloaded", shutting), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Exception"), std::string::npos) << trace;
}

TEST_F(SystemTest, AgentServesAndChangesTablesAgainAfterSwitchdRestarts) {
  ASSERT_TRUE(StartSystem());
  switchd_->Signal(SIGKILL);
  ASSERT_TRUE(switchd_->WaitExit(kPatience).has_value());

  // Without switchd the agent still answers, within the tools' timeout.
  const CommandResult during = Tool({"snmpget", "-m", "", "-v2c", "-c", "public", "-On", "-t", "2",
                                     "-r", "0", Target(), kAgentId});
  EXPECT_EQ(during.exit_code, 0) << during.output;

  ASSERT_TRUE(StartSwitchd());
  const std::string description = RuleColumn(kDescriptionColumn, "after-restart");
  const std::string status = RuleColumn(kRowStatusColumn, "after-restart");
  std::string last;
  const bool stored = WaitFor(
      [&] {
        last = Query("snmpset", "2c", "private",
                     {description, "s", "After the restart", status, "i", "4"});
        return last.find("Error") == std::string::npos;
      },
      kPatience);
  EXPECT_TRUE(stored) << last << ReadFile(TraceFile());
  EXPECT_TRUE(GetEventually(description, "STRING: \"After the restart\""))
      << Get("2c", "public", {description});
  EXPECT_NE(Get("2c", "public", {RuleColumn(kNameColumn, "cpu-high")}).find("\"cpu-high\""),
            std::string::npos);
  EXPECT_TRUE(snmpsvc_->Running());
}

TEST_F(SystemTest, SigtermStopsTheServiceCleanlyAfterSwitchdIsGone) {
  ASSERT_TRUE(StartSystem());
  switchd_->Signal(SIGKILL);
  ASSERT_TRUE(switchd_->WaitExit(kPatience).has_value());
  snmpsvc_->Signal(SIGTERM);
  const auto status = snmpsvc_->WaitExit(kPatience);
  ASSERT_TRUE(status.has_value()) << "snmpsvc hangs without switchd";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  const std::string trace = ReadFile(TraceFile());
  EXPECT_NE(trace.find("SNMP agent DLL unloaded"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Exception"), std::string::npos) << trace;
}

TEST_F(SystemTest, WalksRunningWhileRulesChangeStayOrderedAndComplete) {
  ASSERT_TRUE(StartSystem());
  const std::string description = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string status = RuleColumn(kRowStatusColumn, "cpu-high");
  // Tools are named by path: a child forked beside other threads then only
  // calls execve, without a PATH search.
  std::vector<std::string> walks(3);
  {
    std::vector<std::thread> walkers;
    for (std::string& walk : walks) {
      walkers.emplace_back([&] {
        walk = Query("/usr/bin/snmpbulkwalk", "2c", "public", {"-Cr5", kRoot});
      });
    }
    for (int i = 0; i < 5; ++i) {
      const std::string out =
          Query("/usr/bin/snmpset", "2c", "private",
                {description, "s", "Changed " + std::to_string(i), status, "i", "1"});
      EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    }
    for (std::thread& walker : walkers) walker.join();
  }
  const RuleTexts expected = RulesOfTableFile(LORVETH_SOURCE_DIR "/demo/switchd/Rules.xml");
  for (const std::string& walk : walks) {
    EXPECT_EQ(walk.find("not increasing"), std::string::npos) << walk;
    EXPECT_EQ(walk.find("Timeout"), std::string::npos) << walk;
    EXPECT_EQ(LinesUnder(walk, kRuleEntry + std::to_string(kNameColumn) + "."), expected.names)
        << walk;
  }
  EXPECT_TRUE(GetEventually(description, "STRING: \"Changed 4\""));
  EXPECT_TRUE(snmpsvc_->Running());
}

// --- AgentX ------------------------------------------------------------------

TEST_F(SystemTest, WalkAndSetThroughTheSystemSnmpdMasterReachTheAgent) {
  HoldStill();
  ASSERT_TRUE(StartSystemAsSubagent());
  const RuleTexts expected = RulesOfTableFile(state_dir_ + "/switchd/Rules.xml");
  const std::string walk = Query("snmpwalk", "2c", "public", {kRoot});
  EXPECT_EQ(LinesUnder(walk, kRuleEntry + std::to_string(kNameColumn) + "."), expected.names)
      << walk;
  EXPECT_EQ(LinesUnder(walk, kRuleEntry + std::to_string(kDescriptionColumn) + "."),
            expected.descriptions)
      << walk;
  EXPECT_EQ(Query("snmpbulkwalk", "2c", "public", {"-Cr10", kRoot}), walk);

  const std::string description = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string out = Query(
      "snmpset", "2c", "private",
      {description, "s", "Through the master", RuleColumn(kRowStatusColumn, "cpu-high"), "i", "1"});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  EXPECT_TRUE(GetEventually(description, "STRING: \"Through the master\""))
      << Get("2c", "public", {description});
}

// As an AgentX subagent snmpsvc once left two Net-SNMP callbacks registered
// whose argument lived on its stack; the library's shutdown freed it and the
// stop ended in an abort.
TEST_F(SystemTest, SubagentStopsCleanlyOnSigterm) {
  ASSERT_TRUE(StartSystemAsSubagent());
  snmpsvc_->Signal(SIGTERM);
  const auto status = snmpsvc_->WaitExit(kPatience);
  ASSERT_TRUE(status.has_value()) << "snmpsvc did not stop";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << ReadFile(ServiceLog());
  EXPECT_NE(ReadFile(TraceFile()).find("SNMP agent DLL unloaded"), std::string::npos);
}

// --- Rules -------------------------------------------------------------------

// The tables of a test of its own: a rule set holding the given rules, with the
// resources, events and the local target they use.
void WriteRuleTables(const std::string& dir, const std::string& resources, const std::string& rules,
                     const std::string& members) {
  WriteFile(dir + "/Resources.xml", "<Resources>" + resources + "</Resources>");
  WriteFile(dir + "/Targets.xml", "<Targets><Target Name=\"local\">127.0.0.1</Target></Targets>");
  WriteFile(dir + "/Events.xml",
            "<Events><Event Name=\"minor\"><Type>snmp-trap</Type><Severity>minor</Severity>"
            "</Event></Events>");
  WriteFile(dir + "/Rules.xml", "<Rules>" + rules + "</Rules>");
  WriteFile(dir + "/RuleSets.xml",
            "<RuleSets><RuleSet Name=\"watch\">" + members + "</RuleSet></RuleSets>");
}

TEST_F(SystemTest, RuleOnAFileThatExistsSendsItsTrap) {
  const std::string marker = dir_.path() + "/marker";
  WriteFile(marker, "present\n");
  WriteRuleTables(state_dir_ + "/switchd",
                  "<Resource Name=\"marker\"><Request Type=\"builtin\">file.exists:" + marker +
                      "</Request></Resource>",
                  "<Rule Name=\"marker-present\"><Comment>made by the test</Comment>"
                  "<Interval>1</Interval><Resource Name=\"marker\"/>"
                  "<Threshold Type=\"absolute\" Operator=\"equal\" Value=\"1\"/>"
                  "<Event Name=\"minor\" Control=\"continuous\"/></Rule>",
                  "<Rule Name=\"marker-present\"/>");
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());

  // The rule fires at every poll while it holds, so a trap follows once the
  // agent listens.
  const std::string v1_header = "." + kRoot + ".2 Enterprise Specific Trap (2202)";
  const bool arrived = WaitFor(
      [&] { return ReadFile(TrapLog()).find(v1_header) != std::string::npos; }, seconds(20));
  const std::string log = ReadFile(TrapLog());
  ASSERT_TRUE(arrived) << log << ReadFile(dir_.path() + "/switchd.log");
  const std::string trap = log.substr(log.find(v1_header));
  EXPECT_NE(trap.find("." + kTrapObjects + "3.0 = STRING: \"marker-present\""), std::string::npos)
      << trap;
  EXPECT_NE(trap.find("." + kTrapObjects + "4.0 = STRING: \"1\""), std::string::npos) << trap;
  EXPECT_NE(trap.find("." + kTrapObjects + "5.0 = STRING: \"made by the test\""), std::string::npos)
      << trap;

  const CommandResult rules = Tool({kSwitchctl, "rules"});
  EXPECT_EQ(rules.exit_code, 0) << rules.output;
  EXPECT_NE(rules.output.find("violated since"), std::string::npos) << rules.output;
  EXPECT_NE(Get("2c", "public", {kRoot + ".1.2.2.0"}).find("INTEGER: 3"), std::string::npos);
}

TEST_F(SystemTest, RuleOnAnSnmpValueFiresAndClearsWithAlternating) {
  // The system's snmpd with one integer the test sets.
  const std::string oid = ".1.3.6.1.4.1.32473.9.1.0";
  const std::string agent = "127.0.0.1:" + std::to_string(test_support::FreeUdpPort());
  const std::string conf = dir_.path() + "/remote-snmpd.conf";
  WriteFile(conf, "agentaddress udp:" + agent +
                      "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
                      "override -rw " +
                      oid + " integer 5\n");
  remote_agent_ =
      ChildProcess::Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf, "-I", "-smux"}, env_,
                          dir_.path() + "/remote-snmpd.log");
  ASSERT_NE(remote_agent_, nullptr);
  const auto set_value = [&](int value) {
    return Tool({"snmpset", "-m", "", "-v2c", "-c", "private", "-t", "2", "-r", "1", agent, oid,
                 "i", std::to_string(value)})
        .output;
  };
  ASSERT_TRUE(
      WaitFor([&] { return set_value(5).find("INTEGER: 5") != std::string::npos; }, seconds(10)))
      << ReadFile(dir_.path() + "/remote-snmpd.log");

  const std::string tables = state_dir_ + "/switchd";
  WriteRuleTables(
      tables, "<Resource Name=\"remote\"><Request Type=\"snmp\">" + oid + "</Request></Resource>",
      "<Rule Name=\"remote-high\"><Interval>1</Interval><Resource Name=\"remote\"/>"
      "<Target Name=\"agent\"/><Threshold Operator=\"greater\" Value=\"50\"/>"
      "<Event Name=\"minor\" Control=\"single-shot\" Alternating=\"true\"/></Rule>",
      "<Rule Name=\"remote-high\"/>");
  WriteFile(tables + "/Targets.xml",
            "<Targets><Target Name=\"agent\">" + agent + "</Target></Targets>");
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  const auto rules = [&] { return Tool({kSwitchctl, "rules", "--json"}).output; };
  ASSERT_TRUE(WaitFor(
      [&] {
        return rules().find(
                   "\"state\":\"waiting\",\"holding\":0,\"needed\":1,"
                   "\"violated_since\":null,\"value\":\"5\"") != std::string::npos;
      },
      seconds(20)))
      << rules();

  // The value the rule compares was set by the test: above 50 the alarm, back
  // below it the informational return to normal, each with its value.
  const auto trap_with = [&](const std::string& number, const std::string& value) {
    return WaitFor(
        [&] {
          const std::string log = ReadFile(TrapLog());
          const size_t header = log.find("Enterprise Specific Trap (" + number + ")");
          return header != std::string::npos &&
                 log.find("." + kTrapObjects + "4.0 = STRING: \"" + value + "\"", header) !=
                     std::string::npos;
        },
        seconds(20));
  };
  set_value(90);
  EXPECT_TRUE(trap_with("2202", "90")) << ReadFile(TrapLog()) << rules();
  set_value(10);
  EXPECT_TRUE(trap_with("2203", "10")) << ReadFile(TrapLog()) << rules();
  const std::string log = ReadFile(TrapLog());
  EXPECT_NE(log.find("." + kTrapObjects + "3.0 = STRING: \"remote-high\""), std::string::npos)
      << log;
}

}  // namespace
