// SET requests on the configuration tables, driven through the entry points of
// the test library: what reaches the fake threshold module (the one store
// command and its document), the SNMP answer, the trace and the last SET
// result message.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;
using threshold_test::VarBinds;
using threshold_test::WithName;
using Bytes = std::vector<unsigned char>;

constexpr unsigned kStoreCommand = 0xE002;
constexpr unsigned kRuleSetFetch = 0x2202;
constexpr unsigned kReportSetFetch = 0x2211;

// Table OIDs below the root.
constexpr const char* kRules = "1.3.1";
constexpr const char* kRuleSets = "1.3.3";
constexpr const char* kRuleSetContents = "1.3.4";
constexpr const char* kEvents = "1.3.6";
constexpr const char* kResources = "1.5.1";
constexpr const char* kTargets = "1.5.3";
constexpr const char* kReports = "1.4.1";
constexpr const char* kReportSets = "1.4.3";
constexpr const char* kReportSetContents = "1.4.5";

constexpr const char* kRuleSetRs =
    "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/><Rule Name=\"disk\"/>"
    "<Status>enable</Status></RuleSet>";
constexpr const char* kReportSetPs =
    "<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/></ReportSet>";

// The markup writes every element it adds on a line of its own.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// A table document holding one rule with the lines given.
std::string Rule(const std::string& name, const std::vector<std::string>& lines) {
  std::vector<std::string> all = {"<Rules>", "<Rule Name=\"" + name + "\">"};
  all.insert(all.end(), lines.begin(), lines.end());
  all.push_back("</Rule>");
  all.push_back("</Rules>");
  return Lines(all);
}

Bytes TextData(const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

struct Answer {
  BOOL result = FALSE;
  AsnInteger32 status = -1;
  AsnInteger32 index = -1;
};

class ExecuteSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_.Load();
    lib_.set_table(0x311,
                   "<Rules><Rule Name=\"cpu\"><Description>old</Description></Rule></Rules>");
    lib_.set_table(0x310, (std::string("<RuleSets>") + kRuleSetRs + "</RuleSets>").c_str());
    lib_.set_table(0x314, "<Events><Event Name=\"ev\"><Type>snmp-trap</Type></Event></Events>");
    lib_.set_table(0x312, "<Resources><Resource Name=\"res\"/></Resources>");
    lib_.set_table(0x313, "<Targets><Target Name=\"tg\">10.0.0.1</Target></Targets>");
    lib_.set_table(0x321, "<Reports><Report Name=\"rep\"/></Reports>");
    lib_.set_table(0x320, (std::string("<ReportSets>") + kReportSetPs + "</ReportSets>").c_str());
    ASSERT_TRUE(lib_.Start());
    lib_.capture_trace(1);
    first_frame_ = lib_.frame_count();
  }

  // root.<table>.1.<column>.<name>[.<member>]
  Oid Column(const char* table, UINT column, const std::string& name,
             std::optional<UINT> member = std::nullopt) {
    Oid oid = WithName(lib_.At(std::string(table) + ".1." + std::to_string(column)), name);
    if (member) oid.push_back(*member);
    return oid;
  }

  Answer Set(VarBinds& vbs) {
    Answer answer;
    answer.status = 0;
    answer.index = 0;
    answer.result = lib_.query(SNMP_PDU_SET, vbs.Get(), &answer.status, &answer.index);
    return answer;
  }

  // The store commands sent since the test began.
  std::vector<ThresholdLibrary::FrameInfo> Stores() {
    std::vector<ThresholdLibrary::FrameInfo> stores;
    for (auto& frame : lib_.Frames(first_frame_)) {
      if (frame.oc == kStoreCommand) stores.push_back(std::move(frame));
    }
    return stores;
  }
  // The one document stored; "" (and a test failure) unless exactly one was.
  std::string StoredDocument() {
    const auto stores = Stores();
    EXPECT_EQ(stores.size(), 1u);
    if (stores.size() != 1 || stores[0].data.empty()) return {};
    EXPECT_EQ(stores[0].data.back(), 0) << "the document goes with its terminating zero";
    return std::string(stores[0].data.begin(), stores[0].data.end() - 1);
  }
  size_t FetchCount(unsigned oc) {
    size_t count = 0;
    for (const auto& frame : lib_.Frames(first_frame_)) count += frame.oc == oc ? 1 : 0;
    return count;
  }

  std::string LastSetResultByGet() { return lib_.Get(lib_.At("1.2.4.0")); }

  bool Traced(const std::string& text, unsigned level) {
    return lib_.TraceLevel("\nLORVETH_AGENT       :  ExecuteSET(): " + text) == level;
  }
  bool TracedRaw(const std::string& text, unsigned level) { return lib_.TraceLevel(text) == level; }

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

// --- Every writable column writes its item into the record

struct ColumnCase {
  const char* table;
  UINT column;
  std::optional<int32_t> number;  // else the text
  const char* text;
  // The lines of the record between its start and end tags.
  std::vector<std::string> record_lines;
};

void PrintTo(const ColumnCase& c, std::ostream* os) { *os << c.table << ".1." << c.column; }

// What the tests need to know of a table besides its columns.
struct TableFacts {
  const char* table;
  unsigned code;
  UINT row_status_column;
  const char* container;
  const char* record;
  bool is_set;  // createAndGo also writes the set's status
};

constexpr TableFacts kTableFacts[] = {
    {kRules, 0x311, 23, "Rules", "Rule", false},
    {kRuleSets, 0x310, 6, "RuleSets", "RuleSet", true},
    {kEvents, 0x314, 4, "Events", "Event", false},
    {kResources, 0x312, 7, "Resources", "Resource", false},
    {kTargets, 0x313, 3, "Targets", "Target", false},
    {kReports, 0x321, 12, "Reports", "Report", false},
    {kReportSets, 0x320, 7, "ReportSets", "ReportSet", true},
};

const TableFacts& FactsOf(const char* table) {
  for (const TableFacts& facts : kTableFacts) {
    if (std::string(facts.table) == table) return facts;
  }
  throw std::invalid_argument(table);
}

class WritableColumnTest : public ExecuteSetTest,
                           public ::testing::WithParamInterface<ColumnCase> {};

TEST_P(WritableColumnTest, CreateAndGoSendsTheColumnInTheRecordOfItsTable) {
  const ColumnCase& c = GetParam();
  const TableFacts& facts = FactsOf(c.table);
  VarBinds vbs;
  if (c.number) {
    vbs.AddInteger(Column(c.table, c.column, "new"), *c.number);
  } else {
    vbs.AddText(Column(c.table, c.column, "new"), c.text);
  }
  vbs.AddInteger(Column(c.table, facts.row_status_column, "new"), 4);

  const Answer answer = Set(vbs);
  EXPECT_TRUE(answer.result);
  EXPECT_EQ(answer.status, 0);
  std::vector<std::string> lines = {std::string("<") + facts.container + ">",
                                    std::string("<") + facts.record + " Name=\"new\">"};
  lines.insert(lines.end(), c.record_lines.begin(), c.record_lines.end());
  if (facts.is_set) lines.push_back("<Status>enable</Status>");
  lines.push_back(std::string("</") + facts.record + ">");
  lines.push_back(std::string("</") + facts.container + ">");
  EXPECT_EQ(StoredDocument(), Lines(lines));
  const auto stores = Stores();
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(stores[0].oe, facts.code);
  EXPECT_EQ(stores[0].oid, 0u);
  EXPECT_EQ(stores[0].cabid, 0xFFFFFFFFu);
  EXPECT_EQ(stores[0].stat, 19u);
}

