// The SNMP side of snmpsvc: Net-SNMP's agent library serving the regions of
// the loaded extension agents (one handler per region), the standard system
// group, and the agents' traps to the configured sinks.
//
//   ServiceOptions options;            // master agent on udp:127.0.0.1:1161
//   options.config_dir = "/var/lib/lorveth/snmpsvc";
//   return RunService(options, agents);  // until SIGTERM or SIGINT
#pragma once

#include <string>
#include <vector>

#include "services/snmpsvc/AgentHost.h"

namespace snmpsvc {

struct ServiceOptions {
  // Net-SNMP transport addresses of the master agent.
  std::vector<std::string> listen{"udp:127.0.0.1:1161"};
  // Non-empty: run as an AgentX subagent of the master at this socket instead.
  std::string agentx_socket;
  // Holds snmpsvc.conf (communities, users, trap sinks, Net-SNMP syntax).
  std::string config_dir;
  // Net-SNMP's persistent state (engine boots, keys of created users).
  std::string persistent_dir;
  // Log to stderr and stay in the foreground; otherwise syslog and detach.
  bool foreground = true;
};

// Initializes Net-SNMP, calls SnmpExtensionInit of every agent (an agent whose
// initialization fails is left out), registers their regions, serves until
// SIGTERM or SIGINT, then calls SnmpExtensionClose of every agent.  Returns
// the process exit status.
int RunService(const ServiceOptions& options, const std::vector<ExtensionAgent*>& agents);

}  // namespace snmpsvc
