// A walk of the whole MIB by GET-NEXT through the loaded test library,
// compared with a listing that this test derives on its own from the XML
// fixtures with an independent parser (pugixml) and the column rules written
// out here once more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;
using threshold_test::WalkEntry;
using threshold_test::WithName;

std::string Fixture(const char* name) {
  std::ifstream in(std::string(LORVETH_TEST_DATA_DIR) + "/threshold/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// --- The column rules, independently of the agent

// Text of an element without element children; "" otherwise or when missing.
std::string TextOf(const pugi::xml_node& node) {
  if (!node) return "";
  std::string text;
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_element) return "";
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  }
  return text;
}

int LeadingNumber(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

int64_t Modified(const pugi::xml_node& root) {
  int mo = 0, d = 0, y = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(root.attribute("Modified").value(), "%d/%d/%d %d:%d:%d", &mo, &d, &y, &h, &mi,
                  &s) != 6) {
    return 0;
  }
  return LocalTime(y, mo, d, h, mi, s);
}

int Minutes(const std::string& text) {
  if (text.empty()) return -1;
  int h = 0, m = 0;
  std::sscanf(text.c_str(), "%d:%d", &h, &m);
  return h * 60 + m;
}

int64_t RecordingEnd(const std::string& text) {
  int mo = 0, d = 0, y = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d", &mo, &d, &y) != 3) return 0;
  return LocalTime(y, mo, d, 12, 0, 0);
}

// 1-based place of text in the list, or `other`.
int Keyword(const std::string& text, std::vector<std::string> words, int other) {
  const auto found = std::find(words.begin(), words.end(), text);
  return found == words.end() ? other : static_cast<int>(found - words.begin()) + 1;
}

std::string Str(const std::string& text) { return "STRING " + text; }
std::string Int(int64_t value) { return "INTEGER " + std::to_string(static_cast<int32_t>(value)); }

// Live values as the fake module is scripted below.
struct Live {
  std::map<std::string, std::string> rule_values, report_values;
  std::map<std::string, int> ruleset_status, reportset_status;
  std::map<std::string, int> highest, oldest;
};

// A column's value from its record, by a rule "kind path[=default][:words]":
// the path "A/B@c" names child A, its child B and their attribute c ("" the
// record itself).  Kinds: s text, n leading number (the default when the
// element is missing), k 1-based place in the words (the default otherwise),
// m minutes of a daily time, e recording end, f a fixed value, access,
// status, rmax (the upper bound, read with a lower one only), live and run
// (the module's current value and set status of the row).
std::string ColumnValue(const pugi::xml_node& r, const std::string& rule, const Live& live) {
  const std::string kind = rule.substr(0, rule.find(' '));
  std::string rest = rule.find(' ') == std::string::npos ? "" : rule.substr(rule.find(' ') + 1);
  std::vector<std::string> words;
  if (const size_t colon = rest.find(':'); colon != std::string::npos) {
    for (size_t at = colon + 1; at <= rest.size();) {
      const size_t end = std::min(rest.find(',', at), rest.size());
      words.push_back(rest.substr(at, end - at));
      at = end + 1;
    }
    rest.resize(colon);
  }
  int fallback = 0;
  if (const size_t eq = rest.find('='); eq != std::string::npos) {
    fallback = std::stoi(rest.substr(eq + 1));
    rest.resize(eq);
  }
  pugi::xml_node node = r;
  std::string attribute;
  if (const size_t at = rest.find('@'); at != std::string::npos) {
    attribute = rest.substr(at + 1);
    rest.resize(at);
  }
  for (size_t at = 0; !rest.empty() && at <= rest.size();) {
    const size_t end = std::min(rest.find('/', at), rest.size());
    node = node.child(rest.substr(at, end - at).c_str());
    at = end + 1;
  }
  const std::string text =
      attribute.empty() ? TextOf(node) : node.attribute(attribute.c_str()).value();
  const std::string name = r.attribute("Name").value();
  if (kind == "s") return Str(text);
  if (kind == "n") return Int(node || attribute.size() ? LeadingNumber(text) : fallback);
  if (kind == "k") return Int(Keyword(text, words, fallback));
  if (kind == "m") return Int(Minutes(text));
  if (kind == "e") return Int(RecordingEnd(text));
  if (kind == "f") return Int(fallback);
  if (kind == "access") return Int(TextOf(r.child("Access")) == "read-only" ? 5 : 2);
  if (kind == "status") return Int(TextOf(r.child("Status")) == "disable" ? 2 : 1);
  if (kind == "rmax") {
    if (std::string(r.child("Threshold").attribute("RangeMin").value()).empty()) return Int(0);
    return Int(LeadingNumber(r.child("Threshold").attribute("RangeMax").value()));
  }
  if (kind == "live") {
    const auto& values = words[0] == "rule" ? live.rule_values : live.report_values;
    const auto found = values.find(name);
    return Str(found != values.end() ? found->second : "");
  }
  // run: any byte but 0, 1 and 2 leaves the value unset.
  const auto& statuses = words[0] == "ruleset" ? live.ruleset_status : live.reportset_status;
  const auto found = statuses.find(name);
  if (found == statuses.end()) return Int(1);
  if (found->second > 2) return "NULL";
  return Int(found->second == 0 ? 1 : 2);
}

