// The /proc parsers on sample text: one table of cases per file, each row a
// text and what must come out of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/switchd/Monitoring.h"
#include "services/switchd/ProcText.h"

namespace switchd_test {
namespace {

namespace proc = switchd::proc;

std::string Describe(const std::vector<proc::CpuTimes>& cpus) {
  std::string text;
  for (const auto& cpu : cpus) {
    text += cpu.name + "=" + std::to_string(cpu.busy) + "/" + std::to_string(cpu.total) + " ";
  }
  return text;
}

TEST(ProcTextTest, StatGivesBusyAndTotalTicksPerCpu) {
  const struct {
    const char* text;
    const char* expected;
  } kCases[] = {
      // user nice system idle iowait irq softirq steal guest guest_nice
      {"cpu  58084 9937 18988 22789 361 0 116 0 0 0\n"
       "cpu0 28783 4860 8942 12425 59 0 44 0 0 0\n"
       "cpu1 29301 5076 10046 10364 302 0 71 7 5 5\n"
       "intr 356437 0 0\nctxt 451746\n",
       "total=87125/110275 cpu0=42629/55113 cpu1=44501/55167 "},
      // An old kernel: user nice system idle only.
      {"cpu 10 20 30 40\n", "total=60/100 "},
      // Lines that are not a CPU's, or not numbers, are skipped.
      {"cpufreq 1 2 3 4\ncpu0 1 2 x 4\ncpu1 1 2 3\ncpu2 1 1 1 1 1\n", "cpu2=3/5 "},
      {"", ""},
      {"cpu 18446744073709551616 0 0 0\n", ""},  // beyond 64 bits
  };
  for (const auto& row : kCases) {
    EXPECT_EQ(Describe(proc::ParseStat(row.text)), row.expected) << row.text;
  }
}

TEST(ProcTextTest, BusyPercentIsTheShareOfTheTimeBetweenTwoSamples) {
  const struct {
    proc::CpuTimes before, after;
    int64_t expected;
  } kCases[] = {
      {{"total", 100, 1000}, {"total", 600, 2000}, 50},
      {{"total", 0, 0}, {"total", 2, 3}, 67},  // rounded
      {{"total", 0, 0}, {"total", 1, 3}, 33},
      {{"total", 5, 10}, {"total", 5, 10}, 0},     // no time passed
      {{"total", 5, 10}, {"total", 4, 20}, 0},     // busy went back
      {{"total", 0, 10}, {"total", 50, 20}, 100},  // more busy than time
      {{"total", 0, 20}, {"total", 0, 10}, 0},     // total went back
  };
  for (const auto& row : kCases) {
    EXPECT_EQ(proc::BusyPercent(row.before, row.after), row.expected)
        << row.before.busy << "/" << row.before.total << " -> " << row.after.busy << "/"
        << row.after.total;
  }
}

TEST(ProcTextTest, LoadavgIsReadInHundredths) {
  const struct {
    const char* text;
    std::vector<int64_t> expected;  // empty: no result
  } kCases[] = {
      {"5.50 3.45 1.56 5/122 12711\n", {550, 345, 156}},
      {"0.5 12 2.999", {50, 1200, 299}},
      {"1.00 2.00", {}},
      {"1. 2.00 3.00", {}},
      {"-1.00 2.00 3.00", {}},
      {"a b c", {}},
      {"9999999999999999.99 0 0", {999999999999999999, 0, 0}},
      {"99999999999999999.99 0 0", {}},  // once overflowed the scaling
  };
  for (const auto& row : kCases) {
    const auto loads = proc::ParseLoadavg(row.text);
    const std::vector<int64_t> got =
        loads ? std::vector<int64_t>(loads->begin(), loads->end()) : std::vector<int64_t>{};
    EXPECT_EQ(got, row.expected) << row.text;
  }
}

TEST(ProcTextTest, MeminfoGivesTotalAvailableAndSwap) {
  const struct {
    const char* text;
    const char* expected;  // "" when there is no result
  } kCases[] = {
      {"MemTotal:       24683748 kB\nMemFree:        21806412 kB\n"
       "MemAvailable:   23238448 kB\nBuffers:           18800 kB\nCached:          1586832 kB\n"
       "SwapTotal:        102400 kB\nSwapFree:          51200 kB\n",
       "24683748 23238448 102400 51200"},
      // Without MemAvailable: free, buffers and cached together.
      {"MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 20 kB\nCached: 300 kB\n", "1000 420 0 0"},
      {"MemTotal: 1000 kB\nMemFree: 9223372036854775807 kB\nCached: 9223372036854775807 kB\n",
       "1000 1000 0 0"},
      {"MemFree: 100 kB\nMemAvailable: 100 kB\n", ""},
      {"MemTotal: 1000 kB\n", ""},
      {"MemTotal: lots\nMemAvailable: 5 kB\n", ""},
  };
  for (const auto& row : kCases) {
    const auto info = proc::ParseMeminfo(row.text);
    const std::string got =
        info ? std::to_string(info->total) + " " + std::to_string(info->available) + " " +
                   std::to_string(info->swap_total) + " " + std::to_string(info->swap_free)
             : "";
    EXPECT_EQ(got, row.expected) << row.text;
  }
}

TEST(ProcTextTest, NetDevGivesCountersPerInterface) {
  const char* const kHeader =
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
      "drop fifo colls carrier compressed\n";
  const struct {
    std::string text;
    const char* expected;
  } kCases[] = {
      {std::string(kHeader) +
           "    lo:    3267      29    0    0    0     0          0         0     3267      29    "
           "0    0    0     0       0          0\n"
           "  eth0: 28186411     983    4    0    0     0          0         0    57840     758    "
           "2    0    0     0       0          0\n",
       "lo 3267 29 0 3267 29 0|eth0 28186411 983 4 57840 758 2|"},
      // Old kernels put no blank after the colon.
      {"eth1:10 1 0 0 0 0 0 0 20 2 1\n", "eth1 10 1 0 20 2 1|"},
      {"eth2: 10 1 0 0 0 0 0 0 20 2\n", ""},       // too few fields
      {"eth3: 10 1 x 0 0 0 0 0 20 2 1\n", ""},     // not a number
      {"two names: 1 1 1 1 1 1 1 1 1 1 1\n", ""},  // a name is one word
  };
  for (const auto& row : kCases) {
    std::string got;
    for (const auto& i : proc::ParseNetDev(row.text)) {
      got += i.name + " " + std::to_string(i.in_bytes) + " " + std::to_string(i.in_packets) + " " +
             std::to_string(i.in_errors) + " " + std::to_string(i.out_bytes) + " " +
             std::to_string(i.out_packets) + " " + std::to_string(i.out_errors) + "|";
    }
    EXPECT_EQ(got, row.expected) << row.text;
  }
}

TEST(ProcTextTest, TcpSocketsAreCountedByState) {
  const char* const kTcp =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode\n"
      "   0: 00000000:07E8 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0 0 1\n"
      "   1: 0100007F:9C40 0100007F:07E8 01 00000000:00000000 00:00000000 00000000     0 0 2\n"
      "   2: 0100007F:07E8 0100007F:9C40 01 00000000:00000000 00:00000000 00000000     0 0 3\n"
      "   3: 0100007F:07E8 0100007F:9C41 06 00000000:00000000 00:00000000 00000000     0 0 4\n"
      "   4: 0100007F:07E8 0100007F:9C41 0C 00000000:00000000 00:00000000 00000000     0 0 5\n"
      "   5: 0100007F:07E8 0100007F:9C41 00\n"
      "   6: 0100007F:07E8\n";
  const char* const kTcp6 =
      "  sl  local_address                         remote_address                        st\n"
      "   0: 00000000000000000000000000000000:0016 00000000000000000000000000000000:0000 0A\n";
  proc::TcpStateCounts counts{};
  proc::CountTcpStates(kTcp, &counts);
  proc::CountTcpStates(kTcp6, &counts);
  const proc::TcpStateCounts expected = {0, 2, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0};
  EXPECT_EQ(counts, expected);
}

TEST(ProcTextTest, UptimeIsWholeSeconds) {
  const struct {
    const char* text;
    int64_t expected;  // -1: no result
  } kCases[] = {{"552.96 227.89\n", 552}, {"7", 7}, {"", -1}, {"x 1", -1}, {".5 1", -1}};
  for (const auto& row : kCases) {
    EXPECT_EQ(proc::ParseUptime(row.text).value_or(-1), row.expected) << row.text;
  }
}

TEST(ProcTextTest, MountsAreUnescaped) {
  const char* const kMounts =
      "/dev/vda / ext4 rw,relatime 0 0\n"
      "proc /proc proc rw 0 0\n"
      "/dev/sdb1 /media/my\\040disk vfat rw 0 0\n"
      "/dev/sdc1 /back\\134slash ext4 rw 0 0\n"
      "/dev/sdd1 /odd\\9 ext4 rw 0 0\n"
      "short line\n";
  std::string got;
  for (const auto& m : proc::ParseMounts(kMounts))
    got += m.device + "|" + m.point + "|" + m.type + "\n";
  EXPECT_EQ(got,
            "/dev/vda|/|ext4\nproc|/proc|proc\n/dev/sdb1|/media/my disk|vfat\n"
            "/dev/sdc1|/back\\slash|ext4\n/dev/sdd1|/odd\\9|ext4\n");
}

TEST(ProcTextTest, DecimalValuesAllowASignAndBlanksOnly) {
  const struct {
    const char* text;
    std::optional<int64_t> expected;
  } kCases[] = {
      {"42", 42},
      {" -17\n", -17},
      {"+5", 5},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"12.5", std::nullopt},
      {"0x10", std::nullopt},
      {"4 2", std::nullopt},
  };
  for (const auto& row : kCases) {
    EXPECT_EQ(switchd::ParseDecimalValue(row.text), row.expected) << '"' << row.text << '"';
  }
}

}  // namespace
}  // namespace switchd_test