constexpr std::nullopt_t kText = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Rules, WritableColumnTest,
    ::testing::Values(
        ColumnCase{kRules, 2, kText, "High load", {"<Description>High load</Description>"}},
        ColumnCase{kRules, 3, kText, "a < b & c", {"<Comment>a &lt; b &amp; c</Comment>"}},
        ColumnCase{kRules, 4, kText, "help", {"<HelpText>help</HelpText>"}},
        ColumnCase{kRules, 5, 30, "", {"<Interval>30</Interval>"}},
        ColumnCase{kRules, 6, kText, "cpuload", {"<Resource Name=\"cpuload\"/>"}},
        ColumnCase{kRules, 7, 2, "", {"<Instances Monitor=\"average\"/>"}},
        ColumnCase{
            kRules, 8, kText, "1,2", {"<Instances>", "<Indexes>1,2</Indexes>", "</Instances>"}},
        ColumnCase{
            kRules, 9, kText, "eth*", {"<Instances>", "<Names>eth*</Names>", "</Instances>"}},
        ColumnCase{kRules, 10, kText, "tg", {"<Target Name=\"tg\"/>"}},
        ColumnCase{kRules, 11, 3, "", {"<Threshold Type=\"delta-inc\"/>"}},
        ColumnCase{kRules, 12, 3, "", {"<Threshold Valuation=\"average-muted\"/>"}},
        ColumnCase{kRules, 13, 0, "", {"<WatchPeriod>0</WatchPeriod>"}},
        ColumnCase{kRules, 14, 11, "", {"<Threshold Operator=\"exist-change\"/>"}},
        ColumnCase{kRules, 15, INT_MIN, "", {"<Threshold Value=\"-2147483648\"/>"}},
        ColumnCase{kRules, 16, -5, "", {"<Threshold RangeMin=\"-5\"/>"}},
        ColumnCase{kRules, 17, INT_MAX, "", {"<Threshold RangeMax=\"2147483647\"/>"}},
        ColumnCase{kRules, 18, 3, "", {"<OccurenceCount>3</OccurenceCount>"}},
        ColumnCase{kRules, 19, kText, "ev", {"<Event Name=\"ev\"/>"}},
        ColumnCase{kRules, 20, 3, "", {"<Event Control=\"continuous-with-delay\"/>"}},
        ColumnCase{kRules, 21, 60, "", {"<Event Delay=\"60\"/>"}},
        ColumnCase{kRules, 22, 2, "", {"<Event Alternating=\"true\"/>"}},
        ColumnCase{
            kRules, 27, 5, "", {"<Performance>", "<Status>critical</Status>", "</Performance>"}}));

INSTANTIATE_TEST_SUITE_P(
    RuleSets, WritableColumnTest,
    ::testing::Values(
        ColumnCase{kRuleSets, 2, kText, "nightly", {"<Description>nightly</Description>"}},
        ColumnCase{kRuleSets, 3, 90, "", {"<Schedule Start=\"01:30\"/>"}},
        ColumnCase{kRuleSets, 4, 1440, "", {"<Schedule Stop=\"24:00\"/>"}}));

INSTANTIATE_TEST_SUITE_P(
    Events, WritableColumnTest,
    ::testing::Values(ColumnCase{kEvents, 2, 1, "", {"<Type>snmp-trap</Type>"}},
                      ColumnCase{kEvents, 3, 2, "", {"<Severity>major</Severity>"}}));

INSTANTIATE_TEST_SUITE_P(
    Resources, WritableColumnTest,
    ::testing::Values(
        ColumnCase{kResources, 2, kText, "load", {"<Description>load</Description>"}},
        ColumnCase{kResources, 3, kText, "help", {"<HelpText>help</HelpText>"}},
        ColumnCase{kResources, 4, 3, "", {"<Request Type=\"registry\"/>"}},
        ColumnCase{kResources, 5, kText, "1.3.6.1.2", {"<Request>1.3.6.1.2</Request>"}},
        ColumnCase{kResources, 6, kText, "names", {"<InstNameReq>names</InstNameReq>"}},
        ColumnCase{kResources, 9, kText, "%", {"<Unit>%</Unit>"}},
        ColumnCase{kResources, 10, kText, "box", {"<ContainerName>box</ContainerName>"}},
        ColumnCase{kResources, 11, kText, "grp", {"<Group>grp</Group>"}}));

TEST_F(ExecuteSetTest, TargetAddressIsTheTextOfTheTargetElement) {
  VarBinds vbs;
  vbs.AddText(Column(kTargets, 2, "new"), "10.1.2.3");
  vbs.AddInteger(Column(kTargets, 3, "new"), 4);
  ASSERT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<Targets>", "<Target Name=\"new\">10.1.2.3</Target>", "</Targets>"}));
  const auto stores = Stores();
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(stores[0].oe, 0x313u);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, WritableColumnTest,
    ::testing::Values(
        ColumnCase{kReports, 2, kText, "daily", {"<Description>daily</Description>"}},
        ColumnCase{kReports, 3, kText, "note", {"<Comment>note</Comment>"}},
        ColumnCase{kReports, 4, kText, "help", {"<HelpText>help</HelpText>"}},
        ColumnCase{kReports, 5, 1, "", {"<Interval>1</Interval>"}},
        ColumnCase{kReports, 6, 0, "", {"<MaxEntries>0</MaxEntries>"}},
        ColumnCase{kReports, 7, kText, "disk", {"<Resource Name=\"disk\"/>"}},
        ColumnCase{kReports, 8, 1, "", {"<Instances Monitor=\"any\"/>"}},
        ColumnCase{
            kReports, 9, kText, "3", {"<Instances>", "<Indexes>3</Indexes>", "</Instances>"}},
        ColumnCase{
            kReports, 10, kText, "sd?", {"<Instances>", "<Names>sd?</Names>", "</Instances>"}},
        ColumnCase{kReports, 11, kText, "tg", {"<Target Name=\"tg\"/>"}}));

INSTANTIATE_TEST_SUITE_P(
    ReportSets, WritableColumnTest,
    ::testing::Values(
        ColumnCase{kReportSets, 2, kText, "weekly", {"<Description>weekly</Description>"}},
        ColumnCase{kReportSets, 3, 0, "", {"<StartTime>00:00</StartTime>"}},
        ColumnCase{kReportSets, 4, 605, "", {"<StopTime>10:05</StopTime>"}},
        // 2006-01-02 23:59:59 UTC: the date alone is stored.
        ColumnCase{kReportSets, 5, 1136246399, "", {"<RecordingEnd>01/02/2006</RecordingEnd>"}}));

