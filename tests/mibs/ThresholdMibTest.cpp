// LORVETH-THRESHOLD-MIB read back through the real Net-SNMP MIB parser (and libsmi's
// smilint where it is installed): the module parses cleanly, and every object the agent
// serves has the OID, wire type and access the agent gives it, under the root the agent
// serves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = "LORVETH-THRESHOLD-MIB";
constexpr const char* kRoot = kMibRoot;

const std::string kMibDir = LORVETH_MIB_DIR;
// Stand-ins for SNMPv2-SMI, -TC and -CONF: the host may carry no base modules.
const std::string kBaseMibDir = std::string(LORVETH_TEST_DATA_DIR) + "/mibs";

std::string Absolute(const std::string& relative) { return std::string(kRoot) + "." + relative; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ToolResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs a program in a world of its own: Net-SNMP reads no configuration of the machine or
// the user and keeps nothing outside a temporary directory; `extra_env` ("NAME=value")
// adds to or replaces that environment.  stdout and stderr are kept apart so that a
// parser's warnings cannot hide inside the answer.
ToolResult RunTool(const std::vector<std::string>& argv,
                   const std::vector<std::string>& extra_env = {}) {
  const test_support::TempDir dir("lorveth-mib");
  std::vector<std::string> env = test_support::NetSnmpEnvironment(dir.path());
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  const test_support::CommandResult result =
      test_support::RunCommand(argv, env, test_support::kPatience, test_support::Streams::kApart);
  return {result.exit_code, result.output, result.errors};
}

bool HaveTool(const std::string& tool) { return RunTool({tool, "-V"}).exit_code != 127; }

// snmptranslate over the given MIB directory (the repository's by default) with the
// base-module stand-ins, loading only this module.
std::vector<std::string> Snmptranslate(const std::vector<std::string>& options,
                                       const std::string& mib_dir = kMibDir) {
  std::vector<std::string> argv = {"snmptranslate", "-Pw", "-M", kBaseMibDir + ":" + mib_dir, "-m",
                                   kModule};
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Net-SNMP reports two things for every module of this shape, the base modules included:
// that it skips MACRO bodies, and (with detailed warnings) that it has no translation for
// a row's SEQUENCE type. Every other line on stderr is a finding.
std::vector<std::string> Findings(const std::string& err) {
  static const std::regex macro(R"([A-Z][A-Z-]* MACRO \(lines \d+\.\.\d+ parsed and ignored\)\.)");
  static const std::regex sequence(R"(Warning: No known translation for type \(\w+Entry\): .*)");
  std::vector<std::string> findings;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || std::regex_match(line, macro) || std::regex_match(line, sequence)) {
      continue;
    }
    findings.push_back(line);
  }
  return findings;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string joined;
  for (const auto& line : lines) {
    joined += line + "\n";
  }
  return joined;
}

// ---------------------------------------------------------------------------------------
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

std::ostream& operator<<(std::ostream& os, const ServedObject& object) {
  return os << object.name;
}

constexpr Wire I = Wire::kInteger;
constexpr Wire S = Wire::kOctetString;
constexpr Access RO = Access::kReadOnly;
constexpr Access RC = Access::kReadCreate;
constexpr Access NO = Access::kNotify;

