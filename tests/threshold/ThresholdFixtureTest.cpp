// The XML fixtures loaded through the test library and read back by GET in UTC:
// column values, defaults and fallbacks, against values derived by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "threshold/ThresholdLibrary.h"
#include "threshold/documents/TimeZone.h"

namespace {

using threshold_test::WithName;

std::string Fixture(const char* name) {
  std::ifstream in(std::string(LORVETH_TEST_DATA_DIR) + "/threshold/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ThresholdFixtureTest, ColumnValuesOfTheFixturesMatchTheirHandDerivedValues) {
  const records_test::ScopedTimeZone utc(records_test::kUtc);
  threshold_test::ThresholdLibrary lib;
  lib.Load();
  for (const auto& [code, file] :
       {std::pair(0x311u, "rules.xml"), std::pair(0x310u, "rulesets.xml"),
        std::pair(0x314u, "events.xml"), std::pair(0x312u, "resources.xml"),
        std::pair(0x313u, "targets.xml"), std::pair(0x321u, "reports.xml"),
        std::pair(0x320u, "reportsets.xml")}) {
    lib.set_table(code, Fixture(file).c_str());
  }
  ASSERT_TRUE(lib.Start());
  // Column below the root, row name ("" for a scalar or an OID given whole), value.
  const std::tuple<const char*, const char*, const char*> cells[] = {
      {"1.2.1.0", "", "INTEGER 1162720800"},  // the latest Modified stamp, of the rule sets
      {"1.3.2.0", "", "INTEGER 1161334613"},
      {"1.3.1.1.2.0", "", "STRING nameless"},  // rule without Name
      {"1.3.1.1.5", "a", "INTEGER 1"},         // no Interval
      {"1.3.1.1.5", "disk", "INTEGER 12"},     // "12x"
      {"1.3.1.1.7", "cpu", "INTEGER 2"},
      {"1.3.1.1.11", "cpu", "INTEGER 3"},
      {"1.3.1.1.14", "a", "INTEGER 1"},  // "Greater"
      {"1.3.1.1.15", "a", "INTEGER -7"},
      {"1.3.1.1.17", "a", "INTEGER 0"},     // RangeMax alone
      {"1.3.1.1.17", "disk", "INTEGER 0"},  // RangeMin ""
      {"1.3.1.1.20", "a", "INTEGER 2"},     // bogus control
      {"1.3.1.1.20", "disk", "INTEGER 3"},  // with delay
      {"1.3.1.1.20.0", "", "INTEGER 2"},    // no Event
      {"1.3.1.1.24", "disk", "INTEGER 5"},
      {"1.3.1.1.27", "disk", "INTEGER 5"},
      {"1.3.3.1.3", "ab", "INTEGER 510"},  // 08:30
      {"1.3.3.1.3", "night", "INTEGER -1"},
      {"1.3.3.1.6", "night", "INTEGER 2"},
      {"1.3.6.1.2", "log", "INTEGER 0"},
      {"1.3.6.1.3", "minor", "INTEGER 3"},
      {"1.4.1.1.5", "r2", "INTEGER 1"},
      {"1.4.1.1.13", "r1", "INTEGER 5"},
      {"1.4.3.1.4", "rs", "INTEGER 1080"},
      {"1.4.3.1.5", "rs", "INTEGER 1167566400"},  // local noon
      {"1.4.3.1.5", "empty", "INTEGER 0"},
      {"1.4.3.1.7", "empty", "INTEGER 2"},
      {"1.5.1.1.4", "x", "INTEGER 1"},
      {"1.5.1.1.5", "cpuload", "STRING 1.3.6.1.2.1.25.3.3.1.2"},
      {"1.5.3.1.2", "local", "STRING 127.0.0.1"},
      {"1.3.4.1.2.2.97.98.2", "", "STRING a"},  // second member of "ab"
  };
  for (const auto& [column, row, value] : cells) {
    EXPECT_EQ(lib.Get(*row == 0 ? lib.At(column) : WithName(lib.At(column), row)), value)
        << column << " " << row;
  }
}

}  // namespace
