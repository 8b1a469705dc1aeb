// The builtin catalogue as one table (a measurement is one row) and the
// per-tick reads it shares: each kernel file is read at most once between two
// ticks, however many rules and reports ask.
#include "services/switchd/BuiltinSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "services/switchd/ProcText.h"

namespace switchd {

namespace detail {

namespace {

// CPU busy percent is measured over at least this long a time: reads closer
// together than this (two rules polled a moment apart) look further back
// rather than measuring a window of a few clock ticks.
constexpr int64_t kCpuWindowMs = 1000;
// Samples kept for that look back; ticks come at most a few times a second.
constexpr size_t kCpuSamplesKept = 64;
// The kernel keeps at most 15 characters of a process name.
constexpr size_t kProcessNameLength = 15;

// File systems that hold no data of their own: never listed as instances.
const std::set<std::string, std::less<>> kPseudoFileSystems = {
    "autofs", "binfmt_misc", "bpf",        "cgroup",    "cgroup2", "configfs", "debugfs",
    "devpts", "efivarfs",    "fusectl",    "hugetlbfs", "mqueue",  "nsfs",     "proc",
    "pstore", "rpc_pipefs",  "securityfs", "selinuxfs", "sysfs",   "tracefs"};

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A kernel file read whole with plain system calls: a tick reads hundreds of
// small files (one per process), where a stream costs more than the read.
bool ReadKernelFile(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      close(fd);
      return got == 0;
    }
    text->append(buffer, static_cast<size_t>(got));
  }
}

std::string Errno(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// A value read once per tick, or the reason it could not be.
template <typename T>
struct Cached {
  bool loaded = false;
  std::optional<T> value;
  std::string error;
};

}  // namespace

// What one tick has read so far, and the CPU samples kept across ticks.
class BuiltinTick {
 public:
  explicit BuiltinTick(std::string root) : root_(std::move(root)) {}

  void Reset() { now_ = {}; }

  using CpuPercents = std::vector<std::pair<std::string, int64_t>>;
  const CpuPercents* Cpu(std::string* error) {
    return Load(&now_.cpu, error, [this](CpuPercents* out, std::string* why) {
      std::string text;
      if (!ReadProc("/proc/stat", &text, why)) return false;
      std::vector<proc::CpuTimes> now = proc::ParseStat(text);
      if (now.empty()) return Unreadable("/proc/stat", why);
      const int64_t now_ms = SteadyMs();
      // The newest sample old enough; else the oldest there is; else boot.
      auto base = cpu_history_.end();
      for (auto it = cpu_history_.rbegin(); it != cpu_history_.rend(); ++it) {
        if (now_ms - it->ms >= kCpuWindowMs) {
          base = std::prev(it.base());
          break;
        }
      }
      if (base == cpu_history_.end() && !cpu_history_.empty()) base = cpu_history_.begin();
      for (const proc::CpuTimes& cpu : now) {
        proc::CpuTimes before;
        if (base != cpu_history_.end()) {
          for (const proc::CpuTimes& old : base->cpus) {
            if (old.name == cpu.name) before = old;
          }
        }
        out->emplace_back(cpu.name, proc::BusyPercent(before, cpu));
      }
      if (base != cpu_history_.end()) cpu_history_.erase(cpu_history_.begin(), base);
      cpu_history_.push_back({now_ms, std::move(now)});
      if (cpu_history_.size() > kCpuSamplesKept) cpu_history_.pop_front();
      return true;
    });
  }

  const std::array<int64_t, 3>* Loadavg(std::string* error) {
    return LoadParsed(&now_.loadavg, "/proc/loadavg", proc::ParseLoadavg, error);
  }
  const proc::MemInfo* Meminfo(std::string* error) {
    return LoadParsed(&now_.meminfo, "/proc/meminfo", proc::ParseMeminfo, error);
  }
  const int64_t* Uptime(std::string* error) {
    return LoadParsed(&now_.uptime, "/proc/uptime", proc::ParseUptime, error);
  }

