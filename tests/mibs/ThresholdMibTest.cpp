// LORVETH-THRESHOLD-MIB read back through the real Net-SNMP MIB parser (and libsmi's
// smilint where it is installed): the module parses cleanly, and every object the agent
// serves has the OID, wire type, access and enumeration the agent gives it, under the root
// the agent serves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

namespace fs = std::filesystem;
using test_support::CommandResult;

constexpr const char* kModule = "LORVETH-THRESHOLD-MIB";
const std::string kMibDir = LORVETH_MIB_DIR;
// Stand-ins for SNMPv2-SMI, -TC and -CONF: the host may carry no base modules.
const std::string kBaseMibDir = std::string(LORVETH_TEST_DATA_DIR) + "/mibs";

std::string Absolute(const std::string& relative) { return std::string(kMibRoot) + "." + relative; }
std::string Qualified(const std::string& name) { return std::string(kModule) + "::" + name; }

// Runs a program in a world of its own (no configuration of the machine or the user);
// `extra_env` adds to or replaces that environment.  stdout and stderr are kept apart so
// that a parser's warnings cannot hide inside the answer.
CommandResult RunTool(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extra_env = {}) {
  const test_support::TempDir dir("lorveth-mib");
  std::vector<std::string> env = test_support::NetSnmpEnvironment(dir.path());
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  return test_support::RunCommand(argv, env, test_support::kPatience,
                                  test_support::Streams::kApart);
}

