// The builtin catalogue over sample kernel files (so each value is known),
// the requests refused, and this machine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SourceReading.h"
#include "services/switchd/BuiltinSource.h"
#include "services/switchd/ResourceList.h"
#include "support/TempDir.h"

namespace switchd_test {
namespace {

using switchd::BuiltinSource;
using switchd::Reading;
using switchd::RequestType;

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Reading Builtin(BuiltinSource& source, const std::string& request) {
  return ReadNow(source, RequestType::kBuiltin, request);
}

class BuiltinSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(disk_);
    Write(root_ + "/proc/stat",
          "cpu  300 0 100 600 0 0 0 0 0 0\ncpu0 200 0 0 300 0 0 0 0 0 0\n"
          "cpu1 100 0 100 300 0 0 0 0 0 0\nintr 1 2 3\n");
    Write(root_ + "/proc/loadavg", "5.50 3.45 1.56 5/122 12711\n");
    Write(root_ + "/proc/uptime", "552.96 227.89\n");
    Write(root_ + "/proc/meminfo",
          "MemTotal: 1000 kB\nMemAvailable: 250 kB\nSwapTotal: 400 kB\nSwapFree: 300 kB\n");
    Write(root_ + "/proc/net/dev",
          "Inter-|   Receive |  Transmit\n face |bytes packets errs|bytes packets errs\n"
          "  eth0: 10240 983 4 0 0 0 0 0 57344 758 2 0 0 0 0 0\n"
          "    lo: 3267 29 0 0 0 0 0 0 3267 29 0 0 0 0 0 0\n");
    Write(root_ + "/sys/class/net/lo/ifindex", "1\n");
    Write(root_ + "/sys/class/net/eth0/ifindex", "2\n");
    Write(root_ + "/proc/net/tcp",
          "  sl  local_address rem_address   st\n"
          "   0: 00000000:07E8 00000000:0000 0A\n   1: 0100007F:9C40 0100007F:07E8 01\n");
    Write(root_ + "/proc/self/mounts",
          "/dev/vda / ext4 rw 0 0\nproc /proc proc rw 0 0\n"
          "tmpfs " +
              disk_ + " tmpfs rw 0 0\n/dev/vda / ext4 rw 0 0\n");
    Write(root_ + "/proc/100/comm", "sshd\n");
    Write(root_ + "/proc/101/comm", "sshd\n");
    Write(root_ + "/proc/102/comm", "systemd-journal\n");
    Write(root_ + "/proc/self/comm", "not-a-process\n");  // not a number: not listed
  }

  test_support::TempDir dir_{"lorveth-builtin"};
  const std::string root_ = dir_.path();
  const std::string disk_ = root_ + "/disk";
};

TEST_F(BuiltinSourceTest, EveryMeasurementReadsItsSample) {
  BuiltinSource source(root_);
  // clang-format off
  const struct {
    const char* request;
    const char* expected;
  } kCases[] = {
      // Since boot at the first read.
      {"cpu.load.percent", "total#1=40 cpu0#2=40 cpu1#3=40 "},
      {"load.1min.x100", "total#1=550 "},
      {"memory.used.percent", "total#1=75 "},
      {"memory.used.kb", "total#1=750 "},
      {"swap.used.percent", "total#1=25 "},
      {"net.in.kb", "lo#1=3 eth0#2=10 (counter)"},
      {"net.out.kb", "lo#1=3 eth0#2=56 (counter)"},
      {"proc.count", "sshd#1=2 systemd-journal#2=1 "},
      {"proc.count:systemd-journald", "systemd-journald#1=1 "},  // cut to 15 characters
      {"proc.count:nginx", ""},                                  // no such process
      {"proc.total", "total#1=3 "},
      {"tcp.connections:listen", "listen#10=1 "},
      {"tcp.connections", "established#1=1 syn-sent#2=0 syn-recv#3=0 fin-wait1#4=0 fin-wait2#5=0 time-wait#6=0 " "close#7=0 close-wait#8=0 last-ack#9=0 listen#10=1 closing#11=0 "},
      {" uptime.seconds\n", "total#1=552 "},
      {"nonsense", "failed: unknown builtin measurement \"nonsense\""},
  };
  // clang-format on
  for (const auto& row : kCases) {
    EXPECT_EQ(Describe(Builtin(source, row.request)), row.expected) << row.request;
  }
}

