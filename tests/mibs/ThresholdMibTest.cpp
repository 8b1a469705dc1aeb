// LORVETH-THRESHOLD-MIB read back through Net-SNMP's MIB parser (and smilint where installed):
// every object the agent serves has its OID, wire type, access and enumeration.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

using test_support::CommandResult;

constexpr const char* kModule = "LORVETH-THRESHOLD-MIB";
const std::string kMibDir = LORVETH_MIB_DIR;
// Stand-ins for SNMPv2-SMI, -TC and -CONF: the host may carry no base modules.
const std::string kBaseMibDir = std::string(LORVETH_TEST_DATA_DIR) + "/mibs";

std::string Absolute(const std::string& relative) { return std::string(kMibRoot) + "." + relative; }
std::string Qualified(const std::string& name) { return std::string(kModule) + "::" + name; }

// A world of its own, stderr apart so that a parser's warnings cannot hide inside the answer.
CommandResult RunTool(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extra_env = {}) {
  const test_support::TempDir dir("lorveth-mib");
  std::vector<std::string> env = test_support::NetSnmpEnvironment(dir.path());
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  return test_support::RunCommand(argv, env, test_support::kPatience,
                                  test_support::Streams::kApart);
}

CommandResult Translate(const std::vector<std::string>& options) {
  std::vector<std::string> argv = {"snmptranslate", "-Pw", "-M", kBaseMibDir + ":" + kMibDir, "-m",
                                   kModule};
  argv.insert(argv.end(), options.begin(), options.end());
  return RunTool(argv);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Net-SNMP says for every module of this shape, base modules included, that it skips MACRO
// bodies and has no translation for a row's SEQUENCE type. Every other stderr line is a finding.
std::string Findings(const std::string& err) {
  static const std::regex ignored(R"([A-Z][A-Z-]* MACRO \(lines \d+\.\.\d+ parsed and ignored\)\.)"
                                  R"(|Warning: No known translation for type \(\w+Entry\): .*)");
  std::string findings;
  for (const std::string& line : Lines(err)) {
    if (!std::regex_match(line, ignored)) findings += line + "\n";
  }
  return findings;
}

// Calls check(name, oid below the root, wire, access) for every object the agent serves. Each
// group lists "name wire access" without the group's prefix, numbered from 1 unless a number
// leads. Wire: I integer, S octet string; access: C read-create, R read-only, N in a trap.
template <typename Check>
void ForEachServed(const Check& check) {
  static const struct {
    const char* oid;
    const char* prefix;  // of every name in the group
    std::vector<const char*> members;
  } kGroups[] = {
      {"1.1", "threshAgent", {"Id S R", "Company S R", "Version S R", "Build S R"}},
      {"1.2",
       "thresh",
       {"ConfigurationChanged I R", "ThresholdStatus I R", "ReportStatus I R",
        "LastSetResultMessage S R", "PerformanceStatus I R"}},
      {"1.3",
       "thresh",
       {"2 RuleTableChanged I R", "5 RulesetsChanged I R", "7 EventTableChanged I R"}},
      {"1.4",
       "report",
       {"2 TableChanged I R", "4 SetTableChanged I R", "6 SetContentsTableChanged I R"}},
      {"1.5", "thresh", {"2 ResourceTableChanged I R", "4 TargetTableChanged I R"}},
      {"1.3.1.1",
       "threshRule",
       {"Name S C",          "Description S C",      "UserComment S C",       "HelpText S C",
        "PollInterval I C",  "ResourceName S C",     "InstMonitor I C",       "InstIndexes S C",
        "InstPatterns S C",  "TargetName S C",       "ValueType I C",         "Valuation I C",
        "WatchPeriod I C",   "Operator I C",         "ThresholdValue I C",    "RangeMinValue I C",
        "RangeMaxValue I C", "OccurenceCount I C",   "EventName S C",         "EventControl I C",
        "EventDelay I C",    "EventAlternating I C", "RowStatus I C",         "StorageType I R",
        "CurrentValue S R",  "FireEvent I R",        "PerfStatusSeverity I C"}},
      {"1.3.3.1",
       "threshRuleset",
       {"Name S C", "Description S C", "StartTime I C", "StopTime I C", "Running I R",
        "RowStatus I C", "StorageType I R"}},
      {"1.3.4.1",
       "threshRulesetContents",
       {"RuleIndex I C", "RuleName S C", "RowStatus I C", "StorageType I R"}},
      {"1.3.6.1",
       "threshEvent",
       {"Name S C", "Type I C", "Severity I C", "RowStatus I C", "StorageType I R"}},
      {"1.4.1.1",
       "report",
       {"Name S C", "Description S C", "UserComment S C", "HelpText S C", "PollInterval I C",
        "MaxEntries I C", "ResourceName S C", "InstMonitor I C", "InstIndexes S C",
        "InstPatterns S C", "TargetName S C", "RowStatus I C", "StorageType I R",
        "CurrentValue S R"}},
      {"1.4.7.1", "report", {"HighestIndexInUse I R", "OldestIndexInUse I R"}},
      {"1.4.8.1", "", {"reportValueRecord S R"}},
      {"1.4.3.1",
       "reportSet",
       {"Name S C", "Description S C", "StartTime I C", "StopTime I C", "RecordingEnd I C",
        "Running I R", "RowStatus I C", "StorageType I R"}},
      {"1.4.5.1",
       "reportSetContents",
       {"ReportIndex I C", "ReportName S C", "RowStatus I C", "StorageType I R"}},
      {"1.5.1.1",
       "threshResource",
       {"Name S C", "Description S C", "HelpText S C", "ReqType I C", "ReqString S C",
        "InstNameReq S C", "RowStatus I C", "StorageType I R", "ValueUnit S C", "ContainerName S C",
        "GroupName S C"}},
      {"1.5.3.1", "threshTarget", {"Name S C", "Address S C", "RowStatus I C", "StorageType I R"}},
      {"2.1",
       "threshTrap",
       {"ServerName S N", "Time I N", "RuleName S N", "Value S N", "RuleComment S N"}},
  };
  for (const auto& [group, prefix, members] : kGroups) {
    int number = 0;
    for (const char* text : members) {
      std::istringstream in(text);
      ++number;
      if (std::isdigit(static_cast<unsigned char>(*text))) in >> number;
      std::string name;
      std::string wire;
      std::string access;
      in >> name >> wire >> access;
      check(prefix + name, std::string(group) + "." + std::to_string(number), wire, access);
    }
  }
}

// An object in `snmptranslate -Tp`'s tree: access flags, type, detail lines (enumerations).
struct TreeEntry {
  std::string access;
  std::string type;
  std::string details;
};

class ThresholdMibTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = Translate({"-PW", "-Pd", "-Tp"});
    static const std::regex object(R"(\+-- (\S{4}) (\S+) +(\w+)\(\d+\))");
    std::string last;
    for (const std::string& line : Lines(tree_.output)) {
      std::smatch match;
      const size_t text = line.find_first_not_of(" |");
      if (std::regex_search(line, match, object)) {
        last = match[3];
        entries_[last] = {match[1], match[2], ""};
      } else if (!last.empty() && text != std::string::npos &&
                 line.find("+--") == std::string::npos) {
        entries_[last].details += line.substr(text) + "\n";
      } else {
        last.clear();
      }
    }
    static const std::regex defined(R"x("([^"]+)"\s+"([0-9.]+)")x");
    for (const std::string& line : Lines(Translate({"-Tz"}).output)) {
      std::smatch match;
      if (std::regex_search(line, match, defined)) oids_[match[1]] = match[2];
    }
  }
  static inline CommandResult tree_;
  static inline std::map<std::string, TreeEntry> entries_;
  static inline std::map<std::string, std::string> oids_;  // every defined name
};

TEST_F(ThresholdMibTest, NetSnmpParsesModuleWithoutFindingsUnderTheServedRoot) {
  EXPECT_EQ(tree_.exit_code, 0);
  EXPECT_EQ(Findings(tree_.errors), "");
  EXPECT_NE(tree_.output.find("lorvethThresholdMIB(47)"), std::string::npos) << tree_.output;
  // The module identity is the agent's root, so another enterprise number's build names it.
  EXPECT_EQ(oids_["lorvethThresholdMIB"], kMibRoot);
}

TEST(ThresholdMibToolsTest, SmilintLevelThreeReportsNothing) {
  if (RunTool({"smilint", "-V"}).exit_code == 127) {
    GTEST_SKIP() << "smilint (Debian package smitools) is not installed";
  }
  // -c: an empty configuration instead of the machine's and the user's.
  const CommandResult result =
      RunTool({"smilint", "-c", "/dev/null", "-s", "-l", "3", kMibDir + "/" + kModule + ".txt"},
              {"SMIPATH=" + kBaseMibDir});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output + result.errors, "");
}

