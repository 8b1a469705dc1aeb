// switchd as a separate process, driven by switchctl: starts that cannot serve
// say so, and leave a running switchd serving.
#include <sys/wait.h>

#include <filesystem>

#include "SwitchdFixture.h"
#include "support/ProcessHelpers.h"

namespace switchd_test {
namespace {

using test_support::ChildProcess;
using test_support::RunCommand;

const std::string kBin = std::string(LORVETH_BINARY_DIR) + "/services/switchd/";

class SwitchdProcessTest : public DataDirFixture {};

TEST_F(SwitchdProcessTest, StartsThatCannotServeSaySo) {
  const std::vector<std::string> env = test_support::NetSnmpEnvironment(root_ + "/net-snmp");
  const auto start = [&](const std::string& log) {
    return ChildProcess::Start({kBin + "switchd", "-f", "--data", data_dir_, "--poll", "1"}, env,
                               root_ + "/" + log);
  };
  const auto status = [&] { return RunCommand({kBin + "switchctl", "status"}, env); };
  const auto exits_with_one = [](ChildProcess* child) {
    const auto exit = child ? child->WaitExit(test_support::kPatience) : std::nullopt;
    return exit && WIFEXITED(*exit) && WEXITSTATUS(*exit) == 1;
  };
  const test_support::CommandResult unreachable = status();
  EXPECT_EQ(unreachable.exit_code, 1);
  EXPECT_NE(unreachable.output.find("cannot reach switchd"), std::string::npos);
  EXPECT_EQ(RunCommand({kBin + "switchctl"}, env).exit_code, 2);

  Seed();
  WriteFile(data_dir_ + "/Reports.xml", "<Reports><Report Name=\"x\">");
  EXPECT_TRUE(exits_with_one(start("broken.log").get()));
  EXPECT_NE(ReadFile(root_ + "/broken.log").find("Reports.xml"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/run/switch.sock"));

  Seed();
  const auto first = start("switchd.log");
  ASSERT_TRUE(test_support::WaitFor([&] { return status().exit_code == 0; }));
  EXPECT_TRUE(exits_with_one(start("second.log").get()));
  EXPECT_NE(ReadFile(root_ + "/second.log").find("in use"), std::string::npos);
  EXPECT_EQ(status().exit_code, 0);  // the first one still serves
}

}  // namespace
}  // namespace switchd_test