TEST_F(ExecuteSetTest, StoreTraceNamesTheColumnAndItsWriter) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 14, "cpu"), 5);
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  ASSERT_EQ(Set(vbs).status, 0);
  const std::string column = threshold_test::OidText(lib_.At("1.3.1.1.14"));
  EXPECT_TRUE(Traced("Store object " + column + " with SetOperator", 3));
  EXPECT_TRUE(Traced("First object - save index (cpu) and create XML doc", 3));
  EXPECT_TRUE(Traced("No error in SET, check row status 1...", 3));
  EXPECT_TRUE(TracedRaw("\nLORVETH_AGENT       : --> Modify row \"cpu\", make active", 2));
  EXPECT_TRUE(Traced("RowStatus OK, send config to VARN threshold module...", 3));
  EXPECT_TRUE(
      TracedRaw("\nLORVETH_AGENT       : ExecuteSET(): VARN request status = Success (MIB update "
                "by VARN event)",
                3));
  EXPECT_TRUE(Traced("End ", 1));
}

TEST_F(ExecuteSetTest, ReportDescriptionStoreTraceCarriesNoObject) {
  VarBinds vbs;
  vbs.AddText(Column(kReports, 2, "rep"), "d");
  vbs.AddInteger(Column(kReports, 12, "rep"), 1);
  ASSERT_EQ(Set(vbs).status, 0);
  EXPECT_TRUE(Traced("Store object", 3));
}

TEST_F(ExecuteSetTest, RecordingEndTracesTheUtcTimeOnceAndStoresTheDate) {
  VarBinds create;
  create.AddInteger(Column(kReportSets, 5, "fresh"), 1136246399);
  create.AddInteger(Column(kReportSets, 7, "fresh"), 5);
  ASSERT_EQ(Set(create).status, 0);
  int gmt_lines = 0;
  for (const auto& line : lib_.TraceLines())
    gmt_lines += line.text == "\n GMT:   01/02/2006 23:59:59";
  EXPECT_EQ(gmt_lines, 1);
  EXPECT_EQ(StoredDocument(), Lines({"<ReportSets>", "<ReportSet Name=\"fresh\">",
                                     "<RecordingEnd>01/02/2006</RecordingEnd>",
                                     "<Status>disable</Status>", "</ReportSet>", "</ReportSets>"}));
}

// --- RowStatus values per table

struct RowStatusCase {
  const char* table;
  UINT row_status_column;
  int32_t value;
  bool accepted;
};

void PrintTo(const RowStatusCase& c, std::ostream* os) {
  *os << c.table << " RowStatus " << c.value;
}

class RowStatusTest : public ExecuteSetTest, public ::testing::WithParamInterface<RowStatusCase> {
 protected:
  // A companion varbind that makes a create meaningful: a writable column of
  // the table (the member name in the contents tables).
  void AddCompanion(VarBinds& vbs, const char* table, const std::string& name) {
    const std::string t = table;
    if (t == kEvents) {
      vbs.AddInteger(Column(table, 3, name), 1);
    } else if (t == kRuleSetContents) {
      vbs.AddText(Column(table, 2, name), "mem");
    } else if (t == kReportSetContents) {
      vbs.AddText(Column(table, 2, name), "mem");
    } else {
      vbs.AddText(Column(table, 2, name), "text");
    }
  }
};

TEST_P(RowStatusTest, ValueIsAcceptedOnlyWhereTheTableAllowsIt) {
  const RowStatusCase& c = GetParam();
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  lib_.SetReply(kReportSetFetch, "ps", TextData(kReportSetPs));
  const std::string t = c.table;
  const bool creates = c.value == 4 || c.value == 5;
  std::string name = creates ? "new" : "cpu";
  if (t == kEvents) name = creates ? "new" : "ev";
  if (t == kResources) name = creates ? "new" : "res";
  if (t == kTargets) name = creates ? "new" : "tg";
  if (t == kReports) name = creates ? "new" : "rep";
  if (t == kRuleSets) name = creates ? "new" : "rs";
  if (t == kReportSets) name = creates ? "new" : "ps";
  if (t == kRuleSetContents) name = "rs";
  if (t == kReportSetContents) name = "ps";

  VarBinds vbs;
  AddCompanion(vbs, c.table, name);
  vbs.AddInteger(Column(c.table, c.row_status_column, name), c.value);
  const Answer answer = Set(vbs);
  if (c.accepted) {
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(Stores().size(), 1u);
  } else {
    EXPECT_EQ(answer.status, 12);
    EXPECT_EQ(answer.index, 2) << "the RowStatus varbind";
    EXPECT_TRUE(Stores().empty());
  }
}

std::vector<RowStatusCase> AllRowStatusCases() {
  struct TableRule {
    const char* table;
    UINT column;
    std::vector<int32_t> accepted;
  };
  const TableRule tables[] = {
      {kRules, 23, {1, 4, 6}},           {kEvents, 4, {1, 4, 6}},
      {kResources, 7, {1, 4, 6}},        {kTargets, 3, {1, 4, 6}},
      {kReports, 12, {1, 4, 6}},         {kRuleSets, 6, {1, 2, 4, 5, 6}},
      {kReportSets, 7, {1, 2, 4, 5, 6}}, {kRuleSetContents, 3, {4, 6}},
      {kReportSetContents, 3, {4, 6}},
  };
  std::vector<RowStatusCase> cases;
  for (const TableRule& table : tables) {
    for (int32_t value : {0, 1, 2, 3, 4, 5, 6, 7, -1}) {
      const bool accepted =
          std::find(table.accepted.begin(), table.accepted.end(), value) != table.accepted.end();
      cases.push_back({table.table, table.column, value, accepted});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllTables, RowStatusTest, ::testing::ValuesIn(AllRowStatusCases()));

TEST_F(ExecuteSetTest, IllegalRowStatusIsTracedWithItsValue) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 23, "cpu"), 2);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Traced("## ERROR! Illegal RowStatus SET value (2)!", 1));
}

// --- Ranges

struct RangeCase {
  const char* table;
  UINT column;
  UINT row_status_column;
  int32_t value;
  bool accepted;
  const char* trace;  // the range trace of a refused value
};

void PrintTo(const RangeCase& c, std::ostream* os) {
  *os << c.table << ".1." << c.column << " = " << c.value;
}