TEST_F(ThresholdMibTest, EveryServedObjectHasItsOidWireTypeAndAccess) {
  ForEachServed([&](const std::string& name, const std::string& oid, const std::string& wire,
                    const std::string& access) {
    SCOPED_TRACE(name);
    EXPECT_EQ(oids_[name], Absolute(oid));
    const TreeEntry& entry = entries_[name];
    EXPECT_TRUE(wire == "I" ? entry.type == "Integer32" || entry.type == "EnumVal"
                            : entry.type == "String")
        << entry.type;
    EXPECT_EQ(entry.access, access == "C" ? "CR--" : access == "R" ? "-R--" : "---N");
  });
}

// Nothing beyond the served objects, the eleven tables and rows, the branches, the four traps,
// and the record number that only indexes the recorded values.
TEST_F(ThresholdMibTest, ModuleDefinesExactlyTheServedTree) {
  std::set<std::string> expected = {Absolute("1.4.8.1.2")};
  ForEachServed([&](const auto&, const std::string& oid, const auto&, const auto&) {
    expected.insert(Absolute(oid));
  });
  for (const char* table : {"1.3.1", "1.3.3", "1.3.4", "1.3.6", "1.4.1", "1.4.3", "1.4.5", "1.4.7",
                            "1.4.8", "1.5.1", "1.5.3"}) {
    expected.insert(Absolute(table));
    expected.insert(Absolute(std::string(table) + ".1"));
  }
  for (const char* branch : {"1", "1.1", "1.2", "1.3", "1.4", "1.5", "2", "2.0", "2.1", "2.0.2200",
                             "2.0.2201", "2.0.2202", "2.0.2203"}) {
    expected.insert(Absolute(branch));
  }
  std::set<std::string> defined;
  for (const auto& [name, oid] : oids_) {
    if (oid.starts_with(Absolute("1")) || oid.starts_with(Absolute("2"))) defined.insert(oid);
  }
  EXPECT_EQ(defined, expected);
}

