// The lorveth-reg commands (query, add, delete, import, export), separated
// from main() so that tests can run them in-process as well.
//
//   std::vector<std::string> args = {"query", "HKLM\\SOFTWARE\\Debug", "/s"};
//   int exit_code = regtool::RunRegTool(args, std::cout, std::cerr, AskOnTerminal);
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace regtool {

// Exit codes: success, a failed operation (missing key or value, store or
// file error, declined confirmation), and a usage error.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Asks the person at the terminal a yes/no question; false when nobody can
// answer (the command then needs /f).
using Confirm = std::function<bool(const std::string& question)>;

int RunRegTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const Confirm& confirm);

// The text of --help.
std::string RegToolUsage();

}  // namespace regtool
