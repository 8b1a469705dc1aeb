// Report charts through gnuplot's SVG terminal.
#include "services/switchd/Plot.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/switchd/RecordText.h"
#include "services/switchd/Tables.h"

extern char** environ;

namespace switchd {

namespace {

constexpr char kGnuplotPackage[] = "gnuplot-nox";

// A text inside gnuplot's single quotes, where only a doubled quote is special;
// line breaks would end the command.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "''";
    } else if (c == '\n' || c == '\r' || c == '\0') {
      quoted += ' ';
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Seconds of a record time text, counted as if it were UTC: only differences matter.
int64_t Seconds(const std::string& time) {
  std::tm parts{};
  if (std::sscanf(time.c_str(), "%d-%d-%d %d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6) {
    return 0;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&parts));
}

// Tick labels that suit the time the chart spans.
const char* TimeFormat(int64_t span_seconds) {
  if (span_seconds <= 180) return "%H:%M:%S";
  if (span_seconds <= 86400) return "%H:%M";
  if (span_seconds <= 14 * 86400) return "%m-%d\\n%H:%M";
  return "%Y-%m-%d";
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// A directory of our own for the data and the program, removed at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lorveth-plot-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::vector<PlotSeries> SeriesFromListing(const std::vector<std::string>& lines,
                                          std::string_view report) {
  std::vector<PlotSeries> series;
  const auto series_of = [&](const std::string& name) -> PlotSeries& {
    for (PlotSeries& one : series) {
      if (one.name == name) return one;
    }
    series.push_back({name, {}});
    return series.back();
  };
  for (const std::string& line : lines) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::optional<ParsedRecord> record =
        ParseRecord(std::string_view(line).substr(blank + 1));
    if (!record) continue;
    for (const RecordValue& value : record->values) {
      series_of(value.name.empty() ? std::string(report) : value.name)
          .points.emplace_back(record->time, value.value);
    }
  }
  return series;
}

std::string GnuplotData(const PlotRequest& plot) {
  std::string data;
  for (size_t i = 0; i < plot.series.size(); ++i) {
    if (i > 0) data += "\n\n";
    for (const auto& [time, value] : plot.series[i].points) {
      data += time + "\t" + std::to_string(value) + "\n";
    }
  }
  return data;
}

std::string GnuplotScript(const PlotRequest& plot, const std::string& data_path,
                          const std::string& output_path) {
  std::string first;
  std::string last;
  for (const PlotSeries& series : plot.series) {
    for (const auto& [time, value] : series.points) {
      if (first.empty() || time < first) first = time;
      if (last.empty() || time > last) last = time;
    }
  }
  std::ostringstream script;
  // noenhanced: instance names and titles are shown as they are, "_" and "^" included.
  script << "set terminal svg size " << kPlotWidth << "," << kPlotHeight
         << " noenhanced font 'sans,11' background rgb 'white'\n"
         << "set output " << Quoted(output_path) << "\n"
         << "set encoding utf8\n"
         << "set datafile separator '\\t'\n"
         << "set title " << Quoted(plot.title) << " font ',14'\n"
         << "set xdata time\n"
         << "set timefmt '%Y-%m-%d %H:%M:%S'\n"
         << "set format x \"" << TimeFormat(Seconds(last) - Seconds(first)) << "\"\n"
         << "set xlabel " << Quoted("local time, " + first + " to " + last) << "\n"
         << "set ylabel " << Quoted(plot.unit) << "\n"
         << "set grid\n"
         << "set key outside right top\n"
         << "set border 3\n"
         << "set xtics nomirror\n"
         << "set ytics nomirror\n";
  script << "plot ";
  for (size_t i = 0; i < plot.series.size(); ++i) {
    const PlotSeries& series = plot.series[i];
    // Few points are marked, so that a single one is seen at all.
    const char* style =
        series.points.size() <= 60 ? "linespoints pointtype 7 pointsize 0.5" : "lines";
    script << (i == 0 ? Quoted(data_path) : std::string("''")) << " index " << i
           << " using 1:2 with " << style << " linewidth 1.5 title " << Quoted(series.name)
           << (i + 1 < plot.series.size() ? ", \\\n     " : "\n");
  }
  return script.str();
}

bool RenderPlot(const PlotRequest& plot, const std::string& output_path, std::string* error) {
  size_t points = 0;
  for (const PlotSeries& series : plot.series) points += series.points.size();
  if (points == 0) {
    *error = "no records to draw";
    return false;
  }
  const std::string gnuplot = FindProgram("gnuplot");
  if (gnuplot.empty()) {
    *error = std::string("gnuplot is not installed: install the Debian package ") +
             kGnuplotPackage + " (apt-get install " + kGnuplotPackage + ")";
    return false;
  }
  const ScratchDirectory scratch;
  if (scratch.path().empty()) {
    *error = std::string("cannot create a temporary directory: ") + std::strerror(errno);
    return false;
  }
  const std::string data_path = scratch.path() + "/records.tsv";
  const std::string script_path = scratch.path() + "/chart.gp";
  const std::string messages_path = scratch.path() + "/gnuplot.log";
  std::ofstream(data_path, std::ios::binary) << GnuplotData(plot);
  std::ofstream(script_path, std::ios::binary) << GnuplotScript(plot, data_path, output_path);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, messages_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::string program = gnuplot;
  std::string script_argument = script_path;
  char* argv[] = {program.data(), script_argument.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    *error = "cannot start " + gnuplot + ": " + std::strerror(spawned);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string messages;
    bool missing = false;
    ReadWholeFile(messages_path, &messages, &missing);
    while (!messages.empty() && (messages.back() == '\n' || messages.back() == ' ')) {
      messages.pop_back();
    }
    *error = "gnuplot failed: " + (messages.empty() ? std::string("no message") : messages);
    return false;
  }
  return true;
}

}  // namespace switchd
