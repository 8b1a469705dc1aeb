// The system's behaviour as managers and operators see it, request by request.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/SystemFixture.h"

namespace e2e {
namespace {

// Walks and bulk walks list the records of every table file; odd and hostile
// requests are each answered (an error where they are wrong), breaking nothing.
TEST_F(SystemTest, ReadsAnswerWhatTheTableFilesHoldAndOddRequestsBreakNothing) {
  HoldStill();
  ASSERT_TRUE(StartSystem());
  const std::string walk = Query("snmpwalk", "2c", "public", {kRoot});
  EXPECT_EQ(walk.find("Error"), npos) << walk;
  EXPECT_EQ(walk.find("not increasing"), npos) << walk;
  EXPECT_EQ(Query("snmpbulkwalk", "2c", "public", {"-Cr10", kRoot}), walk);
  EXPECT_EQ(Query("snmpbulkwalk", "2c", "public", {"-Cr1", kRoot}), walk);
  const std::string tables = state_dir_ + "/switchd/";
  const auto rule_names = TableTexts(tables + "Rules.xml", "Rule");
  EXPECT_EQ(LinesUnder(walk, kRuleEntry + "2."),
            TableTexts(tables + "Rules.xml", "Rule", "Description"));
  // clang-format off
  for (const auto& [record, column] : {std::pair{"Rule", ".1.3.1.1.1."}, {"RuleSet", ".1.3.3.1.1."},
       {"Event", ".1.3.6.1.1."}, {"Report", ".1.4.1.1.1."}, {"ReportSet", ".1.4.3.1.1."},
       {"Resource", ".1.5.1.1.1."}, {"Target", ".1.5.3.1.1."}}) {
    // clang-format on
    const auto names = TableTexts(tables + record + "s.xml", record);
    ASSERT_FALSE(names.empty()) << record;
    EXPECT_EQ(LinesUnder(walk, kRoot + column), names) << record << walk;
  }
  // GETs of the scalars and of missing rules and objects.
  EXPECT_EQ(Get({kAgentId, kLastSetMessage}),
            "." + kAgentId + " = STRING: \"Lorveth Threshold and Report Agent\"\n." +
                kLastSetMessage + " = STRING: \"No SET executed\"\n");
  const std::string missing = RuleColumn(kDescriptionColumn, "no-such-rule");
  const std::string v1 = Get({kAgentId, missing}, "1");
  EXPECT_NE(v1.find("(noSuchName)"), npos) << v1;
  EXPECT_NE(v1.find("Failed object: ." + missing), npos) << v1;
  const std::string missing_object = kRoot + ".1.9.9.0";
  const std::string v2 = Get({missing, kAgentId, missing_object});
  EXPECT_NE(v2.find("." + kAgentId + " = STRING: "), npos) << v2;
  EXPECT_NE(v2.find("." + missing_object + " = No Such Object"), npos) << v2;
  // A missing row is still an instance of an existing column; indexes whose
  // length does not match their bytes are answered too.
  const std::string instance = "No Such Instance currently exists at this OID\n";
  for (const auto& [index, answer] : std::vector<std::pair<std::string, std::string>>{
           {RuleIndex("no-such-rule"), instance},
           {RuleIndex("x"), instance},
           {RuleIndex("cpu-highest"), instance},
           {"200.99.112", "No Such "},
           {"0", "No Such "},
           {"3.99.112", "No Such "},
           {"1.300", "No Such "},
           {"4294967295.1", "No Such "},
           {"8.99.112.117.45.104.105.103.104.1", "No Such "}}) {
    const std::string column = kRuleEntry + "2." + index;
    EXPECT_NE(Get({column}).find(" = " + answer), npos) << index;
    const std::string next = Query("snmpgetnext", "2c", "public", {column});
    EXPECT_EQ(next.find("Timeout"), npos) << index << ": " << next;
  }
  const std::string bulk = Query("snmpbulkget", "2c", "public", {"-Cn0", "-Cr2147483647", kRoot});
  EXPECT_NE(bulk.find(kAgentId), npos) << bulk;
  // Walks running while a rule changes stay ordered and complete.
  const std::string description = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string status = RuleColumn(kRowStatusColumn, "cpu-high");
  const auto changes = [&] {
    for (int i = 0; i < 5; ++i) {
      SetOk({description, "s", "Changed " + std::to_string(i), status, "i", "1"});
    }
  };
  for (const std::string& concurrent : WalksDuring(changes)) {
    EXPECT_EQ(LinesUnder(concurrent, kRuleEntry + "1."), rule_names) << concurrent;
  }
  ExpectServed(description, "STRING: \"Changed 4\"");
  // SETs of every ASN.1 type to every column.
  const std::vector<std::pair<std::string, std::string>> values = {
      {"i", "7"},    {"u", "7"},    {"t", "7"},   {"a", "10.0.0.1"},    {"o", ".1.3.6"},
      {"s", "text"}, {"x", "00ff"}, {"d", "1.2"}, {"b", "1"},           {"U", "7"},
      {"I", "-7"},   {"F", "1.5"},  {"D", "2.5"}, {"i", "-2147483648"}, {"s", ""}};
  for (int column = 1; column <= kStorageTypeColumn; ++column) {
    for (const auto& [type, value] : values) {
      std::vector<std::string> args = {RuleColumn(column, "cpu-high"), type, value};
      if (column != kRowStatusColumn) args.insert(args.end(), {status, "i", "1"});
      const std::string answer = Query("snmpset", "2c", "private", args);
      ASSERT_EQ(answer.find("Timeout"), npos)
          << "column " << column << " " << type << " " << value << ": " << answer;
    }
  }
  pugi::xml_document rules;
  EXPECT_TRUE(rules.load_file((tables + "Rules.xml").c_str())) << ReadFile(tables + "Rules.xml");
  const std::string after = Query("snmpbulkwalk", "2c", "public", {kRoot});
  EXPECT_EQ(after.find("not increasing"), npos) << after;
}

// The demonstration reports record this machine's load: the index table shows
// their record numbers, the record table every record switchctl lists, in order.
TEST_F(SystemTest, WalksOfTheReportTablesShowTheRecordedValues) {
  ReplaceInTable("Reports.xml", "<Interval>5</Interval>", "<Interval>1</Interval>");
  ASSERT_TRUE(StartSystem());
  const std::vector<std::string> reports = {"cpu-history", "memory-history"};
  const auto recorded = [&](const std::string& report) {
    return Tool({kSwitchctl, "records", report, "--from", "3"}).exit_code == 0;
  };
  ASSERT_TRUE(WaitFor([&] { return std::ranges::all_of(reports, recorded); }, seconds(30)))
      << Tool({kSwitchctl, "reports"}).output;
  const std::string index_walk = Query("snmpwalk", "2c", "public", {kRoot + ".1.4.7"});
  const std::string record_walk = Query("snmpwalk", "2c", "public", {kRoot + ".1.4.8"});
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
    const CommandResult listing = Tool({kSwitchctl, "records", report});
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
      EXPECT_NE(value.find(" %\""), npos) << value;
    }
    for (size_t n = 1; n <= walked.size(); ++n) EXPECT_TRUE(walked.contains(std::to_string(n)));
  }
}

