// The agent library that the SNMP service loads exports the five entry points
// and nothing else, as its dynamic symbol table shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

// Defined symbols of the dynamic symbol table, read with nm.
std::set<std::string> DynamicSymbols(const std::string& path) {
  std::set<std::string> symbols;
  const std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return symbols;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) symbols.insert(name);
  }
  return symbols;
}

TEST(AgentExportsTest, AgentLibraryExportsExactlyTheFiveEntryPoints) {
  const std::set<std::string> symbols = DynamicSymbols(LORVETH_AGENT_LIBRARY);
  EXPECT_EQ(symbols,
            (std::set<std::string>{"SnmpExtensionClose", "SnmpExtensionInit", "SnmpExtensionInitEx",
                                   "SnmpExtensionQuery", "SnmpExtensionTrap"}));
}

}  // namespace