const std::vector<ServedObject>& ServedObjects() {
  static const std::vector<ServedObject> objects = {
      // Identity and status scalars.
      {"threshAgentId", "1.1.1.0", S, RO},
      {"threshAgentCompany", "1.1.2.0", S, RO},
      {"threshAgentVersion", "1.1.3.0", S, RO},
      {"threshAgentBuild", "1.1.4.0", S, RO},
      {"threshConfigurationChanged", "1.2.1.0", I, RO},
      {"threshThresholdStatus", "1.2.2.0", I, RO},
      {"threshReportStatus", "1.2.3.0", I, RO},
      {"threshLastSetResultMessage", "1.2.4.0", S, RO},
      {"threshPerformanceStatus", "1.2.5.0", I, RO},
      // Table change times.
      {"threshRuleTableChanged", "1.3.2.0", I, RO},
      {"threshRulesetsChanged", "1.3.5.0", I, RO},
      {"threshEventTableChanged", "1.3.7.0", I, RO},
      {"reportTableChanged", "1.4.2.0", I, RO},
      {"reportSetTableChanged", "1.4.4.0", I, RO},
      {"reportSetContentsTableChanged", "1.4.6.0", I, RO},
      {"threshResourceTableChanged", "1.5.2.0", I, RO},
      {"threshTargetTableChanged", "1.5.4.0", I, RO},
      // Rules.
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
      // Rule sets and their members.
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
      // Events.
      {"threshEventName", "1.3.6.1.1", S, RC},
      {"threshEventType", "1.3.6.1.2", I, RC},
      {"threshEventSeverity", "1.3.6.1.3", I, RC},
      {"threshEventRowStatus", "1.3.6.1.4", I, RC},
      {"threshEventStorageType", "1.3.6.1.5", I, RO},
      // Reports, their record numbers and recorded values.
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
      // Report sets and their members.
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
      // Resources.
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
      // Targets.
      {"threshTargetName", "1.5.3.1.1", S, RC},
      {"threshTargetAddress", "1.5.3.1.2", S, RC},
      {"threshTargetRowStatus", "1.5.3.1.3", I, RC},
      {"threshTargetStorageType", "1.5.3.1.4", I, RO},
      // The five trap bindings.
      {"threshTrapServerName", "2.1.1.0", S, NO},
      {"threshTrapTime", "2.1.2.0", I, NO},
      {"threshTrapRuleName", "2.1.3.0", S, NO},
      {"threshTrapValue", "2.1.4.0", S, NO},
      {"threshTrapRuleComment", "2.1.5.0", S, NO},
  };
  return objects;
}

bool IsScalarInstance(const ServedObject& object) {
  const std::string oid = object.oid;
  return oid.size() > 2 && oid.compare(oid.size() - 2, 2, ".0") == 0;
}

// The object's own OID: a scalar's instance without its .0.
std::string ObjectOid(const ServedObject& object) {
  std::string oid = object.oid;
  if (IsScalarInstance(object)) {
    oid.resize(oid.size() - 2);
  }
  return Absolute(oid);
}

// ---------------------------------------------------------------------------------------

