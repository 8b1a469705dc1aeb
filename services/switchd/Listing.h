// Text for switchctl listings: plain columns a person reads, and JSON for
// scripts.
//
//   Columns({{"RULE", "STATE"}, {"cpu-high", "waiting"}});
//   // {"RULE      STATE", "cpu-high  waiting"}
//   JsonString("a \"b\"");   // "\"a \\\"b\\\"\""
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace switchd {

// The rows as lines, each cell padded to its column's widest cell and the
// columns two blanks apart; the last column is not padded.
std::vector<std::string> Columns(const std::vector<std::vector<std::string>>& rows);

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view text);

}  // namespace switchd