// A rule created, changed and destroyed by SETs, visible to GET and kept in its
// table file (owner and group only, whatever the umask); refusals change nothing.
TEST_F(SystemTest, SetsCreateChangeRefuseAndDestroyRules) {
  struct Umask {
    mode_t saved = umask(0);
    ~Umask() { umask(saved); }
  } open_umask;
  std::vector<std::string> env = env_;
  const std::string fresh = dir_.path() + "/fresh";
  env.push_back("LORVETH_STATE_DIR=" + fresh + "/state");
  env.push_back("LORVETH_RUNTIME_DIR=" + fresh + "/run");
  ASSERT_EQ(
      RunCommand({kReg, "add", "HKLM\\SOFTWARE\\Modes", "/v", "x", "/d", "y", "/f"}, env).exit_code,
      0);
  ASSERT_TRUE(StartSystem());
  const std::string rules_file = state_dir_ + "/switchd/Rules.xml";
  const std::string rule = "e2e-rule";
  const std::string description = RuleColumn(kDescriptionColumn, rule);
  const std::string status = RuleColumn(kRowStatusColumn, rule);
  SetOk({description, "s", "Made by the test", status, "i", "4"});
  ExpectServed(description, "STRING: \"Made by the test\"");
  ExpectServed(RuleColumn(kNameColumn, rule), "STRING: \"" + rule + "\"");
  EXPECT_EQ(Get({kLastSetMessage}), "." + kLastSetMessage + " = STRING: \"No SET executed\"\n");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(rules_file.c_str()));
  const auto stored = document.select_node("//Rule[@Name='e2e-rule']/Description");
  EXPECT_STREQ(stored.node().text().get(), "Made by the test");
  for (const std::string& file : {fresh + "/state/registry.db", fresh + "/run/registry-volatile.db",
                                  rules_file, state_dir_ + "/switchd/records.db"}) {
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0660u) << file;
  }
  // The v3 user may set; a wrong key and the read-only community may not.
  const std::string v3 = V3("snmpset", {description, "s", "by the v3 user", status, "i", "1"});
  EXPECT_EQ(v3.find("Error"), npos) << v3;
  ExpectServed(description, "STRING: \"by the v3 user\"");
  const std::string wrong_key = V3("snmpget", {description}, "not-the-auth-pass");
  EXPECT_NE(wrong_key.find("Authentication failure"), npos) << wrong_key;
  const std::string reader =
      Query("snmpset", "2c", "public", {description, "s", "by the reader", status, "i", "1"});
  EXPECT_NE(reader.find("Reason: noAccess"), npos) << reader;
  const std::string interval = RuleColumn(kPollIntervalColumn, "cpu-high");
  const std::string storage = RuleColumn(kStorageTypeColumn, "cpu-high");
  const std::string cpu = RuleColumn(kDescriptionColumn, "cpu-high");
  const std::string cpu_status = RuleColumn(kRowStatusColumn, "cpu-high");
  const std::string ghost = RuleColumn(kDescriptionColumn, "ghost-rule");
  // clang-format off
  const struct {
    const char* label;
    const char* version;
    std::vector<std::string> args;
    std::vector<std::string> answers;  // what the answer holds
    std::string watched;               // served as before
    const char* absent;                // never in the table file
  } kRefusals[] = {
      {"zero poll interval", "2c", {interval, "i", "0", cpu_status, "i", "1"}, {"Reason: inconsistentValue", "Failed object: ." + interval}, interval, "<Interval>0</Interval>"},
      {"storage type", "2c", {storage, "i", "3", cpu_status, "i", "1"}, {"Reason: notWritable"}, storage, "Storage"},
      {"storage type, a v1 code", "1", {storage, "i", "3", cpu_status, "i", "1"}, {"Error in packet"}, storage, "Storage"},
      {"no row status", "2c", {cpu, "s", "no status"}, {"Error in packet"}, cpu, "no status"},
      {"create and go of an existing rule", "2c", {cpu, "s", "twice", cpu_status, "i", "4"}, {"Error in packet"}, cpu, "twice"},
      {"active on a missing rule", "2c", {ghost, "s", "ghost", RuleColumn(kRowStatusColumn, "ghost-rule"), "i", "1"}, {"Error in packet"}, ghost, "ghost-rule"},
  };
  // clang-format on
  for (const auto& c : kRefusals) {
    SCOPED_TRACE(c.label);
    const std::string before = Get({c.watched});
    const std::string out = Query("snmpset", c.version, "private", c.args);
    for (const std::string& answer : c.answers) EXPECT_NE(out.find(answer), npos) << out;
    EXPECT_EQ(Get({c.watched}), before);
    EXPECT_EQ(ReadFile(rules_file).find(c.absent), npos);
  }
  EXPECT_NE(Get({ghost}).find(" = No Such "), npos);
  // A wrong enumeration value is named by the last SET's message and not written;
  // SETs that change nothing keep the rule (a record naming only its row removes it).
  const std::string operator_column = RuleColumn(kOperatorColumn, rule);
  const std::string before = Get({operator_column});
  ASSERT_NE(before.find("INTEGER: "), npos) << before;
  SetOk({description, "s", "Changed by the test", operator_column, "i", "12", status, "i", "1"});
  EXPECT_EQ(Get({kLastSetMessage}),
            "." + kLastSetMessage + " = STRING: \"Wrong enum value in SetOperator!\"\n");
  ExpectServed(description, "STRING: \"Changed by the test\"");
  EXPECT_EQ(Get({operator_column}), before);
  for (const std::vector<std::string>& request : std::vector<std::vector<std::string>>{
           {operator_column, "i", "12", status, "i", "1"},
           {RuleColumn(kNameColumn, rule), "s", rule, status, "i", "1"},
           {status, "i", "1"}}) {
    SetOk(request);
    EXPECT_NE(ReadFile(rules_file).find("Changed by the test"), npos) << request.front();
  }
  // Destroy, here beside another column.
  SetOk({description, "s", "going", status, "i", "6"});
  ExpectServed(description, " = No Such ");
  EXPECT_EQ(ReadFile(rules_file).find(rule), npos);
}

