// SET requests on the configuration tables, driven through the entry points of
// the test library: what reaches the fake threshold module (the one store
// command and its document), the SNMP answer, the trace and the last SET
// result message.  Each row of the tables below is one request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
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
using Bytes = std::vector<unsigned char>;

constexpr unsigned kStoreCommand = 0xE002;
constexpr unsigned kRuleSetFetch = 0x2202;
constexpr unsigned kReportSetFetch = 0x2211;

// Table OIDs below the root.
constexpr const char* kRules = "1.3.1";
constexpr const char* kRuleSets = "1.3.3";
constexpr const char* kRsMembers = "1.3.4";
constexpr const char* kEvents = "1.3.6";
constexpr const char* kResources = "1.5.1";
constexpr const char* kTargets = "1.5.3";
constexpr const char* kReports = "1.4.1";
constexpr const char* kReportSets = "1.4.3";
constexpr const char* kPsMembers = "1.4.5";

const std::string kRuleSetRs =
    "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/><Rule Name=\"disk\"/>"
    "<Status>enable</Status></RuleSet>";
const std::string kReportSetPs =
    "<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/></ReportSet>";
const std::string kSet = "\nLORVETH_AGENT       :  ExecuteSET(): ";
const std::string kAgent = "\nLORVETH_AGENT       : ";

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

