// The /proc parsers at their edges (the sample files of BuiltinSourceTest
// cover the ordinary texts): one table per file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/switchd/Monitoring.h"
#include "services/switchd/ProcText.h"

namespace switchd_test {
namespace {

namespace proc = switchd::proc;

TEST(ProcTextTest, StatGivesBusyAndTotalTicksPerCpu) {
  // clang-format off
  const struct { const char* text; const char* expected; } kCases[] = {
      {"cpu1 29301 5076 10046 10364 302 0 71 7 5 5\n", "cpu1=44501/55167 "},  // guest is in user
      {"cpu 10 20 30 40\n", "total=60/100 "},  // an old kernel: user nice system idle only
      {"cpufreq 1 2 3 4\ncpu0 1 2 x 4\ncpu1 1 2 3\ncpu2 1 1 1 1 1\n", "cpu2=3/5 "},
      {"", ""},
      {"cpu 18446744073709551616 0 0 0\n", ""},  // beyond 64 bits
  };
  // clang-format on
  for (const auto& row : kCases) {
    std::string text;
    for (const auto& cpu : proc::ParseStat(row.text)) {
      text += cpu.name + "=" + std::to_string(cpu.busy) + "/" + std::to_string(cpu.total) + " ";
    }
    EXPECT_EQ(text, row.expected) << row.text;
  }
}

TEST(ProcTextTest, LoadavgIsReadInHundredths) {
  // clang-format off
  const struct { const char* text; std::vector<int64_t> expected; } kCases[] = {
      {"0.5 12 2.999", {50, 1200, 299}},
      {"1.00 2.00", {}},
      {"1. 2.00 3.00", {}},
      {"-1.00 2.00 3.00", {}},
      {"9999999999999999.99 0 0", {999999999999999999, 0, 0}},
      {"99999999999999999.99 0 0", {}},  // once overflowed the scaling
  };
  // clang-format on
  for (const auto& row : kCases) {
    const auto loads = proc::ParseLoadavg(row.text);
    EXPECT_EQ(loads ? std::vector<int64_t>(loads->begin(), loads->end()) : std::vector<int64_t>{},
              row.expected)
        << row.text;
  }
}

TEST(ProcTextTest, MeminfoGivesTotalAvailableAndSwap) {
  // clang-format off
  const struct { const char* text; const char* expected; } kCases[] = {
      // Without MemAvailable: free, buffers and cached together.
      {"MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 20 kB\nCached: 300 kB\n", "1000 420 0 0"},
      {"MemTotal: 1000 kB\nMemFree: 9223372036854775807 kB\nCached: 9223372036854775807 kB\n", "1000 1000 0 0"},
      {"MemTotal: 1000 kB\n", ""},
      {"MemTotal: lots\nMemAvailable: 5 kB\n", ""},
  };
  // clang-format on
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
  // clang-format off
  const struct { const char* text; const char* expected; } kCases[] = {
      {"eth1:10 1 0 0 0 0 0 0 20 2 1\n", "eth1 10 1 0 20 2 1|"},  // old kernels: no blank after the colon
      {"eth2: 10 1 0 0 0 0 0 0 20 2\n", ""},       // too few fields
      {"eth3: 10 1 x 0 0 0 0 0 20 2 1\n", ""},     // not a number
      {"two names: 1 1 1 1 1 1 1 1 1 1 1\n", ""},  // a name is one word
  };
  // clang-format on
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

TEST(ProcTextTest, MountsAreUnescaped) {
  std::string got;
  for (const auto& m : proc::ParseMounts("/dev/sdb1 /media/my\\040disk vfat rw 0 0\n"
                                         "/dev/sdc1 /back\\134slash ext4 rw 0 0\n"
                                         "/dev/sdd1 /odd\\9 ext4 rw 0 0\nshort line\n")) {
    got += m.device + "|" + m.point + "|" + m.type + "\n";
  }
  EXPECT_EQ(got,
            "/dev/sdb1|/media/my disk|vfat\n/dev/sdc1|/back\\slash|ext4\n/dev/sdd1|/odd\\9|ext4\n");
}

TEST(ProcTextTest, DecimalValuesAllowASignAndBlanksOnly) {
  const std::pair<const char*, std::optional<int64_t>> kCases[] = {
      {"42", 42},
      {" -17\n", -17},
      {"+5", 5},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"+-5", std::nullopt},
      {"12.5", std::nullopt},
      {"4 2", std::nullopt}};
  for (const auto& [text, expected] : kCases) {
    EXPECT_EQ(switchd::ParseDecimalValue(text), expected) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace switchd_test
