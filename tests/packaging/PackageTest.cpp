// The Debian package as an administrator receives it: built by CPack, checked by
// lintian, unpacked into a scratch directory (never installed on this machine),
// its units verified, and its services started from the unpacked files.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

namespace fs = std::filesystem;
using test_support::ChildProcess;
using test_support::CommandResult;
using test_support::ReadFile;
using test_support::RunCommand;

// cpack and lintian take seconds on a quiet machine, much longer on a busy one.
constexpr std::chrono::minutes kSlow{4};

const std::string kAgentsKey =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents";
const std::string kAgentKey = "HKLM\\SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion";

class PackageTest : public ::testing::Test {
 protected:
  // Builds the package into the test's directory and unpacks it to root_.
  void SetUp() override {
    const std::string out = dir_.path() + "/out";
    const CommandResult built = RunCommand(
        {"cpack", "--config", std::string(LORVETH_BINARY_DIR) + "/CPackConfig.cmake", "-B", out},
        {}, kSlow);
    ASSERT_EQ(built.exit_code, 0) << built.output;
    for (const auto& entry : fs::directory_iterator(out)) {
      if (entry.path().extension() == ".deb") deb_ = entry.path().string();
    }
    ASSERT_FALSE(deb_.empty()) << built.output;
    root_ = dir_.path() + "/root";
    const CommandResult unpacked = RunCommand({"dpkg-deb", "-x", deb_, root_}, {});
    ASSERT_EQ(unpacked.exit_code, 0) << unpacked.output;
  }

  test_support::TempDir dir_{"lorveth-package"};
  std::string deb_;
  std::string root_;
};

