// The text the resource sources parse: kernel files of /proc, the request
// texts of Resource records and the target addresses of snmp reads.  Never
// crashes, and every result keeps its promises (percentages within 0..100,
// parsed requests name a catalogue row).
//
// Input: the first byte picks the parser (see kParsers), the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "services/switchd/BuiltinSource.h"
#include "services/switchd/ProcText.h"
#include "services/switchd/RegistrySource.h"
#include "services/switchd/SnmpSource.h"

namespace {

namespace proc = switchd::proc;

void Check(bool condition) {
  if (!condition) abort();
}

void Stat(std::string_view text) {
  const auto cpus = proc::ParseStat(text);
  for (const auto& cpu : cpus) {
    Check(!cpu.name.empty());
    for (const auto& other : cpus) {
      const int64_t percent = proc::BusyPercent(cpu, other);
      Check(percent >= 0 && percent <= 100);
    }
  }
}

void Loadavg(std::string_view text) {
  if (const auto loads = proc::ParseLoadavg(text)) {
    for (const int64_t load : *loads) Check(load >= 0);
  }
}

void Meminfo(std::string_view text) {
  if (const auto info = proc::ParseMeminfo(text)) Check(info->total >= 0 && info->available >= 0);
}

void NetDev(std::string_view text) {
  for (const auto& interface : proc::ParseNetDev(text)) Check(!interface.name.empty());
}

void Tcp(std::string_view text) {
  proc::TcpStateCounts counts{};
  proc::CountTcpStates(text, &counts);
  Check(counts[0] == 0);
}

void Uptime(std::string_view text) {
  if (const auto seconds = proc::ParseUptime(text)) Check(*seconds >= 0);
}

void Mounts(std::string_view text) {
  for (const auto& mount : proc::ParseMounts(text)) Check(mount.point.size() <= text.size());
}

void BuiltinRequest(std::string_view text) {
  const switchd::BuiltinMeasurement* measurement = nullptr;
  std::string argument, reason;
  if (switchd::ParseBuiltinRequest(text, &measurement, &argument, &reason)) {
    Check(switchd::FindBuiltinMeasurement(measurement->name) == measurement);
  } else {
    Check(!reason.empty());
  }
}

void RegistryRequest(std::string_view text) {
  std::string key, value, reason;
  if (switchd::SplitRegistryRequest(text, &key, &value, &reason)) {
    Check(!key.empty() && !value.empty() && value.find('\\') == std::string::npos);
  } else {
    Check(!reason.empty());
  }
}

void Decimal(std::string_view text) { (void)switchd::ParseDecimalValue(text); }

void SnmpTarget(std::string_view text) {
  std::string reason;
  if (const auto address = switchd::ParseSnmpTarget(text, &reason)) {
    Check(!address->host.empty() && address->port != 0);
  } else {
    Check(!reason.empty());
  }
}

void NumericOid(std::string_view text) {
  if (const auto ids = switchd::ParseNumericOid(text))
    Check(ids->size() >= 2 && ids->size() <= 128);
}

void (*const kParsers[])(std::string_view) = {
    Stat,   Loadavg,        Meminfo,         NetDev,  Tcp,        Uptime,
    Mounts, BuiltinRequest, RegistryRequest, Decimal, SnmpTarget, NumericOid,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  kParsers[data[0] % std::size(kParsers)](text);
  return 0;
}