// snmptranslate over the given MIB directory with the base-module stand-ins, loading only
// this module.
CommandResult Translate(const std::vector<std::string>& options,
                        const std::string& mib_dir = kMibDir) {
  std::vector<std::string> argv = {"snmptranslate", "-Pw", "-M", kBaseMibDir + ":" + mib_dir, "-m",
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

// Net-SNMP reports two things for every module of this shape, the base modules included:
// that it skips MACRO bodies, and (with detailed warnings) that it has no translation for
// a row's SEQUENCE type. Every other line on stderr is a finding.
std::string Findings(const std::string& err) {
  static const std::regex macro(R"([A-Z][A-Z-]* MACRO \(lines \d+\.\.\d+ parsed and ignored\)\.)");
  static const std::regex sequence(R"(Warning: No known translation for type \(\w+Entry\): .*)");
  std::string findings;
  for (const std::string& line : Lines(err)) {
    if (!std::regex_match(line, macro) && !std::regex_match(line, sequence)) {
      findings += line + "\n";
    }
  }
  return findings;
}

// What the agent serves, written down from its object layout: OID below the root, the
// wire type, and whether SET processing takes the column (read-create) or refuses it.
enum class Wire { kInteger, kOctetString };
enum class Access { kReadOnly, kReadCreate, kNotify };

struct ServedObject {
  const char* name;
  const char* oid;  // below the root; scalars end in the instance .0
  Wire wire;
  Access access;
};

constexpr Wire I = Wire::kInteger;
constexpr Wire S = Wire::kOctetString;
constexpr Access RO = Access::kReadOnly;
constexpr Access RC = Access::kReadCreate;
constexpr Access NO = Access::kNotify;

// clang-format off
const ServedObject kServed[] = {
    {"threshAgentId", "1.1.1.0", S, RO},
    {"threshAgentCompany", "1.1.2.0", S, RO},
    {"threshAgentVersion", "1.1.3.0", S, RO},
    {"threshAgentBuild", "1.1.4.0", S, RO},
    {"threshConfigurationChanged", "1.2.1.0", I, RO},
    {"threshThresholdStatus", "1.2.2.0", I, RO},
    {"threshReportStatus", "1.2.3.0", I, RO},
    {"threshLastSetResultMessage", "1.2.4.0", S, RO},
    {"threshPerformanceStatus", "1.2.5.0", I, RO},
    {"threshRuleTableChanged", "1.3.2.0", I, RO},
    {"threshRulesetsChanged", "1.3.5.0", I, RO},
    {"threshEventTableChanged", "1.3.7.0", I, RO},
    {"reportTableChanged", "1.4.2.0", I, RO},
    {"reportSetTableChanged", "1.4.4.0", I, RO},
    {"reportSetContentsTableChanged", "1.4.6.0", I, RO},
    {"threshResourceTableChanged", "1.5.2.0", I, RO},
    {"threshTargetTableChanged", "1.5.4.0", I, RO},
    {"threshRuleName", "1.3.1.1.1", S, RC},
    {"threshRuleDescription", "1.3.1.1.2", S, RC},
    {"threshRuleUserComment", "1.3.1.1.3", S, RC},
    {"threshRuleHelpText", "1.3.1.1.4", S, RC},
    {"threshRulePollInterval", "1.3.1.1.5", I, RC},
    {"threshRuleResourceName", "1.3.1.1.6", S, RC},
    {"threshRuleInstMonitor", "1.3.1.1.7", I, RC},
    {"threshRuleInstIndexes", "1.3.1.1.8", S, RC},
    {"threshRuleInstPatterns", "1.3.1.1.9", S, RC},
    {"threshRuleTargetName", "1.3.1.1.10", S, RC},
    {"threshRuleValueType", "1.3.1.1.11", I, RC},
    {"threshRuleValuation", "1.3.1.1.12", I, RC},
    {"threshRuleWatchPeriod", "1.3.1.1.13", I, RC},
    {"threshRuleOperator", "1.3.1.1.14", I, RC},
    {"threshRuleThresholdValue", "1.3.1.1.15", I, RC},
    {"threshRuleRangeMinValue", "1.3.1.1.16", I, RC},
    {"threshRuleRangeMaxValue", "1.3.1.1.17", I, RC},
    {"threshRuleOccurenceCount", "1.3.1.1.18", I, RC},
    {"threshRuleEventName", "1.3.1.1.19", S, RC},
    {"threshRuleEventControl", "1.3.1.1.20", I, RC},
    {"threshRuleEventDelay", "1.3.1.1.21", I, RC},
    {"threshRuleEventAlternating", "1.3.1.1.22", I, RC},
    {"threshRuleRowStatus", "1.3.1.1.23", I, RC},
    {"threshRuleStorageType", "1.3.1.1.24", I, RO},
    {"threshRuleCurrentValue", "1.3.1.1.25", S, RO},
    {"threshRuleFireEvent", "1.3.1.1.26", I, RO},
    {"threshRulePerfStatusSeverity", "1.3.1.1.27", I, RC},
    {"threshRulesetName", "1.3.3.1.1", S, RC},
    {"threshRulesetDescription", "1.3.3.1.2", S, RC},
    {"threshRulesetStartTime", "1.3.3.1.3", I, RC},
    {"threshRulesetStopTime", "1.3.3.1.4", I, RC},
    {"threshRulesetRunning", "1.3.3.1.5", I, RO},
    {"threshRulesetRowStatus", "1.3.3.1.6", I, RC},
    {"threshRulesetStorageType", "1.3.3.1.7", I, RO},
    {"threshRulesetContentsRuleIndex", "1.3.4.1.1", I, RC},
    {"threshRulesetContentsRuleName", "1.3.4.1.2", S, RC},
    {"threshRulesetContentsRowStatus", "1.3.4.1.3", I, RC},
    {"threshRulesetContentsStorageType", "1.3.4.1.4", I, RO},
    {"threshEventName", "1.3.6.1.1", S, RC},
    {"threshEventType", "1.3.6.1.2", I, RC},
    {"threshEventSeverity", "1.3.6.1.3", I, RC},
    {"threshEventRowStatus", "1.3.6.1.4", I, RC},
    {"threshEventStorageType", "1.3.6.1.5", I, RO},
    {"reportName", "1.4.1.1.1", S, RC},
    {"reportDescription", "1.4.1.1.2", S, RC},
    {"reportUserComment", "1.4.1.1.3", S, RC},
    {"reportHelpText", "1.4.1.1.4", S, RC},
    {"reportPollInterval", "1.4.1.1.5", I, RC},
    {"reportMaxEntries", "1.4.1.1.6", I, RC},
    {"reportResourceName", "1.4.1.1.7", S, RC},
    {"reportInstMonitor", "1.4.1.1.8", I, RC},
    {"reportInstIndexes", "1.4.1.1.9", S, RC},
    {"reportInstPatterns", "1.4.1.1.10", S, RC},
    {"reportTargetName", "1.4.1.1.11", S, RC},
    {"reportRowStatus", "1.4.1.1.12", I, RC},
    {"reportStorageType", "1.4.1.1.13", I, RO},
    {"reportCurrentValue", "1.4.1.1.14", S, RO},
    {"reportHighestIndexInUse", "1.4.7.1.1", I, RO},
    {"reportOldestIndexInUse", "1.4.7.1.2", I, RO},
    {"reportValueRecord", "1.4.8.1.1", S, RO},
    {"reportSetName", "1.4.3.1.1", S, RC},
    {"reportSetDescription", "1.4.3.1.2", S, RC},
    {"reportSetStartTime", "1.4.3.1.3", I, RC},
    {"reportSetStopTime", "1.4.3.1.4", I, RC},
    {"reportSetRecordingEnd", "1.4.3.1.5", I, RC},
    {"reportSetRunning", "1.4.3.1.6", I, RO},
    {"reportSetRowStatus", "1.4.3.1.7", I, RC},
    {"reportSetStorageType", "1.4.3.1.8", I, RO},
    {"reportSetContentsReportIndex", "1.4.5.1.1", I, RC},
    {"reportSetContentsReportName", "1.4.5.1.2", S, RC},
    {"reportSetContentsRowStatus", "1.4.5.1.3", I, RC},
    {"reportSetContentsStorageType", "1.4.5.1.4", I, RO},
    {"threshResourceName", "1.5.1.1.1", S, RC},
    {"threshResourceDescription", "1.5.1.1.2", S, RC},
    {"threshResourceHelpText", "1.5.1.1.3", S, RC},
    {"threshResourceReqType", "1.5.1.1.4", I, RC},
    {"threshResourceReqString", "1.5.1.1.5", S, RC},
    {"threshResourceInstNameReq", "1.5.1.1.6", S, RC},
    {"threshResourceRowStatus", "1.5.1.1.7", I, RC},
    {"threshResourceStorageType", "1.5.1.1.8", I, RO},
    {"threshResourceValueUnit", "1.5.1.1.9", S, RC},
    {"threshResourceContainerName", "1.5.1.1.10", S, RC},
    {"threshResourceGroupName", "1.5.1.1.11", S, RC},
    {"threshTargetName", "1.5.3.1.1", S, RC},
    {"threshTargetAddress", "1.5.3.1.2", S, RC},
    {"threshTargetRowStatus", "1.5.3.1.3", I, RC},
    {"threshTargetStorageType", "1.5.3.1.4", I, RO},
    {"threshTrapServerName", "2.1.1.0", S, NO},
    {"threshTrapTime", "2.1.2.0", I, NO},
    {"threshTrapRuleName", "2.1.3.0", S, NO},
    {"threshTrapValue", "2.1.4.0", S, NO},
    {"threshTrapRuleComment", "2.1.5.0", S, NO},
};
// clang-format on

// An object's line in the tree that `snmptranslate -Tp` prints: its access flags, its
// type, and the detail lines below it (enumerations, ranges).
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
  static CommandResult tree_;
  static std::map<std::string, TreeEntry> entries_;
  static std::map<std::string, std::string> oids_;  // every defined name
};

CommandResult ThresholdMibTest::tree_;
std::map<std::string, TreeEntry> ThresholdMibTest::entries_;
std::map<std::string, std::string> ThresholdMibTest::oids_;

TEST_F(ThresholdMibTest, NetSnmpParsesModuleWithoutFindingsUnderTheServedRoot) {
  EXPECT_EQ(tree_.exit_code, 0);
  EXPECT_EQ(Findings(tree_.errors), "");
  EXPECT_NE(tree_.output.find("lorvethThresholdMIB(47)"), std::string::npos) << tree_.output;
  // The module identity is the root the agent serves, so a build for another enterprise
  // number installs a module that names the agent's subtree.
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

// The module as a user adds it to the tools' default search path and module list, on a
// host whose default path holds the base modules (the stand-ins, in the MIB directory of
// the test's own home, which the default path searches first).
TEST(ThresholdMibToolsTest, LoadsBesideBaseModulesOfTheDefaultPath) {
  const test_support::TempDir home("lorveth-mib-home");
  fs::create_directories(fs::path(home.path()) / ".snmp");
  fs::copy(kBaseMibDir, fs::path(home.path()) / ".snmp" / "mibs");
  const CommandResult result =
      RunTool({"snmptranslate", "-M", "+:" + kMibDir, "-m", std::string("+") + kModule, "-On",
               Qualified("threshRuleOperator")},
              {"HOME=" + home.path()});
  EXPECT_EQ(result.exit_code, 0) << result.errors;
  EXPECT_EQ(Lines(result.output).at(0), "." + Absolute("1.3.1.1.14"));
  EXPECT_EQ(result.errors.find(kModule), std::string::npos) << result.errors;
}

// A colliding column number must surface: the filter above may not swallow real findings.
TEST(ThresholdMibToolsTest, CollidingColumnNumberIsReported) {
  const test_support::TempDir dir("lorveth-mib");
  std::string text = test_support::ReadFile(kMibDir + "/" + kModule + ".txt");
  const std::string column = "::= { threshRuleEntry 14 }";
  const auto at = text.find(column);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, column.size(), "::= { threshRuleEntry 13 }");
  test_support::WriteFile(dir.path() + "/" + kModule + ".txt", text);
  EXPECT_NE(Findings(Translate({"-Tp"}, dir.path()).errors).find("threshRuleOperator"),
            std::string::npos);
}

TEST_F(ThresholdMibTest, EveryServedObjectHasItsOidWireTypeAndAccess) {
  for (const ServedObject& object : kServed) {
    SCOPED_TRACE(object.name);
    std::string oid = object.oid;
    if (oid.ends_with(".0")) oid.resize(oid.size() - 2);
    EXPECT_EQ(oids_[object.name], Absolute(oid));
    const TreeEntry& entry = entries_[object.name];
    if (object.wire == Wire::kInteger) {
      EXPECT_TRUE(entry.type == "Integer32" || entry.type == "EnumVal") << entry.type;
    } else {
      EXPECT_EQ(entry.type, "String");
    }
    EXPECT_EQ(entry.access, object.access == RC ? "CR--" : object.access == RO ? "-R--" : "---N");
  }
}

// The module defines nothing under the objects and the trap enterprise beyond what the
// agent serves, the eleven tables and their rows, the branches, the four traps, and the
// record number that only indexes the recorded values.
TEST_F(ThresholdMibTest, ModuleDefinesExactlyTheServedTree) {
  std::set<std::string> expected = {Absolute("1.4.8.1.2")};
  for (const ServedObject& object : kServed) {
    std::string oid = object.oid;
    if (oid.ends_with(".0")) oid.resize(oid.size() - 2);
    expected.insert(Absolute(oid));
  }
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
      {"threshEventSeverity.\"e\"", "1.3.6.1.3.1.101"},
      {"reportCurrentValue.\"r1\"", "1.4.1.1.14.2.114.49"},
      {"reportSetRecordingEnd.\"s\"", "1.4.3.1.5.1.115"},
      {"reportSetContentsReportName.\"s\".10", "1.4.5.1.2.1.115.10"},
      {"reportOldestIndexInUse.\"a\"", "1.4.7.1.2.1.97"},
      {"reportValueRecord.\"a\".2", "1.4.8.1.1.1.97.2"},
      {"threshResourceValueUnit.\"cpu\"", "1.5.1.1.9.3.99.112.117"},
      {"threshTargetAddress.\"t\"", "1.5.3.1.2.1.116"},
      {"threshAgentId.0", "1.1.1.0"},
  };
  std::vector<std::string> forward = {"-On"};
  std::vector<std::string> back = {"-OS"};
  std::vector<std::string> names;
  std::vector<std::string> oids;
  for (const auto& [instance, oid] : rows) {
    names.push_back(Qualified(instance));
    oids.push_back("." + Absolute(oid));
    forward.push_back(names.back());
    back.push_back(oids.back());
  }
  EXPECT_EQ(Lines(Translate(forward).output), oids);
  EXPECT_EQ(Lines(Translate(back).output), names);
}