  struct Interface {
    proc::InterfaceCounters counters;
    DWORD number = 0;
  };
  const std::vector<Interface>* Interfaces(std::string* error) {
    return Load(&now_.interfaces, error, [this](std::vector<Interface>* out, std::string* why) {
      std::string text;
      if (!ReadProc("/proc/net/dev", &text, why)) return false;
      DWORD position = 0;
      for (proc::InterfaceCounters& counters : proc::ParseNetDev(text)) {
        // The interface index (as SNMP's ifIndex numbers it) when /sys tells.
        std::string index_text;
        const std::string index_path = root_ + "/sys/class/net/" + counters.name + "/ifindex";
        const auto index =
            ReadKernelFile(index_path, &index_text) ? ParseDecimalValue(index_text) : std::nullopt;
        ++position;
        const DWORD number =
            index && *index > 0 && *index <= 0xFFFFFFFF ? static_cast<DWORD>(*index) : position;
        out->push_back({std::move(counters), number});
      }
      std::stable_sort(out->begin(), out->end(),
                       [](const Interface& a, const Interface& b) { return a.number < b.number; });
      return true;
    });
  }

  const proc::TcpStateCounts* Tcp(std::string* error) {
    return Load(&now_.tcp, error, [this](proc::TcpStateCounts* out, std::string* why) {
      out->fill(0);
      std::string text;
      if (!ReadProc("/proc/net/tcp", &text, why)) return false;
      proc::CountTcpStates(text, out);
      // A kernel without IPv6 has no tcp6 file: that is no error.
      std::string ignored;
      if (ReadProc("/proc/net/tcp6", &text, &ignored)) proc::CountTcpStates(text, out);
      return true;
    });
  }

  // Process counts by name, in name order.
  const std::map<std::string, int64_t, std::less<>>* Processes(std::string* error) {
    return Load(&now_.processes, error,
                [this](std::map<std::string, int64_t, std::less<>>* out, std::string* why) {
                  const std::string dir = root_ + "/proc";
                  DIR* listing = opendir(dir.c_str());
                  if (listing == nullptr) {
                    *why = Errno("cannot list " + dir, errno);
                    return false;
                  }
                  while (const dirent* entry = readdir(listing)) {
                    const std::string_view pid = entry->d_name;
                    if (pid.empty() || !std::all_of(pid.begin(), pid.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; })) {
                      continue;
                    }
                    std::string name;
                    // A process that ended since the listing is simply not counted.
                    if (!ReadKernelFile(dir + "/" + std::string(pid) + "/comm", &name)) continue;
                    if (!name.empty() && name.back() == '\n') name.pop_back();
                    ++(*out)[name];
                  }
                  closedir(listing);
                  return true;
                });
  }

  // The mount points that hold data, in mount order, each once.
  const std::vector<std::string>* MountPoints(std::string* error) {
    return Load(&now_.mounts, error, [this](std::vector<std::string>* out, std::string* why) {
      std::string text;
      if (!ReadProc("/proc/self/mounts", &text, why)) return false;
      for (const proc::Mount& mount : proc::ParseMounts(text)) {
        if (kPseudoFileSystems.count(mount.type) != 0) continue;
        if (std::find(out->begin(), out->end(), mount.point) != out->end()) continue;
        out->push_back(mount.point);
      }
      return true;
    });
  }

  // statvfs of a path; none with *missing when the path does not exist.
  const struct statvfs* FileSystem(const std::string& path, bool* missing, std::string* error) {
    return Stat(&now_.file_systems, path, missing, error,
                [](const std::string& p, struct statvfs* out) { return statvfs(p.c_str(), out); });
  }
  const struct stat* File(const std::string& path, bool* missing, std::string* error) {
    return Stat(&now_.files, path, missing, error,
                [](const std::string& p, struct stat* out) { return stat(p.c_str(), out); });
  }

 private:
  struct CpuSample {
    int64_t ms = 0;
    std::vector<proc::CpuTimes> cpus;
  };
  template <typename T>
  struct StatResult {
    int error = 0;
    T value{};
  };

  static bool Unreadable(const std::string& file, std::string* why) {
    *why = file + " does not have the expected contents";
    return false;
  }

  bool ReadProc(const std::string& file, std::string* text, std::string* why) const {
    if (ReadKernelFile(root_ + file, text)) return true;
    *why = "cannot read " + root_ + file;
    return false;
  }

