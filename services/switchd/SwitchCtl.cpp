// switchctl: sends one command to a running switchd and prints the answer.
#include <cstdio>
#include <string>

#include "platform/system/Paths.h"
#include "services/switchd/ControlChannel.h"

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
               "  resources [--json]        the builtin measurements with this machine's values\n");
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
