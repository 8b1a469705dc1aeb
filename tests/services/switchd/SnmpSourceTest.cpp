// The snmp source against a real snmpd on a free loopback port: every numeric
// type, columns walked into instances, MIB names, and agents that do not answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "SourceReading.h"
#include "services/switchd/SnmpSource.h"
#include "support/ProcessHelpers.h"

namespace switchd_test {
namespace {

using namespace std::chrono_literals;
using switchd::EngineSettings;
using switchd::Reading;
using switchd::RequestType;
using switchd::SnmpSource;
using test_support::ChildProcess;
using test_support::TempDir;

const std::string kBase = "1.3.6.1.4.1.99999";

// The MIB the name lookups use: the agent's own, with the modules it imports.
const std::string kThresholdStatus = "LORVETH-THRESHOLD-MIB::threshThresholdStatus.0";
const std::string kThresholdStatusOid = "1.3.6.1.4.1.32473.2.47.1.2.2.0";

std::string AgentConfig(int port, const std::string& pass_script) {
  std::string text = "agentaddress udp:127.0.0.1:" + std::to_string(port) +
                     "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n";
  const auto add = [&](const std::string& oid, const std::string& type, const std::string& value) {
    text += "override -rw ." + oid + " " + type + " " + value + "\n";
  };
  add(kBase + ".1.0", "integer", "42");
  add(kBase + ".2.0", "uinteger", "4000000000");
  add(kBase + ".3.0", "counter", "123456");
  add(kBase + ".4.0", "octet_str", "\"  -15 \"");
  add(kBase + ".5.0", "octet_str", "\"many\"");
  add(kThresholdStatusOid, "integer", "2");
  // A table: values in column 2, names in column 3, rows 1, 2 and 5.
  for (const auto& [row, value, name] :
       {std::tuple{1, 10, "eth0"}, {2, 20, "eth1"}, {5, 50, "wlan0"}}) {
    add(kBase + ".10.1.2." + std::to_string(row), "integer", std::to_string(value));
    add(kBase + ".10.1.3." + std::to_string(row), "octet_str", std::string("\"") + name + "\"");
  }
  // Rows indexed by two sub-identifiers.
  add(kBase + ".11.1.2.1.7", "integer", "1");
  add(kBase + ".11.1.2.2.3", "integer", "2");
  // More rows than one GETBULK answer holds.
  for (int row = 1; row <= 70; ++row) {
    add(kBase + ".12.1.2." + std::to_string(row), "counter", std::to_string(row * 100));
  }
  // Counter64 and TimeTicks, which override cannot make.
  text += "pass ." + kBase + ".20 /bin/sh " + pass_script + "\n";
  return text;
}

const char* const kPassScript =
    "if [ \"$1\" = -g ] && [ \"$2\" = .1.3.6.1.4.1.99999.20.1.0 ]; then\n"
    "  printf '%s\\n' .1.3.6.1.4.1.99999.20.1.0 counter64 12345678901234\n"
    "elif [ \"$1\" = -g ] && [ \"$2\" = .1.3.6.1.4.1.99999.20.2.0 ]; then\n"
    "  printf '%s\\n' .1.3.6.1.4.1.99999.20.2.0 timeticks 500\n"
    "fi\n";

class SnmpSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Net-SNMP reads its configuration once per process: point it at
    // directories of this test before the first source reads anything.
    library_dir_ = new TempDir();
    setenv("SNMPCONFPATH", library_dir_->path().c_str(), 1);
    setenv("SNMP_PERSISTENT_DIR", library_dir_->path().c_str(), 1);
    setenv("MIBDIRS",
           (std::string(LORVETH_TEST_DATA_DIR) + "/../../mibs:" + LORVETH_TEST_DATA_DIR + "/mibs")
               .c_str(),
           1);
    setenv("MIBS", "LORVETH-THRESHOLD-MIB", 1);
  }
  static void TearDownTestSuite() {
    delete library_dir_;
    library_dir_ = nullptr;
  }