  template <typename T, typename LoadFn>
  static const T* Load(Cached<T>* cached, std::string* error, LoadFn load) {
    if (!cached->loaded) {
      cached->loaded = true;
      T value{};
      if (load(&value, &cached->error)) cached->value = std::move(value);
    }
    if (!cached->value) *error = cached->error;
    return cached->value ? &*cached->value : nullptr;
  }

  template <typename T, typename Parser>
  const T* LoadParsed(Cached<T>* cached, const char* file, Parser parse, std::string* error) {
    return Load(cached, error, [&](T* out, std::string* why) {
      std::string text;
      if (!ReadProc(file, &text, why)) return false;
      auto parsed = parse(text);
      if (!parsed) return Unreadable(file, why);
      *out = *parsed;
      return true;
    });
  }

  template <typename T, typename StatFn>
  static const T* Stat(std::map<std::string, StatResult<T>>* cache, const std::string& path,
                       bool* missing, std::string* error, StatFn stat_fn) {
    auto it = cache->find(path);
    if (it == cache->end()) {
      StatResult<T> result;
      if (stat_fn(path, &result.value) != 0) result.error = errno;
      it = cache->emplace(path, result).first;
    }
    *missing = it->second.error == ENOENT || it->second.error == ENOTDIR;
    if (it->second.error == 0) return &it->second.value;
    if (!*missing) *error = Errno("cannot examine " + path, it->second.error);
    return nullptr;
  }

  // What this tick has read; emptied by Reset.
  struct PerTick {
    Cached<CpuPercents> cpu;
    Cached<std::array<int64_t, 3>> loadavg;
    Cached<proc::MemInfo> meminfo;
    Cached<int64_t> uptime;
    Cached<std::vector<Interface>> interfaces;
    Cached<proc::TcpStateCounts> tcp;
    Cached<std::map<std::string, int64_t, std::less<>>> processes;
    Cached<std::vector<std::string>> mounts;
    std::map<std::string, StatResult<struct statvfs>> file_systems;
    std::map<std::string, StatResult<struct stat>> files;
  };

  const std::string root_;
  std::deque<CpuSample> cpu_history_;  // kept across ticks
  PerTick now_;
};

}  // namespace detail

namespace {

using detail::BuiltinTick;

Reading Failed(std::string error) {
  Reading reading;
  reading.error = std::move(error);
  return reading;
}

Reading Values(std::vector<InstanceValue> instances, bool counter = false) {
  Reading reading;
  reading.ok = true;
  reading.counter = counter;
  reading.instances = std::move(instances);
  return reading;
}

Reading One(int64_t value, std::string name = "total") {
  return Values({{1, std::move(name), value}});
}

int64_t Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return 0;
  return static_cast<int64_t>(static_cast<double>(part) * 100.0 / static_cast<double>(whole) + 0.5);
}

// Reading of one field of a tick's value, for the many rows that are "this
// number of that file".
template <typename T, typename Getter>
Reading Single(const T* value, const std::string& error, Getter get) {
  return value != nullptr ? One(get(*value)) : Failed(error);
}

Reading Cpu(BuiltinTick& tick, std::string_view) {
  std::string error;
  const auto* cpus = tick.Cpu(&error);
  if (cpus == nullptr) return Failed(error);
  std::vector<InstanceValue> instances;
  for (const auto& [name, percent] : *cpus) {
    instances.push_back({static_cast<DWORD>(instances.size() + 1), name, percent});
  }
  return Values(std::move(instances));
}

template <int kIndex>
Reading Load(BuiltinTick& tick, std::string_view) {
  std::string error;
  return Single(tick.Loadavg(&error), error, [](const auto& loads) { return loads[kIndex]; });
}

template <typename Get>
Reading Memory(BuiltinTick& tick, Get get) {
  std::string error;
  return Single(tick.Meminfo(&error), error, get);
}