class RangeTest : public ExecuteSetTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, ValueAtTheBoundIsAcceptedAndPastItRefusedWithInconsistentValue) {
  const RangeCase& c = GetParam();
  VarBinds vbs;
  vbs.AddText(Column(c.table, 2, "new"), "x");
  vbs.AddInteger(Column(c.table, c.column, "new"), c.value);
  vbs.AddInteger(Column(c.table, c.row_status_column, "new"), 4);
  const Answer answer = Set(vbs);
  if (c.accepted) {
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(Stores().size(), 1u);
  } else {
    EXPECT_EQ(answer.status, 12);
    EXPECT_EQ(answer.index, 2);
    EXPECT_TRUE(Stores().empty());
    EXPECT_TRUE(Traced(c.trace, 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, RangeTest,
    ::testing::Values(
        RangeCase{kRules, 5, 23, 0, false, "## ERROR Value 0 not in range(1,2147483647)"},
        RangeCase{kRules, 5, 23, 1, true, ""}, RangeCase{kRules, 5, 23, INT_MAX, true, ""},
        RangeCase{kRules, 5, 23, INT_MIN, false,
                  "## ERROR Value -2147483648 not in range(1,2147483647)"},
        RangeCase{kRules, 13, 23, -1, false, "## ERROR Value -1 not in range(0,2147483647)"},
        RangeCase{kRules, 13, 23, 0, true, ""},
        RangeCase{kRules, 18, 23, -1, false, "## ERROR Value -1 not in range(0,2147483647)"},
        RangeCase{kRules, 21, 23, -1, false, "## ERROR Value -1 not in range(0,2147483647)"},
        RangeCase{kRules, 15, 23, INT_MIN, true, ""}, RangeCase{kRules, 16, 23, INT_MAX, true, ""},
        RangeCase{kReports, 5, 12, 0, false, "## ERROR Value 0 not in range(1,2147483647)"},
        RangeCase{kReports, 6, 12, -1, false, "## ERROR Value -1 not in range(0,2147483647)"},
        RangeCase{kReports, 6, 12, 0, true, ""}, RangeCase{kRuleSets, 3, 6, 1440, true, ""},
        RangeCase{kRuleSets, 3, 6, 1441, false, "## ERROR Value 1441 not in range(0,1440)"},
        RangeCase{kRuleSets, 4, 6, -1, false, "## ERROR Value -1 not in range(0,1440)"},
        RangeCase{kRuleSets, 4, 6, 0, true, ""},
        RangeCase{kReportSets, 3, 7, 1441, false, "## ERROR Value 1441 not in range(0,1440)"},
        RangeCase{kReportSets, 4, 7, 1440, true, ""},
        RangeCase{kReportSets, 4, 7, -1, false, "## ERROR Value -1 not in range(0,1440)"}));

TEST_F(ExecuteSetTest, NumberColumnGivenAnOctetStringIsTakenAsZero) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 5, "cpu"), "30");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(vbs).status, 12);
  EXPECT_TRUE(Traced("## ERROR Value 0 not in range(1,2147483647)", 1));

  VarBinds any;
  any.AddText(Column(kRules, 15, "cpu"), "30");
  any.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(any).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Threshold Value=\"0\"/>"}));
}

TEST_F(ExecuteSetTest, NumberColumnAcceptsCounterGaugeAndTimeTicks) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 5, "cpu"), 7).value.asnType = ASN_COUNTER32;
  vbs.AddInteger(Column(kRules, 13, "cpu"), 8).value.asnType = ASN_GAUGE32;
  vbs.AddInteger(Column(kRules, 18, "cpu"), 9).value.asnType = ASN_TIMETICKS;
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  ASSERT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Interval>7</Interval>", "<WatchPeriod>8</WatchPeriod>",
                                           "<OccurenceCount>9</OccurenceCount>"}));
}

TEST_F(ExecuteSetTest, TextColumnGivenAnIntegerWritesTheTypeMismatchText) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 2, "cpu"), 5);
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  ASSERT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Rule("cpu", {"<Description>&lt;&lt;GetString type mismatch&gt;&gt;</Description>"}));
}

// --- Enumerations outside their lists

struct EnumCase {
  const char* table;
  UINT column;
  UINT row_status_column;
  const char* row;
  int32_t value;
  const char* message;
  std::string document;  // what is sent; "" for nothing
};

void PrintTo(const EnumCase& c, std::ostream* os) {
  *os << c.table << ".1." << c.column << " = " << c.value;
}

class EnumerationTest : public ExecuteSetTest, public ::testing::WithParamInterface<EnumCase> {};

TEST_P(EnumerationTest, ValueOutsideIsNoErrorButLeavesTheWritersMessage) {
  const EnumCase& c = GetParam();
  VarBinds vbs;
  vbs.AddInteger(Column(c.table, c.column, c.row), c.value);
  vbs.AddInteger(Column(c.table, c.row_status_column, c.row), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 0);
  if (c.document.empty()) {
    EXPECT_TRUE(Stores().empty());
  } else {
    EXPECT_EQ(StoredDocument(), c.document);
  }
  EXPECT_EQ(lib_.LastSetResult(), c.message);
  EXPECT_EQ(LastSetResultByGet(), std::string("STRING ") + c.message);
  EXPECT_TRUE(Traced(std::string("## ERROR! ") + c.message, 1));
}

// A record that names only its row would remove the row: nothing is sent.
const std::string kNothingSent;

INSTANTIATE_TEST_SUITE_P(
    Writers, EnumerationTest,
    ::testing::Values(
        EnumCase{kRules, 7, 23, "cpu", 3, "Wrong enum value in SetInstMonitor!", kNothingSent},
        EnumCase{kRules, 11, 23, "cpu", 0, "Wrong enum value in SetValueType!", kNothingSent},
        EnumCase{kRules, 11, 23, "cpu", 5, "Wrong enum value in SetValueType!", kNothingSent},
        EnumCase{kRules, 12, 23, "cpu", 4, "Wrong enum value in SetRuleValuation!", kNothingSent},
        EnumCase{kRules, 14, 23, "cpu", 12, "Wrong enum value in SetOperator!", kNothingSent},
        EnumCase{kRules, 14, 23, "cpu", INT_MIN, "Wrong enum value in SetOperator!", kNothingSent},
        EnumCase{kRules, 20, 23, "cpu", 4, "Wrong enum value in SetEventControl!", kNothingSent},
        EnumCase{kRules, 22, 23, "cpu", 3, "Wrong enum value in SetEventAlternating!",
                 kNothingSent},
        EnumCase{kRules, 27, 23, "cpu", 6, "Wrong enum value in SetPerformanceStatusSeverity!",
                 kNothingSent},
        EnumCase{kReports, 8, 12, "rep", -1, "Wrong enum value in SetInstMonitor!", kNothingSent},
        EnumCase{kResources, 4, 7, "res", 4, "Wrong enum value in SetReqType!", kNothingSent},
        // These two writers still write a text for a value outside.
        EnumCase{kEvents, 2, 4, "ev", 2, "Wrong enum value in SetType!",
                 Lines({"<Events>", "<Event Name=\"ev\">", "<Type/>", "</Event>", "</Events>"})},
        EnumCase{kEvents, 3, 4, "ev", 7, "Wrong enum value in SetSeverity!",
                 Lines({"<Events>", "<Event Name=\"ev\">", "<Severity>informational</Severity>",
                        "</Event>", "</Events>"})}));