// switchd puts a new record behind the last of its kind and warns of a table
// file whose records a foreign element splits (the agent reads up to it).
TEST_F(SystemTest, HandEditedTablesAndEmptiedSetsKeepTheirRecords) {
  const std::string rules_file = state_dir_ + "/switchd/Rules.xml";
  const std::string events_file = state_dir_ + "/switchd/Events.xml";
  ReplaceInTable("Rules.xml", "</Rules>", "<Note>kept by hand</Note>\n</Rules>");
  ReplaceInTable("Events.xml", "</Event>", "</Event><Remark/>");
  WriteFile(state_dir_ + "/switchd/RuleSets.xml",
            "<RuleSets><RuleSet Name=\"bare\"><Rule Name=\"cpu-high\"/></RuleSet></RuleSets>");
  ASSERT_TRUE(StartSystem());
  const CommandResult status = Tool({kSwitchctl, "status"});
  EXPECT_NE(status.output.find(" name \"Lorveth_Agent\" "), npos) << status.output;
  EXPECT_EQ(ReadFile(TraceFile()).find("Could not get a valid module name"), npos);
  const std::string log = ReadFile(dir_.path() + "/switchd.log");
  EXPECT_NE(log.find(events_file + ": the element <Remark>"), npos) << log;
  EXPECT_EQ(log.find(rules_file), npos) << "a foreign element at the end is harmless";
  const std::string description = RuleColumn(kDescriptionColumn, "after-note");
  SetOk({description, "s", "seen", RuleColumn(kRowStatusColumn, "after-note"), "i", "4"});
  ExpectServed(description, "STRING: \"seen\"");
  EXPECT_NE(ReadFile(rules_file).find("<Note>kept by hand</Note>"), npos);
  // The same warning when an edited file is reloaded.
  const std::string targets_file = state_dir_ + "/switchd/Targets.xml";
  ReplaceInTable("Targets.xml", "</Targets>",
                 "<Aside/><Target Name=\"last\">10.0.0.1</Target></Targets>");
  const CommandResult reload = Tool({kSwitchctl, "reload"});
  EXPECT_EQ(reload.exit_code, 0) << reload.output;
  EXPECT_NE(reload.output.find("warning " + targets_file + ": the element <Aside>"), npos)
      << reload.output;
  // Removing the last member of a set must not remove the set.
  const std::string contents = kRoot + ".1.3.4.1.";
  const std::string member = "." + RuleIndex("bare") + ".1";
  SetOk({contents + "2" + member, "s", "cpu-high", contents + "3" + member, "i", "6"});
  pugi::xml_document sets;
  ASSERT_TRUE(sets.load_file((state_dir_ + "/switchd/RuleSets.xml").c_str()));
  const pugi::xml_node bare =
      sets.child("RuleSets").find_child_by_attribute("RuleSet", "Name", "bare");
  ASSERT_TRUE(bare) << ReadFile(state_dir_ + "/switchd/RuleSets.xml");
  EXPECT_FALSE(bare.child("Rule"));
  ExpectServed(contents + "2" + member, " = No Such ");
  EXPECT_NE(Get({kRoot + ".1.3.3.1.1." + RuleIndex("bare")}).find("\"bare\""), npos);
  // A member of a set that switchd does not hold: nothing to remove, no error.
  const std::string ghost = "." + RuleIndex("ghost") + ".1";
  SetOk({contents + "2" + ghost, "s", "cpu-high", contents + "3" + ghost, "i", "6"});
  EXPECT_TRUE(sets.load_file((state_dir_ + "/switchd/RuleSets.xml").c_str()));
  EXPECT_TRUE(sets.child("RuleSets").find_child_by_attribute("RuleSet", "Name", "bare"));
}