template <uint64_t proc::InterfaceCounters::*kField, int64_t kDivisor>
Reading Network(BuiltinTick& tick, std::string_view) {
  std::string error;
  const auto* interfaces = tick.Interfaces(&error);
  if (interfaces == nullptr) return Failed(error);
  std::vector<InstanceValue> instances;
  for (const auto& interface : *interfaces) {
    // Raw counters: below 2^63 for any real interface, so the cast keeps them.
    const auto value = static_cast<int64_t>(interface.counters.*kField / kDivisor);
    instances.push_back({interface.number, interface.counters.name, value});
  }
  return Values(std::move(instances), true);
}

Reading ProcessCount(BuiltinTick& tick, std::string_view name) {
  std::string error;
  const auto* processes = tick.Processes(&error);
  if (processes == nullptr) return Failed(error);
  std::vector<InstanceValue> instances;
  if (name.empty()) {
    for (const auto& [process, count] : *processes) {
      instances.push_back({static_cast<DWORD>(instances.size() + 1), process, count});
    }
    return Values(std::move(instances));
  }
  // The kernel cuts names at 15 characters; a longer name asked for matches
  // its first 15.
  const auto it = processes->find(name.substr(0, detail::kProcessNameLength));
  if (it != processes->end()) instances.push_back({1, std::string(name), it->second});
  return Values(std::move(instances));
}

Reading ProcessTotal(BuiltinTick& tick, std::string_view) {
  std::string error;
  const auto* processes = tick.Processes(&error);
  if (processes == nullptr) return Failed(error);
  int64_t total = 0;
  for (const auto& entry : *processes) total += entry.second;
  return One(total);
}

Reading TcpConnections(BuiltinTick& tick, std::string_view state) {
  std::string error;
  const auto* counts = tick.Tcp(&error);
  if (counts == nullptr) return Failed(error);
  std::vector<InstanceValue> instances;
  for (int code = 1; code <= proc::kTcpStateCount; ++code) {
    if (!state.empty() && state != proc::kTcpStateNames[code]) continue;
    instances.push_back({static_cast<DWORD>(code), proc::kTcpStateNames[code], (*counts)[code]});
  }
  return Values(std::move(instances));
}

// A file-system measurement of the path named, or of every mount point.
template <typename Get>
Reading FileSystems(BuiltinTick& tick, std::string_view argument, Get get) {
  std::string error;
  std::vector<std::string> paths;
  if (!argument.empty()) {
    paths.emplace_back(argument);
  } else {
    const auto* mounts = tick.MountPoints(&error);
    if (mounts == nullptr) return Failed(error);
    paths = *mounts;
  }
  std::vector<InstanceValue> instances;
  for (size_t i = 0; i < paths.size(); ++i) {
    bool missing = false;
    const struct statvfs* info = tick.FileSystem(paths[i], &missing, &error);
    if (info == nullptr) {
      if (missing || argument.empty()) continue;  // a mount that went away
      return Failed(error);
    }
    // Pseudo file systems of types not in the list still have no blocks.
    if (argument.empty() && info->f_blocks == 0) continue;
    instances.push_back({static_cast<DWORD>(i + 1), paths[i], get(*info)});
  }
  return Values(std::move(instances));
}

Reading DiskUsedPercent(BuiltinTick& tick, std::string_view path) {
  return FileSystems(tick, path, [](const struct statvfs& fs) {
    // As df counts: blocks in use against those in use plus those available
    // to ordinary users, rounded up.
    const auto used = static_cast<double>(fs.f_blocks - fs.f_bfree);
    const double usable = used + static_cast<double>(fs.f_bavail);
    if (usable <= 0) return int64_t{0};
    const double percent = used * 100.0 / usable;
    const auto whole = static_cast<int64_t>(percent);
    return percent > static_cast<double>(whole) ? whole + 1 : whole;
  });
}

Reading DiskFreeMb(BuiltinTick& tick, std::string_view path) {
  return FileSystems(tick, path, [](const struct statvfs& fs) {
    return static_cast<int64_t>(static_cast<double>(fs.f_bavail) *
                                static_cast<double>(fs.f_frsize) / (1024.0 * 1024.0));
  });
}

