// The Debian package as an administrator receives it: built, checked by lintian,
// unpacked (never installed here), its units verified and its services started.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/ProcessHelpers.h"
#include "threshold/MibRoot.h"

namespace {

namespace fs = std::filesystem;
using namespace test_support;

// cpack and lintian take seconds on a quiet machine, much longer on a busy one.
constexpr std::chrono::minutes kSlow{4};

const std::string kAgentKey = "HKLM\\SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion";

TEST(PackageTest, IsLintianCleanCompleteAndServesTheAgentUnpacked) {
  const TempDir dir("lorveth-package");
  const CommandResult built = RunCommand(
      {"cpack", "--config", LORVETH_BINARY_DIR "/CPackConfig.cmake", "-B", dir.path()}, {}, kSlow);
  ASSERT_EQ(built.exit_code, 0) << built.output;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  }
  ASSERT_FALSE(deb.empty()) << built.output;
  const std::string root = dir.path() + "/root";
  ASSERT_EQ(RunCommand({"dpkg-deb", "-x", deb, root}, {}).exit_code, 0);
  // lintian leaves a file in its temporary directory: the test's own.
  const CommandResult lintian =
      RunCommand({"lintian", "--fail-on", "error", deb}, {"TMPDIR=" + dir.path()}, kSlow);
  EXPECT_EQ(lintian.exit_code, 0) << lintian.output;

  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), root).string());
  }
  std::string listing;
  for (const std::string& file : files) listing += file + " ";
  EXPECT_EQ(listing,
            "etc/lorveth/snmpsvc.conf lib/systemd/system/snmpsvc.service "
            "lib/systemd/system/switchd.service usr/bin/lorveth-reg usr/bin/switchctl "
            "usr/lib/lorveth/Lorveth_Agent.so usr/lib/lorveth/Messages.dll "
            "usr/lib/lorveth/register-agent usr/sbin/snmpsvc usr/sbin/switchd "
            "usr/share/doc/lorveth/changelog.gz usr/share/doc/lorveth/copyright "
            "usr/share/doc/lorveth/guide.md usr/share/doc/lorveth/snmpsvc.conf.example "
            "usr/share/lintian/overrides/lorveth usr/share/man/man1/lorveth-reg.1.gz "
            "usr/share/man/man8/snmpsvc.8.gz usr/share/man/man8/switchctl.8.gz "
            "usr/share/man/man8/switchd.8.gz usr/share/snmp/mibs/LORVETH-THRESHOLD-MIB.txt ");

  // Libraries from the distribution; the configuration is the administrator's.
  const std::string depends = RunCommand({"dpkg-deb", "-f", deb, "Depends"}, {}).output;
  for (const char* library : {"libsnmp", "libsqlite3", "adduser"}) {
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  }
  const std::string control = dir.path() + "/control";
  ASSERT_EQ(RunCommand({"dpkg-deb", "-e", deb, control}, {}).exit_code, 0);
  EXPECT_EQ(ReadFile(control + "/conffiles"), "/etc/lorveth/snmpsvc.conf\n");

  // The units as shipped, with their programs and manual pages in the unpacked tree.
  const std::string units = dir.path() + "/units";
  fs::create_directories(units);
  std::vector<std::string> verify = {"systemd-analyze", "verify"};
  for (const char* unit : {"snmpsvc.service", "switchd.service"}) {
    const std::string text = ReadFile(root + "/lib/systemd/system/" + unit);
    WriteFile(units + "/" + unit,
              std::regex_replace(text, std::regex("Start=/usr/"), "Start=" + root + "/usr/"));
    verify.push_back(units + "/" + unit);
  }
  const CommandResult verified = RunCommand(verify, {"MANPATH=" + root + "/usr/share/man"}, kSlow);
  EXPECT_EQ(verified.exit_code, 0) << verified.output;

  // The services started from the unpacked files serve the agent read-only.
  const std::string state = dir.path() + "/state";
  const std::string run = dir.path() + "/run";
  const std::string conf = root + "/etc/lorveth";
  fs::create_directories(state + "/switchd");
  fs::create_directories(run);
  std::vector<std::string> env = NetSnmpEnvironment(dir.path() + "/net-snmp");
  env.push_back("LORVETH_STATE_DIR=" + state);
  env.push_back("LORVETH_RUNTIME_DIR=" + run);
  env.push_back("LORVETH_REG=" + root + "/usr/bin/lorveth-reg");
  const std::string libdir = root + "/usr/lib/lorveth";
  const auto reg = [&](std::vector<std::string> args) {
    args.insert(args.begin(), root + "/usr/bin/lorveth-reg");
    return RunCommand(args, env);
  };

  // The registry entries, written twice as by an install and an upgrade: a
  // value the administrator changed in between stays as it is.
  const std::string changed = libdir + "/./Lorveth_Agent.so";
  const std::vector<std::string> register_agent = {libdir + "/register-agent", libdir};
  ASSERT_EQ(RunCommand(register_agent, env).exit_code, 0);
  ASSERT_EQ(reg({"add", kAgentKey, "/v", "Pathname", "/d", changed, "/f"}).exit_code, 0);
  ASSERT_EQ(RunCommand(register_agent, env).exit_code, 0);
  EXPECT_NE(reg({"query", kAgentKey, "/v", "Pathname"}).output.find(changed), std::string::npos);
  const std::string agents =
      reg({"query", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SNMP\\Parameters\\ExtensionAgents"})
          .output;
  EXPECT_EQ(agents.find("Lorveth_Agent"), agents.rfind("Lorveth_Agent")) << agents;

  auto switchd =
      ChildProcess::Start({root + "/usr/sbin/switchd", "-f", "--data", state + "/switchd"}, env,
                          dir.path() + "/switchd.log");
  ASSERT_NE(switchd, nullptr);
  ASSERT_TRUE(WaitFor([&] { return !switchd->Running() || fs::exists(run + "/switch.sock"); }))
      << ReadFile(dir.path() + "/switchd.log");
  const std::string address = "127.0.0.1:" + std::to_string(FreeUdpPort());
  // A read-only configuration as the unit gives it, where a mount namespace may be made.
  std::vector<std::string> argv = {root + "/usr/sbin/snmpsvc", "-f",           "--listen",
                                   "udp:" + address,           "--config-dir", conf};
  if (RunCommand({"unshare", "-m", "true"}, {}).exit_code == 0) {
    argv.insert(argv.begin(), {"/usr/bin/unshare", "-m", "sh", "-c",
                               "mount --bind \"$0\" \"$0\" && "
                               "mount -o remount,ro,bind \"$0\" \"$0\" && shift && exec \"$@\"",
                               conf, "--"});
  }
  auto snmpsvc = ChildProcess::Start(argv, env, dir.path() + "/snmpsvc.log");
  ASSERT_NE(snmpsvc, nullptr);

  const auto snmp = [&](const char* tool, std::vector<std::string> args) {
    args.insert(args.begin(), {tool, "-v2c", "-c", "public", "-t", "0.5", "-r", "0", address});
    return RunCommand(args, env);
  };
  CommandResult get;
  WaitFor([&] {
    get = snmp("snmpget", {"-Oqv", std::string(kMibRoot) + ".1.1.1.0"});
    return get.exit_code == 0 || !snmpsvc->Running();
  });
  EXPECT_NE(get.output.find("Lorveth"), std::string::npos)
      << get.output << ReadFile(dir.path() + "/snmpsvc.log");

  // Nothing may change settings until the administrator allows it.
  const CommandResult set =
      snmp("snmpset", {std::string(kMibRoot) + ".1.3.1.1.23.1.120", "i", "4"});
  EXPECT_NE(set.output.find("noAccess"), std::string::npos) << set.output;
  EXPECT_FALSE(fs::exists(state + "/switchd/Rules.xml"));
}

// Every option and command that a program's --help names is in its manual page.
TEST(ManualPageTest, NamesEveryOptionAndCommandOfTheProgramsHelp) {
  const std::string build = LORVETH_BINARY_DIR;
  const std::pair<std::string, std::string> kPrograms[] = {
      {"/services/snmpsvc/snmpsvc", "snmpsvc.8.gz"},
      {"/services/switchd/switchd", "switchd.8.gz"},
      {"/services/switchd/switchctl", "switchctl.8.gz"},
      {"/tools/reg/lorveth-reg", "lorveth-reg.1.gz"}};
  // "--name" and "/name" options, and the command words that start a line.
  const std::regex word(R"((?:^|[\s[|])(--[a-z][a-z-]*|/[a-z]+)\b|^  ([a-z]+) )",
                        std::regex::multiline);
  for (const auto& [program, page] : kPrograms) {
    const std::string help = RunCommand({build + program, "--help"}, {}).output;
    const std::string manual = RunCommand({"zcat", build + "/docs/man/" + page}, {}).output;
    int words = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), word), end; it != end; ++it, ++words) {
      const std::string name = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
      EXPECT_NE(manual.find("\\fB" + name + "\\fR"), std::string::npos) << page << ": " << name;
    }
    EXPECT_GT(words, 2) << program << " --help:\n" << help;
  }
}

}  // namespace
