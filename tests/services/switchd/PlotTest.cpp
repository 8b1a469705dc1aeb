// Charts drawn by gnuplot from a records listing, checked as a person would
// look at them: rendered to PNG by rsvg-convert, a picture of the chart's size
// with the lines drawn, a legend per instance, the title and the unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "services/switchd/Plot.h"
#include "support/ProcessHelpers.h"

namespace switchd_test {
namespace {

using test_support::ReadFile;
using test_support::RunCommand;
using test_support::TempDir;

uint32_t BigEndian(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Records every `step_minutes` from 2026-03-01 08:01 (UTC), then a line that is
// not a record.
std::vector<std::string> Listing(int records, bool several, int step_minutes = 1) {
  std::vector<std::string> lines;
  for (int n = 1; n <= records; ++n) {
    const time_t at = 1772323200 + 8 * 3600 + static_cast<time_t>(n) * step_minutes * 60;
    std::tm parts{};
    gmtime_r(&at, &parts);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &parts);
    const std::string values =
        several ? "eth_0=" + std::to_string(n * 3) + " it's=" + std::to_string(100 - n)
                : std::to_string(n % 7) + " %";
    lines.push_back(std::to_string(n) + " " + time + " " + values);
  }
  lines.push_back("not a record");
  return lines;
}

TEST(PlotTest, AChartRendersToAPictureOfItsSizeWithLegendTitleAndUnit) {
  const TempDir dir;
  const struct {
    const char* label;
    int records;
    bool several;
    int step_minutes;
    const char* tick;  // a time-axis label the span calls for
  } kCases[] = {
      {"one point", 1, false, 1, "08:01:"},
      {"two instances", 90, true, 1, ":00"},
      {"five days", 120, false, 60, "03-0"},
      {"forty days", 40, false, 24 * 60, "2026-0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    switchd::PlotRequest plot;
    plot.title = "net-history: Traffic of 'all' interfaces";
    plot.unit = "kB/s";
    plot.series = switchd::SeriesFromListing(Listing(c.records, c.several, c.step_minutes), "cpu");
    const std::string svg = dir.path() + "/" + c.label + ".svg";
    std::string error;
    ASSERT_TRUE(switchd::RenderPlot(plot, svg, &error)) << error;
    const std::string text = ReadFile(svg);
    for (const std::string& expected :
         {plot.title, plot.unit, std::string(c.tick), std::string(c.several ? "eth_0" : "cpu"),
          std::string(c.several ? "it's" : "cpu")}) {
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }

    const std::string png = dir.path() + "/" + c.label + ".png";
    const auto converted = RunCommand({"rsvg-convert", "-o", png, svg}, {});
    ASSERT_EQ(converted.exit_code, 0) << converted.output;
    const std::string image = ReadFile(png);
    ASSERT_GT(image.size(), 24u);
    EXPECT_EQ(image.substr(1, 3), "PNG");
    EXPECT_EQ(BigEndian(image, 16), static_cast<uint32_t>(switchd::kPlotWidth));
    EXPECT_EQ(BigEndian(image, 20), static_cast<uint32_t>(switchd::kPlotHeight));
    // Axes, ticks, text and lines: far more than a blank picture compresses to.
    EXPECT_GT(image.size(), 10000u);
  }
}

TEST(PlotTest, NothingToDrawOrNoGnuplotIsSaidClearly) {
  const TempDir dir;
  std::string error;
  switchd::PlotRequest empty;
  EXPECT_FALSE(switchd::RenderPlot(empty, dir.path() + "/x.svg", &error));
  EXPECT_EQ(error, "no records to draw");

  switchd::PlotRequest plot;
  plot.series = switchd::SeriesFromListing(Listing(2, false), "cpu");
  const std::string saved = getenv("PATH");
  setenv("PATH", dir.path().c_str(), 1);
  EXPECT_FALSE(switchd::RenderPlot(plot, dir.path() + "/x.svg", &error));
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(error,
            "gnuplot is not installed: install the Debian package gnuplot-nox "
            "(apt-get install gnuplot-nox)");
}

}  // namespace
}  // namespace switchd_test