  void SetUp() override {
    port_ = test_support::FreeUdpPort();
    const std::string script = dir_.path() + "/pass.sh";
    test_support::WriteFile(script, kPassScript);
    test_support::WriteFile(Config(), AgentConfig(port_, script));
    env_ = test_support::NetSnmpEnvironment(dir_.path() + "/net-snmp");
    agent_ =
        ChildProcess::Start({"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", Config(), "-I", "-smux"},
                            env_, dir_.path() + "/snmpd.log");
    ASSERT_NE(agent_, nullptr);
    const bool answering = test_support::WaitFor(
        [&] {
          return Get(kBase + ".1.0").find("INTEGER") != std::string::npos || !agent_->Running();
        },
        20s);
    ASSERT_TRUE(answering && agent_->Running())
        << test_support::ReadFile(dir_.path() + "/snmpd.log");
  }

  std::string Config() const { return dir_.path() + "/snmpd.conf"; }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

  std::string Get(const std::string& oid) {
    return test_support::RunCommand(
               {"/usr/bin/snmpget", "-v2c", "-cpublic", "-t1", "-r0", Target(), oid}, env_)
        .output;
  }

  Reading Read(SnmpSource& source, const std::string& request, const std::string& names = "",
               const std::string& target = "") {
    return ReadNow(source,
                   {RequestType::kSnmp, request, names, target.empty() ? Target() : target});
  }

  static EngineSettings Quick() {
    EngineSettings settings;
    settings.snmp_timeout_ms = 300;
    settings.snmp_retries = 1;
    return settings;
  }

  static TempDir* library_dir_;
  TempDir dir_;
  int port_ = 0;
  std::vector<std::string> env_;
  std::unique_ptr<ChildProcess> agent_;
};

TempDir* SnmpSourceTest::library_dir_ = nullptr;

TEST_F(SnmpSourceTest, EveryNumericTypeIsReadAndOthersFail) {
  SnmpSource source(EngineSettings{});
  // clang-format off
  const struct {
    std::string request;
    std::string expected;
    uint64_t modulus;
  } kCases[] = {
      {kBase + ".1.0", kBase + ".1.0#1=42 ", 0},
      {" ." + kBase + ".2.0 ", "." + kBase + ".2.0#1=4000000000 ", 0},  // Gauge32
      {kBase + ".3.0", kBase + ".3.0#1=123456 (counter)", uint64_t{1} << 32},
      {kBase + ".20.1.0", kBase + ".20.1.0#1=12345678901234 (counter)", 0},  // Counter64
      {kBase + ".20.2.0", kBase + ".20.2.0#1=500 ", 0},                      // TimeTicks
      {kBase + ".4.0", kBase + ".4.0#1=-15 ", 0},
      {kThresholdStatus, kThresholdStatus + "#1=2 ", 0},
      {kBase + ".5.0", "failed: " + kBase + ".5.0 is OCTET STRING, not a number", 0},
      {kBase + ".99", "", 0},  // nothing there: no instance
      {"NO-SUCH-MIB::thing", "failed: \"NO-SUCH-MIB::thing\" is not an OID the installed MIBs know", 0},
  };
  // clang-format on
  for (const auto& row : kCases) {
    const Reading reading = Read(source, row.request);
    EXPECT_EQ(Describe(reading), row.expected) << row.request;
    EXPECT_EQ(reading.counter_modulus, row.modulus) << row.request;
  }
}

