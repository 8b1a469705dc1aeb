// The text of the kernel's /proc files that the builtin measurements read,
// turned into numbers by small pure functions (text in, values out), so that
// each can be checked on a sample and fed arbitrary bytes.  A line that does
// not have the expected shape is skipped; a file without what makes it useful
// (no "cpu" line, no MemTotal) gives no result.
//
//   const auto cpus = proc::ParseStat(text_of_proc_stat);
//   const auto busy = proc::BusyPercent(before[0], cpus[0]);
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace switchd::proc {

// One "cpu" line of /proc/stat in clock ticks.  The machine-wide line "cpu" is
// named "total".  Busy is user, nice, system, irq, softirq and steal; idle and
// iowait are the rest of the total (guest time is already in user and nice).
struct CpuTimes {
  std::string name;
  uint64_t busy = 0;
  uint64_t total = 0;
};
std::vector<CpuTimes> ParseStat(std::string_view text);

// The busy share of the time between two samples of one CPU in whole percent
// (rounded, 0 to 100); 0 when no time passed.  A `before` of zeros measures
// since boot.
int64_t BusyPercent(const CpuTimes& before, const CpuTimes& after);

// /proc/loadavg: the 1, 5 and 15 minute averages times 100 (exact: "0.52" is 52).
std::optional<std::array<int64_t, 3>> ParseLoadavg(std::string_view text);

// /proc/meminfo in kB.  `available` is MemAvailable, or on kernels without it
// MemFree + Buffers + Cached.
struct MemInfo {
  int64_t total = 0;
  int64_t available = 0;
  int64_t swap_total = 0;
  int64_t swap_free = 0;
};
std::optional<MemInfo> ParseMeminfo(std::string_view text);

// /proc/net/dev: the counters of each interface, in file order.
struct InterfaceCounters {
  std::string name;
  uint64_t in_bytes = 0;
  uint64_t in_packets = 0;
  uint64_t in_errors = 0;
  uint64_t out_bytes = 0;
  uint64_t out_packets = 0;
  uint64_t out_errors = 0;
};
std::vector<InterfaceCounters> ParseNetDev(std::string_view text);

// The kernel's TCP states by their codes in /proc/net/tcp (1 established ...
// 11 closing); index 0 is unused.
inline constexpr int kTcpStateCount = 11;
inline constexpr std::array<const char*, kTcpStateCount + 1> kTcpStateNames = {
    "",          "established", "syn-sent",   "syn-recv", "fin-wait1", "fin-wait2",
    "time-wait", "close",       "close-wait", "last-ack", "listen",    "closing"};
using TcpStateCounts = std::array<int64_t, kTcpStateCount + 1>;
// Adds the sockets of /proc/net/tcp or /proc/net/tcp6 to `counts` by state.
void CountTcpStates(std::string_view text, TcpStateCounts* counts);

// /proc/uptime: whole seconds since boot.
std::optional<int64_t> ParseUptime(std::string_view text);

// /proc/self/mounts, in file order; blanks and backslashes in paths come
// back unescaped ("\040" is a blank).
struct Mount {
  std::string device;
  std::string point;
  std::string type;
};
std::vector<Mount> ParseMounts(std::string_view text);

}  // namespace switchd::proc