TEST_F(ExecuteSetTest, EnumerationOutsideCountsAsAStoredColumnForCreateYetNothingIsSent) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 14, "new"), 12);
  vbs.AddInteger(Column(kRules, 23, "new"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_TRUE(Stores().empty());
}

// A record that names only its row reads as the row's removal, so a request
// that leaves nothing to change sends nothing, once the row is known to exist.
TEST_F(ExecuteSetTest, ActiveThatChangesNothingSendsNothing) {
  struct Case {
    const char* what;
    const char* row;
    std::function<void(VarBinds&, const Oid&)> add;  // the varbind before the RowStatus
    AsnInteger32 status;
  };
  const Case cases[] = {
      {"RowStatus alone", "cpu", [](VarBinds&, const Oid&) {}, 0},
      {"the name column", "cpu", [](VarBinds& v, const Oid& name) { v.AddText(name, "cpu"); }, 0},
      {"RowStatus alone, missing row", "nope", [](VarBinds&, const Oid&) {}, 12},
  };
  for (const Case& c : cases) {
    VarBinds vbs;
    c.add(vbs, Column(kRules, 1, c.row));
    vbs.AddInteger(Column(kRules, 23, c.row), 1);
    EXPECT_EQ(Set(vbs).status, c.status) << c.what;
  }
  EXPECT_TRUE(Stores().empty());
  EXPECT_TRUE(
      Traced("Nothing to change in row \"cpu\", no config sent to VARN threshold module", 3));
}

TEST_F(ExecuteSetTest, SuccessfulSetLeavesTheLastResultMessageAsItWas) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  ASSERT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
}

// --- Report names

TEST_F(ExecuteSetTest, ReportNameWithSlashIsRefusedAsInconsistentNameAtTheFirstVarbind) {
  VarBinds vbs;
  vbs.AddText(Column(kReports, 2, "a/b"), "d");
  vbs.AddInteger(Column(kReports, 12, "a/b"), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 18);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Stores().empty());
  EXPECT_EQ(lib_.LastSetResult(), "ReportName contains bad character ('/\\|:*\"<>?')");
  EXPECT_TRUE(Traced("## ERROR! ReportName \"a/b\" contains bad character at 1", 1));
}

TEST_F(ExecuteSetTest, ReportNameTracesThePositionOfTheFirstBadCharacter) {
  for (const char bad : std::string("/\\|:*\"<>?")) {
    const std::string name = std::string("abc") + bad + "x?";
    VarBinds vbs;
    vbs.AddInteger(Column(kReports, 12, name), 4);
    EXPECT_EQ(Set(vbs).status, 18) << name;
    EXPECT_TRUE(Traced("## ERROR! ReportName \"" + name + "\" contains bad character at 3", 1))
        << name;
  }
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ReportNameIsCheckedOnlyWhenTheReportVarbindComesFirst) {
  // The rule varbind comes first: the report varbind joins the Rule record
  // (where its writer finds nothing to write) and the name is not checked.
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "a:b"), "d");
  vbs.AddText(Column(kReports, 3, "a:b"), "c");
  vbs.AddInteger(Column(kRules, 23, "a:b"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("a:b", {"<Description>d</Description>"}));
}

// --- The row and its RowStatus

TEST_F(ExecuteSetTest, RecordingEndZeroIsNotStoredSoCreateHasNoOtherObjects) {
  VarBinds vbs;
  vbs.AddInteger(Column(kReportSets, 5, "fresh"), 0);
  vbs.AddInteger(Column(kReportSets, 7, "fresh"), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(Stores().empty());
  const std::string column = threshold_test::OidText(lib_.At("1.4.3.1.5"));
  EXPECT_TRUE(
      Traced("Do not store object " + column + " with SetRecordingEndTime because value is 0", 3));
  EXPECT_TRUE(TracedRaw(
      "\nLORVETH_AGENT       : ## ERROR when creating row: no other objects in row provided!\n",
      1));
}

TEST_F(ExecuteSetTest, CreateAndGoWithOnlyTheRowStatusIsRefused) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 23, "new"), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, CreateAndGoOfALoadedRowIsRefused) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(
      TracedRaw("\nLORVETH_AGENT       : ## ERROR when creating row: row already exists!\n", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ActiveOfARowThatIsNotLoadedIsRefused) {
  VarBinds vbs;
  vbs.AddText(Column(kTargets, 2, "nope"), "1.2.3.4");
  vbs.AddInteger(Column(kTargets, 3, "nope"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(TracedRaw(
      "\nLORVETH_AGENT       : ## ERROR when activate/modify row: row does not exist!\n", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, RowEvaluationFailureReportsThePositionOfTheRowStatusVarbind) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 23, "nope"), 1);
  vbs.AddText(Column(kRules, 2, "nope"), "a");
  vbs.AddText(Column(kRules, 3, "nope"), "b");
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);

  VarBinds later;
  later.AddText(Column(kRules, 2, "nope"), "a");
  later.AddText(Column(kRules, 3, "nope"), "b");
  later.AddInteger(Column(kRules, 23, "nope"), 1);
  EXPECT_EQ(Set(later).index, 3);
}

TEST_F(ExecuteSetTest, MissingRowStatusIsRefusedAtTheFirstVarbind) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "a");
  vbs.AddText(Column(kRules, 3, "cpu"), "b");
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(
      TracedRaw("\nLORVETH_AGENT       : ## ERROR! Missing or illegal RowStatus in row!\n", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, TheLastRowStatusVarbindCounts) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 23, "cpu"), 4);
  vbs.AddText(Column(kRules, 2, "cpu"), "a");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Description>a</Description>"}));
}