// Names are length-prefixed (not IMPLIED); the contents and record tables add a number.
TEST(ThresholdMibToolsTest, RowInstancesCarryLengthPrefixedNamesBothWays) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"threshRuleName.\"cpu\"", "1.3.1.1.1.3.99.112.117"},
      {"threshRulesetRunning.\"ab\"", "1.3.3.1.5.2.97.98"},
      {"threshRulesetContentsRuleName.\"ab\".2", "1.3.4.1.2.2.97.98.2"},
      {"reportSetContentsReportName.\"s\".10", "1.4.5.1.2.1.115.10"},
      {"reportValueRecord.\"a\".2", "1.4.8.1.1.1.97.2"},
      {"threshAgentId.0", "1.1.1.0"},
  };
  std::vector<std::string> forward = {"-On"};
  std::vector<std::string> back = {"-OS"};
  for (const auto& [instance, oid] : rows) {
    forward.push_back(Qualified(instance));
    back.push_back("." + Absolute(oid));
  }
  EXPECT_EQ(Lines(Translate(forward).output), std::vector(back.begin() + 1, back.end()));
  EXPECT_EQ(Lines(Translate(back).output), std::vector(forward.begin() + 1, forward.end()));
}

// Each number is the one the agent serves and SET takes for the keyword. Reads of the unchecked
// numbers skip the range check only a SET makes, so their syntax must admit every Integer32.
TEST_F(ThresholdMibTest, EnumerationsAndUncheckedNumbersMatchTheAgent) {
  const std::pair<std::vector<const char*>, const char*> rows[] = {
      {{"threshThresholdStatus"}, "unknown(1), noneViolated(2), violated(3), criticalViolated(4)"},
      {{"threshReportStatus", "threshRulesetRunning", "reportSetRunning"},
       "notRunning(1), running(2)"},
      {{"threshPerformanceStatus", "threshRulePerfStatusSeverity"},
       "unknown(1), normal(2), information(3), warning(4), critical(5)"},
      {{"threshRuleInstMonitor", "reportInstMonitor"}, "any(1), average(2)"},
      {{"threshRuleValueType"}, "absolute(1), deltaAny(2), deltaInc(3), deltaDec(4)"},
      {{"threshRuleValuation"}, "singleValue(1), averageLinear(2), averageMuted(3)"},
      {{"threshRuleOperator"},
       "equal(1), notEqual(2), less(3), lessEqual(4), greater(5), greaterEqual(6), "
       "withinRange(7), outOfRange(8), existToNoneExist(9), noneExistToExist(10), existChange(11)"},
      {{"threshRuleEventControl"}, "singleShot(1), continuous(2), continuousWithDelay(3)"},
      {{"threshRuleEventAlternating"}, "false(1), true(2)"},
      {{"threshRuleRowStatus"},
       "active(1), notInService(2), notReady(3), createAndGo(4), createAndWait(5), destroy(6)"},
      {{"threshEventType"}, "other(0), snmpTrap(1)"},
      {{"threshEventSeverity"}, "unknown(0), critical(1), major(2), minor(3), informational(4)"},
      {{"threshResourceReqType"}, "builtin(1), snmp(2), registry(3)"},
  };
  for (const auto& [names, values] : rows) {
    for (const char* name : names) {
      const std::string details = "\n" + entries_[name].details;
      EXPECT_NE(details.find(std::string("\nValues: ") + values + "\n"), std::string::npos)
          << name << details;
    }
  }
  for (const char* name : {"threshRulesetStartTime", "threshRulesetStopTime", "reportSetStartTime",
                           "reportSetStopTime", "threshRulePollInterval", "threshRuleWatchPeriod",
                           "threshRuleOccurenceCount", "threshRuleEventDelay", "reportPollInterval",
                           "reportMaxEntries"}) {
    EXPECT_EQ(entries_[name].type, "Integer32") << name;
    EXPECT_EQ(entries_[name].details.find("Range"), std::string::npos) << name;
  }
}

// A trap with enterprise root.2 and specific number N is the notification root.2.0.N,
// carrying the five bindings in the order the agent sends them.
TEST_F(ThresholdMibTest, NotificationsSitAtTheirSpecificNumbersWithFiveBindings) {
  int number = 2200;
  for (const char* name : {"threshCriticalEvent", "threshMajorEvent", "threshMinorEvent",
                           "threshInformationalEvent"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(oids_[name], Absolute("2.0." + std::to_string(number++)));
    const CommandResult detail = Translate({"-Td", Qualified(name)});
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(detail.output, match, std::regex(R"(OBJECTS\s*\{\s*([^}]*?)\s*\})")));
    EXPECT_EQ(std::regex_replace(std::string(match[1]), std::regex(R"(\s+)"), " "),
              "threshTrapServerName, threshTrapTime, threshTrapRuleName, threshTrapValue, "
              "threshTrapRuleComment");
    EXPECT_NE(detail.output.find("NOTIFICATION-TYPE"), std::string::npos);
  }
}

}  // namespace