TEST_F(PackageTest, IsLintianCleanCompleteAndServesTheAgentUnpacked) {
  // lintian leaves a file in its temporary directory: the test's own.
  const CommandResult lintian =
      RunCommand({"lintian", "--fail-on", "error", deb_}, {"TMPDIR=" + dir_.path()}, kSlow);
  EXPECT_EQ(lintian.exit_code, 0) << lintian.output;

  const std::set<std::string> expected = {
      "etc/lorveth/snmpsvc.conf",
      "lib/systemd/system/snmpsvc.service",
      "lib/systemd/system/switchd.service",
      "usr/bin/lorveth-reg",
      "usr/bin/switchctl",
      "usr/lib/lorveth/Lorveth_Agent.so",
      "usr/lib/lorveth/Messages.dll",
      "usr/lib/lorveth/register-agent",
      "usr/sbin/snmpsvc",
      "usr/sbin/switchd",
      "usr/share/doc/lorveth/changelog.gz",
      "usr/share/doc/lorveth/copyright",
      "usr/share/doc/lorveth/guide.md",
      "usr/share/doc/lorveth/snmpsvc.conf.example",
      "usr/share/lintian/overrides/lorveth",
      "usr/share/man/man1/lorveth-reg.1.gz",
      "usr/share/man/man8/snmpsvc.8.gz",
      "usr/share/man/man8/switchctl.8.gz",
      "usr/share/man/man8/switchd.8.gz",
      "usr/share/snmp/mibs/LORVETH-THRESHOLD-MIB.txt",
  };
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), root_).string());
  }
  EXPECT_EQ(files, expected);

  // Net-SNMP and SQLite come from the distribution; the configuration is the
  // administrator's once installed.
  const std::string depends = RunCommand({"dpkg-deb", "-f", deb_, "Depends"}, {}).output;
  for (const char* library : {"libsnmp", "libsqlite3", "adduser"}) {
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  }
  const std::string control = dir_.path() + "/control";
  ASSERT_EQ(RunCommand({"dpkg-deb", "-e", deb_, control}, {}).exit_code, 0);
  EXPECT_EQ(ReadFile(control + "/conffiles"), "/etc/lorveth/snmpsvc.conf\n");

  // The units as shipped, with their programs found in the unpacked tree and
  // their manual pages in the package.
  const std::string units = dir_.path() + "/units";
  fs::create_directories(units);
  std::vector<std::string> verify = {"systemd-analyze", "verify"};
  for (const char* unit : {"snmpsvc.service", "switchd.service"}) {
    std::string text = ReadFile(root_ + "/lib/systemd/system/" + unit);
    for (size_t at = 0; (at = text.find("Start=/usr/", at)) != std::string::npos;) {
      text.insert(at + 6, root_);
      at += 6 + root_.size();
    }
    test_support::WriteFile(units + "/" + unit, text);
    verify.push_back(units + "/" + unit);
  }
  const CommandResult verified = RunCommand(verify, {"MANPATH=" + root_ + "/usr/share/man"}, kSlow);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;

  // The services started from the unpacked files serve the agent read-only.
  const std::string state = dir_.path() + "/state";
  const std::string run = dir_.path() + "/run";
  const std::string conf = root_ + "/etc/lorveth";
  fs::create_directories(state + "/switchd");
  fs::create_directories(run);
  std::vector<std::string> env = test_support::NetSnmpEnvironment(dir_.path() + "/net-snmp");
  env.push_back("LORVETH_STATE_DIR=" + state);
  env.push_back("LORVETH_RUNTIME_DIR=" + run);
  env.push_back("LORVETH_REG=" + root_ + "/usr/bin/lorveth-reg");
  const std::string libdir = root_ + "/usr/lib/lorveth";
  const auto reg = [&](std::vector<std::string> args) {
    args.insert(args.begin(), root_ + "/usr/bin/lorveth-reg");
    return RunCommand(args, env);
  };

  // The registry entries, written twice as by an install and an upgrade: a
  // value the administrator changed in between stays as it is.
  const std::string changed = libdir + "/./Lorveth_Agent.so";
  const std::vector<std::string> register_agent = {libdir + "/register-agent", libdir};
  ASSERT_EQ(RunCommand(register_agent, env).exit_code, 0);
  ASSERT_EQ(reg({"add", kAgentKey, "/v", "Pathname", "/d", changed, "/f"}).exit_code, 0);
  const CommandResult again = RunCommand(register_agent, env);
  ASSERT_EQ(again.exit_code, 0) << again.output;
  EXPECT_NE(reg({"query", kAgentKey, "/v", "Pathname"}).output.find(changed), std::string::npos);
  const std::string agents = reg({"query", kAgentsKey}).output;
  EXPECT_EQ(agents.find("Lorveth_Agent"), agents.rfind("Lorveth_Agent")) << agents;

  auto switchd =
      ChildProcess::Start({root_ + "/usr/sbin/switchd", "-f", "--data", state + "/switchd"}, env,
                          dir_.path() + "/switchd.log");
  ASSERT_NE(switchd, nullptr);
  ASSERT_TRUE(test_support::WaitFor([&] {
    return !switchd->Running() || fs::exists(run + "/switch.sock");
  })) << ReadFile(dir_.path() + "/switchd.log");
  const std::string address = "127.0.0.1:" + std::to_string(test_support::FreeUdpPort());
  // The unit gives snmpsvc a read-only /etc; a private mount namespace does
  // the same here where the test may make one.
  std::vector<std::string> argv = {
      root_ + "/usr/sbin/snmpsvc", "-f", "--listen", "udp:" + address, "--config-dir", conf};
  if (RunCommand({"unshare", "-m", "true"}, {}).exit_code == 0) {
    argv.insert(argv.begin(), {"/usr/bin/unshare", "-m", "sh", "-c",
                               "mount --bind \"$0\" \"$0\" && "
                               "mount -o remount,ro,bind \"$0\" \"$0\" && shift && exec \"$@\"",
                               conf, "--"});
  }
  auto snmpsvc = ChildProcess::Start(argv, env, dir_.path() + "/snmpsvc.log");
  ASSERT_NE(snmpsvc, nullptr);

  const std::string agent_id = std::string(kMibRoot) + ".1.1.1.0";
  CommandResult get;
  const bool served = test_support::WaitFor([&] {
    get = RunCommand(
        {"snmpget", "-v2c", "-c", "public", "-t", "0.5", "-r", "0", "-Oqv", address, agent_id},
        env);
    return !snmpsvc->Running() || get.exit_code == 0;
  });
  ASSERT_TRUE(served && snmpsvc->Running()) << ReadFile(dir_.path() + "/snmpsvc.log");
  EXPECT_NE(get.output.find("Lorveth"), std::string::npos) << get.output;

  // Nothing may change settings until the administrator allows it.
  const std::string rule_status = std::string(kMibRoot) + ".1.3.1.1.23.1.120";
  const CommandResult set = RunCommand(
      {"snmpset", "-v2c", "-c", "public", "-t", "1", "-r", "0", address, rule_status, "i", "4"},
      env);
  EXPECT_NE(set.output.find("noAccess"), std::string::npos) << set.output;
  EXPECT_FALSE(fs::exists(state + "/switchd/Rules.xml"));

  for (ChildProcess* child : {snmpsvc.get(), switchd.get()}) {
    child->Signal(SIGTERM);
    EXPECT_TRUE(child->WaitExit().has_value());
  }
}

// Every option and command that a program's --help names is in its manual page.
TEST(ManualPageTest, NamesEveryOptionAndCommandOfTheProgramsHelp) {
  const std::string build = LORVETH_BINARY_DIR;
  const struct {
    std::string program;
    std::string page;
  } kPrograms[] = {
      {build + "/services/snmpsvc/snmpsvc", "snmpsvc.8.gz"},
      {build + "/services/switchd/switchd", "switchd.8.gz"},
      {build + "/services/switchd/switchctl", "switchctl.8.gz"},
      {build + "/tools/reg/lorveth-reg", "lorveth-reg.1.gz"},
  };
  // "--name" and "/name" options, and the command words that start a line.
  const std::regex word(R"((?:^|[\s[|])(--[a-z][a-z-]*|/[a-z]+)\b|^  ([a-z]+) )",
                        std::regex::multiline);
  for (const auto& [program, page] : kPrograms) {
    const std::string help = RunCommand({program, "--help"}, {}).output;
    const std::string manual = RunCommand({"zcat", build + "/docs/man/" + page}, {}).output;
    ASSERT_FALSE(manual.empty()) << page;
    int words = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), word), end; it != end; ++it, ++words) {
      const std::string name = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
      EXPECT_NE(manual.find("\\fB" + name + "\\fR"), std::string::npos) << page << ": " << name;
    }
    EXPECT_GT(words, 2) << program << " --help:\n" << help;
  }
}

}  // namespace
