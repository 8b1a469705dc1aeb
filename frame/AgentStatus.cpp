// Status texts of the agent lifecycle.
#include "frame/AgentStatus.h"

const char* AgentStatusText(DWORD code) {
  switch (code) {
    case 1: return "loaded";
    case 2: return "initializing";
    case 3: return "starting";
    case 4: return "started";
    case 5: return "stopping";
    case 6: return "shutdown";
    case 7: return "stopped";
    case 8: return "unloading";
    case 9: return "unloaded";
    case 11: return "exception (InitializeMib)";
    case 12: return "exception (SnmpExtensionInit)";
    case 13: return "exception (SnmpExtensionClose)";
    case 14: return "exception (SnmpExtensionQuery)";
    case 15: return "exception (SnmpExtensionTrap)";
    case 16: return "exception";
    default: return "unknown";
  }
}