TEST_F(BuiltinSourceTest, ListingShowsEveryMeasurementWithItsValuesOrWhyItFails) {
  std::filesystem::remove(root_ + "/proc/net/tcp");
  Write(root_ + "/proc/meminfo", "nothing useful\n");
  Write(root_ + "/proc/103/comm", "evil\nOK\n");
  BuiltinSource source(root_);
  EXPECT_EQ(Describe(Builtin(source, "tcp.connections")),
            "failed: cannot read " + root_ + "/proc/net/tcp");
  EXPECT_EQ(Describe(Builtin(source, "swap.used.kb")),
            "failed: /proc/meminfo does not have the expected contents");
  const std::vector<std::string> lines = switchd::ListResources(source, false).lines;
  for (const char* line : {"load.1min.x100       1/100        no       total",
                           "net.in.kb            kB           yes      lo",
                           "                                           eth0",
                           "proc.count           processes    no       evil?OK",
                           "tcp.connections      connections  no       -"}) {
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind(line, 0) == 0;
    })) << line;
  }
  const std::string json = switchd::ListResources(source, true).lines.at(0);
  for (const char* part : {"{\"number\":1,\"name\":\"evil\\nOK\",\"value\":1}",
                           "\"values\":null,\"error\":\"cannot read ",
                           "{\"name\":\"file.exists\",\"argument\":\"path\","}) {
    EXPECT_NE(json.find(part), std::string::npos) << part;
  }
}

TEST(BuiltinRequestTest, RequestsAreCheckedAgainstTheCatalogue) {
  const BuiltinSource source;
  const struct {
    const char* request;
    const char* reason;  // "" when valid
  } kCases[] = {
      {"cpu.load.percent", ""},
      {"file.age.seconds:/var/log/x:y", ""},
      {"proc.count:kworker/0:1", ""},
      {"cpu.load", "unknown builtin measurement \"cpu.load\""},
      {"load.1min.x100:5", "load.1min.x100 takes no argument"},
      {"file.exists", "file.exists needs a path: file.exists:/PATH"},
      {"file.exists:", "file.exists needs a path: file.exists:/PATH"},
      {"file.size.kb:relative/path", "file.size.kb needs an absolute path, not \"relative/path\""},
      {"tcp.connections:open", "tcp.connections knows no TCP state \"open\""},
  };
  for (const auto& row : kCases) {
    std::string reason;
    const bool valid = source.Validate({RequestType::kBuiltin, row.request, "", ""}, &reason);
    EXPECT_EQ(valid, std::string(row.reason).empty()) << row.request;
    EXPECT_EQ(reason, row.reason) << row.request;
  }
}

// This machine's own files: path measurements, and every other measurement reads.
TEST_F(BuiltinSourceTest, ThisMachineAnswersWhatIsCertain) {
  BuiltinSource source;
  const std::string file = root_ + "/present";
  Write(file, std::string(1500, 'x'));
  const time_t old = std::time(nullptr) - 100;
  const utimbuf times{old, old};
  ASSERT_EQ(utime(file.c_str(), &times), 0);
  const std::string gone = root_ + "/absent";
  EXPECT_EQ(Describe(Builtin(source, "file.exists:" + file)), file + "#1=1 ");
  EXPECT_EQ(Describe(Builtin(source, "file.exists:" + gone)), gone + "#1=0 ");
  EXPECT_EQ(Describe(Builtin(source, "file.size.kb:" + file)), file + "#1=2 ");
  EXPECT_EQ(Describe(Builtin(source, "file.size.kb:" + gone)), "");
  const Reading age = Builtin(source, "file.age.seconds:" + file);
  ASSERT_EQ(age.instances.size(), 1u) << Describe(age);
  EXPECT_GE(age.instances[0].value, 100);
  for (const auto& measurement : switchd::BuiltinCatalogue()) {
    if (measurement.argument == switchd::BuiltinArgument::kPath) continue;
    const Reading reading = Builtin(source, measurement.name);
    EXPECT_TRUE(reading.ok) << measurement.name << ": " << reading.error;
    EXPECT_EQ(reading.counter, measurement.counter) << measurement.name;
  }
}

}  // namespace
}  // namespace switchd_test
