// The real switch client against the fake switch served from across a Unix
// socket, found through the class's LocalServer32 registration: attach,
// commands, both event forms and cancellation. Restarts of the real service
// are the end-to-end tests'.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ComRemoting.h"
#include "support/FakeSwitch.h"
#include "support/PrivateRegistry.h"
#include "support/TraceCapture.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"

namespace {

using test_support::FakeSwitch;
using Answer = FakeSwitch::Answer;
namespace sp = switch_protocol;

constexpr auto kPatience = std::chrono::seconds(20);

struct Received {
  DWORD oc, oe, oid, cabid, stat, len;
  std::vector<BYTE> data;
  DWORD thread_id;
};

// Stands where the agent will, and lets the test wait for frames.
class WaitingAgent : public IVarnReplyTarget {
 public:
  virtual ~WaitingAgent() = default;
  void VarnReply(CommandBuffer& buffer) override {
    const CmdHeader* header = buffer.Header();
    Received frame{header->OC,   header->OE,  header->OID, header->CABID,
                   header->Stat, header->Len, {},          GetCurrentThreadId()};
    if (buffer.DataAt(0) != nullptr) {
      frame.data.assign(buffer.DataAt(0), buffer.DataAt(0) + buffer.DataLength());
    }
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
    changed_.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
  }
  std::vector<Received> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> frames_;
};

class RemoteSwitchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = registry_.Root() + "/run/switch.sock";
    platform::EnableLocalServerActivation();
    ASSERT_EQ(platform::RegisterLocalServer(sp::CLSID_LorvethSwitch, "unix:" + path_),
              ERROR_SUCCESS);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    Serve(FakeSwitch::kAllMembers);
  }

  // The fake registers itself in this process; take its object and serve it
  // from the socket instead, so that the client has to go remote.
  void Serve(unsigned members) {
    client_.reset();
    server_.reset();
    object_.Reset();
    fake_.reset();
    fake_ = std::make_unique<FakeSwitch>(members);
    ASSERT_EQ(CoCreateInstance(sp::CLSID_LorvethSwitch, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, object_.ReleaseAndGetVoidAddress()),
              S_OK);
    platform::UnregisterInProcessClass(sp::CLSID_LorvethSwitch);
    StartServer();
    client_ = std::make_unique<CVarnClient>(&agent_, &flags_);
    client_->SetDefaultClientName("Lorveth_Agent");
  }

  void TearDown() override {
    client_.reset();
    server_.reset();
    object_.Reset();
    fake_.reset();
    CoUninitialize();
  }

  void StartServer() {
    server_ = std::make_unique<platform::ComServer>();
    server_->RegisterClassObject(sp::CLSID_LorvethSwitch, [this](REFIID iid, void** object) {
      return object_->QueryInterface(iid, object);
    });
    platform::ComServer::Options options;
    options.path = path_;
    std::string error;
    ASSERT_TRUE(server_->Start(options, &error)) << error;
  }

  test_support::PrivateRegistry registry_;
  test_support::TraceCapture trace_;
  std::string path_;
  std::unique_ptr<FakeSwitch> fake_;
  platform::ComPtr<IUnknown> object_;
  std::unique_ptr<platform::ComServer> server_;
  WaitingAgent agent_;
  SwitchPermissionFlags flags_;
  std::unique_ptr<CVarnClient> client_;
};

