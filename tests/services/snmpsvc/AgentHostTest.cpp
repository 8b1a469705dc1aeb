// The agent host driving the test agent through its five entry points, the
// way snmpsvc does, without Net-SNMP in between (its GETs and their errors are
// checked through snmpsvc with the tools).
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>

#include "services/snmpsvc/AgentHost.h"
#include "support/ProcessHelpers.h"

namespace snmpsvc {
namespace {

const std::string kAgent = LORVETH_BINARY_DIR "/tests/services/snmpsvc/libsnmpsvc_test_agent.so";
const Oid kRoot = {1, 3, 6, 1, 4, 1, 55555, 1};
const Oid kSecondRoot = {1, 3, 6, 1, 4, 1, 55555, 4};

Oid Column(std::uint32_t column, std::uint32_t row) {
  Oid oid = kRoot;
  oid.insert(oid.end(), {1, 1, column, row});
  return oid;
}

class AgentHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LORVETH_TEST_AGENT_MARKER", (dir_.path() + "/marker").c_str(), 1);
    std::string error;
    agent_ = ExtensionAgent::Load(kAgent, &error);
    ASSERT_NE(agent_, nullptr) << error;
    ASSERT_TRUE(agent_->Init(4711, &error)) << error;
  }
  void TearDown() override { unsetenv("LORVETH_TEST_AGENT_MARKER"); }

  test_support::TempDir dir_;
  std::unique_ptr<ExtensionAgent> agent_;
};

TEST_F(AgentHostTest, InitPassesUptimeReferenceAndCollectsEveryRegion) {
  EXPECT_EQ(agent_->regions(), (std::vector<Oid>{kRoot, kSecondRoot}));
  EXPECT_EQ(test_support::ReadFile(dir_.path() + "/marker"), "init 4711\n");
}

TEST_F(AgentHostTest, GetNextPastRegionEndAnswersRootPlusOne) {
  std::vector<VarBind> list = {{kRoot, Value::Null()},
                               {{1, 3, 6, 1, 4, 1, 55555, 1, 2, 0}, Value::Null()}};
  const QueryResult result = agent_->Query(kPduGetNext, &list);
  EXPECT_EQ(result.error_status, kNoError);
  EXPECT_EQ(list[0].name, Column(1, 1));
  EXPECT_EQ(list[1].name, (Oid{1, 3, 6, 1, 4, 1, 55555, 2}));
}

TEST_F(AgentHostTest, SetOfTrapColumnSignalsTrapEventAndTrapsDrainOnce) {
  const int fd = agent_->TrapDescriptor();
  ASSERT_GE(fd, 0);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  std::vector<VarBind> set = {{Column(11, 1), Value::Integer(5)},
                              {Column(11, 2), Value::Integer(6)}};
  ASSERT_EQ(agent_->Query(kPduSet, &set).error_status, kNoError);
  EXPECT_EQ(poll(&p, 1, 1000), 1);

  const std::vector<Trap> traps = agent_->TakeTraps();
  ASSERT_EQ(traps.size(), 2u);
  EXPECT_EQ(traps[0].enterprise, (Oid{1, 3, 6, 1, 4, 1, 55555, 9}));
  EXPECT_EQ(traps[0].generic, 6);
  EXPECT_EQ(traps[0].specific, 2202);
  EXPECT_EQ(traps[0].time_stamp, 123456u);
  ASSERT_EQ(traps[1].bindings.size(), 3u);
  EXPECT_EQ(traps[1].bindings[1], (VarBind{Column(11, 2), Value::Integer(6)}));
  // The signal is consumed and the queue is empty.
  EXPECT_EQ(poll(&p, 1, 0), 0);
  EXPECT_TRUE(agent_->TakeTraps().empty());
}

TEST_F(AgentHostTest, CloseRunsOnceEvenWhenCalledAgain) {
  agent_->Close();
  agent_->Close();
  agent_.reset();
  EXPECT_EQ(test_support::ReadFile(dir_.path() + "/marker"), "init 4711\nclose\n");
}

TEST(AgentHostLoadTest, LibraryThatIsMissingOrNoAgentIsRefusedWithItsName) {
  for (const auto& [library, named] : {std::pair{"/nonexistent/agent.so", "/nonexistent/agent.so"},
                                       std::pair{"libz.so.1", "SnmpExtensionInit"}}) {
    std::string error;
    EXPECT_EQ(ExtensionAgent::Load(library, &error), nullptr);
    EXPECT_NE(error.find(named), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace snmpsvc
