// SET requests on the configuration tables, one per row below: the store command
// and document the fake module gets, the answer, the trace and last SET result.
//
// A request is written "rules.2[cpu]:text | rules.23[cpu]=4 | rsm.3[rs]2=6":
// table.column[row name], a member number, then ":" and a text, "=" and an
// integer ("=c", "=g", "=t": counter, gauge, time ticks) or nothing (NULL);
// "@1.2.4.0" is an OID below the root as it stands.
#include <gtest/gtest.h>

#include <algorithm>
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

const std::string kRuleSetRs =
    "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/><Rule Name=\"disk\"/>"
    "<Status>enable</Status></RuleSet>";
const std::string kReportSetPs =
    "<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/></ReportSet>";
const std::string kRsHead =
    "<RuleSet Name=\"rs\"><Description>main</Description><Rule Name=\"cpu\"/>";
const std::string kBrokenRs = "<RuleSet Name=\"rs\"><Rule";
const std::string kSet = "\nLORVETH_AGENT       :  ExecuteSET(): ";
const std::string& kAgent = threshold_test::kAgentTrace;

struct Table {
  const char* name;
  const char* oid;  // below the root
  unsigned code;
  UINT row_status;
  const char* container;  // "" for the contents tables
  const char* record;
  const char* loaded;  // a row loaded at the start
};
const Table kTables[] = {
    {"rules", "1.3.1", 0x311, 23, "Rules", "Rule", "cpu"},
    {"rulesets", "1.3.3", 0x310, 6, "RuleSets", "RuleSet", "rs"},
    {"rsm", "1.3.4", 0x310, 3, "", "", "rs"},
    {"events", "1.3.6", 0x314, 4, "Events", "Event", "ev"},
    {"resources", "1.5.1", 0x312, 7, "Resources", "Resource", "res"},
    {"targets", "1.5.3", 0x313, 3, "Targets", "Target", "tg"},
    {"reports", "1.4.1", 0x321, 12, "Reports", "Report", "rep"},
    {"reportsets", "1.4.3", 0x320, 7, "ReportSets", "ReportSet", "ps"},
    {"psm", "1.4.5", 0x320, 3, "", "", "ps"},
};
const Table& Of(const std::string& name) {
  for (const Table& t : kTables) {
    if (name == t.name) return t;
  }
  throw std::invalid_argument(name);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  for (size_t at = 0; at <= text.size();) {
    const size_t end = std::min(text.find(separator, at), text.size());
    parts.push_back(text.substr(at, end - at));
    at = end + separator.size();
  }
  return parts;
}

struct Trace {
  unsigned level;
  std::string text;  // after "ExecuteSET(): " unless it begins with a line break
  int count;
};

struct Reply {
  unsigned oc;
  std::string name;
  std::optional<std::string> text;  // sent with its terminator; none: no data
  unsigned char status;
};

struct Request {
  std::string name, vbs;
  AsnInteger32 status = 0, index = 0;
  std::string stored;  // the document's lines joined by '|'; "": none sent; "*": one, any
  std::vector<Trace> traces;
  std::vector<Reply> replies;
  std::string last;  // the last SET result message; "": unchecked
  int fetches = -1;  // set fetch commands; -1: unchecked

  Request& Fails(AsnInteger32 s, AsnInteger32 i) { return status = s, index = i, *this; }
  Request& Stores(const std::string& doc) { return stored = doc, *this; }
  // `text` ending in " *" is a prefix; "{root}" stands for the MIB root and
  // "{length}" for the first varbind's OID length.
  Request& Traced(unsigned level, const std::string& text, int count = 1) {
    traces.push_back({level, text, count});
    return *this;
  }
  Request& With(unsigned oc, const std::string& row, std::optional<std::string> text,
                unsigned char reply = 0) {
    replies.push_back({oc, row, std::move(text), reply});
    return *this;
  }
  Request& Rs() { return With(kRuleSetFetch, "rs", kRuleSetRs); }
  Request& Ps() { return With(kReportSetFetch, "ps", kReportSetPs); }
  Request& Last(const std::string& text) { return last = text, *this; }
  Request& Fetches(int count) { return fetches = count, *this; }
};
Request R(const std::string& name, const std::string& vbs) {
  Request r;
  r.name = name;
  r.vbs = vbs;
  return r;
}

