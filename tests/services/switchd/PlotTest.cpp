// Charts drawn by gnuplot from a records listing, checked as a person would
// look at them: rendered to PNG by rsvg-convert, a picture of the chart's size
// with the lines drawn, a legend per instance, the title and the unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "services/switchd/Plot.h"

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

std::vector<std::string> Listing(int records, bool several) {
  std::vector<std::string> lines;
  for (int n = 1; n <= records; ++n) {
    char time[32];
    std::snprintf(time, sizeof time, "2026-03-01 %02d:%02d:00", 8 + n / 60, n % 60);
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
  } kCases[] = {
      {"one point", 1, false}, {"a day of one value", 500, false}, {"two instances", 90, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    switchd::PlotRequest plot;
    plot.title = "net-history: Traffic of 'all' interfaces";
    plot.unit = "kB/s";
    plot.series = switchd::SeriesFromListing(Listing(c.records, c.several), "cpu");
    const std::string svg = dir.path() + "/" + c.label + ".svg";
    std::string error;
    ASSERT_TRUE(switchd::RenderPlot(plot, svg, &error)) << error;
    const std::string text = ReadFile(svg);
    for (const std::string& expected :
         {std::string("net-history: Traffic of 'all' interfaces"), std::string("kB/s"),
          std::string(c.several ? "eth_0" : "cpu")}) {
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }
    if (c.several) {
      EXPECT_NE(text.find("it's"), std::string::npos);
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
