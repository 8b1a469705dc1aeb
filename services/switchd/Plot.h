// Charts of recorded report values: gnuplot draws them as SVG, one line per
// instance over a time axis, from a data file and a program that are written
// to a temporary directory (never passed through a shell).
//
//   PlotRequest plot;
//   plot.title = "cpu-history: Processor load";
//   plot.unit = "%";
//   plot.series = SeriesFromListing(lines, "cpu-history");   // `records` output
//   std::string error;
//   if (!RenderPlot(plot, "cpu.svg", &error)) ... error says what went wrong ...
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace switchd {

// The size of the picture in pixels.
inline constexpr int kPlotWidth = 1000;
inline constexpr int kPlotHeight = 500;

struct PlotSeries {
  std::string name;
  std::vector<std::pair<std::string, int64_t>> points;  // record time text, value
};

struct PlotRequest {
  std::string title;
  std::string unit;  // the value axis label; "" for none
  std::vector<PlotSeries> series;
};

// One series per instance from the lines of a records listing ("N text"), in
// the order the instances first appear; the one value of a one-value record
// belongs to a series named `report`.  Lines that are not records are skipped.
std::vector<PlotSeries> SeriesFromListing(const std::vector<std::string>& lines,
                                          std::string_view report);

// The data file: per series a block of "time<TAB>value" lines, blocks apart
// by two blank lines (gnuplot's "index").
std::string GnuplotData(const PlotRequest& plot);
// The gnuplot program that draws the data file into an SVG file.
std::string GnuplotScript(const PlotRequest& plot, const std::string& data_path,
                          const std::string& output_path);

// Draws the chart into `output_path`.  False with a reason: no points, gnuplot
// not installed (the reason names the package), or gnuplot failed (its
// message).
bool RenderPlot(const PlotRequest& plot, const std::string& output_path, std::string* error);

}  // namespace switchd