void PrintTo(const Request& r, std::ostream* os) { *os << r.vbs; }

std::string Doc(const std::string& container, const std::string& record, const std::string& row,
                const std::string& lines) {
  return "<" + container + ">|<" + record + " Name=\"" + row + "\">|" + lines + "|</" + record +
         ">|</" + container + ">";
}
std::string Rule(const std::string& row, const std::string& lines) {
  return Doc("Rules", "Rule", row, lines);
}
std::string Id(const std::string& text) {
  std::string id;
  for (char c : text) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return id;
}

// createAndGo of row "new" with one writable column: the record holds its item.
std::vector<Request> ColumnRequests() {
  const std::pair<const char*, const char*> columns[] = {
      {"rules.2[new]:High load", "<Description>High load</Description>"},
      {"rules.3[new]:a < b & c", "<Comment>a &lt; b &amp; c</Comment>"},
      {"rules.5[new]=30", "<Interval>30</Interval>"},
      {"rules.6[new]:cpuload", "<Resource Name=\"cpuload\"/>"},
      {"rules.7[new]=2", "<Instances Monitor=\"average\"/>"},
      {"rules.8[new]:1,2", "<Instances>|<Indexes>1,2</Indexes>|</Instances>"},
      {"rules.11[new]=3", "<Threshold Type=\"delta-inc\"/>"},
      {"rules.14[new]=11", "<Threshold Operator=\"exist-change\"/>"},
      {"rules.15[new]=-2147483648", "<Threshold Value=\"-2147483648\"/>"},
      {"rules.20[new]=3", "<Event Control=\"continuous-with-delay\"/>"},
      {"rules.27[new]=5", "<Performance>|<Status>critical</Status>|</Performance>"},
      {"rulesets.3[new]=90", "<Schedule Start=\"01:30\"/>"},
      {"events.2[new]=1", "<Type>snmp-trap</Type>"},
      {"resources.4[new]=3", "<Request Type=\"registry\"/>"},
      {"resources.5[new]:1.3.6.1.2", "<Request>1.3.6.1.2</Request>"},
      {"reportsets.4[new]=605", "<StopTime>10:05</StopTime>"},
      // 2006-01-02 23:59:59 UTC: the date alone is stored.
      {"reportsets.5[new]=1136246399", "<RecordingEnd>01/02/2006</RecordingEnd>"},
  };
  std::vector<Request> requests;
  for (const auto& [vb, lines] : columns) {
    const std::string written = vb;
    const Table& t = Of(written.substr(0, written.find('.')));
    const std::string column = written.substr(0, written.find('['));
    const bool is_set = std::string(t.record).ends_with("Set");
    requests.push_back(
        R("Writes" + Id(column),
          written + " | " + t.name + "." + std::to_string(t.row_status) + "[new]=4")
            .Stores(Doc(t.container, t.record, "new",
                        lines + std::string(is_set ? "|<Status>enable</Status>" : ""))));
  }
  return requests;
}

// Numbers past a column's range are refused at their varbind with the range
// traced; the bound itself is written.
std::vector<Request> RangeRequests() {
  const std::tuple<const char*, int32_t, const char*> bounds[] = {
      {"rules.5", 0, "1,2147483647"},    {"rules.5", 1, nullptr},
      {"rules.13", -1, "0,2147483647"},  {"rules.15", INT_MIN, nullptr},
      {"reports.6", -1, "0,2147483647"}, {"rulesets.3", 1440, nullptr},
      {"rulesets.3", 1441, "0,1440"},    {"reportsets.4", -1, "0,1440"},
  };
  std::vector<Request> requests;
  for (const auto& [column, value, range] : bounds) {
    const std::string col = column;
    const Table& t = Of(col.substr(0, col.find('.')));
    const std::string number = std::to_string(value);
    Request r = R("Range" + Id(col) + Id(number), std::string(t.name) + ".2[new]:x | " + col +
                                                      "[new]=" + number + " | " + t.name + "." +
                                                      std::to_string(t.row_status) + "[new]=4");
    if (range == nullptr) {
      r.Stores("*");
    } else {
      r.Fails(12, 2).Traced(1, "## ERROR Value " + number + " not in range(" + range + ")");
    }
    requests.push_back(r);
  }
  return requests;
}

