// The system on a bad day; each test prints how long recovery took.
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/SystemFixture.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

class FaultTest : public SystemTest {
 protected:
  void ReportRecovery(const std::string& fault, Clock::time_point since) {
    const double taken = std::chrono::duration<double>(Clock::now() - since).count();
    std::printf("recovery after %s: %.2f s\n", fault.c_str(), taken);
  }
  std::string SetDescription(const std::string& text) {
    return Query("/usr/bin/snmpset", "2c", "private",
                 {RuleColumn(kDescriptionColumn, "cpu-high"), "s", text,
                  RuleColumn(kRowStatusColumn, "cpu-high"), "i", "1"});
  }
  static bool Stored(const std::string& answer) {
    return answer.find("STRING:") != npos && answer.find("Error") == npos &&
           answer.find("Timeout") == npos;
  }
  void ExpectStoresAgain(const std::string& fault, Clock::time_point since) {
    std::string last;
    const bool stored =
        WaitFor([&] { return Stored(last = SetDescription("Back again")); }, kPatience);
    EXPECT_TRUE(stored) << last << ReadFile(dir_.path() + "/switchd.log");
    if (stored) ReportRecovery(fault, since);
  }
  static auto Threads(const ChildProcess& child) {
    const std::string tasks = "/proc/" + std::to_string(child.pid()) + "/task";
    return std::distance(std::filesystem::directory_iterator(tasks), {});
  }
  std::string RulesFile() const { return state_dir_ + "/switchd/Rules.xml"; }
};

// Whenever switchd dies during a store, Rules.xml holds the old or the new
// description; the SET cut off is answered, and later ones are stored again.
TEST_F(FaultTest, SwitchdKilledDuringStoresLeavesAWholeTableFile) {
  ASSERT_TRUE(StartSystem());
  for (int round = 0; round < 3; ++round) {
    std::atomic<bool> stop{false};
    std::vector<std::string> sent = {"Processor load above 90 percent"};
    std::string cut_off;
    std::thread setter([&] {
      for (int i = 0; !stop; ++i) {
        const std::string text = "Round " + std::to_string(round) + " store " + std::to_string(i) +
                                 " " + std::string(100 + i % 100, 'x');
        sent.push_back(text);
        const std::string answer = SetDescription(text);
        if (answer.find("Timeout") != npos) cut_off = answer;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200 + 150 * round));
    switchd_->Signal(SIGKILL);
    ASSERT_TRUE(switchd_->WaitExit(kPatience).has_value());
    const Clock::time_point killed = Clock::now();
    // One more SET reaches the agent without switchd: answered, not lost.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    setter.join();
    EXPECT_TRUE(cut_off.empty()) << cut_off;
    pugi::xml_document rules;
    ASSERT_TRUE(rules.load_file(RulesFile().c_str())) << ReadFile(RulesFile());
    const std::string stored =
        rules.select_node("//Rule[@Name='cpu-high']/Description").node().text().get();
    EXPECT_NE(std::find(sent.begin(), sent.end(), stored), sent.end()) << stored;
    EXPECT_EQ(rules.child("Rules").select_nodes("Rule").size(), 4u);
    ASSERT_TRUE(StartSwitchd());
    ExpectStoresAgain("switchd killed during a store", killed);
  }
  for (const auto& entry : std::filesystem::directory_iterator(state_dir_ + "/switchd")) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), npos)
        << entry.path() << " left behind";
  }
}

// A stalled switchd holds a request at most for the client's time-out; a stopped
// one leaves walks answered from what the agent holds. Threads do not pile up,
// stores and events work again after the restart, and snmpsvc stops cleanly.
TEST_F(FaultTest, AgentOutlivesAStalledOrStoppedSwitchd) {
  env_.push_back("LORVETH_COM_CALL_TIMEOUT=2");
  ASSERT_TRUE(StartTrapReceiver());
  ASSERT_TRUE(StartSystem());
  const auto threads_before = Threads(*snmpsvc_);
  switchd_->Signal(SIGSTOP);
  std::vector<std::string> answers(3);
  std::vector<std::thread> managers;
  for (std::string& answer : answers) {
    managers.emplace_back([&] {
      answer = Query("/usr/bin/snmpget", "2c", "public", {kRoot + ".1.2.2.0"}, "60", "0");
    });
  }
  const std::string uptime =
      Query("/usr/bin/snmpget", "2c", "public", {"1.3.6.1.2.1.1.3.0"}, "5", "0");
  EXPECT_NE(uptime.find("Timeticks"), npos) << uptime;
  for (std::thread& manager : managers) manager.join();
  for (const std::string& answer : answers) EXPECT_EQ(answer.find("Timeout"), npos) << answer;
  EXPECT_LE(Threads(*snmpsvc_), threads_before + 1);
  switchd_->Signal(SIGCONT);
  ExpectStoresAgain("a stalled switch", Clock::now());
  switchd_->Signal(SIGTERM);
  ASSERT_TRUE(switchd_->WaitExit(kPatience).has_value());
  const Clock::time_point stopped = Clock::now();
  for (const std::string& walk : WalksDuring([] {})) {
    EXPECT_NE(walk.find("\"cpu-high\""), npos) << walk;
  }
  EXPECT_LE(Threads(*snmpsvc_), threads_before + 1);
  ASSERT_TRUE(StartSwitchd());
  ExpectStoresAgain("switchd stopped", stopped);
  // The agent advises again once its remoting has reconnected; until then an
  // event has no listener, so it is repeated until one arrives.
  const std::string trap_oid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + kRoot + ".2.0.2200";
  EXPECT_TRUE(WaitFor([&] {
    Tool({kSwitchctl, "event", "cpu-high", "99", "critical-trap"});
    return WaitFor([&] { return ReadFile(TrapLog()).find(trap_oid) != npos; },
                   std::chrono::milliseconds(500));
  })) << ReadFile(TrapLog())
      << ReadFile(ServiceLog());
  EXPECT_NE(ReadFile(TrapLog()).find("." + kTrapObjects + "4.0 = STRING: \"99\""), npos);
  switchd_->Signal(SIGKILL);
  ASSERT_TRUE(switchd_->WaitExit().has_value());
  snmpsvc_->Signal(SIGTERM);
  const auto ended = snmpsvc_->WaitExit();
  ASSERT_TRUE(ended.has_value()) << "snmpsvc hangs without switchd";
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) << *ended;
  const std::string trace = ReadFile(TraceFile());
  const std::size_t shutting = trace.find("SnmpClose(): Shutting down agent");
  EXPECT_NE(shutting, npos) << trace;
  EXPECT_NE(trace.find("SNMP agent DLL unloaded", shutting), npos) << trace;
  EXPECT_EQ(trace.find("Exception"), npos) << trace;
}