class Listing {
 public:
  explicit Listing(ThresholdLibrary& lib) : lib_(lib) {}

  void Add(const std::string& relative, const std::string& value) { Add(lib_.At(relative), value); }
  void Add(const Oid& oid, const std::string& value) { entries_[oid] = value; }
  // Removes the first entry below root.<relative>, if any.
  void DropFirstUnder(const std::string& relative) {
    const Oid prefix = lib_.At(relative);
    const auto first = entries_.lower_bound(prefix);
    if (first != entries_.end() && first->first.size() >= prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), first->first.begin())) {
      entries_.erase(first);
    }
  }

  // One row per record child of the root with that tag, stopping at the first
  // child of another tag.
  template <class Extra>
  void Table(const pugi::xml_node& root, const char* tag, const std::string& entry,
             const std::string& rules, const Live& live, Extra extra) {
    std::vector<std::string> columns;  // the rules of columns 1, 2, ...
    for (size_t at = 0; at < rules.size();) {
      const size_t end = std::min(rules.find(" | ", at), rules.size());
      columns.push_back(rules.substr(at, end - at));
      at = end + 3;
    }
    for (pugi::xml_node r = root.first_child(); r; r = r.next_sibling()) {
      if (r.type() != pugi::node_element) continue;
      if (std::string(r.name()) != tag) break;
      const std::string name = r.attribute("Name").value();
      for (size_t column = 1; column <= columns.size(); ++column) {
        Add(WithName(lib_.At(entry + "." + std::to_string(column)), name),
            ColumnValue(r, columns[column - 1], live));
      }
      extra(r, name);
    }
  }

  void Members(const pugi::xml_node& set, const std::string& name, const char* member_tag,
               const std::string& entry) {
    UINT k = 0;
    for (const pugi::xml_node& m : set.children(member_tag)) {
      ++k;
      auto at = [&](UINT column) {
        Oid oid = WithName(lib_.At(entry + "." + std::to_string(column)), name);
        oid.push_back(k);
        return oid;
      };
      Add(at(1), Int(k));
      Add(at(2), Str(m.attribute("Name").value()));
      Add(at(3), Int(1));
      Add(at(4), Int(2));
    }
  }

  std::string Text() const {
    std::string text;
    for (const auto& [oid, value] : entries_)
      text += threshold_test::OidText(oid) + " = " + value + "\n";
    return text;
  }

 private:
  ThresholdLibrary& lib_;
  std::map<Oid, std::string> entries_;
};

std::string WalkText(const std::vector<WalkEntry>& walk) {
  std::string text;
  for (const WalkEntry& entry : walk) {
    text += threshold_test::OidText(entry.oid) + " = " + entry.value + "\n";
  }
  return text;
}

class ThresholdWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_.Load();
    for (const auto& [code, file] : kTables) lib_.set_table(code, Fixture(file).c_str());
    lib_.SetReply(0x2200, "", {1});
    lib_.SetReply(0x2220, "", {4});
    for (const auto& [name, value] : live_.rule_values)
      lib_.SetReply(0x2207, name, threshold_test::TextBytes(value));
    for (const auto& [name, value] : live_.report_values)
      lib_.SetReply(0x2214, name, threshold_test::TextBytes(value));
    for (const auto& [name, b] : live_.ruleset_status) lib_.SetReply(0x2208, name, {Byte(b)});
    for (const auto& [name, b] : live_.reportset_status) lib_.SetReply(0x2210, name, {Byte(b)});
    for (const auto& [name, v] : live_.highest) lib_.SetReply(0x2215, name, Word(v));
    for (const auto& [name, v] : live_.oldest) lib_.SetReply(0x2216, name, Word(v));
    ASSERT_TRUE(lib_.Start());
  }

  static unsigned char Byte(int b) { return static_cast<unsigned char>(b); }
  static std::vector<unsigned char> Word(int v) {
    const auto u = static_cast<uint32_t>(v);
    return {Byte(u & 0xFF), Byte((u >> 8) & 0xFF), Byte((u >> 16) & 0xFF), Byte(u >> 24)};
  }

  static constexpr std::pair<unsigned, const char*> kTables[] = {
      {0x311, "rules.xml"},     {0x310, "rulesets.xml"}, {0x314, "events.xml"},
      {0x312, "resources.xml"}, {0x313, "targets.xml"},  {0x321, "reports.xml"},
      {0x320, "reportsets.xml"}};

  ThresholdLibrary lib_;
  // "a" answers with an empty text, "disk" is not scripted: both read "".
  Live live_{{{"cpu", "87%"}, {"a", ""}},        {{"r1", "12.5"}}, {{"ab", 1}, {"night", 0}},
             {{"rs", 2}, {"", 0}, {"empty", 7}}, {{"r1", 7}},      {{"r1", 2}}};
};

