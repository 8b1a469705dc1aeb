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
  std::fputs(answer.c_str(), stdout);
  // The last line says whether the command succeeded.
  const size_t last = answer.rfind('\n', answer.size() >= 2 ? answer.size() - 2 : 0);
  const std::string status = answer.substr(last == std::string::npos ? 0 : last + 1);
  return status.rfind("OK", 0) == 0 ? 0 : 1;
}
