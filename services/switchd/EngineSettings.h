// The rule engine's and the report recorder's settings: values under
// HKLM\SOFTWARE\Quorvath\Switch\Engine, read at start and on a reload.  A
// missing or unusable value keeps its default.
//
//   EngineSettings settings = ReadEngineSettings();
//   ... settings.community, settings.snmp_timeout_ms ...
#pragma once

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace switchd {

inline constexpr const char* kEngineKey = "SOFTWARE\\Quorvath\\Switch\\Engine";

struct EngineSettings {
  std::string community = "public";  // Community (REG_SZ): SNMP reads
  DWORD snmp_timeout_ms = 2000;      // SnmpTimeoutMs (REG_DWORD)
  DWORD snmp_retries = 1;            // SnmpRetries (REG_DWORD)
  // MaxRecords (REG_DWORD): records kept per report whose MaxEntries is 0.
  DWORD max_records = 1'000'000;
};

EngineSettings ReadEngineSettings();

}  // namespace switchd