TEST_F(ThresholdWalkTest, WalkFromTheRootShowsEveryObjectAsTheFixturesDescribeIt) {
  pugi::xml_document docs[7];
  std::map<unsigned, pugi::xml_node> root;
  for (size_t i = 0; i < 7; ++i) {
    ASSERT_TRUE(docs[i].load_string(Fixture(kTables[i].second).c_str()));
    root[kTables[i].first] = docs[i].document_element();
  }

  Listing expected(lib_);
  expected.Add("1.1.1.0", Str("Lorveth threshold test agent"));
  expected.Add("1.1.2.0", Str("Lorveth test"));
  expected.Add("1.1.3.0", Str("4.1.2.3"));
  expected.Add("1.1.4.0", Str("<build stamp>"));
  int64_t latest = 0;
  for (const auto& [code, node] : root) latest = std::max(latest, Modified(node));
  expected.Add("1.2.1.0", Int(latest));
  expected.Add("1.2.2.0", Int(3));  // module status 1
  expected.Add("1.2.3.0", Int(1));  // report sets, asked with the empty name: 0
  expected.Add("1.2.4.0", Str("No SET executed"));
  expected.Add("1.2.5.0", Int(5));  // module severity 4
  expected.Add("1.3.2.0", Int(Modified(root[0x311])));
  expected.Add("1.3.5.0", Int(Modified(root[0x310])));
  expected.Add("1.3.7.0", Int(Modified(root[0x314])));
  expected.Add("1.4.2.0", Int(Modified(root[0x321])));
  expected.Add("1.4.4.0", Int(Modified(root[0x320])));
  expected.Add("1.4.6.0", Int(Modified(root[0x320])));
  expected.Add("1.5.2.0", Int(Modified(root[0x312])));
  expected.Add("1.5.4.0", Int(Modified(root[0x313])));

  const auto no_extra = [](const pugi::xml_node&, const std::string&) {};
  const auto members = [&](const char* tag, const char* entry) {
    return [&expected, tag, entry](const pugi::xml_node& r, const std::string& name) {
      expected.Members(r, name, tag, entry);
    };
  };
  expected.Table(root[0x311], "Rule", "1.3.1.1",
                 "s @Name | s Description | s Comment | s HelpText | n Interval=1 | "
                 "s Resource@Name | k Instances@Monitor=1:any,average | s Instances/Indexes | "
                 "s Instances/Names | s Target@Name | "
                 "k Threshold@Type=1:absolute,delta-any,delta-inc,delta-dec | "
                 "k Threshold@Valuation=1:single-value,average-linear,average-muted | "
                 "n WatchPeriod=0 | "
                 "k Threshold@Operator=1:equal,not-equal,less,less-equal,greater,greater-equal,"
                 "within-range,out-of-range,exist-to-none-exist,none-exist-to-exist,exist-change | "
                 "n Threshold@Value | n Threshold@RangeMin | rmax | n OccurenceCount=0 | "
                 "s Event@Name | k Event@Control=2:single-shot,continuous,continuous-with-delay | "
                 "n Event@Delay | k Event@Alternating=1:false,true | f =1 | access | live :rule | "
                 "f =0 | k Performance/Status=1:unknown,normal,information,warning,critical",
                 live_, no_extra);
  expected.Table(root[0x310], "RuleSet", "1.3.3.1",
                 "s @Name | s Description | m Schedule@Start | m Schedule@Stop | run :ruleset | "
                 "status | access",
                 live_, members("Rule", "1.3.4.1"));
  expected.Table(root[0x314], "Event", "1.3.6.1",
                 "s @Name | k Type=0:snmp-trap | k Severity=0:critical,major,minor,informational | "
                 "f =1 | access",
                 live_, no_extra);
  expected.Table(root[0x321], "Report", "1.4.1.1",
                 "s @Name | s Description | s Comment | s HelpText | n Interval=1 | "
                 "n MaxEntries=0 | s Resource@Name | k Instances@Monitor=1:any,average | "
                 "s Instances/Indexes | s Instances/Names | s Target@Name | f =1 | access | "
                 "live :report",
                 live_, [&](const pugi::xml_node&, const std::string& name) {
                   const auto bound = [](const std::map<std::string, int>& values,
                                         const std::string& report, int add) {
                     const auto found = values.find(report);
                     return Int(found != values.end() ? found->second + add : 0);
                   };
                   expected.Add(WithName(lib_.At("1.4.7.1.1"), name),
                                bound(live_.highest, name, 0));
                   expected.Add(WithName(lib_.At("1.4.7.1.2"), name), bound(live_.oldest, name, 1));
                   expected.Add(WithName(lib_.At("1.4.8.1.1"), name), Int(0));
                 });
  expected.Table(root[0x320], "ReportSet", "1.4.3.1",
                 "s @Name | s Description | m StartTime | m StopTime | e RecordingEnd | "
                 "run :reportset | status | access",
                 live_, members("Report", "1.4.5.1"));
  expected.Table(root[0x312], "Resource", "1.5.1.1",
                 "s @Name | s Description | s HelpText | k Request@Type=1:builtin,snmp,registry | "
                 "s Request | s InstNameReq | f =1 | access | s Unit | s ContainerName | s Group",
                 live_, no_extra);
  expected.Table(root[0x313], "Target", "1.5.3.1", "s @Name | s  | f =1 | access", live_, no_extra);

  // The module holds no recorded values: the step out of the report index
  // table lands on the first report's placeholder, finds no record there or
  // behind it, and the MIB tree answers from that placeholder onwards.
  expected.DropFirstUnder("1.4.8");

  std::vector<WalkEntry> walk = lib_.Walk();
  // The build stamp carries the build's date and time.
  for (WalkEntry& entry : walk) {
    if (entry.oid == lib_.At("1.1.4.0")) {
      EXPECT_EQ(entry.value.rfind("STRING Build: ", 0), 0u) << entry.value;
      entry.value = Str("<build stamp>");
    }
  }
  EXPECT_EQ(WalkText(walk), expected.Text());
}

