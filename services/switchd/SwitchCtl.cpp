// switchctl: sends one command to a running switchd and prints the answer.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system/Paths.h"
#include "services/switchd/ControlChannel.h"
#include "services/switchd/Plot.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: switchctl [--control PATH] COMMAND\n"
               "  status                    tables, record counts, settings and clients\n"
               "  set SETTING VALUE         write a setting and tell every client\n"
               "  announce TABLE            send a change event for a table (code or name)\n"
               "  event RULE VALUE EVENT    send a threshold event of a stored rule and event\n"
               "  reload                    re-read the table files; announce what changed\n"
               "  rules [--json]            every rule's state, current value and last error\n"
               "  resources [--json]        the builtin measurements with this machine's values\n"
               "  reports [REPORT]          the reports: records, failed reads, state, last value\n"
               "  records REPORT [--from N] [--since TIME] [--last N] [--csv]\n"
               "                            a report's records (TIME: YYYY-MM-DD[Thh:mm[:ss]]\n"
               "                            or a span back from now: 90s, 30m, 2h, 7d)\n"
               "  plot REPORT [--last N|--since TIME] -o FILE.svg\n"
               "                            draw a report's records as a chart (needs gnuplot)\n");
}

// The lines of an answer without its closing OK / ERROR line; false (and
// that line in *error) when the command failed.
bool AnswerLines(const std::string& answer, std::vector<std::string>* lines, std::string* error) {
  size_t start = 0;
  while (start < answer.size()) {
    size_t end = answer.find('\n', start);
    if (end == std::string::npos) end = answer.size();
    lines->push_back(answer.substr(start, end - start));
    start = end + 1;
  }
  const std::string last = lines->empty() ? std::string() : lines->back();
  if (!lines->empty()) lines->pop_back();
  if (last == "OK") return true;
  *error = last.rfind("ERROR ", 0) == 0 ? last.substr(6) : "switchd gave no answer";
  return false;
}

bool Ask(const std::string& path, const std::string& line, std::vector<std::string>* lines,
         std::string* error) {
  std::string answer;
  return switchd::SendControlCommand(path, line, &answer, error) &&
         AnswerLines(answer, lines, error);
}

// switchctl plot: the records come from switchd; gnuplot runs here, so that
// the picture is written as the caller, where the caller says.
int Plot(const std::string& path, const std::vector<std::string>& words) {
  std::string report;
  std::string range;
  std::string output;
  for (const std::string& word : words) {
    // The records are asked for in one command line of blank-separated words.
    if (word.empty() || word.find_first_of(" \t\r\n") != std::string::npos) {
      std::fprintf(stderr, "switchctl: arguments may not be empty or contain blanks\n");
      return 2;
    }
  }
  for (size_t i = 1; i < words.size(); ++i) {
    const bool has_value = i + 1 < words.size();
    if ((words[i] == "--last" || words[i] == "--since") && has_value && range.empty()) {
      range = " " + words[i] + " " + words[i + 1];
      ++i;
    } else if (words[i] == "-o" && has_value) {
      output = words[++i];
    } else if (report.empty() && words[i][0] != '-') {
      report = words[i];
    } else {
      report.clear();
      break;
    }
  }
  if (report.empty() || output.empty()) {
    std::fprintf(stderr, "usage: switchctl plot REPORT [--last N|--since TIME] -o FILE.svg\n");
    return 2;
  }
  std::vector<std::string> details;
  std::vector<std::string> records;
  std::string error;
  if (!Ask(path, "reports " + report, &details, &error) ||
      !Ask(path, "records " + report + range, &records, &error)) {
    std::fprintf(stderr, "switchctl: %s\n", error.c_str());
    return 1;
  }
  switchd::PlotRequest plot;
  plot.title = report;
  for (const std::string& line : details) {
    if (line.rfind("description ", 0) == 0 && line.size() > 12) {
      plot.title += ": " + line.substr(12);
    } else if (line.rfind("unit ", 0) == 0) {
      plot.unit = line.substr(5);
    }
  }
  plot.series = switchd::SeriesFromListing(records, report);
  if (!switchd::RenderPlot(plot, output, &error)) {
    std::fprintf(stderr, "switchctl: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %zu records, %zu lines\n", output.c_str(), records.size(), plot.series.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = platform::RuntimeDirectory() + "/switchd.ctl";
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--control") {
    path = argv[2];
    first = 3;
  }
  if (first >= argc || std::string(argv[first]) == "-h" || std::string(argv[first]) == "--help") {
    Usage();
    return 2;
  }
  if (std::string(argv[first]) == "plot") {
    return Plot(path, std::vector<std::string>(argv + first, argv + argc));
  }
  std::string line;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word.find_first_of(" \t\r\n") != std::string::npos) {
      std::fprintf(stderr, "switchctl: arguments may not be empty or contain blanks\n");
      return 2;
    }
    if (!line.empty()) line += ' ';
    line += word;
  }
  std::string answer;
  std::string error;
  if (!switchd::SendControlCommand(path, line, &answer, &error)) {
    std::fprintf(stderr, "switchctl: %s\n", error.c_str());
    return 1;
  }
  // The last line says whether the command succeeded.
  const size_t last = answer.rfind('\n', answer.size() >= 2 ? answer.size() - 2 : 0);
  const size_t status_start = last == std::string::npos ? 0 : last + 1;
  const bool ok = answer.compare(status_start, 2, "OK") == 0;
  // A script reading --json output gets the document alone.
  const bool json = line.ends_with(" --json");
  std::fputs((ok && json ? answer.substr(0, status_start) : answer).c_str(), stdout);
  return ok ? 0 : 1;
}