TEST_F(ExecuteSetTest, DestroyOfAPlainRowSendsARecordWithOnlyItsName) {
  // Another column of the row does not turn the removal into a change.
  VarBinds vbs;
  vbs.AddInteger(Column(kEvents, 3, "ev"), 2);
  vbs.AddInteger(Column(kEvents, 4, "ev"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Lines({"<Events>", "<Event Name=\"ev\"/>", "</Events>"}));
  const auto stores = Stores();
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(stores[0].oe, 0x314u);
}

TEST_F(ExecuteSetTest, DestroyOfAnotherTablesRowJoinedToARecordDoesNotRemoveIt) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddInteger(Column(kEvents, 4, "cpu"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Description>d</Description>"}));
}

TEST_F(ExecuteSetTest, DestroyOfARowThatIsNotLoadedIsStillSent) {
  VarBinds vbs;
  vbs.AddInteger(Column(kTargets, 3, "ghost"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Lines({"<Targets>", "<Target Name=\"ghost\"/>", "</Targets>"}));
}

TEST_F(ExecuteSetTest, TwoColumnsOfOneRuleGoInOneStoreCommand) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "new text");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Description>new text</Description>"}));
}

TEST_F(ExecuteSetTest, IndexColumnIsNoObjectForCreate) {
  VarBinds create;
  create.AddText(Column(kRules, 1, "new"), "new");
  create.AddInteger(Column(kRules, 23, "new"), 4);
  EXPECT_EQ(Set(create).status, 12) << "the name column is no object of the row";
}

TEST_F(ExecuteSetTest, IndexColumnWithAnotherNameIsRefused) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddText(Column(kRules, 1, "cpu"), "cpu2");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(
      Traced("## ERROR! SET index 1 (cpu) does not match to index variable value (cpu2)!", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, TwoRowsInOneRequestAreRefusedAtTheSecondVarbind) {
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddText(Column(kRules, 2, "cpux"), "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_EQ(lib_.LastSetResult(), "Different table indexes in VarbindList");
  EXPECT_TRUE(Traced("## ERROR! Current table index 1 (cpu) not equal to SET index (cpux)", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ReadOnlyColumnIsRefusedWithReadOnly) {
  for (const auto& [table, column] :
       std::vector<std::pair<const char*, UINT>>{{kRules, 24},
                                                 {kRules, 25},
                                                 {kRuleSets, 5},
                                                 {kRuleSets, 7},
                                                 {kRuleSetContents, 4},
                                                 {kEvents, 5},
                                                 {kResources, 8},
                                                 {kTargets, 4},
                                                 {kReports, 13},
                                                 {kReports, 14},
                                                 {kReportSets, 6},
                                                 {kReportSets, 8},
                                                 {kReportSetContents, 4}}) {
    VarBinds vbs;
    vbs.AddText(Column(table, 2, "x"), "x");
    vbs.AddInteger(Column(table, column, "x"), 1);
    const Answer answer = Set(vbs);
    EXPECT_EQ(answer.status, 4) << table << "." << column;
    EXPECT_EQ(answer.index, 2) << table << "." << column;
  }
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ColumnNotListedIsRefusedWithNoSuchName) {
  for (const auto& [table, column] :
       std::vector<std::pair<const char*, UINT>>{{kRules, 0},
                                                 {kRules, 28},
                                                 {kRuleSets, 8},
                                                 {kRuleSetContents, 5},
                                                 {kEvents, 6},
                                                 {kResources, 12},
                                                 {kTargets, 5},
                                                 {kReports, 15},
                                                 {kReportSets, 9},
                                                 {kReportSetContents, 0}}) {
    VarBinds vbs;
    vbs.AddInteger(Column(table, column, "x"), 1);
    const Answer answer = Set(vbs);
    EXPECT_EQ(answer.status, 2) << table << "." << column;
    EXPECT_EQ(answer.index, 1);
  }
  EXPECT_TRUE(Traced("## ERROR! SET on unknown object!", 1));
}

TEST_F(ExecuteSetTest, OidThatEndsBeforeTheColumnIsAnUnknownObject) {
  VarBinds vbs;
  vbs.Add(lib_.At("1.3.1"));
  vbs.Add(lib_.At("1.3.1.1"));
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 2);
  EXPECT_EQ(answer.index, 1);
}

TEST_F(ExecuteSetTest, OidThatEndsBeforeTheNameAddressesTheEmptyRowName) {
  VarBinds vbs;
  vbs.AddText(lib_.At("1.3.1.1.2"), "d");
  vbs.AddInteger(lib_.At("1.3.1.1.23"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<Rules>", "<Rule>", "<Description>d</Description>", "</Rule>", "</Rules>"}));
}

TEST_F(ExecuteSetTest, NameCutShortByTheOidIsTakenAsFarAsItGoes) {
  Oid cut = lib_.At("1.3.1.1.2");
  cut.insert(cut.end(), {5, 'c', 'p', 'u'});  // says five bytes, holds three
  VarBinds vbs;
  vbs.AddText(cut, "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Description>d</Description>"}));
}

TEST_F(ExecuteSetTest, NameBytesAreTheLowEightBitsOfTheSubIdentifiers) {
  Oid wide = lib_.At("1.3.1.1.2");
  wide.insert(wide.end(), {3, 0x163, 0x270, 0x375});  // 'c' 'p' 'u' plus high bits
  VarBinds vbs;
  vbs.AddText(wide, "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(Stores().size(), 1u);
}

TEST_F(ExecuteSetTest, VarbindOfAnotherTableWithTheSameNameJoinsTheFirstRecord) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddText(Column(kRuleSets, 2, "rs"), "d");
  vbs.AddText(Column(kRuleSetContents, 2, "rs"), "net");
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  // The member RowStatus loads the fetched set over the description.
  EXPECT_EQ(StoredDocument(),
            Lines({"<RuleSets>",
                   "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/>"
                   "<Rule Name=\"disk\"/><Status>enable</Status><Rule Name=\"net\"/>",
                   "</RuleSet>", "</RuleSets>"}));
}

// --- Varbinds outside the tables and the pass-through column

TEST_F(ExecuteSetTest, SetOutsideTheTablesIsLeftToTheMibTree) {
  VarBinds vbs;
  vbs.AddText(lib_.At("1.2.4.0"), "x");
  const Answer answer = Set(vbs);
  // The MIB tree answers from the scalar's read-only registration; the
  // status the row evaluation wrote is overwritten.
  EXPECT_EQ(answer.status, 4);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Stores().empty());
  EXPECT_TRUE(
      TracedRaw("\nLORVETH_AGENT       : ## ERROR! Missing or illegal RowStatus in row!\n", 1));
}

TEST_F(ExecuteSetTest, VarbindOutsideTheTablesInATableRequestIsNeitherCheckedNorWritten) {
  VarBinds vbs;
  vbs.AddText(lib_.At("1.2.4.0"), "x");
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(StoredDocument(), Rule("cpu", {"<Description>d</Description>"}));
  EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
}

TEST_F(ExecuteSetTest, FireEventHandsTheRequestToTheMibTree) {
  VarBinds vbs;
  vbs.AddInteger(Column(kRules, 26, "cpu"), 1);
  vbs.AddText(Column(kRules, 2, "cpu"), "never looked at");
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 4) << "the column is registered read-only";
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Traced("Object handled by callback function", 3));
  EXPECT_TRUE(Stores().empty());
}

// --- Set tables: RowStatus with the fetched configuration

TEST_F(ExecuteSetTest, RuleSetActiveFetchesTheSetAndEnablesIt) {
  lib_.SetReply(
      kRuleSetFetch, "rs",
      TextData("<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>disable</Status></RuleSet>"));
  VarBinds vbs;
  vbs.AddText(Column(kRuleSets, 2, "rs"), "discarded");
  vbs.AddInteger(Column(kRuleSets, 6, "rs"), 1);
  vbs.AddText(Column(kRuleSets, 2, "rs"), "kept");
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<RuleSets>",
                   "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>enable</Status>"
                   "<Description>kept</Description>",
                   "</RuleSet>", "</RuleSets>"}));
  const auto frames = lib_.Frames(first_frame_);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].oc, kRuleSetFetch);
  EXPECT_EQ(frames[0].oe, 0u);
  EXPECT_EQ(frames[0].cabid, 0xFFFFFFFFu);
  EXPECT_EQ(frames[0].stat, 19u);
  EXPECT_EQ(frames[0].data, TextData("rs"));
  EXPECT_TRUE(Traced("Getting current ruleset XML config to enable ...", 4));
}