TEST_F(RemoteSwitchTest, CommandRepliesAndEventsTravelAcrossTheSocket) {
  ASSERT_TRUE(client_->Attach(nullptr));
  EXPECT_EQ(client_->DispatchId(sp::kServerControlVersion), FakeSwitch::kIdServerControlVersion);
  EXPECT_EQ(fake_->ClientName(), "Lorveth_Agent");
  EXPECT_EQ(fake_->CreateCount(), 1);  // the object the test took; the socket shares it
  const std::string table(200000, 'x');
  fake_->QueueAnswer(Answer::Text(0, table));
  CommandBuffer request(sp::kOcReadConfiguration, sp::kTableRules, 0, sp::kAgentCabinet, 0x13,
                        "cpu", 4);
  EXPECT_EQ(request.SendRequest(*client_, 30, 0, 0), 0u);
  ASSERT_EQ(request.DataLength(), table.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.DataAt(0)), request.DataLength()),
            table);
  const auto frames = fake_->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].method, FakeSwitch::kIdCmdRequest);
  EXPECT_EQ(frames[0].oe, sp::kTableRules);
  EXPECT_EQ(frames[0].data, (std::vector<BYTE>{'c', 'p', 'u', 0}));
  EXPECT_EQ(frames[0].timeout, 30);

  // Events of both forms reach the agent on the proxy's thread.
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  EXPECT_EQ(fake_->SinkCount(), 1u);
  EXPECT_EQ(fake_->RaiseFieldsEvent(0xE002, 0x3800, 0, 0, 0, {1}), S_OK);
  EXPECT_EQ(fake_->RaiseHeaderEvent(FakeSwitch::HeaderImage(0xE002, sp::kTableRules, 7, 0, 0, 3),
                                    {'a', 'b', 'c'}),
            S_OK);
  ASSERT_TRUE(agent_.WaitFor(2));
  const auto events = agent_.Frames();
  EXPECT_EQ(events[0].oc, 0xE002u);
  EXPECT_EQ(events[0].oe, 0x3800u);
  EXPECT_EQ(events[0].data, std::vector<BYTE>{1});
  EXPECT_EQ(flags_.Trap2EventLog.load(), 1);
  EXPECT_EQ(events[1].oe, sp::kTableRules);
  EXPECT_EQ(events[1].oid, 7u);
  EXPECT_EQ(events[1].data, (std::vector<BYTE>{'a', 'b', 'c'}));
  EXPECT_NE(events[0].thread_id, GetCurrentThreadId());
  EXPECT_EQ(events[0].thread_id, events[1].thread_id);
  EXPECT_TRUE(client_->EnableEvents(FALSE));
  for (int i = 0; i < 2000 && fake_->SinkCount() != 0; ++i) Sleep(5);
  EXPECT_EQ(fake_->SinkCount(), 0u);
}

TEST_F(RemoteSwitchTest, VCRequestExCarriesStatusByReferenceAndCancelEndsABlockedCall) {
  Serve(FakeSwitch::kVCRequestExMember);
  ASSERT_TRUE(client_->Attach(nullptr));
  Answer answer = Answer::Status(12, {9});
  answer.message = 0x41;
  fake_->QueueAnswer(answer);
  CommandBuffer request(sp::kOcRuleSetStatus, 0, 0, sp::kAgentCabinet, 0x13, "set", 4);
  EXPECT_EQ(request.SendRequest(*client_, 10, 0, 0), 12u);
  EXPECT_EQ(request.DataLength(), 1u);
  EXPECT_EQ(fake_->Frames().at(0).method, FakeSwitch::kIdVCRequestEx);

  ASSERT_TRUE(client_->EnableCancelRequest(TRUE));
  fake_->QueueAnswer(Answer::Blocking());
  auto result = std::async(std::launch::async, [&] {
    CommandBuffer blocked(sp::kOcRuleCurrentValue, 0, 0, sp::kAgentCabinet, 0x13, "cpu", 4);
    const DWORD status = blocked.SendRequest(*client_, 0, 0, 0);
    return std::make_pair(status, client_->m_LasthResult);
  });
  ASSERT_TRUE(fake_->WaitForCallInProgress(20000));
  EXPECT_TRUE(client_->CancelRequest(5));
  const auto [status, hr] = result.get();
  EXPECT_EQ(status, cmd_status::kCommandFailed);
  EXPECT_EQ(hr, RPC_E_CALL_CANCELED);
  // The server side was cancelled too: the fake's blocked answer ended.
  for (int i = 0; i < 2000 && fake_->WaitForCallInProgress(0); ++i) Sleep(5);
  EXPECT_FALSE(fake_->WaitForCallInProgress(0));
  EXPECT_TRUE(client_->EnableCancelRequest(FALSE));
  CommandBuffer later(sp::kOcThresholdStatus, 0, 0, sp::kAgentCabinet, 0x13, nullptr, 0);
  EXPECT_EQ(later.SendRequest(*client_, 0, 0, 0), 0u);
}

}  // namespace