std::vector<Request> RefusedRequests() {
  std::vector<Request> requests;
  for (const char bad : std::string("/\\|:*\"<>?")) {
    const std::string name = std::string("abc") + bad + "x?";
    requests.push_back(
        R("ReportNameBad" + std::to_string(static_cast<int>(bad)),
          "reports.2[" + name + "]:d | reports.12[" + name + "]=4")
            .Fails(18, 1)
            .Traced(1, "## ERROR! ReportName \"" + name + "\" contains bad character at 3")
            .Last("ReportName contains bad character ('/\\|:*\"<>?')"));
  }
  for (const char* column :
       {"rules.24", "rules.25", "rulesets.5", "rulesets.7", "rsm.4", "events.5", "resources.8",
        "targets.4", "reports.13", "reports.14", "reportsets.6", "reportsets.8", "psm.4"}) {
    const std::string col = column;
    requests.push_back(
        R("ReadOnly" + Id(col), col.substr(0, col.find('.')) + ".2[x]:x | " + col + "[x]=1")
            .Fails(4, 2));
  }
  for (const char* column : {"rules.0", "rules.28", "rulesets.8", "rsm.5", "events.6",
                             "resources.12", "targets.5", "reports.15", "reportsets.9", "psm.0"}) {
    requests.push_back(R("Unknown" + Id(column), std::string(column) + "[x]=1")
                           .Fails(2, 1)
                           .Traced(1, "## ERROR! SET on unknown object!"));
  }
  return requests;
}