TEST(ThresholdMibParseTest, NetSnmpParsesModuleWithoutFindings) {
  const ToolResult result = RunTool(Snmptranslate({"-PW", "-Pd", "-Tp"}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(Join(Findings(result.err)), "");
  EXPECT_NE(result.out.find("lorvethThresholdMIB(47)"), std::string::npos) << result.out;
}

// The module identity is the root the agent serves, so a build for another enterprise
// number installs a module that names the agent's subtree.
TEST(ThresholdMibParseTest, ModuleIdentityIsTheRootTheAgentServes) {
  const ToolResult result =
      RunTool(Snmptranslate({"-On", std::string(kModule) + "::lorvethThresholdMIB"}));
  EXPECT_EQ(FirstLine(result.out), "." + std::string(kRoot)) << result.err;
}

TEST(ThresholdMibParseTest, SmilintLevelThreeReportsNothing) {
  if (!HaveTool("smilint")) {
    GTEST_SKIP() << "smilint (Debian package smitools) is not installed";
  }
  // -c: an empty configuration instead of the machine's and the user's.
  const ToolResult result =
      RunTool({"smilint", "-c", "/dev/null", "-s", "-l", "3", kMibDir + "/" + kModule + ".txt"},
              {"SMIPATH=" + kBaseMibDir});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out + result.err, "");
}

// The module as a user adds it to the tools' default search path and module list, on a
// host whose default path holds the base modules (the stand-ins, in the MIB directory of
// the test's own home, which the default path searches first).
TEST(ThresholdMibParseTest, LoadsBesideBaseModulesOfTheDefaultPath) {
  const test_support::TempDir home("lorveth-mib-home");
  fs::create_directories(fs::path(home.path()) / ".snmp");
  fs::copy(kBaseMibDir, fs::path(home.path()) / ".snmp" / "mibs");
  const ToolResult result =
      RunTool({"snmptranslate", "-M", "+:" + kMibDir, "-m", std::string("+") + kModule, "-On",
               std::string(kModule) + "::threshRuleOperator"},
              {"HOME=" + home.path()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(FirstLine(result.out), "." + Absolute("1.3.1.1.14"));
  EXPECT_EQ(result.err.find(kModule), std::string::npos) << result.err;
}

// A colliding column number must surface: the filter above may not swallow real findings.
TEST(ThresholdMibParseTest, CollidingColumnNumberIsReported) {
  const test_support::TempDir dir("lorveth-mib");
  std::string text = ReadFile(kMibDir + "/" + kModule + ".txt");
  const std::string column = "::= { threshRuleEntry 14 }";
  const auto at = text.find(column);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, column.size(), "::= { threshRuleEntry 13 }");
  std::ofstream(fs::path(dir.path()) / (std::string(kModule) + ".txt")) << text;

  const ToolResult result = RunTool(Snmptranslate({"-Tp"}, dir.path()));
  EXPECT_NE(Join(Findings(result.err)).find("threshRuleOperator"), std::string::npos)
      << result.err;
}

// ---------------------------------------------------------------------------------------

class ServedObjectTest : public ::testing::TestWithParam<ServedObject> {};

TEST_P(ServedObjectTest, NameResolvesToServedOid) {
  const ServedObject& object = GetParam();
  const std::string name = std::string(kModule) + "::" + object.name +
                           (IsScalarInstance(object) ? ".0" : "");
  const ToolResult result = RunTool(Snmptranslate({"-On", name}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(FirstLine(result.out), "." + Absolute(object.oid));
  EXPECT_EQ(Join(Findings(result.err)), "");
}

TEST_P(ServedObjectTest, ServedOidResolvesToName) {
  const ServedObject& object = GetParam();
  const ToolResult result = RunTool(Snmptranslate({"-OS", "." + Absolute(object.oid)}));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(FirstLine(result.out), std::string(kModule) + "::" + object.name +
                                       (IsScalarInstance(object) ? ".0" : ""));
}

TEST_P(ServedObjectTest, SyntaxAndAccessMatchWhatAgentServes) {
  const ServedObject& object = GetParam();
  const ToolResult result =
      RunTool(Snmptranslate({"-Td", std::string(kModule) + "::" + object.name}));
  ASSERT_EQ(result.exit_code, 0) << result.err;

  std::smatch match;
  ASSERT_TRUE(std::regex_search(result.out, match, std::regex(R"(\n  SYNTAX\t([^\n]*))")))
      << result.out;
  const std::string syntax = match[1];
  if (object.wire == Wire::kInteger) {
    EXPECT_TRUE(syntax.rfind("INTEGER", 0) == 0 || syntax.rfind("Integer32", 0) == 0) << syntax;
  } else {
    EXPECT_EQ(syntax.rfind("OCTET STRING", 0), 0U) << syntax;
  }

  ASSERT_TRUE(std::regex_search(result.out, match, std::regex(R"(\n  MAX-ACCESS\t(\S+))")));
  const char* expected = object.access == Access::kReadCreate ? "read-create"
                         : object.access == Access::kReadOnly ? "read-only"
                                                              : "accessible-for-notify";
  EXPECT_EQ(match[1], expected);
}

INSTANTIATE_TEST_SUITE_P(AllObjects, ServedObjectTest, ::testing::ValuesIn(ServedObjects()),
                         [](const ::testing::TestParamInfo<ServedObject>& param_info) {
                           return std::string(param_info.param.name);
                         });

// Reads of these take the record's text as it is, without a range check (only a SET
// checks the range), so their syntax must admit every Integer32.
class UncheckedNumberTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UncheckedNumberTest, SyntaxAdmitsEveryInteger32) {
  const ToolResult result =
      RunTool(Snmptranslate({"-Td", std::string(kModule) + "::" + GetParam()}));
  std::smatch match;
  ASSERT_TRUE(std::regex_search(result.out, match, std::regex(R"(\n  SYNTAX\t([^\n]*?) *\n)")))
      << result.out;
  EXPECT_EQ(match[1], "Integer32");
}

INSTANTIATE_TEST_SUITE_P(TimesAndRecordNumbers, UncheckedNumberTest,
                         ::testing::Values("threshRulesetStartTime", "threshRulesetStopTime",
                                           "reportSetStartTime", "reportSetStopTime",
                                           "threshRulePollInterval", "threshRuleWatchPeriod",
                                           "threshRuleOccurenceCount", "threshRuleEventDelay",
                                           "reportPollInterval", "reportMaxEntries"));

// ---------------------------------------------------------------------------------------

// The module defines nothing under the objects and the trap enterprise beyond what the
// agent serves, the eleven tables and their rows, the branches, the four traps, and the
// record number that only indexes the recorded values.
TEST(ThresholdMibLayoutTest, ModuleDefinesExactlyTheServedTree) {
  std::set<std::string> expected;
  for (const ServedObject& object : ServedObjects()) {
    expected.insert(ObjectOid(object));
  }
  for (const char* table : {"1.3.1", "1.3.3", "1.3.4", "1.3.6", "1.4.1", "1.4.3", "1.4.5",
                            "1.4.7", "1.4.8", "1.5.1", "1.5.3"}) {
    expected.insert(Absolute(table));
    expected.insert(Absolute(std::string(table) + ".1"));
  }
  for (const char* branch : {"1", "1.1", "1.2", "1.3", "1.4", "1.5", "2", "2.0", "2.1"}) {
    expected.insert(Absolute(branch));
  }
  for (const char* trap : {"2.0.2200", "2.0.2201", "2.0.2202", "2.0.2203"}) {
    expected.insert(Absolute(trap));
  }
  expected.insert(Absolute("1.4.8.1.2"));

  const ToolResult result = RunTool(Snmptranslate({"-Tz"}));
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::set<std::string> defined;
  const std::regex line(R"x("[^"]+"\s+"([0-9.]+)")x");
  std::istringstream lines(result.out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    if (!std::regex_search(text, match, line)) {
      continue;
    }
    const std::string oid = match[1];
    if (oid.rfind(Absolute("1"), 0) == 0 || oid.rfind(Absolute("2"), 0) == 0) {
      defined.insert(oid);
    }
  }
  std::vector<std::string> missing;
  std::vector<std::string> extra;
  for (const auto& oid : expected) {
    if (defined.count(oid) == 0) {
      missing.push_back(oid);
    }
  }
  for (const auto& oid : defined) {
    if (expected.count(oid) == 0) {
      extra.push_back(oid);
    }
  }
  EXPECT_EQ(Join(missing), "");
  EXPECT_EQ(Join(extra), "");
}

struct IndexCase {
  const char* instance;  // a column with its index written as the tools take it
  const char* oid;       // the instance below the root
};

std::ostream& operator<<(std::ostream& os, const IndexCase& index) { return os << index.instance; }

class RowIndexTest : public ::testing::TestWithParam<IndexCase> {};

// Names are length-prefixed (not IMPLIED); the contents and record tables add a number.
TEST_P(RowIndexTest, InstanceCarriesLengthPrefixedName) {
  const IndexCase& index = GetParam();
  const ToolResult forward =
      RunTool(Snmptranslate({"-On", std::string(kModule) + "::" + index.instance}));
  EXPECT_EQ(FirstLine(forward.out), "." + Absolute(index.oid)) << forward.err;

  const ToolResult back = RunTool(Snmptranslate({"-OS", "." + Absolute(index.oid)}));
  EXPECT_EQ(FirstLine(back.out), std::string(kModule) + "::" + index.instance) << back.err;
}

INSTANTIATE_TEST_SUITE_P(
    EveryTable, RowIndexTest,
    ::testing::Values(IndexCase{"threshRuleName.\"cpu\"", "1.3.1.1.1.3.99.112.117"},
                      IndexCase{"threshRulesetRunning.\"ab\"", "1.3.3.1.5.2.97.98"},
                      IndexCase{"threshRulesetContentsRuleName.\"ab\".2",
                                "1.3.4.1.2.2.97.98.2"},
                      IndexCase{"threshEventSeverity.\"e\"", "1.3.6.1.3.1.101"},
                      IndexCase{"reportCurrentValue.\"r1\"", "1.4.1.1.14.2.114.49"},
                      IndexCase{"reportSetRecordingEnd.\"s\"", "1.4.3.1.5.1.115"},
                      IndexCase{"reportSetContentsReportName.\"s\".10", "1.4.5.1.2.1.115.10"},
                      IndexCase{"reportOldestIndexInUse.\"a\"", "1.4.7.1.2.1.97"},
                      IndexCase{"reportValueRecord.\"a\".2", "1.4.8.1.1.1.97.2"},
                      IndexCase{"threshResourceValueUnit.\"cpu\"", "1.5.1.1.9.3.99.112.117"},
                      IndexCase{"threshTargetAddress.\"t\"", "1.5.3.1.2.1.116"}));

// ---------------------------------------------------------------------------------------

struct EnumCase {
  const char* name;
  const char* values;  // as snmptranslate -Td prints them
};

std::ostream& operator<<(std::ostream& os, const EnumCase& enumeration) {
  return os << enumeration.name;
}

class EnumerationTest : public ::testing::TestWithParam<EnumCase> {};

// Each number is the one the agent serves and SET processing takes for the keyword.
TEST_P(EnumerationTest, NumbersMatchAgentKeywords) {
  const EnumCase& enumeration = GetParam();
  const ToolResult result =
      RunTool(Snmptranslate({"-Td", std::string(kModule) + "::" + enumeration.name}));
  std::smatch match;
  ASSERT_TRUE(std::regex_search(result.out, match, std::regex(R"(\{([^}]*)\})"))) << result.out;
  EXPECT_EQ(match[1], enumeration.values);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnumeration, EnumerationTest,
    ::testing::Values(
        EnumCase{"threshThresholdStatus",
                 "unknown(1), noneViolated(2), violated(3), criticalViolated(4)"},
        EnumCase{"threshReportStatus", "notRunning(1), running(2)"},
        EnumCase{"threshPerformanceStatus",
                 "unknown(1), normal(2), information(3), warning(4), critical(5)"},
        EnumCase{"threshRuleInstMonitor", "any(1), average(2)"},
        EnumCase{"threshRuleValueType", "absolute(1), deltaAny(2), deltaInc(3), deltaDec(4)"},
        EnumCase{"threshRuleValuation", "singleValue(1), averageLinear(2), averageMuted(3)"},
        EnumCase{"threshRuleOperator",
                 "equal(1), notEqual(2), less(3), lessEqual(4), greater(5), greaterEqual(6), "
                 "withinRange(7), outOfRange(8), existToNoneExist(9), noneExistToExist(10), "
                 "existChange(11)"},
        EnumCase{"threshRuleEventControl", "singleShot(1), continuous(2), continuousWithDelay(3)"},
        EnumCase{"threshRuleEventAlternating", "false(1), true(2)"},
        EnumCase{"threshRuleRowStatus",
                 "active(1), notInService(2), notReady(3), createAndGo(4), createAndWait(5), "
                 "destroy(6)"},
        EnumCase{"threshRuleStorageType",
                 "other(1), volatile(2), nonVolatile(3), permanent(4), readOnly(5)"},
        EnumCase{"threshRulePerfStatusSeverity",
                 "unknown(1), normal(2), information(3), warning(4), critical(5)"},
        EnumCase{"threshRulesetRunning", "notRunning(1), running(2)"},
        EnumCase{"threshEventType", "other(0), snmpTrap(1)"},
        EnumCase{"threshEventSeverity",
                 "unknown(0), critical(1), major(2), minor(3), informational(4)"},
        EnumCase{"reportInstMonitor", "any(1), average(2)"},
        EnumCase{"reportSetRunning", "notRunning(1), running(2)"},
        EnumCase{"threshResourceReqType", "builtin(1), snmp(2), registry(3)"}));

// ---------------------------------------------------------------------------------------

struct TrapCase {
  const char* name;
  const char* oid;
};

std::ostream& operator<<(std::ostream& os, const TrapCase& trap) { return os << trap.name; }

class TrapTest : public ::testing::TestWithParam<TrapCase> {};

// A trap with enterprise root.2 and specific number N is the notification root.2.0.N,
// carrying the five bindings in the order the agent sends them.
TEST_P(TrapTest, NotificationSitsAtSpecificNumberWithFiveBindings) {
  const TrapCase& trap = GetParam();
  const std::string name = std::string(kModule) + "::" + trap.name;
  EXPECT_EQ(FirstLine(RunTool(Snmptranslate({"-On", name})).out), "." + Absolute(trap.oid));

  const ToolResult detail = RunTool(Snmptranslate({"-Td", name}));
  std::smatch match;
  ASSERT_TRUE(std::regex_search(detail.out, match, std::regex(R"(OBJECTS\s*\{\s*([^}]*?)\s*\})")))
      << detail.out;
  EXPECT_EQ(std::regex_replace(std::string(match[1]), std::regex(R"(\s+)"), " "),
            "threshTrapServerName, threshTrapTime, threshTrapRuleName, threshTrapValue, "
            "threshTrapRuleComment");
  EXPECT_NE(detail.out.find("NOTIFICATION-TYPE"), std::string::npos) << detail.out;
}

INSTANTIATE_TEST_SUITE_P(BySeverity, TrapTest,
                         ::testing::Values(TrapCase{"threshCriticalEvent", "2.0.2200"},
                                           TrapCase{"threshMajorEvent", "2.0.2201"},
                                           TrapCase{"threshMinorEvent", "2.0.2202"},
                                           TrapCase{"threshInformationalEvent", "2.0.2203"}));

}  // namespace
