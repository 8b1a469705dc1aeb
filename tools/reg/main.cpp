// lorveth-reg: the registry store's command-line tool.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/reg/RegCommand.h"

namespace {

// Asks on the terminal; without one nobody can answer, so the answer is no.
bool AskOnTerminal(const std::string& question) {
  if (isatty(STDIN_FILENO) == 0) return false;
  std::cerr << question << " " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return regtool::RunRegTool(args, std::cout, std::cerr, AskOnTerminal);
}