TEST_F(ExecuteSetTest, ReportSetNotInServiceFetchesTheSetAndDisablesIt) {
  lib_.SetReply(kReportSetFetch, "ps", TextData(kReportSetPs));
  VarBinds vbs;
  vbs.AddInteger(Column(kReportSets, 7, "ps"), 2);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<ReportSets>",
                   "<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/>"
                   "<Status>disable</Status>",
                   "</ReportSet>", "</ReportSets>"}));
  EXPECT_TRUE(Traced("Getting current reportset XML config to disable ...", 4));
  EXPECT_EQ(FetchCount(kReportSetFetch), 1u);
}

TEST_F(ExecuteSetTest, SetDestroySendsTheBareRecordWithoutFetching) {
  VarBinds vbs;
  vbs.AddText(Column(kReportSets, 2, "ps"), "not kept");
  vbs.AddInteger(Column(kReportSets, 7, "ps"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Lines({"<ReportSets>", "<ReportSet Name=\"ps\"/>", "</ReportSets>"}));
  EXPECT_EQ(FetchCount(kReportSetFetch), 0u);
}

struct FetchFailure {
  unsigned char status;
  bool with_data;
};

class SetFetchFailureTest : public ExecuteSetTest,
                            public ::testing::WithParamInterface<FetchFailure> {};

TEST_P(SetFetchFailureTest, ActiveAndNotInServiceAreRefusedWhenTheSetCannotBeFetched) {
  const FetchFailure failure = GetParam();
  const Bytes data = failure.with_data ? TextData(kRuleSetRs) : Bytes{};
  lib_.SetReply(kRuleSetFetch, "rs", data, failure.status);
  lib_.SetReply(kReportSetFetch, "ps", data, failure.status);
  for (const auto& [table, column, name, value] :
       std::vector<std::tuple<const char*, UINT, const char*, int32_t>>{
           {kRuleSets, 6, "rs", 1},
           {kRuleSets, 6, "rs", 2},
           {kReportSets, 7, "ps", 1},
           {kReportSets, 7, "ps", 2}}) {
    VarBinds vbs;
    vbs.AddText(Column(table, 2, name), "d");
    vbs.AddInteger(Column(table, column, name), value);
    const Answer answer = Set(vbs);
    EXPECT_EQ(answer.status, 12) << table << " " << value;
    EXPECT_EQ(answer.index, 2);
  }
  EXPECT_TRUE(Stores().empty());
}

INSTANTIATE_TEST_SUITE_P(Replies, SetFetchFailureTest,
                         ::testing::Values(FetchFailure{0, false}, FetchFailure{12, false},
                                           FetchFailure{6, true}, FetchFailure{2, true},
                                           FetchFailure{23, true}));

TEST_F(ExecuteSetTest, FetchAnsweredWithMoreRepliesFollowingCountsAsValid) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs), 21);
  VarBinds vbs;
  vbs.AddInteger(Column(kRuleSets, 6, "rs"), 1);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(Stores().size(), 1u);
}

TEST_F(ExecuteSetTest, FetchedTextThatIsNotWellFormedCountsAsAFailedFetch) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData("<RuleSet Name=\"rs\"><Rule"));
  VarBinds vbs;
  vbs.AddInteger(Column(kRuleSets, 6, "rs"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Stores().empty());
}

// --- Contents tables: members of a set

TEST_F(ExecuteSetTest, ContentsCreateAndGoAddsTheNamedRuleToTheFetchedSet) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddText(Column(kRuleSetContents, 2, "rs", 3), "net");
  vbs.AddInteger(Column(kRuleSetContents, 1, "rs", 3), 3);
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs", 3), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<RuleSets>",
                   "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/>"
                   "<Rule Name=\"disk\"/><Status>enable</Status><Rule Name=\"net\"/>",
                   "</RuleSet>", "</RuleSets>"}));
  const auto stores = Stores();
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(stores[0].oe, 0x310u);
  EXPECT_TRUE(Traced("found rule name \"net\" to add/modify/remove...", 3));
  EXPECT_TRUE(Traced("current rule index = \"rs\".3", 3));
  EXPECT_TRUE(Traced("Adding/modifying rule \"net\" in ruleset \"rs\"...", 3));
  const Oid instance = Column(kRuleSetContents, 2, "rs", 3);
  EXPECT_TRUE(
      Traced("OID Length: " + std::to_string(instance.size()) + " und IndexStringLen 2\n", 3));
}

TEST_F(ExecuteSetTest, ContentsCreateAndGoOfAPresentMemberLeavesTheSetUnchanged) {
  lib_.SetReply(kReportSetFetch, "ps", TextData(kReportSetPs));
  VarBinds vbs;
  vbs.AddText(Column(kReportSetContents, 2, "ps"), "r2");
  vbs.AddInteger(Column(kReportSetContents, 3, "ps"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Lines({"<ReportSets>", kReportSetPs, "</ReportSets>"}));
  EXPECT_TRUE(Traced("current reportset index = \"ps\".*", 3));
}

TEST_F(ExecuteSetTest, ContentsCreateAndGoOfALoadedMemberRowIsRefused) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddText(Column(kRuleSetContents, 2, "rs", 2), "net");
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs", 2), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ContentsRowStatusBeforeTheNameIsRefused) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs"), 4);
  vbs.AddText(Column(kRuleSetContents, 2, "rs"), "net");
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(
      Traced("## ERROR! Rule name not specified while modifying ruleset contents table!\n", 1));
  EXPECT_TRUE(Traced("## ERROR! RowStatus : Create and Go!\n", 1));
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ContentsMemberCheckMustEqualTheMemberNumber) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddInteger(Column(kRuleSetContents, 1, "rs", 2), 3);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);

  VarBinds without;
  without.AddInteger(Column(kReportSetContents, 1, "ps"), 1);
  EXPECT_EQ(Set(without).status, 12) << "no member number to match";
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ContentsDestroyWithMemberNumberRemovesTheNamedMember) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  // The number names the row; the name picks the member removed.
  vbs.AddText(Column(kRuleSetContents, 2, "rs", 1), "disk");
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs", 1), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<RuleSets>",
                   "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/>"
                   "<Status>enable</Status></RuleSet>",
                   "</RuleSets>"}));
  EXPECT_TRUE(Traced("RuleSetContent with Index specified", 3));
  EXPECT_TRUE(Traced("Removing rule \"disk\" from ruleset \"rs\"...", 3));
  EXPECT_TRUE(TracedRaw("\nLORVETH_AGENT       : --> Delete row \"rs\"", 2));
}

TEST_F(ExecuteSetTest, ContentsDestroyWithMemberNumberNeedsTheName) {
  lib_.SetReply(kReportSetFetch, "ps", TextData(kReportSetPs));
  VarBinds vbs;
  vbs.AddInteger(Column(kReportSetContents, 3, "ps", 1), 6);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 1);
  EXPECT_TRUE(Stores().empty());
}

TEST_F(ExecuteSetTest, ContentsDestroyOfAMemberRowThatIsNotLoadedIsSentWithAWarning) {
  lib_.SetReply(kReportSetFetch, "ps", TextData(kReportSetPs));
  VarBinds vbs;
  vbs.AddText(Column(kReportSetContents, 2, "ps", 9), "r2");
  vbs.AddInteger(Column(kReportSetContents, 3, "ps", 9), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<ReportSets>", "<ReportSet Name=\"ps\"><Report Name=\"rep\"/></ReportSet>",
                   "</ReportSets>"}));
  EXPECT_TRUE(TracedRaw(
      "\nLORVETH_AGENT       : ## WARNING when deleting row: row does not exist! Don't report an "
      "error (according to RFC2579).\n",
      2));
}