TEST_F(SnmpSourceTest, ColumnGivesOneInstancePerRow) {
  SnmpSource source(EngineSettings{});
  const struct {
    std::string request;
    std::string names;
    std::string expected;
  } kCases[] = {
      {kBase + ".10.1.2", kBase + ".10.1.3", "eth0#1=10 eth1#2=20 wlan0#5=50 "},
      {kBase + ".10.1.2", "", "1#1=10 2#2=20 5#5=50 "},
      {kBase + ".10.1.2", "not an oid", "1#1=10 2#2=20 5#5=50 "},
      // Two sub-identifiers of index: numbered by position.
      {kBase + ".11.1.2", "", "1.7#1=1 2.3#2=2 "},
      // Names are read from a column whose rows are the same; others keep the index.
      {kBase + ".10.1.2", kBase + ".11.1.2", "1#1=10 2#2=20 5#5=50 "},
  };
  for (const auto& row : kCases) {
    EXPECT_EQ(Describe(Read(source, row.request, row.names)), row.expected) << row.request;
  }
  const Reading many = Read(source, kBase + ".12.1.2");
  ASSERT_EQ(many.instances.size(), 70u) << Describe(many);
  EXPECT_TRUE(many.counter);
  EXPECT_EQ(many.instances.back().number, 70u);
  EXPECT_EQ(many.instances.back().value, 7000);
}

// A UDP socket on a loopback port that takes requests and never answers.
class SilentAgent {
 public:
  SilentAgent() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentAgent() { close(fd_); }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(SnmpSourceTest, SilentAgentFailsAfterItsTimeOutWithoutDelayingALiveOne) {
  SnmpSource source(Quick());
  const SilentAgent silent;
  std::promise<Reading> silent_answer;
  source.Read({RequestType::kSnmp, kBase + ".1.0", "", silent.Target()},
              [&](Reading reading) { silent_answer.set_value(std::move(reading)); });
  std::future<Reading> silent_reading = silent_answer.get_future();
  EXPECT_EQ(Describe(Read(source, kBase + ".1.0")), kBase + ".1.0#1=42 ");
  EXPECT_EQ(silent_reading.wait_for(0s), std::future_status::timeout);
  ASSERT_EQ(silent_reading.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(Describe(silent_reading.get()),
            "failed: no answer from " + silent.Target() + " within 300 ms (1 retry)");
}

// A wrong community fails until new settings apply; a closed port fails the
// read, and later reads try again.
TEST_F(SnmpSourceTest, ClosedPortFailsTheReadAndLaterReadsTryAgain) {
  EngineSettings wrong = Quick();
  wrong.community = "secret";
  SnmpSource source(wrong);
  EXPECT_FALSE(Read(source, kBase + ".1.0").ok);
  source.UpdateSettings(Quick());
  const int port = test_support::FreeUdpPort();
  const std::string closed = "127.0.0.1:" + std::to_string(port);
  const Reading refused = Read(source, kBase + ".1.0", "", closed);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find(closed), std::string::npos) << refused.error;
  test_support::WriteFile(dir_.path() + "/second.conf",
                          AgentConfig(port, dir_.path() + "/pass.sh"));
  const auto second = ChildProcess::Start(
      {"/usr/sbin/snmpd", "-f", "-Lo", "-C", "-c", dir_.path() + "/second.conf", "-I", "-smux"},
      env_, dir_.path() + "/second.log");
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(
      test_support::WaitFor([&] { return Read(source, kBase + ".1.0", "", closed).ok; }, 20s))
      << test_support::ReadFile(dir_.path() + "/second.log");
}

TEST_F(SnmpSourceTest, ValidationRefusesBadTargetsAndUnknownNames) {
  const SnmpSource source(EngineSettings{});
  std::string reason;
  EXPECT_TRUE(source.Validate({RequestType::kSnmp, kThresholdStatus, "", "192.0.2.1"}, &reason));
  EXPECT_TRUE(source.Validate({RequestType::kSnmp, "1.3.6.1.2.1.1.3.0", "", ""}, &reason));
  EXPECT_FALSE(source.Validate({RequestType::kSnmp, "1.3.6", "", "no address"}, &reason));
  EXPECT_EQ(reason, "\"no address\" is not an address (host, host:port or [IPv6]:port)");
  EXPECT_FALSE(source.Validate({RequestType::kSnmp, "", "", "192.0.2.1"}, &reason));
  EXPECT_EQ(reason, "\"\" is not an OID the installed MIBs know");
}

}  // namespace
}  // namespace switchd_test
