// snmpsvc: the SNMP service that loads extension agents and serves them with
// Net-SNMP, as a master agent or as an AgentX subagent.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/system/Paths.h"
#include "services/snmpsvc/AgentHost.h"
#include "services/snmpsvc/NetSnmpBridge.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: snmpsvc [-f] [--agent PATH]... [--listen ADDRESS]... [--agentx SOCKET]\n"
      "               [--config-dir DIR]\n"
      "  --agent PATH       load this extension agent (repeatable; agents registered\n"
      "                     under the SNMP service's ExtensionAgents key load as well)\n"
      "  --listen ADDRESS   Net-SNMP transport to serve (repeatable, default\n"
      "                     udp:127.0.0.1:1161)\n"
      "  --agentx SOCKET    run as AgentX subagent of the master agent at SOCKET\n"
      "  --config-dir DIR   directory of snmpsvc.conf (default $LORVETH_STATE_DIR/snmpsvc)\n"
      "  -f                 stay in the foreground and log to stderr\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  snmpsvc::ServiceOptions options;
  std::vector<std::string> agent_paths;
  std::vector<std::string> listen;
  options.foreground = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "-f") {
      options.foreground = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "--agent" && has_value) {
      agent_paths.emplace_back(argv[++i]);
    } else if (arg == "--listen" && has_value) {
      listen.emplace_back(argv[++i]);
    } else if (arg == "--agentx" && has_value) {
      options.agentx_socket = argv[++i];
    } else if (arg == "--config-dir" && has_value) {
      options.config_dir = argv[++i];
    } else {
      std::fprintf(stderr, "snmpsvc: unknown or incomplete argument '%s'\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (!listen.empty()) options.listen = listen;
  const std::string state = platform::StateDirectory() + "/snmpsvc";
  if (options.config_dir.empty()) options.config_dir = state;
  options.persistent_dir = state + "/persist";

  for (std::string& path : snmpsvc::FindRegisteredAgents()) agent_paths.push_back(std::move(path));
  std::vector<std::unique_ptr<snmpsvc::ExtensionAgent>> agents;
  for (const std::string& path : agent_paths) {
    std::string error;
    auto agent = snmpsvc::ExtensionAgent::Load(path, &error);
    if (agent == nullptr) {
      std::fprintf(stderr, "snmpsvc: %s\n", error.c_str());
      continue;
    }
    agents.push_back(std::move(agent));
  }
  if (agents.empty() && !agent_paths.empty()) {
    std::fprintf(stderr, "snmpsvc: no extension agent could be loaded\n");
    return 1;
  }
  std::vector<snmpsvc::ExtensionAgent*> pointers;
  for (auto& agent : agents) pointers.push_back(agent.get());
  return snmpsvc::RunService(options, pointers);
}
