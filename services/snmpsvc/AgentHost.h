// One loaded extension agent: dlopen()s the library, resolves its five entry
// points and calls them with neutral varbinds (Varbind.h).  Not thread-safe:
// snmpsvc calls every agent from its one Net-SNMP thread.
//
//   std::string error;
//   auto agent = ExtensionAgent::Load("/usr/lib/lorveth/Lorveth_Agent.so", &error);
//   if (agent && agent->Init(GetTickCount() / 10, &error)) { ... agent->Close(); }
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "services/snmpsvc/Varbind.h"

namespace snmpsvc {

struct QueryResult {
  bool ok = false;            // what SnmpExtensionQuery returned
  std::int32_t error_status = 0;
  std::int32_t error_index = 0;  // 1-based, meaningful with a non-zero status
};

class ExtensionAgent {
 public:
  // nullptr with *error set when the library cannot be loaded or lacks one of
  // SnmpExtensionInit, SnmpExtensionQuery (InitEx, Trap and Close are optional).
  static std::unique_ptr<ExtensionAgent> Load(const std::string& path, std::string* error);
  ~ExtensionAgent();
  ExtensionAgent(const ExtensionAgent&) = delete;
  ExtensionAgent& operator=(const ExtensionAgent&) = delete;

  // Calls SnmpExtensionInit with the uptime reference (hundredths of a second)
  // and collects the regions from SnmpExtensionInitEx until it returns FALSE.
  bool Init(std::uint32_t uptime_reference, std::string* error);

  const std::string& path() const { return path_; }
  const std::vector<Oid>& regions() const { return regions_; }
  // The trap event's descriptor (readable while a trap is pending), -1 if none.
  int TrapDescriptor() const;

  // One SnmpExtensionQuery call over the whole list; names and values are
  // replaced by the agent's answer.  An answer that cannot be converted back
  // becomes genErr at its position.
  QueryResult Query(std::uint8_t pdu_type, std::vector<VarBind>* varbinds);

  // Consumes the trap event's signal and drains SnmpExtensionTrap until it
  // returns FALSE.  Traps that cannot be converted are dropped (counted in
  // *dropped when given).
  std::vector<Trap> TakeTraps(std::size_t* dropped = nullptr);

  // SnmpExtensionClose, once; later calls do nothing.
  void Close();

 private:
  struct EntryPoints;
  ExtensionAgent(std::string path, std::unique_ptr<EntryPoints> entry);

  std::string path_;
  std::unique_ptr<EntryPoints> entry_;
  void* trap_event_ = nullptr;
  std::vector<Oid> regions_;
  bool initialized_ = false;
  bool closed_ = false;
};

// GetTickCount() / 10: the uptime reference that SnmpExtensionInit receives.
std::uint32_t CurrentUptimeReference();

inline constexpr const char kExtensionAgentsKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";

// Library paths of the agents listed under the SNMP service's ExtensionAgents
// registry key, in the order of its values.
std::vector<std::string> FindRegisteredAgents();

}  // namespace snmpsvc