// A measurement of one file; a file that does not exist is an instance that
// does not exist (file.exists reports it as 0).
template <typename Get>
Reading FileFact(BuiltinTick& tick, std::string_view argument, Get get) {
  const std::string path(argument);
  bool missing = false;
  std::string error;
  const struct stat* info = tick.File(path, &missing, &error);
  if (info == nullptr) return missing ? Values({}) : Failed(error);
  return One(get(*info), path);
}

Reading FileExists(BuiltinTick& tick, std::string_view argument) {
  const std::string path(argument);
  bool missing = false;
  std::string error;
  if (tick.File(path, &missing, &error) != nullptr) return One(1, path);
  return missing ? One(0, path) : Failed(error);
}

Reading FileSizeKb(BuiltinTick& tick, std::string_view path) {
  return FileFact(tick, path, [](const struct stat& info) {
    return static_cast<int64_t>((static_cast<uint64_t>(info.st_size) + 1023) / 1024);
  });
}

Reading FileAgeSeconds(BuiltinTick& tick, std::string_view path) {
  return FileFact(tick, path, [](const struct stat& info) {
    return static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(info.st_mtime);
  });
}

Reading Uptime(BuiltinTick& tick, std::string_view) {
  std::string error;
  return Single(tick.Uptime(&error), error, [](int64_t seconds) { return seconds; });
}

using A = BuiltinArgument;

const BuiltinMeasurement kCatalogue[] = {
    {"cpu.load.percent", A::kNone, "%", false, "total, cpu0, cpu1, ...",
     "processor time busy since the previous read at least a second before (since boot at first)",
     Cpu},
    {"load.1min.x100", A::kNone, "1/100", false, "total", "1-minute load average times 100",
     Load<0>},
    {"load.5min.x100", A::kNone, "1/100", false, "total", "5-minute load average times 100",
     Load<1>},
    {"load.15min.x100", A::kNone, "1/100", false, "total", "15-minute load average times 100",
     Load<2>},
    {"memory.used.percent", A::kNone, "%", false, "total",
     "memory in use (total less available) against the total",
     [](BuiltinTick& tick, std::string_view) {
       return Memory(
           tick, [](const proc::MemInfo& m) { return Percent(m.total - m.available, m.total); });
     }},
    {"memory.used.kb", A::kNone, "kB", false, "total", "memory in use (total less available)",
     [](BuiltinTick& tick, std::string_view) {
       return Memory(tick, [](const proc::MemInfo& m) { return m.total - m.available; });
     }},
    {"swap.used.percent", A::kNone, "%", false, "total", "swap space in use (0 without swap)",
     [](BuiltinTick& tick, std::string_view) {
       return Memory(tick, [](const proc::MemInfo& m) {
         return Percent(m.swap_total - m.swap_free, m.swap_total);
       });
     }},
    {"swap.used.kb", A::kNone, "kB", false, "total", "swap space in use",
     [](BuiltinTick& tick, std::string_view) {
       return Memory(tick, [](const proc::MemInfo& m) { return m.swap_total - m.swap_free; });
     }},
    {"disk.used.percent", A::kOptionalPath, "%", false, "the path named, else every mount point",
     "file-system space in use, as df shows it (rounded up)", DiskUsedPercent},
    {"disk.free.mb", A::kOptionalPath, "MB", false, "the path named, else every mount point",
     "file-system space available to ordinary users", DiskFreeMb},
    {"net.in.kb", A::kNone, "kB", true, "interfaces, numbered by interface index", "data received",
     Network<&proc::InterfaceCounters::in_bytes, 1024>},
    {"net.out.kb", A::kNone, "kB", true, "interfaces, numbered by interface index", "data sent",
     Network<&proc::InterfaceCounters::out_bytes, 1024>},
    {"net.in.packets", A::kNone, "packets", true, "interfaces, numbered by interface index",
     "packets received", Network<&proc::InterfaceCounters::in_packets, 1>},
    {"net.out.packets", A::kNone, "packets", true, "interfaces, numbered by interface index",
     "packets sent", Network<&proc::InterfaceCounters::out_packets, 1>},
    {"net.in.errors", A::kNone, "errors", true, "interfaces, numbered by interface index",
     "receive errors", Network<&proc::InterfaceCounters::in_errors, 1>},
    {"net.out.errors", A::kNone, "errors", true, "interfaces, numbered by interface index",
     "transmit errors", Network<&proc::InterfaceCounters::out_errors, 1>},
    {"proc.count", A::kOptionalName, "processes", false,
     "the name named (none while no such process runs), else every name",
     "processes running by name (the kernel's name, at most 15 characters)", ProcessCount},
    {"proc.total", A::kNone, "processes", false, "total", "processes running", ProcessTotal},
    {"tcp.connections", A::kOptionalTcpState, "connections", false,
     "the state named, else every state, numbered by the kernel's state code",
     "TCP sockets (IPv4 and IPv6) by state", TcpConnections},
    {"uptime.seconds", A::kNone, "s", false, "total", "time since boot", Uptime},
    {"file.exists", A::kPath, "1/0", false, "the path", "1 when the path exists, else 0",
     FileExists},
    {"file.size.kb", A::kPath, "kB", false, "the path (none while it does not exist)",
     "size of the file, rounded up", FileSizeKb},
    {"file.age.seconds", A::kPath, "s", false, "the path (none while it does not exist)",
     "time since the file was last modified", FileAgeSeconds},
};

}  // namespace