std::vector<Request> RowRequests() {
  const std::string no_row = kAgent + "## ERROR! Missing or illegal RowStatus in row!\n";
  const std::string description_d = Rule("cpu", "<Description>d</Description>");
  return {
      R("TargetAddressIsTheElementText", "targets.2[new]:10.1.2.3 | targets.3[new]=4")
          .Stores("<Targets>|<Target Name=\"new\">10.1.2.3</Target>|</Targets>"),
      R("StoreTraceNamesTheColumnAndItsWriter", "rules.14[cpu]=5 | rules.23[cpu]=1")
          .Stores(Rule("cpu", "<Threshold Operator=\"greater\"/>"))
          .Traced(3, "Store object {root}.1.3.1.1.14 with SetOperator")
          .Traced(2, kAgent + "--> Modify row \"cpu\", make active")
          .Traced(3,
                  kAgent + "ExecuteSET(): VARN request status = Success (MIB update by VARN event)")
          .Last("No SET executed"),
      R("RecordingEndTracesTheUtcTimeOnce",
        "reportsets.5[fresh]=1136246399 | reportsets.7[fresh]=5")
          .Stores(Doc("ReportSets", "ReportSet", "fresh",
                      "<RecordingEnd>01/02/2006</RecordingEnd>|<Status>disable</Status>"))
          .Traced(3, "\n GMT:   01/02/2006 23:59:59"),
      R("RecordingEndZeroIsNoObjectForCreate", "reportsets.5[fresh]=0 | reportsets.7[fresh]=4")
          .Fails(12, 2)
          .Traced(
              3, "Do not store object {root}.1.4.3.1.5 with SetRecordingEndTime because value is 0")
          .Traced(1, kAgent + "## ERROR when creating row: no other objects in row provided!\n"),
      R("IllegalRowStatusIsTracedWithItsValue", "rules.23[cpu]=2")
          .Fails(12, 1)
          .Traced(1, "## ERROR! Illegal RowStatus SET value (2)!"),
      R("NumberColumnTakesAnOctetStringAsZero", "rules.5[cpu]:30 | rules.23[cpu]=1")
          .Fails(12, 1)
          .Traced(1, "## ERROR Value 0 not in range(1,2147483647)"),
      // Items of one element share it; a text survives an attribute.
      R("ItemsOfOneElementShareIt",
        "rules.14[cpu]=7 | rules.16[cpu]=1 | rules.17[cpu]=5 | rules.8[cpu]:1 | rules.9[cpu]:p | "
        "rules.7[cpu]=2 | rules.23[cpu]=1")
          .Stores(Rule("cpu",
                       "<Threshold Operator=\"within-range\" RangeMin=\"1\" RangeMax=\"5\"/>|"
                       "<Instances Monitor=\"average\">|<Indexes>1</Indexes>|<Names>p</Names>|"
                       "</Instances>")),
      R("ResourceRequestKeepsItsTextBesideItsType",
        "resources.5[res]:q | resources.4[res]=2 | resources.7[res]=1")
          .Stores(Doc("Resources", "Resource", "res", "<Request Type=\"snmp\">q</Request>")),
      R("NumberColumnsTakeCounterGaugeAndTimeTicks",
        "rules.5[cpu]=c7 | rules.13[cpu]=g8 | rules.18[cpu]=t9 | rules.23[cpu]=1")
          .Stores(Rule("cpu",
                       "<Interval>7</Interval>|<WatchPeriod>8</WatchPeriod>|"
                       "<OccurenceCount>9</OccurenceCount>")),
      R("TextColumnGivenAnIntegerWritesTheMismatchText", "rules.2[cpu]=5 | rules.23[cpu]=1")
          .Stores(
              Rule("cpu", "<Description>&lt;&lt;GetString type mismatch&gt;&gt;</Description>")),
      // An enumeration value outside its list is no error but leaves the
      // writer's message; most writers then write nothing, two write a text.
      R("EnumerationOutsideLeavesTheWritersMessage", "rules.14[cpu]=-2147483648 | rules.23[cpu]=1")
          .Traced(1, "## ERROR! Wrong enum value in SetOperator!")
          .Last("Wrong enum value in SetOperator!"),
      R("EventTypeOutsideWritesAnEmptyType", "events.2[ev]=2 | events.4[ev]=1")
          .Stores(Doc("Events", "Event", "ev", "<Type/>"))
          .Last("Wrong enum value in SetType!"),
      R("EventSeverityOutsideWritesInformational", "events.3[ev]=7 | events.4[ev]=1")
          .Stores(Doc("Events", "Event", "ev", "<Severity>informational</Severity>"))
          .Last("Wrong enum value in SetSeverity!"),
      // The rule varbind comes first: the report varbind joins the Rule record
      // (where its writer finds nothing to write) and the name is not checked.
      R("ReportNameIsCheckedOnlyWhenTheReportVarbindComesFirst",
        "rules.2[a:b]:d | reports.3[a:b]:c | rules.23[a:b]=4")
          .Stores(Rule("a:b", "<Description>d</Description>")),
      R("CreateAndGoWithOnlyTheRowStatus", "rules.23[new]=4").Fails(12, 1),
      R("CreateAndGoOfALoadedRow", "rules.2[cpu]:d | rules.23[cpu]=4")
          .Fails(12, 2)
          .Traced(1, kAgent + "## ERROR when creating row: row already exists!\n"),
      R("ActiveOfARowThatIsNotLoaded", "targets.2[nope]:1.2.3.4 | targets.3[nope]=1")
          .Fails(12, 2)
          .Traced(1, kAgent + "## ERROR when activate/modify row: row does not exist!\n"),
      R("RowFailureIsAtTheLastVarbind", "rules.2[nope]:a | rules.3[nope]:b | rules.23[nope]=1")
          .Fails(12, 3),
      R("MissingRowStatusIsRefusedAtTheFirstVarbind", "rules.2[cpu]:a | rules.3[cpu]:b")
          .Fails(12, 1)
          .Traced(1, no_row),
      R("TheLastRowStatusVarbindCounts", "rules.23[cpu]=4 | rules.2[cpu]:d | rules.23[cpu]=1")
          .Stores(description_d),
      // Another column of the row does not turn the removal into a change.
      R("DestroySendsARecordWithOnlyItsName", "events.3[ev]=2 | events.4[ev]=6")
          .Stores("<Events>|<Event Name=\"ev\"/>|</Events>"),
      R("IndexColumnWithAnotherName", "rules.2[cpu]:d | rules.1[cpu]:cpu2 | rules.23[cpu]=1")
          .Fails(12, 2)
          .Traced(1, "## ERROR! SET index 1 (cpu) does not match to index variable value (cpu2)!"),
      R("TwoRowsAreRefusedAtTheSecondVarbind", "rules.2[cpu]:d | rules.2[cpux]:d | rules.23[cpu]=1")
          .Fails(12, 2)
          .Traced(1, "## ERROR! Current table index 1 (cpu) not equal to SET index (cpux)")
          .Last("Different table indexes in VarbindList"),
      R("OidThatEndsBeforeTheColumnIsUnknown", "@1.3.1 | @1.3.1.1").Fails(2, 1),
      R("OidThatEndsBeforeTheNameAddressesTheEmptyName", "@1.3.1.1.2:d | @1.3.1.1.23=4")
          .Stores("<Rules>|<Rule>|<Description>d</Description>|</Rule>|</Rules>"),
      R("NameBytesAreTheLowEightBits", "@1.3.1.1.2.3.355.624.885:d | rules.23[cpu]=1")
          .Stores(description_d),
      R("NamesWithMarkupCharactersTravelEscaped", "targets.2[a\"<&>]:x | targets.3[a\"<&>]=4")
          .Stores("<Targets>|<Target Name=\"a&quot;&lt;&amp;&gt;\">x</Target>|</Targets>"),
      // The MIB tree answers from the scalar's read-only registration.
      R("SetOutsideTheTablesIsLeftToTheMibTree", "@1.2.4.0:x").Fails(4, 1).Traced(1, no_row),
      R("VarbindOutsideTheTablesIsNeitherCheckedNorWritten",
        "@1.2.4.0:x | rules.2[cpu]:d | rules.23[cpu]=1")
          .Stores(description_d)
          .Last("No SET executed"),
      R("FireEventHandsTheRequestToTheMibTree", "rules.26[cpu]=1 | rules.2[cpu]:never looked at")
          .Fails(4, 1)
          .Traced(3, "Object handled by callback function"),
      R("EmptyVarbindListIsLeftToTheMibTree", "")
          .Fails(0, 1)
          .Traced(1, "Start (Build : *")
          .Traced(1, "End "),
  };
}