TEST_F(ExecuteSetTest, ContentsDestroyWithoutMemberNumberRemovesEveryRule) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddInteger(Column(kRuleSetContents, 3, "rs"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<RuleSets>",
                   "<RuleSet Name=\"rs\"><Description>main</Description><Status>enable</Status>"
                   "</RuleSet>",
                   "</RuleSets>"}));
  EXPECT_TRUE(Traced("RuleSetContent without Index specified", 3));
  EXPECT_TRUE(Traced("Removing rule \"cpu\" from ruleset \"rs\"...", 3));
  EXPECT_TRUE(Traced("Removing rule \"disk\" from ruleset \"rs\"...", 3));
}

// The emptied set states its status, which it left implied: a record that
// names only the set would remove it.
TEST_F(ExecuteSetTest, ContentsDestroyWithoutMemberNumberRemovesMembersOfTheSameNameKeepsTheSet) {
  lib_.SetReply(kReportSetFetch, "ps",
                TextData("<ReportSet Name=\"ps\"><Report Name=\"a\"/><Report/><Report Name=\"a\"/>"
                         "<Report Name=\"\"/></ReportSet>"));
  VarBinds vbs;
  vbs.AddInteger(Column(kReportSetContents, 3, "ps"), 6);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(), Lines({"<ReportSets>", "<ReportSet Name=\"ps\">",
                                     "<Status>enable</Status>", "</ReportSet>", "</ReportSets>"}));
}

// Without the member list no record can remove one member and keep the
// others; a record naming only the set would remove all of it.  Nothing is
// sent: a set the module does not hold has no member to destroy (no error),
// any other failure is one.
TEST_F(ExecuteSetTest, ContentsFetchFailureOnDestroySendsNothing) {
  struct Case {
    unsigned char status;
    Bytes data;
    AsnInteger32 answer;
  };
  for (const Case& c : {Case{2, {}, 0}, Case{0, {}, 12}, Case{6, {}, 12},
                        Case{0, TextData("<RuleSet Name=\"rs\"><Rule"), 12}}) {
    lib_.SetReply(kRuleSetFetch, "rs", c.data, c.status);
    VarBinds vbs;
    vbs.AddText(Column(kRuleSetContents, 2, "rs", 1), "cpu");
    vbs.AddInteger(Column(kRuleSetContents, 3, "rs", 1), 6);
    vbs.AddInteger(Column(kRuleSetContents, 4, "rs", 1), 2);  // read-only, never examined
    const Answer answer = Set(vbs);
    EXPECT_EQ(answer.status, c.answer) << int{c.status};
    if (c.answer != 0) {
      EXPECT_EQ(answer.index, 2);
    }
  }
  EXPECT_TRUE(Stores().empty());
  EXPECT_TRUE(Traced(
      "## Warning! Failed to get ruleset XML config from SWITCH!Do not report an error\n", 1));
  EXPECT_TRUE(Traced("## ERROR! Failed to get ruleset XML config from SWITCH!\n", 1));
}

TEST_F(ExecuteSetTest, ContentsFetchFailureOnCreateIsRefused) {
  VarBinds vbs;
  vbs.AddText(Column(kReportSetContents, 2, "ps"), "rep");
  vbs.AddInteger(Column(kReportSetContents, 3, "ps"), 4);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 12);
  EXPECT_EQ(answer.index, 2);
  EXPECT_TRUE(Traced("## ERROR! Failed to get reportset XML config from SWITCH!\n", 1));
  EXPECT_TRUE(Stores().empty());
}

// --- The store reply

struct ReplyCase {
  unsigned char reply;
  AsnInteger32 snmp;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << "reply " << int{c.reply}; }

class StoreReplyTest : public ExecuteSetTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(StoreReplyTest, ReplyStatusMapsToTheSnmpErrorStatusAtIndexOne) {
  const ReplyCase& c = GetParam();
  lib_.set_store_status(c.reply);
  VarBinds vbs;
  vbs.AddText(Column(kRules, 2, "cpu"), "d");
  vbs.AddInteger(Column(kRules, 23, "cpu"), 1);
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, c.snmp);
  EXPECT_EQ(answer.index, c.snmp == 0 ? 0 : 1);
  EXPECT_EQ(Stores().size(), 1u);
  EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
}

std::vector<ReplyCase> AllReplyCases() {
  std::vector<ReplyCase> cases;
  for (int reply = 0; reply <= 24; ++reply) {
    AsnInteger32 snmp = 5;
    if (reply == 0) snmp = 0;
    if (reply == 4 || reply == 10 || reply == 18) snmp = 10;
    if (reply == 7 || reply == 8) snmp = 4;
    cases.push_back({static_cast<unsigned char>(reply), snmp});
  }
  cases.push_back({255, 5});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStatus, StoreReplyTest, ::testing::ValuesIn(AllReplyCases()));

TEST_F(ExecuteSetTest, StoreReplyStatusIsTracedAsText) {
  lib_.set_store_status(7);
  VarBinds vbs;
  vbs.AddInteger(Column(kEvents, 4, "ev"), 6);
  EXPECT_EQ(Set(vbs).status, 4);
  bool found = false;
  for (const auto& line : lib_.TraceLines()) {
    found = found || (line.level == 3 &&
                      line.text.rfind(
                          "\nLORVETH_AGENT       : ExecuteSET(): VARN request status = ", 0) == 0 &&
                      line.text.find("Success") == std::string::npos);
  }
  EXPECT_TRUE(found);
}

// --- Robustness

TEST_F(ExecuteSetTest, EmptyVarbindListIsLeftToTheMibTree) {
  VarBinds vbs;
  const Answer answer = Set(vbs);
  EXPECT_EQ(answer.status, 0);
  EXPECT_TRUE(Stores().empty());
  const auto lines = lib_.TraceLines();
  const auto starts = std::count_if(lines.begin(), lines.end(), [](const auto& line) {
    return line.level == 1 &&
           line.text.rfind("\nLORVETH_AGENT       :  ExecuteSET(): Start (Build : ", 0) == 0;
  });
  EXPECT_EQ(starts, 1);
  EXPECT_TRUE(Traced("End ", 1));
}

TEST_F(ExecuteSetTest, NamesWithMarkupCharactersTravelEscaped) {
  VarBinds vbs;
  vbs.AddText(Column(kTargets, 2, "a\"<&>"), "x");
  vbs.AddInteger(Column(kTargets, 3, "a\"<&>"), 4);
  EXPECT_EQ(Set(vbs).status, 0);
  EXPECT_EQ(StoredDocument(),
            Lines({"<Targets>", "<Target Name=\"a&quot;&lt;&amp;&gt;\">x</Target>", "</Targets>"}));
}

}  // namespace
