// The library's one agent: a threshold agent answering for the MIB root.
#include "threshold/MibRoot.h"
#include "threshold/ThresholdAgent.h"

CSnmpAgent* CreateAgentInstance() {
  auto* agent = new CThresholdAgent;
  agent->AddMibRegion(kMibRoot);
  return agent;
}