std::vector<Request> SetRequests() {
  const std::string net =
      kRsHead + "<Rule Name=\"disk\"/><Status>enable</Status><Rule Name=\"net\"/>";
  std::vector<Request> requests = {
      R("RuleSetActiveFetchesTheSetAndEnablesIt",
        "rulesets.2[rs]:discarded | rulesets.6[rs]=1 | rulesets.2[rs]:kept")
          .With(kRuleSetFetch, "rs",
                "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>disable</Status></RuleSet>")
          .Stores("<RuleSets>|<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Status>enable</Status>"
                  "<Description>kept</Description>|</RuleSet>|</RuleSets>")
          .Traced(4, "Getting current ruleset XML config to enable ...")
          .Fetches(1),
      R("ReportSetNotInServiceFetchesTheSetAndDisablesIt", "reportsets.7[ps]=2")
          .Ps()
          .Stores("<ReportSets>|<ReportSet Name=\"ps\"><Report Name=\"rep\"/><Report Name=\"r2\"/>"
                  "<Status>disable</Status>|</ReportSet>|</ReportSets>")
          .Traced(4, "Getting current reportset XML config to disable ...")
          .Fetches(1),
      R("SetDestroySendsTheBareRecordWithoutFetching",
        "reportsets.2[ps]:not kept | reportsets.7[ps]=6")
          .Ps()
          .Stores("<ReportSets>|<ReportSet Name=\"ps\"/>|</ReportSets>")
          .Fetches(0),
      R("FetchAnsweredWithMoreRepliesFollowingIsValid", "rulesets.6[rs]=1")
          .With(kRuleSetFetch, "rs", kRuleSetRs, 21)
          .Stores("<RuleSets>|" + kRuleSetRs + "|</RuleSets>"),
      R("FetchedTextThatIsNotWellFormedIsAFailedFetch", "rulesets.6[rs]=1")
          .With(kRuleSetFetch, "rs", kBrokenRs)
          .Fails(12, 1),
      R("MemberCreateAndGoAddsTheRuleToTheFetchedSet",
        "rsm.2[rs]3:net | rsm.1[rs]3=3 | rsm.3[rs]3=4")
          .Rs()
          .Stores("<RuleSets>|" + net + "|</RuleSet>|</RuleSets>")
          .Traced(3, "current rule index = \"rs\".3", 3)
          .Traced(3, "OID Length: {length} und IndexStringLen 2\n", 3),
      R("MemberCreateAndGoOfAPresentMemberLeavesTheSet", "psm.2[ps]:r2 | psm.3[ps]=4")
          .Ps()
          .Stores("<ReportSets>|" + kReportSetPs + "|</ReportSets>")
          .Traced(3, "current reportset index = \"ps\".*", 2),
      R("MemberCreateAndGoOfALoadedMemberRow", "rsm.2[rs]2:net | rsm.3[rs]2=4").Rs().Fails(12, 2),
      R("MemberRowStatusBeforeTheName", "rsm.3[rs]=4 | rsm.2[rs]:net")
          .Rs()
          .Fails(12, 1)
          .Traced(1, "## ERROR! Rule name not specified while modifying ruleset contents table!\n"),
      R("MemberCheckMustEqualTheMemberNumber", "rsm.1[rs]2=3").Rs().Fails(12, 1),
      // The number names the row; the name picks the member removed.
      R("MemberDestroyRemovesTheNamedMember", "rsm.2[rs]1:disk | rsm.3[rs]1=6")
          .Rs()
          .Stores("<RuleSets>|" + kRsHead + "<Status>enable</Status></RuleSet>|</RuleSets>")
          .Traced(2, kAgent + "--> Delete row \"rs\""),
      R("MemberDestroyNeedsTheName", "psm.3[ps]1=6").Ps().Fails(12, 1),
      R("MemberDestroyOfARowThatIsNotLoadedIsSentWithAWarning", "psm.2[ps]9:r2 | psm.3[ps]9=6")
          .Ps()
          .Stores("<ReportSets>|<ReportSet Name=\"ps\"><Report "
                  "Name=\"rep\"/></ReportSet>|</ReportSets>")
          .Traced(2, kAgent + "## WARNING when deleting row: row does not exist! Don't report an "
                              "error (according to RFC2579).\n"),
      R("MemberDestroyWithoutNumberRemovesEveryRule", "rsm.3[rs]=6")
          .Rs()
          .Stores("<RuleSets>|<RuleSet Name=\"rs\"><Description>main</Description>"
                  "<Status>enable</Status></RuleSet>|</RuleSets>")
          .Traced(3, "Removing rule \"disk\" from ruleset \"rs\"..."),
      // The emptied set states the status it left implied: a record that names
      // only the set would remove it.
      R("MemberDestroyWithoutNumberKeepsTheEmptiedSet", "psm.3[ps]=6")
          .With(kReportSetFetch, "ps",
                "<ReportSet Name=\"ps\"><Report Name=\"a\"/><Report/><Report Name=\"a\"/>"
                "<Report Name=\"\"/></ReportSet>")
          .Stores(Doc("ReportSets", "ReportSet", "ps", "<Status>enable</Status>")),
      // Every prefix of a member instance is read within its bounds (each
      // name is allocated to its exact size, for the sanitizers); a name cut
      // short names a set that cannot be fetched.
      R("MemberOidEndingAtTheTable", "@1.3.4=6").Fails(2, 1),
      R("MemberOidEndingAtTheColumn", "@1.3.4.1.3=6").Rs().Fails(12, 1),
      R("MemberOidEndingInTheName", "@1.3.4.1.3.2.114=6").Rs().Fails(12, 1),
      // Counting the member number's place past a name length beyond the OID
      // must not wrap around and take the last name byte for a member number.
      R("MemberNameLengthPastTheOidGivesNoMemberNumber", "@1.3.4.1.3.4294967295.114.115=6")
          .Rs()
          .Stores("*")
          .Traced(3, "current rule index = \"rs\".*")
          .Traced(3, "RuleSetContent without Index specified"),
      R("MemberNumberIsTheLastSubIdentifierAfterTheName", "@1.3.4.1.1.2.114.115.7.9=9")
          .Rs()
          .Fails(12, 1)
          .Traced(3, "current rule index = \"rs\".9"),
      R("MemberCreateWithoutTheSetIsRefused", "psm.2[ps]:rep | psm.3[ps]=4")
          .Fails(12, 2)
          .Traced(1, "## ERROR! Failed to get reportset XML config from SWITCH!\n"),
      // The member RowStatus loads the fetched set over the description.
      R("VarbindOfAnotherTableWithTheSameNameJoinsTheFirstRecord",
        "rulesets.2[rs]:d | rsm.2[rs]:net | rsm.3[rs]=4")
          .Rs()
          .Stores("<RuleSets>|" + net + "|</RuleSet>|</RuleSets>"),
  };
  // Without the member list no record can remove one member and keep the
  // others: nothing is sent.  A set the module does not hold has no member to
  // destroy (no error); any other failure is one.  Column 4 is read-only and
  // never examined.
  const std::tuple<unsigned char, std::optional<std::string>, AsnInteger32> failures[] = {
      {2, std::nullopt, 0}, {0, std::nullopt, 12}, {6, std::nullopt, 12}, {0, kBrokenRs, 12}};
  for (const auto& [status, data, answer] : failures) {
    requests.push_back(
        R("MemberDestroyWithoutTheSet" + std::to_string(status) + (data ? "Broken" : ""),
          "rsm.2[rs]1:cpu | rsm.3[rs]1=6 | rsm.4[rs]1=2")
            .With(kRuleSetFetch, "rs", data, status)
            .Fails(answer, answer == 0 ? 0 : 2)
            .Traced(1, answer == 0 ? "## Warning! Failed to get ruleset XML config from SWITCH!Do "
                                     "not report an error\n"
                                   : "## ERROR! Failed to get ruleset XML config from SWITCH!\n"));
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

  void Build(const std::string& text, VarBinds& vbs) {
    for (const std::string& written : Split(text, " | ")) {
      if (written.empty()) continue;
      const size_t value_at = written.find_first_of(
          ":=", written.find(']') == std::string::npos ? 0 : written.find(']'));
      const std::string oid = written.substr(0, value_at);
      Oid name;
      if (oid[0] == '@') {
        name = lib_.At(oid.substr(1));
      } else {
        const size_t dot = oid.find('.'), open = oid.find('['), close = oid.find(']');
        name = threshold_test::WithName(lib_.At(std::string(Of(oid.substr(0, dot)).oid) + ".1." +
                                                oid.substr(dot + 1, open - dot - 1)),
                                        oid.substr(open + 1, close - open - 1));
        if (close + 1 < oid.size()) name.push_back(std::stoul(oid.substr(close + 1)));
      }
      if (value_at == std::string::npos) {
        vbs.Add(name);
      } else if (written[value_at] == ':') {
        vbs.AddText(name, written.substr(value_at + 1));
      } else {
        std::string number = written.substr(value_at + 1);
        BYTE type = ASN_INTEGER;
        if (number[0] == 'c') type = ASN_COUNTER32;
        if (number[0] == 'g') type = ASN_GAUGE32;
        if (number[0] == 't') type = ASN_TIMETICKS;
        if (type != ASN_INTEGER) number.erase(0, 1);
        vbs.AddInteger(name, static_cast<AsnInteger32>(std::stoll(number))).value.asnType = type;
      }
    }
  }

  ThresholdLibrary lib_;
  size_t first_frame_ = 0;
};

TEST_P(ExecuteSetTest, RequestIsAnsweredStoredAndTraced) {
  const Request& r = GetParam();
  for (const Reply& reply : r.replies) {
    Bytes data;
    if (reply.text) data.assign(reply.text->c_str(), reply.text->c_str() + reply.text->size() + 1);
    lib_.SetReply(reply.oc, reply.name, data, reply.status);
  }
  VarBinds vbs;
  Build(r.vbs, vbs);
  AsnInteger32 status = 0, index = 0;
  EXPECT_EQ(lib_.query(SNMP_PDU_SET, vbs.Get(), &status, &index), vbs.size() != 0);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(index, r.index);

  const auto stores = lib_.FramesOf(kStoreCommand, first_frame_);
  ASSERT_EQ(stores.size(), r.stored.empty() ? 0u : 1u);
  if (!r.stored.empty()) {
    EXPECT_EQ(stores[0].oid, 0u);
    EXPECT_EQ(stores[0].cabid, 0xFFFFFFFFu);
    EXPECT_EQ(stores[0].stat, 19u);
    ASSERT_FALSE(stores[0].data.empty());
    EXPECT_EQ(stores[0].data.back(), 0) << "the document goes with its terminating zero";
  }
  if (!r.stored.empty() && r.stored != "*") {
    std::string expected;
    for (const std::string& line : Split(r.stored, "|")) expected += line + "\r\n";
    EXPECT_EQ(std::string(stores[0].data.begin(), stores[0].data.end() - 1), expected);
    const std::string container = r.stored.substr(1, r.stored.find('>') - 1);
    for (const Table& t : kTables) {
      if (container == t.container) {
        EXPECT_EQ(stores[0].oe, t.code);
      }
    }
  }
  if (r.fetches >= 0) {
    auto fetches = lib_.FramesOf(kRuleSetFetch, first_frame_);
    for (const auto& frame : lib_.FramesOf(kReportSetFetch, first_frame_)) fetches.push_back(frame);
    EXPECT_EQ(fetches.size(), static_cast<size_t>(r.fetches));
    for (const auto& frame : fetches) {
      EXPECT_EQ(frame.oe, 0u);
      EXPECT_EQ(frame.cabid, 0xFFFFFFFFu);
      EXPECT_EQ(frame.stat, 19u);
      EXPECT_EQ(frame.data, threshold_test::TextBytes(r.replies.at(0).name));
    }
  }

  const auto lines = lib_.TraceLines();
  for (auto [level, text, count] : r.traces) {
    if (text[0] != '\n') text = kSet + text;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>("{root}", lib_.mib_root()),
          std::pair<std::string, std::string>(
              "{length}", vbs.size() == 0 ? "" : std::to_string(vbs[0].name.idLength))}) {
      if (text.find(from) != std::string::npos) text.replace(text.find(from), from.size(), to);
    }
    const bool prefix = text.ends_with(" *");
    if (prefix) text.pop_back();
    int found = 0;
    for (const auto& line : lines) {
      if (prefix ? line.text.starts_with(text) : line.text == text) {
        ++found;
        EXPECT_EQ(line.level, level) << text;
      }
    }
    EXPECT_EQ(found, count) << text;
  }
  if (!r.last.empty()) {
    EXPECT_EQ(lib_.LastSetResult(), r.last);
    EXPECT_EQ(lib_.Get(lib_.At("1.2.4.0")), "STRING " + r.last);
  }
}

