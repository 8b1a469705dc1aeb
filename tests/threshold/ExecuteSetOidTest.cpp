// ExecuteSET on instance OIDs of every length, in process with the fake
// threshold module: each OID is allocated to its exact size, so reading past
// its end is caught by the sanitizers, and the name and member number are
// checked where the OID cuts them short or promises more than it holds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mibtree/SnmpVarbind.h"
#include "platform/SnmpOwners.h"
#include "support/ExtensionLibrary.h"
#include "support/FakeThresholdModule.h"
#include "support/PrivateRegistry.h"
#include "support/TraceCapture.h"
#include "threshold/ThresholdAgent.h"

// The frame's process attach refers to the library's factory; these tests
// build their agent themselves.
CSnmpAgent* CreateAgentInstance() { return nullptr; }

namespace {

using test_support::FakeThresholdModule;

constexpr const char* kRuleSet =
    "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Rule Name=\"disk\"/></RuleSet>";

std::vector<UINT> RootIds() {
  OidOwner root;
  OidFromString(kMibRoot, root.Get());
  return std::vector<UINT>(root->ids, root->ids + root->idLength);
}

class ExecuteSetOidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = std::make_unique<FakeThresholdModule>();
    module_->SetTable(0x310, std::string("<RuleSets>") + kRuleSet + "</RuleSets>");
    module_->SetRuleSetDocument("rs", kRuleSet);
    agent_ = std::make_unique<CThresholdAgent>();
    ASSERT_TRUE(agent_->SwitchClient().Attach(nullptr));
    ASSERT_TRUE(agent_->InitializeRulesetTables());
  }
  void TearDown() override {
    agent_->SwitchClient().Detach();
    agent_.reset();
    module_.reset();
  }

  struct Result {
    int handled;
    AsnInteger32 status;
    AsnInteger32 index;
  };
  Result Execute(const std::vector<UINT>& ids, int32_t value) {
    test_support::VarBinds varbind;  // the name allocated to its exact size
    varbind.AddInteger(ids, value);
    Result result{0, 0, 0};
    result.handled = agent_->ExecuteSET(varbind.Get(), &result.status, &result.index);
    return result;
  }

  // root.1.3.4.1.<column>, then the ids given.
  std::vector<UINT> Contents(UINT column, std::vector<UINT> rest) {
    std::vector<UINT> ids = RootIds();
    ids.insert(ids.end(), {1, 3, 4, 1, column});
    ids.insert(ids.end(), rest.begin(), rest.end());
    return ids;
  }

  size_t StoreCount() {
    size_t count = 0;
    for (const auto& frame : module_->Frames()) count += frame.oc == 0xE002 ? 1 : 0;
    return count;
  }

  test_support::PrivateRegistry registry_;
  std::unique_ptr<FakeThresholdModule> module_;
  std::unique_ptr<CThresholdAgent> agent_;
};

TEST_F(ExecuteSetOidTest, EveryPrefixOfAContentsInstanceIsReadWithinItsBounds) {
  const std::vector<UINT> full = Contents(3, {2, 'r', 's', 1});
  const size_t table_length = RootIds().size() + 3;
  for (size_t length = 0; length <= full.size(); ++length) {
    const std::vector<UINT> prefix(full.begin(), full.begin() + static_cast<long>(length));
    const Result result = Execute(prefix, 6);
    EXPECT_EQ(result.handled, length >= table_length ? 1 : 0) << "length " << length;
    if (length >= table_length && length <= table_length + 1) {
      EXPECT_EQ(result.status, SNMP_ERRORSTATUS_NOSUCHNAME) << "no column at length " << length;
    }
  }
}

TEST_F(ExecuteSetOidTest, NameLengthBeyondTheOidGivesNoMemberNumber) {
  test_support::TraceCapture trace;
  // The length says 0xFFFFFFFF: counting the member number's place must not
  // wrap around and take the last name byte for a member number.
  const Result result = Execute(Contents(3, {0xFFFFFFFF, 'r', 's'}), 6);
  EXPECT_EQ(result.handled, 1);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(
      trace.Contains("\nLORVETH_AGENT       :  ExecuteSET(): current rule index = \"rs\".*"));
  EXPECT_TRUE(trace.Contains(
      "\nLORVETH_AGENT       :  ExecuteSET(): RuleSetContent without Index specified"));
  EXPECT_EQ(StoreCount(), 1u);
}

TEST_F(ExecuteSetOidTest, MemberNumberIsTheLastSubIdentifierAfterTheName) {
  test_support::TraceCapture trace;
  // The member check passes; the request then fails for want of a RowStatus.
  const Result result = Execute(Contents(1, {2, 'r', 's', 7, 9}), 9);
  EXPECT_EQ(result.status, SNMP_ERRORSTATUS_INCONSISTENTVALUE);
  EXPECT_TRUE(
      trace.Contains("\nLORVETH_AGENT       :  ExecuteSET(): current rule index = \"rs\".9"));
  EXPECT_TRUE(
      trace.Contains("\nLORVETH_AGENT       : ## ERROR! Missing or illegal RowStatus in row!\n"));
}

}  // namespace
