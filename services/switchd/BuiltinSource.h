// The builtin resources: this machine's measurements, read directly from
// /proc, /sys and the file systems.  A request names a measurement of the
// catalogue and, for some, an argument after a colon ("disk.used.percent:/",
// "file.exists:/var/log/syslog", "proc.count:sshd").  Every value is in a unit
// in which it fits 32 bits (kB or MB, not bytes); counters come raw, marked as
// counters, for the engine to compare per poll.
//
//   BuiltinSource source;
//   source.BeginTick();
//   source.Read({RequestType::kBuiltin, "memory.used.percent", "", ""},
//               [](Reading reading) { ... });
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "services/switchd/Monitoring.h"

namespace switchd {

namespace detail {
class BuiltinTick;
}

// What a measurement takes after its name.
enum class BuiltinArgument {
  kNone,              // nothing
  kPath,              // an absolute path (required)
  kOptionalPath,      // an absolute path, or nothing for every mounted file system
  kOptionalName,      // a process name, or nothing for every name
  kOptionalTcpState,  // a TCP state ("established"), or nothing for every state
};

// One row of the catalogue.
struct BuiltinMeasurement {
  const char* name;
  BuiltinArgument argument;
  const char* unit;
  bool counter;
  const char* instances;    // what the instances are, for people
  const char* description;  // what is measured, for people
  Reading (*read)(detail::BuiltinTick& tick, std::string_view argument);
};

// Every measurement, in the order people see them.
std::span<const BuiltinMeasurement> BuiltinCatalogue();
const BuiltinMeasurement* FindBuiltinMeasurement(std::string_view name);

// A request split into its measurement and argument; false with a reason when
// the name is unknown or the argument does not suit it.
bool ParseBuiltinRequest(std::string_view request, const BuiltinMeasurement** measurement,
                         std::string* argument, std::string* reason);

class BuiltinSource final : public ResourceSource {
 public:
  // The kernel's files are read below `root` (root + "/proc/stat", root +
  // "/sys/class/net"); tests give a directory of samples.  Paths named in
  // requests are always the machine's own.
  explicit BuiltinSource(const std::string& root = "");
  ~BuiltinSource() override;

  bool Validate(const ResourceQuery& query, std::string* reason) const override;
  // Reads at once on the calling thread: `done` runs before Read returns.
  void Read(const ResourceQuery& query, std::function<void(Reading)> done) override;
  // Forgets the files read since the last tick.  Safe from any thread.
  void BeginTick() override;

 private:
  std::mutex mutex_;  // reads come from the engine, the recorder and switchctl
  std::unique_ptr<detail::BuiltinTick> tick_;
};

}  // namespace switchd