std::string RowName(const ::testing::TestParamInfo<Request>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Columns, ExecuteSetTest, ::testing::ValuesIn(ColumnRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Ranges, ExecuteSetTest, ::testing::ValuesIn(RangeRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Refused, ExecuteSetTest, ::testing::ValuesIn(RefusedRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Rows, ExecuteSetTest, ::testing::ValuesIn(RowRequests()), RowName);
INSTANTIATE_TEST_SUITE_P(Sets, ExecuteSetTest, ::testing::ValuesIn(SetRequests()), RowName);

class StoreReplyTest : public ExecuteSetTest {};

// The module's reply to the store command maps to the SNMP error status at the
// first varbind; its text is traced.
TEST_F(StoreReplyTest, EveryReplyStatusMapsToItsSnmpErrorStatus) {
  VarBinds vbs;
  Build("rules.2[cpu]:d | rules.23[cpu]=1", vbs);
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
    EXPECT_EQ(lib_.FramesOf(kStoreCommand, first_frame_).size(), static_cast<size_t>(reply + 1));
    EXPECT_EQ(lib_.LastSetResult(), "No SET executed");
    int traced = 0;
    for (const auto& line : lib_.TraceLines()) {
      if (line.level == 3 &&
          line.text.starts_with(kAgent + "ExecuteSET(): VARN request status = ")) {
        ++traced;
        EXPECT_EQ(line.text.find("Success") != std::string::npos, byte == 0) << line.text;
      }
    }
    EXPECT_EQ(traced, 1) << int{byte};
  }
}

}  // namespace
