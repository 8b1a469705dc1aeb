// Reading the engine settings from the registry.
#include "services/switchd/EngineSettings.h"

#include "platform/registry/Registry.h"

namespace switchd {

EngineSettings ReadEngineSettings() {
  EngineSettings settings;
  const auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, kEngineKey);
  if (!key) return settings;
  if (auto community = key->QueryString("Community"); community && !community->empty()) {
    settings.community = *community;
  }
  // A time-out of 0 would make every read fail at once: keep the default.
  if (auto ms = key->QueryDword("SnmpTimeoutMs"); ms && *ms > 0) settings.snmp_timeout_ms = *ms;
  if (auto retries = key->QueryDword("SnmpRetries")) settings.snmp_retries = *retries;
  if (auto records = key->QueryDword("MaxRecords"); records && *records > 0) {
    settings.max_records = *records;
  }
  return settings;
}

}  // namespace switchd