// Each number is the one the agent serves and SET processing takes for the keyword.
// Reads of the unchecked numbers take the record's text as it is, without a range check
// (only a SET checks the range), so their syntax must admit every Integer32.
TEST_F(ThresholdMibTest, EnumerationsAndUncheckedNumbersMatchTheAgent) {
  const std::pair<const char*, const char*> rows[] = {
      {"threshThresholdStatus", "unknown(1), noneViolated(2), violated(3), criticalViolated(4)"},
      {"threshReportStatus", "notRunning(1), running(2)"},
      {"threshPerformanceStatus", "unknown(1), normal(2), information(3), warning(4), critical(5)"},
      {"threshRuleInstMonitor", "any(1), average(2)"},
      {"threshRuleValueType", "absolute(1), deltaAny(2), deltaInc(3), deltaDec(4)"},
      {"threshRuleValuation", "singleValue(1), averageLinear(2), averageMuted(3)"},
      {"threshRuleOperator",
       "equal(1), notEqual(2), less(3), lessEqual(4), greater(5), greaterEqual(6), "
       "withinRange(7), outOfRange(8), existToNoneExist(9), noneExistToExist(10), existChange(11)"},
      {"threshRuleEventControl", "singleShot(1), continuous(2), continuousWithDelay(3)"},
      {"threshRuleEventAlternating", "false(1), true(2)"},
      {"threshRuleRowStatus",
       "active(1), notInService(2), notReady(3), createAndGo(4), createAndWait(5), destroy(6)"},
      {"threshRuleStorageType", "other(1), volatile(2), nonVolatile(3), permanent(4), readOnly(5)"},
      {"threshRulePerfStatusSeverity",
       "unknown(1), normal(2), information(3), warning(4), critical(5)"},
      {"threshRulesetRunning", "notRunning(1), running(2)"},
      {"threshEventType", "other(0), snmpTrap(1)"},
      {"threshEventSeverity", "unknown(0), critical(1), major(2), minor(3), informational(4)"},
      {"reportInstMonitor", "any(1), average(2)"},
      {"reportSetRunning", "notRunning(1), running(2)"},
      {"threshResourceReqType", "builtin(1), snmp(2), registry(3)"},
  };
  for (const auto& [name, values] : rows) {
    const std::string details = "\n" + entries_[name].details;
    EXPECT_NE(details.find(std::string("\nValues: ") + values + "\n"), std::string::npos)
        << name << details;
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
TEST(ThresholdMibToolsTest, NotificationsSitAtTheirSpecificNumbersWithFiveBindings) {
  for (const auto& [name, oid] : {std::pair{"threshCriticalEvent", "2.0.2200"},
                                  {"threshMajorEvent", "2.0.2201"},
                                  {"threshMinorEvent", "2.0.2202"},
                                  {"threshInformationalEvent", "2.0.2203"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Lines(Translate({"-On", Qualified(name)}).output).at(0), "." + Absolute(oid));
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
