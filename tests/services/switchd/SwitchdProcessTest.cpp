// switchd as a separate process, driven by switchctl and reached by the
// agent's switch client over the socket found through the registry.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include "ClientHarness.h"
#include "SwitchdFixture.h"
#include "platform/com/ComRemoting.h"
#include "platform/registry/Registry.h"
#include "services/switchd/Settings.h"
#include "support/ProcessHelpers.h"

namespace switchd_test {
namespace {

namespace sp = switch_protocol;
using test_support::ChildProcess;
using test_support::CommandResult;
using test_support::RunCommand;

const std::string kSwitchd = std::string(LORVETH_BINARY_DIR) + "/services/switchd/switchd";
const std::string kSwitchctl = std::string(LORVETH_BINARY_DIR) + "/services/switchd/switchctl";

class SwitchdProcessTest : public DataDirFixture {
 protected:
  void SetUp() override {
    DataDirFixture::SetUp();
    socket_ = root_ + "/run/switch.sock";
    control_ = root_ + "/run/switchd.ctl";
    env_ = test_support::NetSnmpEnvironment(root_ + "/net-snmp");
    Seed();
    platform::EnableLocalServerActivation();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }
  void TearDown() override {
    if (client_) {
      client_->EnableEvents(FALSE);
      client_->Detach();
      client_.reset();
    }
    daemon_.reset();
    CoUninitialize();
    DataDirFixture::TearDown();
  }

  std::unique_ptr<ChildProcess> StartSwitchd(const std::string& log_name = "switchd.log") {
    auto child = ChildProcess::Start({kSwitchd, "-f", "--data", data_dir_, "--poll", "1"}, env_,
                                     root_ + "/" + log_name);
    EXPECT_NE(child, nullptr);
    return child;
  }
  bool WaitUntilServing() {
    return test_support::WaitFor([&] { return Ctl("status").exit_code == 0; }, kPatience);
  }
  CommandResult Ctl(const std::string& word) {
    return RunCommand(word.empty() ? std::vector<std::string>{kSwitchctl}
                                   : std::vector<std::string>{kSwitchctl, word},
                      env_);
  }
  RecordingClient& Client(LONG form = 0) {
    client_ = AttachedClient(form);
    return *client_;
  }
  bool WaitForEvent(DWORD oc, DWORD oe) {
    for (size_t seen = 1;; ++seen) {
      if (!client_->WaitForFrames(seen)) return false;
      const ReceivedFrame frame = client_->Frames()[seen - 1];
      if (frame.oc == oc && frame.oe == oe) return true;
    }
  }

  std::string socket_;
  std::string control_;
  std::vector<std::string> env_;
  std::unique_ptr<ChildProcess> daemon_;
  std::unique_ptr<RecordingClient> client_;
};

TEST_F(SwitchdProcessTest, RestartedSwitchdAnnouncesEverythingToTheClientThatComesBack) {
  daemon_ = StartSwitchd();
  ASSERT_TRUE(WaitUntilServing());
  RecordingClient& client = Client();
  ASSERT_EQ(SendAsAgent(client, sp::kOcThresholdStatus, 0, nullptr)->FrameStatus(), 0u);

  daemon_->Signal(SIGTERM);
  const auto exit = daemon_->WaitExit(kPatience);
  ASSERT_TRUE(exit.has_value());
  EXPECT_TRUE(WIFEXITED(*exit) && WEXITSTATUS(*exit) == 0);
  EXPECT_FALSE(std::filesystem::exists(socket_));
  EXPECT_FALSE(std::filesystem::exists(control_));
  // The registration stays: a new switchd will serve the same endpoint.
  EXPECT_EQ(platform::LocalServerEndpoint(sp::CLSID_LorvethSwitch), "unix:" + socket_);

  WriteFile(data_dir_ + "/Rules.xml", "<Rules><Rule Name=\"later\"/></Rules>");
  client.ClearFrames();
  daemon_ = StartSwitchd("switchd-2.log");
  ASSERT_TRUE(client.WaitForFrames(12));
  std::vector<DWORD> tables;
  std::vector<DWORD> settings;
  for (const ReceivedFrame& frame : client.Frames()) {
    EXPECT_EQ(frame.oc, sp::kOcStoreConfiguration);
    (frame.oe >= 0x3800 ? settings : tables).push_back(frame.oe);
  }
  EXPECT_EQ(tables, (std::vector<DWORD>{0x310, 0x311, 0x312, 0x313, 0x314, 0x320, 0x321}));
  EXPECT_EQ(settings, (std::vector<DWORD>{0x3800, 0x3801, 0x3810, 0x3811, 0x3812}));
  auto rules = SendAsAgent(client, sp::kOcReadConfiguration, sp::kTableRules, nullptr);
  EXPECT_NE(ReplyText(*rules).find("later"), std::string::npos);
}

TEST_F(SwitchdProcessTest, StartsThatCannotServeSaySo) {
  CommandResult result = Ctl("status");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("cannot reach switchd"), std::string::npos) << result.output;
  EXPECT_EQ(Ctl("").exit_code, 2);

  WriteFile(data_dir_ + "/Reports.xml", "<Reports><Report Name=\"x\">");
  daemon_ = StartSwitchd("broken.log");
  auto exit = daemon_->WaitExit(kPatience);
  ASSERT_TRUE(exit.has_value());
  EXPECT_TRUE(WIFEXITED(*exit) && WEXITSTATUS(*exit) == 1);
  EXPECT_NE(ReadFile(root_ + "/broken.log").find("Reports.xml"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(socket_));

  Seed();
  daemon_ = StartSwitchd();
  ASSERT_TRUE(WaitUntilServing());
  auto second = StartSwitchd("second.log");
  exit = second->WaitExit(kPatience);
  ASSERT_TRUE(exit.has_value());
  EXPECT_TRUE(WIFEXITED(*exit) && WEXITSTATUS(*exit) == 1);
  EXPECT_NE(ReadFile(root_ + "/second.log").find("in use"), std::string::npos);
  EXPECT_EQ(Ctl("status").exit_code, 0);  // the first one still serves
}

}  // namespace
}  // namespace switchd_test
