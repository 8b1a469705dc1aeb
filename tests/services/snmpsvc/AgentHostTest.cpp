// The agent host driving the test agent through its five entry points without
// Net-SNMP in between (reads through snmpsvc are checked with the tools).
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>

#include "services/snmpsvc/AgentHost.h"
#include "support/ProcessHelpers.h"

namespace snmpsvc {
namespace {

const Oid kRoot = {1, 3, 6, 1, 4, 1, 55555, 1};

Oid Column(std::uint32_t column, std::uint32_t row) {
  Oid oid = kRoot;
  oid.insert(oid.end(), {1, 1, column, row});
  return oid;
}

TEST(AgentHostTest, InitRegionsTrapsAndASingleClose) {
  const test_support::TempDir dir;
  setenv("LORVETH_TEST_AGENT_MARKER", (dir.path() + "/marker").c_str(), 1);
  std::string error;
  auto agent = ExtensionAgent::Load(
      LORVETH_BINARY_DIR "/tests/services/snmpsvc/libsnmpsvc_test_agent.so", &error);
  ASSERT_NE(agent, nullptr) << error;
  ASSERT_TRUE(agent->Init(4711, &error)) << error;
  EXPECT_EQ(agent->regions(), (std::vector<Oid>{kRoot, {1, 3, 6, 1, 4, 1, 55555, 4}}));

  // A set of the trap column signals the trap event; the traps drain once.
  pollfd p{agent->TrapDescriptor(), POLLIN, 0};
  ASSERT_GE(p.fd, 0);
  EXPECT_EQ(poll(&p, 1, 0), 0);
  std::vector<VarBind> set = {{Column(11, 1), Value::Integer(5)},
                              {Column(11, 2), Value::Integer(6)}};
  ASSERT_EQ(agent->Query(kPduSet, &set).error_status, kNoError);
  EXPECT_EQ(poll(&p, 1, 1000), 1);
  const std::vector<Trap> traps = agent->TakeTraps();
  ASSERT_EQ(traps.size(), 2u);
  EXPECT_EQ(traps[0].generic, 6);
  ASSERT_EQ(traps[1].bindings.size(), 3u);
  EXPECT_EQ(traps[1].bindings[1], (VarBind{Column(11, 2), Value::Integer(6)}));
  EXPECT_EQ(poll(&p, 1, 0), 0);
  EXPECT_TRUE(agent->TakeTraps().empty());

  agent->Close();
  agent->Close();
  agent.reset();
  unsetenv("LORVETH_TEST_AGENT_MARKER");
  EXPECT_EQ(test_support::ReadFile(dir.path() + "/marker"), "init 4711\nclose\n");
}

}  // namespace
}  // namespace snmpsvc
