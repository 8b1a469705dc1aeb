// The snmp resources: a value of an SNMP agent, read with SNMPv2c.  The
// request is an OID, numeric (".1.3.6.1.2.1.1.3.0") or a name the installed
// MIBs resolve ("IF-MIB::ifInOctets"); the query's target is the agent's
// address ("host", "host:port", "[v6 address]:port"; port 161 by default, this
// machine when empty).  An OID that names an instance gives one instance; one
// that does not (a table column) is walked and gives one instance per row.
//
// Reads run asynchronously on the source's own thread, so a slow or dead agent
// delays nobody but the reads it owes (time-out and retries come from the
// engine settings).  Net-SNMP is initialized at the first read or name lookup
// under the name "switchd": it reads its configuration as the library always
// does (SNMPCONFPATH and MIBS/MIBDIRS are honoured) and keeps no persistent
// state.
//
//   SnmpSource source(settings);
//   source.Read({RequestType::kSnmp, "1.3.6.1.2.1.2.2.1.10", "1.3.6.1.2.1.2.2.1.2",
//                "192.0.2.7"},
//               [](Reading reading) { ... on the source's thread ... });
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/switchd/EngineSettings.h"
#include "services/switchd/Monitoring.h"

namespace switchd {

struct SnmpAddress {
  std::string host;  // a name, an IPv4 or an IPv6 address (without brackets)
  uint16_t port = 161;
};

// A target text as an address; none with a reason when it is not one.  An
// empty text is this machine (127.0.0.1).
std::optional<SnmpAddress> ParseSnmpTarget(std::string_view text, std::string* reason);

// A numeric OID ("1.3.6.1" or ".1.3.6.1", two to 128 sub-identifiers below
// 2^32); none for anything else.
std::optional<std::vector<uint32_t>> ParseNumericOid(std::string_view text);

class SnmpSource final : public ResourceSource {
 public:
  explicit SnmpSource(const EngineSettings& settings);
  // Reads still running fail ("the source stopped") before it returns.
  ~SnmpSource() override;
  SnmpSource(const SnmpSource&) = delete;
  SnmpSource& operator=(const SnmpSource&) = delete;

  // Community, time-out and retries for reads started from now on.
  void UpdateSettings(const EngineSettings& settings);

  // Refuses a target that is not an address and a request that is neither a
  // numeric OID nor a name the MIBs know.
  bool Validate(const ResourceQuery& query, std::string* reason) const override;
  // `done` is called on the source's thread (or at once for a request that
  // cannot be read at all).
  void Read(const ResourceQuery& query, std::function<void(Reading)> done) override;

 private:
  class Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace switchd