// Unmounts lazily, so that open files do not hold it.
struct Mount {
  std::string point;
  ~Mount() {
    if (!point.empty()) umount2(point.c_str(), MNT_DETACH);
  }
};

// A full data disk: the SET answers an error, the table file stays as it was,
// and with room again SETs are stored again.
TEST_F(FaultTest, FullDataDiskRefusesTheStoreAndKeepsTheTables) {
  const std::string data = state_dir_ + "/switchd";
  const std::string saved = dir_.path() + "/tables";
  std::filesystem::rename(data, saved);
  std::filesystem::create_directories(data);
  Mount mount;
  if (::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=512k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  mount.point = data;
  for (const auto& entry : std::filesystem::directory_iterator(saved)) {
    std::filesystem::copy_file(entry.path(), data + "/" + entry.path().filename().string());
  }
  ASSERT_TRUE(StartSystem());
  ASSERT_TRUE(Stored(SetDescription("Before the disk filled")));
  ASSERT_TRUE(ExpectServed(RuleColumn(kDescriptionColumn, "cpu-high"), "Before the disk filled"));
  const std::string before = ReadFile(RulesFile());
  const std::string filler = data + "/filler";
  WriteFile(filler, std::string(1 << 20, 'f'));  // more than the file system holds
  const std::string refused = SetDescription("After the disk filled " + std::string(200, 'y'));
  EXPECT_NE(refused.find("Error"), npos) << refused;
  EXPECT_EQ(ReadFile(RulesFile()), before);
  EXPECT_NE(ReadFile(dir_.path() + "/switchd.log").find("(status 6)"), npos)
      << ReadFile(dir_.path() + "/switchd.log");
  std::filesystem::remove(filler);
  ExpectStoresAgain("a full data disk", Clock::now());
}

// A corrupt or locked registry: snmpsvc serves the agent named on its command
// line, the agent logs that it runs on defaults, lorveth-reg names the problem.
TEST_F(FaultTest, BrokenRegistryLeavesTheAgentOnItsDefaults) {
  const std::string registry = state_dir_ + "/registry.db";
  for (const bool corrupt : {false, true}) {
    SCOPED_TRACE(corrupt ? "corrupt" : "locked");
    sqlite3* holder = nullptr;
    if (corrupt) {
      WriteFile(registry, std::string(8192, '\x5a'));
      std::filesystem::remove(registry + "-wal");
      std::filesystem::remove(registry + "-shm");
    } else {
      ASSERT_EQ(sqlite3_open(registry.c_str(), &holder), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT 1;",
                             nullptr, nullptr, nullptr),
                SQLITE_OK);
    }
    const std::string log_socket = dir_.path() + "/syslog." + (corrupt ? "1" : "2");
    const int syslog = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", log_socket.c_str());
    bind(syslog, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::string logged;
    const auto received = [&] {
      char buffer[4096];
      for (ssize_t n; (n = recv(syslog, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        logged.append(buffer, static_cast<size_t>(n)).append("\n");
      }
      return logged;
    };
    std::vector<std::string> env = env_;
    env.push_back("LORVETH_SYSLOG_SOCKET=" + log_socket);
    const Clock::time_point start = Clock::now();
    ChildProcess::Start({kSnmpsvc, "-f", "--listen", "udp:" + Target(), "--config-dir",
                         state_dir_ + "/snmpsvc", "--agent", kAgent},
                        env, ServiceLog())
        .swap(snmpsvc_);
    ASSERT_NE(snmpsvc_, nullptr);
    EXPECT_TRUE(WaitFor([&] { return Get({"1.3.6.1.2.1.1.3.0"}).find("Timeticks") != npos; },
                        // A held store costs the service and the agent one whole busy wait each.
                        2 * kPatience))
        << ReadFile(ServiceLog());
    ReportRecovery(corrupt ? "a corrupt registry (start)" : "a locked registry (start)", start);
    EXPECT_TRUE(WaitFor([&] { return received().find("the registry cannot be read") != npos; }))
        << logged;
    const CommandResult query =
        Tool({kReg, "query", "HKLM\\SOFTWARE\\Debug\\Lorveth_Agent", "/v", "FileDebugLevel"});
    EXPECT_NE(query.exit_code, 0) << query.output;
    EXPECT_NE(query.output.find("ERROR: The registry store"), npos) << query.output;
    snmpsvc_->Signal(SIGTERM);
    EXPECT_TRUE(snmpsvc_->WaitExit(kPatience).has_value());
    close(syslog);
    sqlite3_close(holder);
  }
}

}  // namespace
}  // namespace e2e
