// Parsers of /proc text: one function per file, sharing the splitting of lines
// into blank-separated fields and the reading of unsigned numbers.
#include "services/switchd/ProcText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace switchd::proc {

namespace {

// Calls `line` for each line of the text (without its newline).
template <typename LineFn>
void ForEachLine(std::string_view text, LineFn line) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    line(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The blank-separated fields of a line, at most `max` of them (the last one
// is cut off there, which is enough for every file read here).
std::vector<std::string_view> Fields(std::string_view line, size_t max = 32) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (fields.size() < max) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) break;
    size_t end = pos;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return fields;
}

std::optional<uint64_t> Unsigned(std::string_view text, int base = 10) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// kB values are kept signed: a value beyond the signed range is not a real
// amount of memory, and callers subtract them.
std::optional<int64_t> Kilobytes(std::string_view text) {
  const auto value = Unsigned(text);
  if (!value || *value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(*value);
}

// "12.34" as 1234; digits beyond the second decimal are dropped.
std::optional<int64_t> Hundredths(std::string_view text) {
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  // Sixteen digits keep the result within 63 bits after the scaling.
  if (whole.size() > 16) return std::nullopt;
  const auto units = Unsigned(whole);
  if (!units) return std::nullopt;
  int64_t value = static_cast<int64_t>(*units) * 100;
  if (dot == std::string_view::npos) return value;
  const std::string_view fraction = text.substr(dot + 1);
  if (fraction.empty()) return std::nullopt;
  for (size_t i = 0; i < fraction.size(); ++i) {
    if (fraction[i] < '0' || fraction[i] > '9') return std::nullopt;
    if (i == 0) value += (fraction[i] - '0') * 10;
    if (i == 1) value += fraction[i] - '0';
  }
  return value;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && text.size() - i > 3) {
      const std::string_view digits = text.substr(i + 1, 3);
      if (const auto code = Unsigned(digits, 8); code && *code < 256) {
        out += static_cast<char>(*code);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::vector<CpuTimes> ParseStat(std::string_view text) {
  std::vector<CpuTimes> cpus;
  ForEachLine(text, [&](std::string_view line) {
    if (line.substr(0, 3) != "cpu") return;
    const std::vector<std::string_view> fields = Fields(line, 11);
    // user nice system idle are always there; later kernels add the rest.
    if (fields.size() < 5) return;
    std::string name(fields[0]);
    if (name == "cpu") {
      name = "total";
    } else if (!Unsigned(fields[0].substr(3))) {
      return;
    }
    uint64_t values[10] = {};
    for (size_t i = 1; i < fields.size(); ++i) {
      const auto value = Unsigned(fields[i]);
      if (!value) return;
      values[i - 1] = *value;
    }
    CpuTimes cpu;
    cpu.name = std::move(name);
    // user, nice, system, irq, softirq, steal; idle and iowait are not busy.
    cpu.busy = values[0] + values[1] + values[2] + values[5] + values[6] + values[7];
    cpu.total = cpu.busy + values[3] + values[4];
    cpus.push_back(std::move(cpu));
  });
  return cpus;
}

int64_t BusyPercent(const CpuTimes& before, const CpuTimes& after) {
  if (after.total <= before.total) return 0;
  const uint64_t total = after.total - before.total;
  const uint64_t busy = after.busy > before.busy ? after.busy - before.busy : 0;
  if (busy >= total) return 100;
  // In floating point: busy * 100 could leave 64 bits on nonsense input.
  return static_cast<int64_t>(static_cast<double>(busy) * 100.0 / static_cast<double>(total) + 0.5);
}

std::optional<std::array<int64_t, 3>> ParseLoadavg(std::string_view text) {
  const std::vector<std::string_view> fields = Fields(text.substr(0, text.find('\n')), 3);
  if (fields.size() < 3) return std::nullopt;
  std::array<int64_t, 3> loads{};
  for (size_t i = 0; i < 3; ++i) {
    const auto value = Hundredths(fields[i]);
    if (!value) return std::nullopt;
    loads[i] = *value;
  }
  return loads;
}

std::optional<MemInfo> ParseMeminfo(std::string_view text) {
  std::optional<int64_t> total, available, free, buffers, cached, swap_total, swap_free;
  ForEachLine(text, [&](std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view key = line.substr(0, colon);
    const std::vector<std::string_view> fields = Fields(line.substr(colon + 1), 2);
    if (fields.empty()) return;
    const std::optional<int64_t> value = Kilobytes(fields[0]);
    if (!value) return;
    if (key == "MemTotal") total = value;
    if (key == "MemAvailable") available = value;
    if (key == "MemFree") free = value;
    if (key == "Buffers") buffers = value;
    if (key == "Cached") cached = value;
    if (key == "SwapTotal") swap_total = value;
    if (key == "SwapFree") swap_free = value;
  });
  if (!total || (!available && !free)) return std::nullopt;
  MemInfo info;
  info.total = *total;
  // Each part is below 2^63, so the sum of three cannot wrap an unsigned sum;
  // it is capped at the total, which it can never really exceed.
  const uint64_t fallback = static_cast<uint64_t>(free.value_or(0)) +
                            static_cast<uint64_t>(buffers.value_or(0)) +
                            static_cast<uint64_t>(cached.value_or(0));
  info.available =
      available
          ? *available
          : static_cast<int64_t>(std::min<uint64_t>(fallback, static_cast<uint64_t>(info.total)));
  info.swap_total = swap_total.value_or(0);
  info.swap_free = swap_free.value_or(0);
  return info;
}

std::vector<InterfaceCounters> ParseNetDev(std::string_view text) {
  std::vector<InterfaceCounters> interfaces;
  ForEachLine(text, [&](std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::vector<std::string_view> name = Fields(line.substr(0, colon), 2);
    if (name.size() != 1) return;
    const std::vector<std::string_view> fields = Fields(line.substr(colon + 1), 16);
    // Receive: bytes packets errs drop fifo frame compressed multicast;
    // transmit: bytes packets errs ...
    if (fields.size() < 11) return;
    uint64_t values[11] = {};
    for (size_t i = 0; i < 11; ++i) {
      const auto value = Unsigned(fields[i]);
      if (!value) return;
      values[i] = *value;
    }
    InterfaceCounters counters;
    counters.name = std::string(name[0]);
    counters.in_bytes = values[0];
    counters.in_packets = values[1];
    counters.in_errors = values[2];
    counters.out_bytes = values[8];
    counters.out_packets = values[9];
    counters.out_errors = values[10];
    interfaces.push_back(std::move(counters));
  });
  return interfaces;
}

void CountTcpStates(std::string_view text, TcpStateCounts* counts) {
  ForEachLine(text, [&](std::string_view line) {
    // "  12: 0100007F:0277 00000000:0000 0A ..."; the header starts with "sl".
    const std::vector<std::string_view> fields = Fields(line, 4);
    if (fields.size() < 4 || fields[0].empty() || fields[0].back() != ':') return;
    const auto state = Unsigned(fields[3], 16);
    if (!state || *state < 1 || *state > kTcpStateCount) return;
    ++(*counts)[*state];
  });
}

std::optional<int64_t> ParseUptime(std::string_view text) {
  const std::vector<std::string_view> fields = Fields(text.substr(0, text.find('\n')), 1);
  if (fields.empty()) return std::nullopt;
  const auto hundredths = Hundredths(fields[0]);
  if (!hundredths) return std::nullopt;
  return *hundredths / 100;
}

std::vector<Mount> ParseMounts(std::string_view text) {
  std::vector<Mount> mounts;
  ForEachLine(text, [&](std::string_view line) {
    const std::vector<std::string_view> fields = Fields(line, 3);
    if (fields.size() < 3) return;
    mounts.push_back({Unescape(fields[0]), Unescape(fields[1]), Unescape(fields[2])});
  });
  return mounts;
}

}  // namespace switchd::proc