// A rule on a value of an snmpd: above 50 the alarm, back below it the return to
// normal, each trap with its value and the rule's comment, in v1 and v2c form.
TEST_F(SystemTest, RuleOnAnSnmpValueFiresAndClearsWithAlternating) {
  const std::string oid = ".1.3.6.1.4.1.32473.9.1.0";
  const std::string agent = "127.0.0.1:" + std::to_string(test_support::FreeUdpPort());
  const std::string conf = dir_.path() + "/remote-snmpd.conf";
  WriteFile(conf, "agentaddress udp:" + agent +
                      "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
                      "override -rw " +
                      oid + " integer 5\n");
  const auto remote =
      ChildProcess::Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", conf, "-I", "-smux"}, env_,
                          dir_.path() + "/remote-snmpd.log");
  ASSERT_NE(remote, nullptr);
  const auto set_value = [&](int value) {
    return Tool({"snmpset", "-m", "", "-v2c", "-c", "private", "-t", "2", "-r", "1", agent, oid,
                 "i", std::to_string(value)})
        .output;
  };
  ASSERT_TRUE(WaitFor([&] { return set_value(5).find("INTEGER: 5") != npos; }, seconds(10)))
      << ReadFile(dir_.path() + "/remote-snmpd.log");
  const std::string tables = state_dir_ + "/switchd";
  WriteFile(tables + "/Resources.xml",
            "<Resources><Resource Name=\"remote\"><Request Type=\"snmp\">" + oid +
                "</Request></Resource></Resources>");
  WriteFile(tables + "/Targets.xml",
            "<Targets><Target Name=\"agent\">" + agent + "</Target></Targets>");
  WriteFile(tables + "/Events.xml",
            "<Events><Event Name=\"minor\"><Type>snmp-trap</Type><Severity>minor</Severity>"
            "</Event></Events>");
  WriteFile(tables + "/Rules.xml",
            "<Rules><Rule Name=\"remote-high\"><Comment>made by the test</Comment>"
            "<Interval>1</Interval><Resource Name=\"remote\"/><Target Name=\"agent\"/>"
            "<Threshold Operator=\"greater\" Value=\"50\"/>"
            "<Event Name=\"minor\" Control=\"single-shot\" Alternating=\"true\"/></Rule></Rules>");
  WriteFile(tables + "/RuleSets.xml",
            "<RuleSets><RuleSet Name=\"watch\"><Rule Name=\"remote-high\"/></RuleSet></RuleSets>");
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  const auto rules = [&] { return Tool({kSwitchctl, "rules", "--json"}).output; };
  ASSERT_TRUE(WaitFor(
      [&] {
        return rules().find(
                   "\"state\":\"waiting\",\"holding\":0,\"needed\":1,"
                   "\"violated_since\":null,\"value\":\"5\"") != npos;
      },
      seconds(20)))
      << rules();
  const auto count = [&](const std::string& text) {
    const std::string log = ReadFile(TrapLog());
    size_t n = 0;
    for (size_t at = log.find(text); at != npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  for (const auto& crossing : {std::pair{"90", "2202"}, {"10", "2203"}}) {
    const std::string value = crossing.first, number = crossing.second;
    set_value(std::stoi(value));
    EXPECT_TRUE(
        WaitFor([&] { return count("." + kTrapObjects + "4.0 = STRING: \"" + value + "\"") == 2; },
                seconds(20)))
        << ReadFile(TrapLog()) << rules();
    EXPECT_EQ(count(".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + kRoot + ".2.0." + number), 1u);
    EXPECT_EQ(count("." + kRoot + ".2 Enterprise Specific Trap (" + number + ")"), 1u);
    if (number == "2202") {
      EXPECT_NE(Tool({kSwitchctl, "rules"}).output.find("violated since"), npos) << rules();
      EXPECT_NE(Get({kRoot + ".1.2.2.0"}).find("INTEGER: 3"), npos);
    }
  }
  EXPECT_NE(count(".1.3.6.1.6.3.1.1.4.3.0 = OID: ." + kRoot + ".2\n"), 0u);
  for (int object = 1; object <= 5; ++object) {
    EXPECT_EQ(count("." + kTrapObjects + std::to_string(object) + ".0 = "), 4u) << object;
  }
  const std::string log = ReadFile(TrapLog());
  EXPECT_NE(log.find("." + kTrapObjects + "3.0 = STRING: \"remote-high\""), npos) << log;
  EXPECT_NE(log.find("." + kTrapObjects + "5.0 = STRING: \"made by the test\""), npos) << log;
}

}  // namespace
}  // namespace e2e