TEST_F(ThresholdWalkTest, SpotValuesOfTheFixturesMatchTheirHandDerivedValues) {
  // A few values checked against hand-derived numbers, so that a rule shared
  // by the agent and the listing above cannot hide a fault.
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.1"), "a")), "STRING a");
  EXPECT_EQ(lib_.Get(lib_.At("1.3.1.1.2.0")), "STRING nameless");             // rule without Name
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.17"), "a")), "INTEGER 0");     // RangeMax alone
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.17"), "disk")), "INTEGER 0");  // RangeMin ""
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.17"), "cpu")), "INTEGER 95");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.20"), "a")), "INTEGER 2");     // bogus control
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.20"), "disk")), "INTEGER 3");  // with delay
  EXPECT_EQ(lib_.Get(lib_.At("1.3.1.1.20.0")), "INTEGER 2");                  // no Event
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.5"), "a")), "INTEGER 1");      // no Interval
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.5"), "disk")), "INTEGER 12");  // "12x"
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.14"), "a")), "INTEGER 1");     // "Greater"
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.14"), "cpu")), "INTEGER 5");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.1.1.15"), "a")), "INTEGER -7");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.3.1.3"), "ab")), "INTEGER 510");  // 08:30
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.3.1.3"), "night")), "INTEGER -1");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.3.1.6"), "night")), "INTEGER 2");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.6.1.2"), "log")), "INTEGER 0");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.6.1.3"), "log")), "INTEGER 0");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.3.6.1.3"), "minor")), "INTEGER 3");
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.5.3.1.2"), "local")), "STRING 127.0.0.1");
  Oid member = WithName(lib_.At("1.3.4.1.2"), "ab");
  member.push_back(2);
  EXPECT_EQ(lib_.Get(member), "STRING a");
  const std::string end =
      "INTEGER " + std::to_string(static_cast<int32_t>(LocalTime(2006, 12, 31, 12, 0, 0)));
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.4.3.1.5"), "rs")), end);
  EXPECT_EQ(lib_.Get(WithName(lib_.At("1.4.3.1.5"), "empty")), "INTEGER 0");
}

}  // namespace