std::span<const BuiltinMeasurement> BuiltinCatalogue() { return kCatalogue; }

const BuiltinMeasurement* FindBuiltinMeasurement(std::string_view name) {
  for (const BuiltinMeasurement& measurement : kCatalogue) {
    if (name == measurement.name) return &measurement;
  }
  return nullptr;
}

bool ParseBuiltinRequest(std::string_view request, const BuiltinMeasurement** measurement,
                         std::string* argument, std::string* reason) {
  request = TrimBlanks(request);
  const size_t colon = request.find(':');
  const std::string_view name = request.substr(0, colon);
  const std::string_view given =
      colon == std::string_view::npos ? std::string_view() : request.substr(colon + 1);
  const BuiltinMeasurement* found = FindBuiltinMeasurement(name);
  if (found == nullptr) {
    *reason = "unknown builtin measurement \"" + std::string(name) + "\"";
    return false;
  }
  const std::string prefix = std::string(found->name) + " ";
  switch (found->argument) {
    case A::kNone:
      if (!given.empty()) {
        *reason = prefix + "takes no argument";
        return false;
      }
      break;
    case A::kPath:
      if (given.empty()) {
        *reason = prefix + "needs a path: " + found->name + ":/PATH";
        return false;
      }
      [[fallthrough]];
    case A::kOptionalPath:
      if (!given.empty() && given.front() != '/') {
        *reason = prefix + "needs an absolute path, not \"" + std::string(given) + "\"";
        return false;
      }
      break;
    case A::kOptionalTcpState:
      if (!given.empty() && std::find(proc::kTcpStateNames.begin() + 1, proc::kTcpStateNames.end(),
                                      given) == proc::kTcpStateNames.end()) {
        *reason = prefix + "knows no TCP state \"" + std::string(given) + "\"";
        return false;
      }
      break;
    case A::kOptionalName:
      break;
  }
  *measurement = found;
  *argument = std::string(given);
  return true;
}

BuiltinSource::BuiltinSource(const std::string& root)
    : tick_(std::make_unique<detail::BuiltinTick>(root)) {}

BuiltinSource::~BuiltinSource() = default;

bool BuiltinSource::Validate(const ResourceQuery& query, std::string* reason) const {
  const BuiltinMeasurement* measurement = nullptr;
  std::string argument;
  return ParseBuiltinRequest(query.request, &measurement, &argument, reason);
}

void BuiltinSource::Read(const ResourceQuery& query, std::function<void(Reading)> done) {
  const BuiltinMeasurement* measurement = nullptr;
  std::string argument;
  std::string reason;
  if (!ParseBuiltinRequest(query.request, &measurement, &argument, &reason)) {
    done(Failed(reason));
    return;
  }
  Reading reading;
  {
    std::lock_guard lock(mutex_);
    reading = measurement->read(*tick_, argument);
  }
  done(std::move(reading));
}

void BuiltinSource::BeginTick() {
  std::lock_guard lock(mutex_);
  tick_->Reset();
}

}  // namespace switchd