Bytes TextData(const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

// One varbind: root.<column>.<index> with a value of `type`.
struct Vb {
  std::string column;
  Oid index;
  BYTE type;
  int32_t number;
  std::string text;
};

Oid Index(const std::string& name, int member = -1) {
  Oid oid = threshold_test::WithName({}, name);
  if (member >= 0) oid.push_back(static_cast<UINT>(member));
  return oid;
}
std::string Col(const char* table, UINT column) {
  return std::string(table) + ".1." + std::to_string(column);
}
Vb I(const char* table, UINT column, const std::string& name, int32_t value, int member = -1) {
  return {Col(table, column), Index(name, member), ASN_INTEGER, value, ""};
}
Vb S(const char* table, UINT column, const std::string& name, const std::string& value,
     int member = -1) {
  return {Col(table, column), Index(name, member), ASN_OCTETSTRING, 0, value};
}

struct Reply {
  unsigned oc;
  std::string name;
  std::optional<std::string> text;  // sent with its terminator; none: no data
  unsigned char status = 0;
};
const Reply kRs{kRuleSetFetch, "rs", kRuleSetRs};
const Reply kPs{kReportSetFetch, "ps", kReportSetPs};

struct Trace {
  std::string text;
  unsigned level;
  int count = 1;
};

struct Request {
  std::string name;
  std::vector<Vb> vbs;
  AsnInteger32 status = 0;
  AsnInteger32 index = 0;
  // The lines of the one document stored; none: nothing stored; {"*"}: one, any.
  std::vector<std::string> stored = {};
  // Trace lines expected `count` times at their level; a text without a leading
  // line break follows "ExecuteSET(): ", one ending in '*' is a prefix.
  // "{root}" stands for the MIB root, "{length}" for the first varbind's length.
  std::vector<Trace> traces = {};
  std::vector<Reply> replies = {};
  std::string last_result = {};  // checked unless empty
  int fetches = -1;              // set fetch commands sent; -1 unchecked
};

void PrintTo(const Request& r, std::ostream* os) { *os << r.name; }

// A table document holding the record of `tag` named `name` with the lines.
std::vector<std::string> Doc(const std::string& container, const std::string& tag,
                             const std::string& name, const std::vector<std::string>& lines) {
  std::vector<std::string> all = {"<" + container + ">", "<" + tag + " Name=\"" + name + "\">"};
  all.insert(all.end(), lines.begin(), lines.end());
  all.insert(all.end(), {"</" + tag + ">", "</" + container + ">"});
  return all;
}
std::vector<std::string> Rule(const std::string& name, const std::vector<std::string>& lines) {
  return Doc("Rules", "Rule", name, lines);
}

struct Table {
  const char* table;
  unsigned code;
  UINT row_status;
  const char* container;
  const char* record;
  const char* loaded;  // a row loaded at the start
  bool is_set;
};
const Table kTables[] = {
    {kRules, 0x311, 23, "Rules", "Rule", "cpu", false},
    {kRuleSets, 0x310, 6, "RuleSets", "RuleSet", "rs", true},
    {kEvents, 0x314, 4, "Events", "Event", "ev", false},
    {kResources, 0x312, 7, "Resources", "Resource", "res", false},
    {kTargets, 0x313, 3, "Targets", "Target", "tg", false},
    {kReports, 0x321, 12, "Reports", "Report", "rep", false},
    {kReportSets, 0x320, 7, "ReportSets", "ReportSet", "ps", true},
    {kRsMembers, 0x310, 3, "", "", "rs", false},
    {kPsMembers, 0x320, 3, "", "", "ps", false},
};
const Table& Of(const char* table) {
  for (const Table& t : kTables) {
    if (std::string(t.table) == table) return t;
  }
  throw std::invalid_argument(table);
}
std::string Id(const std::string& text) {
  std::string id;
  for (char c : text) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return id;
}

// createAndGo of row "new" with one writable column: the record holds its item.
Request Writes(const char* table, UINT column, std::optional<int32_t> number, const char* text,
               const std::vector<std::string>& lines) {
  const Table& t = Of(table);
  std::vector<std::string> record = lines;
  if (t.is_set) record.push_back("<Status>enable</Status>");
  Vb value = number ? I(table, column, "new", *number) : S(table, column, "new", text);
  return {"Writes" + Id(Col(table, column)),
          {value, I(table, t.row_status, "new", 4)},
          0,
          0,
          Doc(t.container, t.record, "new", record)};
}

std::vector<Request> ColumnRequests() {
  const auto n = [](int32_t v) { return std::optional<int32_t>(v); };
  const std::nullopt_t s = std::nullopt;
  return {
      Writes(kRules, 2, s, "High load", {"<Description>High load</Description>"}),
      Writes(kRules, 3, s, "a < b & c", {"<Comment>a &lt; b &amp; c</Comment>"}),
      Writes(kRules, 4, s, "help", {"<HelpText>help</HelpText>"}),
      Writes(kRules, 5, n(30), "", {"<Interval>30</Interval>"}),
      Writes(kRules, 6, s, "cpuload", {"<Resource Name=\"cpuload\"/>"}),
      Writes(kRules, 7, n(2), "", {"<Instances Monitor=\"average\"/>"}),
      Writes(kRules, 8, s, "1,2", {"<Instances>", "<Indexes>1,2</Indexes>", "</Instances>"}),
      Writes(kRules, 9, s, "eth*", {"<Instances>", "<Names>eth*</Names>", "</Instances>"}),
      Writes(kRules, 10, s, "tg", {"<Target Name=\"tg\"/>"}),
      Writes(kRules, 11, n(3), "", {"<Threshold Type=\"delta-inc\"/>"}),
      Writes(kRules, 12, n(3), "", {"<Threshold Valuation=\"average-muted\"/>"}),
      Writes(kRules, 13, n(0), "", {"<WatchPeriod>0</WatchPeriod>"}),
      Writes(kRules, 14, n(11), "", {"<Threshold Operator=\"exist-change\"/>"}),
      Writes(kRules, 15, n(INT_MIN), "", {"<Threshold Value=\"-2147483648\"/>"}),
      Writes(kRules, 16, n(-5), "", {"<Threshold RangeMin=\"-5\"/>"}),
      Writes(kRules, 17, n(INT_MAX), "", {"<Threshold RangeMax=\"2147483647\"/>"}),
      Writes(kRules, 18, n(3), "", {"<OccurenceCount>3</OccurenceCount>"}),
      Writes(kRules, 19, s, "ev", {"<Event Name=\"ev\"/>"}),
      Writes(kRules, 20, n(3), "", {"<Event Control=\"continuous-with-delay\"/>"}),
      Writes(kRules, 21, n(60), "", {"<Event Delay=\"60\"/>"}),
      Writes(kRules, 22, n(2), "", {"<Event Alternating=\"true\"/>"}),
      Writes(kRules, 27, n(5), "",
             {"<Performance>", "<Status>critical</Status>", "</Performance>"}),
      Writes(kRuleSets, 2, s, "nightly", {"<Description>nightly</Description>"}),
      Writes(kRuleSets, 3, n(90), "", {"<Schedule Start=\"01:30\"/>"}),
      Writes(kRuleSets, 4, n(1440), "", {"<Schedule Stop=\"24:00\"/>"}),
      Writes(kEvents, 2, n(1), "", {"<Type>snmp-trap</Type>"}),
      Writes(kEvents, 3, n(2), "", {"<Severity>major</Severity>"}),
      Writes(kResources, 2, s, "load", {"<Description>load</Description>"}),
      Writes(kResources, 3, s, "help", {"<HelpText>help</HelpText>"}),
      Writes(kResources, 4, n(3), "", {"<Request Type=\"registry\"/>"}),
      Writes(kResources, 5, s, "1.3.6.1.2", {"<Request>1.3.6.1.2</Request>"}),
      Writes(kResources, 6, s, "names", {"<InstNameReq>names</InstNameReq>"}),
      Writes(kResources, 9, s, "%", {"<Unit>%</Unit>"}),
      Writes(kResources, 10, s, "box", {"<ContainerName>box</ContainerName>"}),
      Writes(kResources, 11, s, "grp", {"<Group>grp</Group>"}),
      Writes(kReports, 2, s, "daily", {"<Description>daily</Description>"}),
      Writes(kReports, 3, s, "note", {"<Comment>note</Comment>"}),
      Writes(kReports, 4, s, "help", {"<HelpText>help</HelpText>"}),
      Writes(kReports, 5, n(1), "", {"<Interval>1</Interval>"}),
      Writes(kReports, 6, n(0), "", {"<MaxEntries>0</MaxEntries>"}),
      Writes(kReports, 7, s, "disk", {"<Resource Name=\"disk\"/>"}),
      Writes(kReports, 8, n(1), "", {"<Instances Monitor=\"any\"/>"}),
      Writes(kReports, 9, s, "3", {"<Instances>", "<Indexes>3</Indexes>", "</Instances>"}),
      Writes(kReports, 10, s, "sd?", {"<Instances>", "<Names>sd?</Names>", "</Instances>"}),
      Writes(kReports, 11, s, "tg", {"<Target Name=\"tg\"/>"}),
      Writes(kReportSets, 2, s, "weekly", {"<Description>weekly</Description>"}),
      Writes(kReportSets, 3, n(0), "", {"<StartTime>00:00</StartTime>"}),
      Writes(kReportSets, 4, n(605), "", {"<StopTime>10:05</StopTime>"}),
      // 2006-01-02 23:59:59 UTC: the date alone is stored.
      Writes(kReportSets, 5, n(1136246399), "", {"<RecordingEnd>01/02/2006</RecordingEnd>"}),
  };
}

// Every RowStatus value on every table: accepted where the table allows it.
std::vector<Request> RowStatusRequests() {
  const std::vector<std::pair<const char*, std::vector<int32_t>>> accepted = {
      {kRules, {1, 4, 6}},
      {kEvents, {1, 4, 6}},
      {kResources, {1, 4, 6}},
      {kTargets, {1, 4, 6}},
      {kReports, {1, 4, 6}},
      {kRuleSets, {1, 2, 4, 5, 6}},
      {kReportSets, {1, 2, 4, 5, 6}},
      {kRsMembers, {4, 6}},
      {kPsMembers, {4, 6}}};
  std::vector<Request> requests;
  for (const auto& [table, values] : accepted) {
    const Table& t = Of(table);
    const bool members = t.container[0] == '\0';
    for (int32_t value : {0, 1, 2, 3, 4, 5, 6, 7, -1}) {
      const std::string row = (value == 4 || value == 5) && !members ? "new" : t.loaded;
      const bool ok = std::find(values.begin(), values.end(), value) != values.end();
      Request r{"RowStatus" + Id(table) + "_" + Id(std::to_string(value)),
                {table == kEvents ? I(table, 3, row, 1) : S(table, 2, row, members ? "m" : "t"),
                 I(table, t.row_status, row, value)},
                ok ? 0 : 12,
                ok ? 0 : 2,
                ok ? std::vector<std::string>{"*"} : std::vector<std::string>{}};
      r.replies = {kRs, kPs};
      requests.push_back(r);
    }
  }
  return requests;
}

// Numbers past a column's range are refused at their varbind with the range
// traced; the bound itself is written.
std::vector<Request> RangeRequests() {
  struct Bound {
    const char* table;
    UINT column;
    int32_t value;
    const char* range;  // of a refused value
  };
  const Bound bounds[] = {
      {kRules, 5, 0, "1,2147483647"},   {kRules, 5, 1, nullptr},
      {kRules, 5, INT_MAX, nullptr},    {kRules, 5, INT_MIN, "1,2147483647"},
      {kRules, 13, -1, "0,2147483647"}, {kRules, 13, 0, nullptr},
      {kRules, 18, -1, "0,2147483647"}, {kRules, 21, -1, "0,2147483647"},
      {kRules, 15, INT_MIN, nullptr},   {kRules, 16, INT_MAX, nullptr},
      {kReports, 5, 0, "1,2147483647"}, {kReports, 6, -1, "0,2147483647"},
      {kReports, 6, 0, nullptr},        {kRuleSets, 3, 1440, nullptr},
      {kRuleSets, 3, 1441, "0,1440"},   {kRuleSets, 4, -1, "0,1440"},
      {kRuleSets, 4, 0, nullptr},       {kReportSets, 3, 1441, "0,1440"},
      {kReportSets, 4, 1440, nullptr},  {kReportSets, 4, -1, "0,1440"},
  };
  std::vector<Request> requests;
  for (const Bound& b : bounds) {
    Request r{"Range" + Id(Col(b.table, b.column)) + "_" + Id(std::to_string(b.value)),
              {S(b.table, 2, "new", "x"), I(b.table, b.column, "new", b.value),
               I(b.table, Of(b.table).row_status, "new", 4)}};
    if (b.range == nullptr) {
      r.stored = {"*"};
    } else {
      r.status = 12;
      r.index = 2;
      r.traces = {
          {"## ERROR Value " + std::to_string(b.value) + " not in range(" + b.range + ")", 1}};
    }
    requests.push_back(r);
  }
  return requests;
}

// An enumeration value outside its list is no error, but leaves the writer's
// message; most writers then write nothing, and a record that names only its
// row would remove the row, so nothing is sent.
std::vector<Request> EnumerationRequests() {
  struct Outside {
    const char* table;
    UINT column;
    int32_t value;
    const char* writer;
    std::vector<std::string> stored;
  };
  const Outside cases[] = {
      {kRules, 7, 3, "SetInstMonitor", {}},
      {kRules, 11, 0, "SetValueType", {}},
      {kRules, 11, 5, "SetValueType", {}},
      {kRules, 12, 4, "SetRuleValuation", {}},
      {kRules, 14, 12, "SetOperator", {}},
      {kRules, 14, INT_MIN, "SetOperator", {}},
      {kRules, 20, 4, "SetEventControl", {}},
      {kRules, 22, 3, "SetEventAlternating", {}},
      {kRules, 27, 6, "SetPerformanceStatusSeverity", {}},
      {kReports, 8, -1, "SetInstMonitor", {}},
      {kResources, 4, 4, "SetReqType", {}},
      // These two writers still write a text for a value outside.
      {kEvents, 2, 2, "SetType", Doc("Events", "Event", "ev", {"<Type/>"})},
      {kEvents, 3, 7, "SetSeverity",
       Doc("Events", "Event", "ev", {"<Severity>informational</Severity>"})},
  };
  std::vector<Request> requests;
  for (const Outside& c : cases) {
    const Table& t = Of(c.table);
    const std::string message = std::string("Wrong enum value in ") + c.writer + "!";
    Request r{"Enum" + Id(Col(c.table, c.column)) + "_" + Id(std::to_string(c.value)),
              {I(c.table, c.column, t.loaded, c.value), I(c.table, t.row_status, t.loaded, 1)},
              0,
              0,
              c.stored,
              {{"## ERROR! " + message, 1}}};
    r.last_result = message;
    requests.push_back(r);
  }
  return requests;
}

std::vector<Request> FailedFetchRequests() {
  std::vector<Request> requests;
  // Active and notInService of a set need the set as the module holds it.
  const std::pair<unsigned char, bool> failures[] = {
      {0, false}, {12, false}, {6, true}, {2, true}, {23, true}};
  for (const auto& [status, with_data] : failures) {
    const std::optional<std::string> rs = with_data ? std::optional(kRuleSetRs) : std::nullopt;
    const std::optional<std::string> ps = with_data ? std::optional(kReportSetPs) : std::nullopt;
    for (int32_t value : {1, 2}) {
      for (const auto& [table, row, column] :
           {std::tuple(kRuleSets, "rs", 6u), std::tuple(kReportSets, "ps", 7u)}) {
        Request r{"FetchFails" + std::to_string(status) + Id(table) + "_" + std::to_string(value),
                  {S(table, 2, row, "d"), I(table, column, row, value)},
                  12,
                  2};
        r.replies = {{kRuleSetFetch, "rs", rs, status}, {kReportSetFetch, "ps", ps, status}};
        requests.push_back(r);
      }
    }
  }
  return requests;
}

std::vector<Request> NameRequests() {
  std::vector<Request> requests;
  // Report names: the first bad character's position is traced.
  for (const char bad : std::string("/\\|:*\"<>?")) {
    const std::string name = std::string("abc") + bad + "x?";
    requests.push_back({"ReportNameBad" + std::to_string(static_cast<int>(bad)),
                        {S(kReports, 2, name, "d"), I(kReports, 12, name, 4)},
                        18,
                        1,
                        {},
                        {{"## ERROR! ReportName \"" + name + "\" contains bad character at 3", 1}},
                        {},
                        "ReportName contains bad character ('/\\|:*\"<>?')"});
  }
  const std::pair<const char*, UINT> read_only[] = {
      {kRules, 24},     {kRules, 25},     {kRuleSets, 5}, {kRuleSets, 7}, {kRsMembers, 4},
      {kEvents, 5},     {kResources, 8},  {kTargets, 4},  {kReports, 13}, {kReports, 14},
      {kReportSets, 6}, {kReportSets, 8}, {kPsMembers, 4}};
  for (const auto& [table, column] : read_only) {
    requests.push_back({"ReadOnly" + Id(Col(table, column)),
                        {S(table, 2, "x", "x"), I(table, column, "x", 1)},
                        4,
                        2});
  }
  const std::pair<const char*, UINT> unknown[] = {
      {kRules, 0},      {kRules, 28},  {kRuleSets, 8}, {kRsMembers, 5},  {kEvents, 6},
      {kResources, 12}, {kTargets, 5}, {kReports, 15}, {kReportSets, 9}, {kPsMembers, 0}};
  for (const auto& [table, column] : unknown) {
    requests.push_back({"Unknown" + Id(Col(table, column)),
                        {I(table, column, "x", 1)},
                        2,
                        1,
                        {},
                        {{"## ERROR! SET on unknown object!", 1}}});
  }
  return requests;
}

// Single requests, each about one rule of the row handling.
std::vector<Request> RowRequests() {
  const std::string no_row = kAgent + "## ERROR! Missing or illegal RowStatus in row!\n";
  const std::string raw = "1.3.1.1.";
  return {
      {"TargetAddressIsTheElementText",
       {S(kTargets, 2, "new", "10.1.2.3"), I(kTargets, 3, "new", 4)},
       0,
       0,
       {"<Targets>", "<Target Name=\"new\">10.1.2.3</Target>", "</Targets>"}},
      {"StoreTraceNamesTheColumnAndItsWriter",
       {I(kRules, 14, "cpu", 5), I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Threshold Operator=\"greater\"/>"}),
       {{"Store object {root}.1.3.1.1.14 with SetOperator", 3},
        {"First object - save index (cpu) and create XML doc", 3},
        {"No error in SET, check row status 1...", 3},
        {kAgent + "--> Modify row \"cpu\", make active", 2},
        {"RowStatus OK, send config to VARN threshold module...", 3},
        {kAgent + "ExecuteSET(): VARN request status = Success (MIB update by VARN event)", 3},
        {"Start (Build : *", 1},
        {"End ", 1}},
       {},
       "No SET executed"},
      {"ReportDescriptionStoreTraceCarriesNoObject",
       {S(kReports, 2, "rep", "d"), I(kReports, 12, "rep", 1)},
       0,
       0,
       Doc("Reports", "Report", "rep", {"<Description>d</Description>"}),
       {{"Store object", 3}}},
      {"RecordingEndTracesTheUtcTimeOnce",
       {I(kReportSets, 5, "fresh", 1136246399), I(kReportSets, 7, "fresh", 5)},
       0,
       0,
       Doc("ReportSets", "ReportSet", "fresh",
           {"<RecordingEnd>01/02/2006</RecordingEnd>", "<Status>disable</Status>"}),
       {{"\n GMT:   01/02/2006 23:59:59", 3}}},
      {"RecordingEndZeroIsNoObjectForCreate",
       {I(kReportSets, 5, "fresh", 0), I(kReportSets, 7, "fresh", 4)},
       12,
       2,
       {},
       {{"Do not store object {root}.1.4.3.1.5 with SetRecordingEndTime because value is 0", 3},
        {kAgent + "## ERROR when creating row: no other objects in row provided!\n", 1}}},
      {"IllegalRowStatusIsTracedWithItsValue",
       {I(kRules, 23, "cpu", 2)},
       12,
       1,
       {},
       {{"## ERROR! Illegal RowStatus SET value (2)!", 1}}},
      {"NumberColumnTakesAnOctetStringAsZero",
       {S(kRules, 5, "cpu", "30"), I(kRules, 23, "cpu", 1)},
       12,
       1,
       {},
       {{"## ERROR Value 0 not in range(1,2147483647)", 1}}},
      {"AnyNumberColumnTakesAnOctetStringAsZero",
       {S(kRules, 15, "cpu", "30"), I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Threshold Value=\"0\"/>"})},
      {"NumberColumnsTakeCounterGaugeAndTimeTicks",
       {{Col(kRules, 5), Index("cpu"), ASN_COUNTER32, 7, ""},
        {Col(kRules, 13), Index("cpu"), ASN_GAUGE32, 8, ""},
        {Col(kRules, 18), Index("cpu"), ASN_TIMETICKS, 9, ""},
        I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Interval>7</Interval>", "<WatchPeriod>8</WatchPeriod>",
                    "<OccurenceCount>9</OccurenceCount>"})},
      {"TextColumnGivenAnIntegerWritesTheMismatchText",
       {I(kRules, 2, "cpu", 5), I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Description>&lt;&lt;GetString type mismatch&gt;&gt;</Description>"})},
      {"EnumerationOutsideCountsAsAnObjectForCreateYetNothingIsSent",
       {I(kRules, 14, "new", 12), I(kRules, 23, "new", 4)}},
      // A record naming only its row would remove it: nothing is sent.
      {"ActiveAloneChangesNothing",
       {I(kRules, 23, "cpu", 1)},
       0,
       0,
       {},
       {{"Nothing to change in row \"cpu\", no config sent to VARN threshold module", 3}}},
      {"ActiveWithTheNameColumnChangesNothing",
       {S(kRules, 1, "cpu", "cpu"), I(kRules, 23, "cpu", 1)}},
      {"ActiveAloneOfAMissingRow", {I(kRules, 23, "nope", 1)}, 12, 1},
      {"ReportNameWithSlashIsAnInconsistentName",
       {S(kReports, 2, "a/b", "d"), I(kReports, 12, "a/b", 4)},
       18,
       1,
       {},
       {{"## ERROR! ReportName \"a/b\" contains bad character at 1", 1}}},
      // The rule varbind comes first: the report varbind joins the Rule record
      // (where its writer finds nothing to write) and the name is not checked.
      {"ReportNameIsCheckedOnlyWhenTheReportVarbindComesFirst",
       {S(kRules, 2, "a:b", "d"), S(kReports, 3, "a:b", "c"), I(kRules, 23, "a:b", 4)},
       0,
       0,
       Rule("a:b", {"<Description>d</Description>"})},
      {"CreateAndGoWithOnlyTheRowStatus", {I(kRules, 23, "new", 4)}, 12, 1},
      {"CreateAndGoOfALoadedRow",
       {S(kRules, 2, "cpu", "d"), I(kRules, 23, "cpu", 4)},
       12,
       2,
       {},
       {{kAgent + "## ERROR when creating row: row already exists!\n", 1}}},
      {"ActiveOfARowThatIsNotLoaded",
       {S(kTargets, 2, "nope", "1.2.3.4"), I(kTargets, 3, "nope", 1)},
       12,
       2,
       {},
       {{kAgent + "## ERROR when activate/modify row: row does not exist!\n", 1}}},
      {"RowFailureIsAtTheFirstRowStatusVarbind",
       {I(kRules, 23, "nope", 1), S(kRules, 2, "nope", "a"), S(kRules, 3, "nope", "b")},
       12,
       1},
      {"RowFailureIsAtTheLastRowStatusVarbind",
       {S(kRules, 2, "nope", "a"), S(kRules, 3, "nope", "b"), I(kRules, 23, "nope", 1)},
       12,
       3},
      {"MissingRowStatusIsRefusedAtTheFirstVarbind",
       {S(kRules, 2, "cpu", "a"), S(kRules, 3, "cpu", "b")},
       12,
       1,
       {},
       {{no_row, 1}}},
      {"TheLastRowStatusVarbindCounts",
       {I(kRules, 23, "cpu", 4), S(kRules, 2, "cpu", "a"), I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Description>a</Description>"})},
      // Another column of the row does not turn the removal into a change.
      {"DestroySendsARecordWithOnlyItsName",
       {I(kEvents, 3, "ev", 2), I(kEvents, 4, "ev", 6)},
       0,
       0,
       {"<Events>", "<Event Name=\"ev\"/>", "</Events>"}},
      {"DestroyOfAnotherTablesRowDoesNotRemoveTheRecord",
       {S(kRules, 2, "cpu", "d"), I(kEvents, 4, "cpu", 6)},
       0,
       0,
       Rule("cpu", {"<Description>d</Description>"})},
      {"DestroyOfARowThatIsNotLoadedIsStillSent",
       {I(kTargets, 3, "ghost", 6)},
       0,
       0,
       {"<Targets>", "<Target Name=\"ghost\"/>", "</Targets>"}},
      {"IndexColumnIsNoObjectForCreate",
       {S(kRules, 1, "new", "new"), I(kRules, 23, "new", 4)},
       12,
       2},
      {"IndexColumnWithAnotherName",
       {S(kRules, 2, "cpu", "d"), S(kRules, 1, "cpu", "cpu2"), I(kRules, 23, "cpu", 1)},
       12,
       2,
       {},
       {{"## ERROR! SET index 1 (cpu) does not match to index variable value (cpu2)!", 1}}},
      {"TwoRowsAreRefusedAtTheSecondVarbind",
       {S(kRules, 2, "cpu", "d"), S(kRules, 2, "cpux", "d"), I(kRules, 23, "cpu", 1)},
       12,
       2,
       {},
       {{"## ERROR! Current table index 1 (cpu) not equal to SET index (cpux)", 1}},
       {},
       "Different table indexes in VarbindList"},
      {"OidThatEndsBeforeTheColumnIsUnknown",
       {{"1.3.1", {}, ASN_NULL, 0, ""}, {"1.3.1.1", {}, ASN_NULL, 0, ""}},
       2,
       1},
      {"OidThatEndsBeforeTheNameAddressesTheEmptyName",
       {{raw + "2", {}, ASN_OCTETSTRING, 0, "d"}, {raw + "23", {}, ASN_INTEGER, 4, ""}},
       0,
       0,
       {"<Rules>", "<Rule>", "<Description>d</Description>", "</Rule>", "</Rules>"}},
      {"NameCutShortByTheOidIsTakenAsFarAsItGoes",
       {{raw + "2", {5, 'c', 'p', 'u'}, ASN_OCTETSTRING, 0, "d"}, I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Description>d</Description>"})},
      {"NameBytesAreTheLowEightBits",
       {{raw + "2", {3, 0x163, 0x270, 0x375}, ASN_OCTETSTRING, 0, "d"}, I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Description>d</Description>"})},
      {"NamesWithMarkupCharactersTravelEscaped",
       {S(kTargets, 2, "a\"<&>", "x"), I(kTargets, 3, "a\"<&>", 4)},
       0,
       0,
       {"<Targets>", "<Target Name=\"a&quot;&lt;&amp;&gt;\">x</Target>", "</Targets>"}},
      // The MIB tree answers from the scalar's read-only registration.
      {"SetOutsideTheTablesIsLeftToTheMibTree",
       {{"1.2.4.0", {}, ASN_OCTETSTRING, 0, "x"}},
       4,
       1,
       {},
       {{no_row, 1}}},
      {"VarbindOutsideTheTablesIsNeitherCheckedNorWritten",
       {{"1.2.4.0", {}, ASN_OCTETSTRING, 0, "x"},
        S(kRules, 2, "cpu", "d"),
        I(kRules, 23, "cpu", 1)},
       0,
       0,
       Rule("cpu", {"<Description>d</Description>"}),
       {},
       {},
       "No SET executed"},
      {"FireEventHandsTheRequestToTheMibTree",
       {I(kRules, 26, "cpu", 1), S(kRules, 2, "cpu", "never looked at")},
       4,
       1,
       {},
       {{"Object handled by callback function", 3}}},
      {"EmptyVarbindListIsLeftToTheMibTree", {}, 0, 1, {}, {{"Start (Build : *", 1}, {"End ", 1}}},
  };
}

// The set tables and their contents tables, with the set fetched.
std::vector<Request> SetRequests() {
  const std::string rs_head =
      "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/>";
  const std::string fetch_error = "## ERROR! Failed to get ruleset XML config from SWITCH!\n";
  const std::string broken = "<RuleSet Name=\"rs\"><Rule";
  std::vector<Request> requests = {
      {"RuleSetActiveFetchesTheSetAndEnablesIt",
       {S(kRuleSets, 2, "rs", "discarded"), I(kRuleSets, 6, "rs", 1),
        S(kRuleSets, 2, "rs", "kept")},
       0,
       0,
       {"<RuleSets>",
        "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>enable</Status>"
        "<Description>kept</Description>",
        "</RuleSet>", "</RuleSets>"},
       {{"Getting current ruleset XML config to enable ...", 4}},
       {{kRuleSetFetch, "rs",
         "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>disable</Status></RuleSet>"}},
       "",
       1},
      {"ReportSetNotInServiceFetchesTheSetAndDisablesIt",
       {I(kReportSets, 7, "ps", 2)},
       0,
       0,
       {"<ReportSets>",
        "<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/>"
        "<Status>disable</Status>",
        "</ReportSet>", "</ReportSets>"},
       {{"Getting current reportset XML config to disable ...", 4}},
       {kPs},
       "",
       1},
      {"SetDestroySendsTheBareRecordWithoutFetching",
       {S(kReportSets, 2, "ps", "not kept"), I(kReportSets, 7, "ps", 6)},
       0,
       0,
       {"<ReportSets>", "<ReportSet Name=\"ps\"/>", "</ReportSets>"},
       {},
       {kPs},
       "",
       0},
      {"FetchAnsweredWithMoreRepliesFollowingIsValid",
       {I(kRuleSets, 6, "rs", 1)},
       0,
       0,
       {"<RuleSets>", kRuleSetRs, "</RuleSets>"},
       {},
       {{kRuleSetFetch, "rs", kRuleSetRs, 21}}},
      {"FetchedTextThatIsNotWellFormedIsAFailedFetch",
       {I(kRuleSets, 6, "rs", 1)},
       12,
       1,
       {},
       {},
       {{kRuleSetFetch, "rs", broken}}},
      {"MemberCreateAndGoAddsTheRuleToTheFetchedSet",
       {S(kRsMembers, 2, "rs", "net", 3), I(kRsMembers, 1, "rs", 3, 3),
        I(kRsMembers, 3, "rs", 4, 3)},
       0,
       0,
       {"<RuleSets>", rs_head + "<Rule Name=\"disk\"/><Status>enable</Status><Rule Name=\"net\"/>",
        "</RuleSet>", "</RuleSets>"},
       {{"found rule name \"net\" to add/modify/remove...", 3},
        {"current rule index = \"rs\".3", 3, 3},
        {"Adding/modifying rule \"net\" in ruleset \"rs\"...", 3},
        {"OID Length: {length} und IndexStringLen 2\n", 3, 3}},
       {kRs}},
      {"MemberCreateAndGoOfAPresentMemberLeavesTheSet",
       {S(kPsMembers, 2, "ps", "r2"), I(kPsMembers, 3, "ps", 4)},
       0,
       0,
       {"<ReportSets>", kReportSetPs, "</ReportSets>"},
       {{"current reportset index = \"ps\".*", 3, 2}},
       {kPs}},
      {"MemberCreateAndGoOfALoadedMemberRow",
       {S(kRsMembers, 2, "rs", "net", 2), I(kRsMembers, 3, "rs", 4, 2)},
       12,
       2,
       {},
       {},
       {kRs}},
      {"MemberRowStatusBeforeTheName",
       {I(kRsMembers, 3, "rs", 4), S(kRsMembers, 2, "rs", "net")},
       12,
       1,
       {},
       {{"## ERROR! Rule name not specified while modifying ruleset contents table!\n", 1},
        {"## ERROR! RowStatus : Create and Go!\n", 1}},
       {kRs}},
      {"MemberCheckMustEqualTheMemberNumber", {I(kRsMembers, 1, "rs", 3, 2)}, 12, 1, {}, {}, {kRs}},
      {"MemberCheckWithoutMemberNumber", {I(kPsMembers, 1, "ps", 1)}, 12, 1, {}, {}, {kPs}},
      // The number names the row; the name picks the member removed.
      {"MemberDestroyRemovesTheNamedMember",
       {S(kRsMembers, 2, "rs", "disk", 1), I(kRsMembers, 3, "rs", 6, 1)},
       0,
       0,
       {"<RuleSets>", rs_head + "<Status>enable</Status></RuleSet>", "</RuleSets>"},
       {{"RuleSetContent with Index specified", 3},
        {"Removing rule \"disk\" from ruleset \"rs\"...", 3},
        {kAgent + "--> Delete row \"rs\"", 2}},
       {kRs}},
      {"MemberDestroyNeedsTheName", {I(kPsMembers, 3, "ps", 6, 1)}, 12, 1, {}, {}, {kPs}},
      {"MemberDestroyOfARowThatIsNotLoadedIsSentWithAWarning",
       {S(kPsMembers, 2, "ps", "r2", 9), I(kPsMembers, 3, "ps", 6, 9)},
       0,
       0,
       {"<ReportSets>", "<ReportSet Name=\"ps\"><Report Name=\"rep\"/></ReportSet>",
        "</ReportSets>"},
       {{kAgent + "## WARNING when deleting row: row does not exist! Don't report an error "
                  "(according to RFC2579).\n",
         2}},
       {kPs}},
      {"MemberDestroyWithoutNumberRemovesEveryRule",
       {I(kRsMembers, 3, "rs", 6)},
       0,
       0,
       {"<RuleSets>",
        "<RuleSet Name=\"rs\"><Description>main</Description><Status>enable</Status></RuleSet>",
        "</RuleSets>"},
       {{"RuleSetContent without Index specified", 3},
        {"Removing rule \"cpu\" from ruleset \"rs\"...", 3},
        {"Removing rule \"disk\" from ruleset \"rs\"...", 3}},
       {kRs}},
      // The emptied set states the status it left implied: a record that names
      // only the set would remove it.
      {"MemberDestroyWithoutNumberKeepsTheEmptiedSet",
       {I(kPsMembers, 3, "ps", 6)},
       0,
       0,
       Doc("ReportSets", "ReportSet", "ps", {"<Status>enable</Status>"}),
       {},
       {{kReportSetFetch, "ps",
         "<ReportSet Name=\"ps\"><Report Name=\"a\"/><Report/><Report Name=\"a\"/>"
         "<Report Name=\"\"/></ReportSet>"}}},
      {"MemberCreateWithoutTheSetIsRefused",
       {S(kPsMembers, 2, "ps", "rep"), I(kPsMembers, 3, "ps", 4)},
       12,
       2,
       {},
       {{"## ERROR! Failed to get reportset XML config from SWITCH!\n", 1}}},
      {"VarbindOfAnotherTableWithTheSameNameJoinsTheFirstRecord",
       {S(kRuleSets, 2, "rs", "d"), S(kRsMembers, 2, "rs", "net"), I(kRsMembers, 3, "rs", 4)},
       0,
       0,
       {"<RuleSets>", rs_head + "<Rule Name=\"disk\"/><Status>enable</Status><Rule Name=\"net\"/>",
        "</RuleSet>", "</RuleSets>"},
       {},
       {kRs}},
  };
  // Without the member list no record can remove one member and keep the
  // others: nothing is sent.  A set the module does not hold has no member to
  // destroy (no error); any other failure is one.
  const std::tuple<unsigned char, std::optional<std::string>, AsnInteger32> destroy_failures[] = {
      {2, std::nullopt, 0}, {0, std::nullopt, 12}, {6, std::nullopt, 12}, {0, broken, 12}};
  for (const auto& [status, data, answer] : destroy_failures) {
    requests.push_back(
        {"MemberDestroyWithoutTheSet" + std::to_string(status) + (data ? "Broken" : ""),
         {S(kRsMembers, 2, "rs", "cpu", 1), I(kRsMembers, 3, "rs", 6, 1),
          I(kRsMembers, 4, "rs", 2, 1)},  // read-only, never examined
         answer,
         answer == 0 ? 0 : 2,
         {},
         {{answer == 0 ? "## Warning! Failed to get ruleset XML config from SWITCH!Do not report "
                         "an error\n"
                       : fetch_error,
           1}},
         {{kRuleSetFetch, "rs", data, status}}});
  }
  return requests;
}

class ExecuteSetTest : public ::testing::TestWithParam<Request> {
 protected:
  void SetUp() override {
    lib_.Load();
    lib_.set_table(0x311,
                   "<Rules><Rule Name=\"cpu\"><Description>old</Description></Rule></Rules>");
    lib_.set_table(0x310, ("<RuleSets>" + kRuleSetRs + "</RuleSets>").c_str());
    lib_.set_table(0x314, "<Events><Event Name=\"ev\"><Type>snmp-trap</Type></Event></Events>");
    lib_.set_table(0x312, "<Resources><Resource Name=\"res\"/></Resources>");
    lib_.set_table(0x313, "<Targets><Target Name=\"tg\">10.0.0.1</Target></Targets>");
    lib_.set_table(0x321, "<Reports><Report Name=\"rep\"/></Reports>");
    lib_.set_table(0x320, ("<ReportSets>" + kReportSetPs + "</ReportSets>").c_str());
    ASSERT_TRUE(lib_.Start());
    lib_.capture_trace(1);
    first_frame_ = lib_.frame_count();
  }

  std::vector<ThresholdLibrary::FrameInfo> Frames(unsigned oc) {
    std::vector<ThresholdLibrary::FrameInfo> frames;
    for (auto& frame : lib_.Frames(first_frame_)) {
      if (frame.oc == oc) frames.push_back(std::move(frame));
    }
    return frames;
  }

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
}

TEST_P(ExecuteSetTest, RequestIsAnsweredStoredAndTraced) {
  const Request& r = GetParam();
  for (const Reply& reply : r.replies) {
    lib_.SetReply(reply.oc, reply.name, reply.text ? TextData(*reply.text) : Bytes{}, reply.status);
  }
  VarBinds vbs;
  for (const Vb& vb : r.vbs) {
    Oid name = lib_.At(vb.column);
    name.insert(name.end(), vb.index.begin(), vb.index.end());
    if (vb.type == ASN_OCTETSTRING) {
      vbs.AddText(name, vb.text);
    } else if (vb.type == ASN_NULL) {
      vbs.Add(name);
    } else {
      vbs.AddInteger(name, vb.number).value.asnType = vb.type;
    }
  }
  AsnInteger32 status = 0, index = 0;
  EXPECT_EQ(lib_.query(SNMP_PDU_SET, vbs.Get(), &status, &index), vbs.size() != 0);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(index, r.index);

  const auto stores = Frames(kStoreCommand);
  ASSERT_EQ(stores.size(), r.stored.empty() ? 0u : 1u);
  if (!r.stored.empty()) {
    EXPECT_EQ(stores[0].oid, 0u);
    EXPECT_EQ(stores[0].cabid, 0xFFFFFFFFu);
    EXPECT_EQ(stores[0].stat, 19u);
    ASSERT_FALSE(stores[0].data.empty());
    EXPECT_EQ(stores[0].data.back(), 0) << "the document goes with its terminating zero";
    if (r.stored[0] != "*") {
      EXPECT_EQ(std::string(stores[0].data.begin(), stores[0].data.end() - 1), Lines(r.stored));
      const std::string container = r.stored[0].substr(1, r.stored[0].size() - 2);
      for (const Table& t : kTables) {
        if (container == t.container) {
          EXPECT_EQ(stores[0].oe, t.code);
        }
      }
    }
  }
  if (r.fetches >= 0) {
    const auto fetches = Frames(kRuleSetFetch).size() + Frames(kReportSetFetch).size();
    EXPECT_EQ(fetches, static_cast<size_t>(r.fetches));
  }

  const auto lines = lib_.TraceLines();
  for (auto [text, level, count] : r.traces) {
    if (text[0] != '\n') text = kSet + text;
    Replace(text, "{root}", lib_.mib_root());
    if (vbs.size() != 0) Replace(text, "{length}", std::to_string(vbs[0].name.idLength));
    const bool prefix = text.back() == '*' && text.size() > 1 && text[text.size() - 2] == ' ';
    if (prefix) text.pop_back();
    int found = 0;
    for (const auto& line : lines) {
      if (prefix ? line.text.rfind(text, 0) == 0 : line.text == text) {
        ++found;
        EXPECT_EQ(line.level, level) << text;
      }
    }
    EXPECT_EQ(found, count) << text;
  }
  if (!r.last_result.empty()) {
    EXPECT_EQ(lib_.LastSetResult(), r.last_result);
    EXPECT_EQ(lib_.Get(lib_.At("1.2.4.0")), "STRING " + r.last_result);
  }
}

std::string RowName(const ::testing::TestParamInfo<Request>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Columns, ExecuteSetTest, ::testing::ValuesIn(ColumnRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(RowStatus, ExecuteSetTest, ::testing::ValuesIn(RowStatusRequests()),
                         RowName);
INSTANTIATE_TEST_SUITE_P(Ranges, ExecuteSetTest, ::testing::ValuesIn(RangeRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Enumerations, ExecuteSetTest, ::testing::ValuesIn(EnumerationRequests()),
                         RowName);
INSTANTIATE_TEST_SUITE_P(FailedFetch, ExecuteSetTest, ::testing::ValuesIn(FailedFetchRequests()),
                         RowName);
INSTANTIATE_TEST_SUITE_P(Names, ExecuteSetTest, ::testing::ValuesIn(NameRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Rows, ExecuteSetTest, ::testing::ValuesIn(RowRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Sets, ExecuteSetTest, ::testing::ValuesIn(SetRequests()), RowName);

// The module's reply to the store command maps to the SNMP error status at the
// first varbind; its text is traced.
class StoreReplyTest : public ExecuteSetTest {};

TEST_F(StoreReplyTest, EveryReplyStatusMapsToItsSnmpErrorStatus) {
  VarBinds vbs;
  vbs.AddText(lib_.At(Col(kRules, 2) + ".3.99.112.117"), "d");
  vbs.AddInteger(lib_.At(Col(kRules, 23) + ".3.99.112.117"), 1);
  for (int reply = 0; reply <= 25; ++reply) {
    const unsigned char byte = reply == 25 ? 255 : static_cast<unsigned char>(reply);
    AsnInteger32 snmp = 5;
    if (byte == 0) snmp = 0;
    if (byte == 4 || byte == 10 || byte == 18) snmp = 10;
    if (byte == 7 || byte == 8) snmp = 4;
    lib_.set_store_status(byte);
    lib_.capture_trace(1);
    AsnInteger32 status = 0, index = 0;
    lib_.query(SNMP_PDU_SET, vbs.Get(), &status, &index);
    EXPECT_EQ(status, snmp) << int{byte};
    EXPECT_EQ(index, snmp == 0 ? 0 : 1) << int{byte};
    EXPECT_EQ(Frames(kStoreCommand).size(), static_cast<size_t>(reply + 1));
    EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
    int traced = 0;
    for (const auto& line : lib_.TraceLines()) {
      if (line.level == 3 &&
          line.text.rfind(kAgent + "ExecuteSET(): VARN request status = ", 0) == 0) {
        ++traced;
        EXPECT_EQ(line.text.find("Success") != std::string::npos, byte == 0) << line.text;
      }
    }
    EXPECT_EQ(traced, 1) << int{byte};
  }
}

// The fetch command of a set carries the set's name and its terminator.
TEST_F(StoreReplyTest, SetFetchCarriesTheNameWithItsTerminator) {
  lib_.SetReply(kRuleSetFetch, "rs", TextData(kRuleSetRs));
  VarBinds vbs;
  vbs.AddInteger(lib_.At(Col(kRuleSets, 6) + ".2.114.115"), 1);
  AsnInteger32 status = 0, index = 0;
  lib_.query(SNMP_PDU_SET, vbs.Get(), &status, &index);
  const auto fetches = Frames(kRuleSetFetch);
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].oe, 0u);
  EXPECT_EQ(fetches[0].cabid, 0xFFFFFFFFu);
  EXPECT_EQ(fetches[0].stat, 19u);
  EXPECT_EQ(fetches[0].data, TextData("rs"));
}

}  // namespace
