// The switch client against the in-process fake switch: attach and detach,
// the three request methods, retries, cancellation and the client name.
#include "switch/SwitchClient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "support/FakeSwitch.h"
#include "support/PrivateRegistry.h"
#include "support/TraceCapture.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace {

using test_support::FakeSwitch;
using Answer = FakeSwitch::Answer;
namespace sp = switch_protocol;

std::string Line(const std::string& text) { return "\nCSwitchClient       : " + text; }

// COM state belongs to a thread, and an attach that fails leaves it behind
// (as it would on Windows), so tests that look at it run on a fresh thread.
template <typename F>
void OnFreshThread(F body) {
  std::thread(body).join();
}

CommandBuffer StatusRequest() {
  return CommandBuffer(sp::kOcThresholdStatus, 0, 0, sp::kAgentCabinet, 0x13, nullptr, 0);
}
CommandBuffer CpuRequest() {
  return CommandBuffer(sp::kOcRuleCurrentValue, 0, 0, sp::kAgentCabinet, 0x13, "cpu", 4);
}
CmdHeader BareHeader(WORD mid_low, WORD mid_high) {
  CmdHeader header{};
  std::memcpy(header.Signature, "$SIP", 4);
  header.HeaderLength = 48;
  header.OC = sp::kOcThresholdStatus;
  header.MIDLow = mid_low;
  header.MIDHigh = mid_high;
  return header;
}

// A trace line the client must have written, at that level (0: any level).
struct Traced {
  DWORD level;
  std::string text;
};

class SwitchClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    client_.reset();
    fake_.reset();
    platform::ResetComProcHidden();
  }
  void Start(unsigned members = FakeSwitch::kAllMembers) {
    client_.reset();
    fake_.reset();
    fake_ = std::make_unique<FakeSwitch>(members);
    client_ = std::make_unique<CSwitchClient>();
    client_->SetDefaultClientName("Lorveth_Agent");
  }
  void StartAttached(unsigned members = FakeSwitch::kAllMembers) {
    Start(members);
    ASSERT_TRUE(client_->Attach(nullptr));
  }
  template <typename Buffer>
  DWORD Send(Buffer&& buffer, WORD timeout = 0, DWORD retries = 0, WORD increment = 0) {
    return buffer.SendRequest(*client_, timeout, retries, increment);
  }
  // The rows must appear in this order, each at its level.
  void ExpectTrace(const std::vector<Traced>& rows) const {
    const auto lines = trace_.Lines();
    size_t at = 0;
    for (const Traced& row : rows) {
      while (at < lines.size() && lines[at].text != Line(row.text)) ++at;
      ASSERT_LT(at, lines.size()) << "missing or out of order: " << row.text;
      if (row.level != 0) {
        EXPECT_EQ(lines[at].level, row.level) << row.text;
      }
    }
  }
  bool TracedPart(const std::string& part) const {
    for (const auto& line : trace_.Lines()) {
      if (line.text.find(part) != std::string::npos) return true;
    }
    return false;
  }

  // Creation goes to the registry when no fake is registered: an empty one.
  test_support::PrivateRegistry registry_;
  test_support::TraceCapture trace_;
  std::unique_ptr<FakeSwitch> fake_;
  std::unique_ptr<CSwitchClient> client_;
};

// --- Attach and detach -----------------------------------------------------

TEST_F(SwitchClientTest, AttachLearnsDispatchIdsSendsTheModuleNameAndDestructionDetaches) {
  StartAttached();
  EXPECT_TRUE(client_->IsAttached());
  EXPECT_EQ(client_->m_LasthResult, S_OK);
  EXPECT_EQ(client_->DispatchId(sp::kCmdRequest), FakeSwitch::kIdCmdRequest);
  EXPECT_EQ(client_->DispatchId(sp::kVCRequestEx), FakeSwitch::kIdVCRequestEx);
  EXPECT_EQ(client_->DispatchId(sp::kSyncRequest), FakeSwitch::kIdSyncRequest);
  EXPECT_EQ(client_->DispatchId(sp::kServerControlVersion), FakeSwitch::kIdServerControlVersion);
  EXPECT_EQ(fake_->ClientName(), "Lorveth_Agent");
  client_.reset();
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
  ExpectTrace({{3, "Attach to SWITCH as module \"Lorveth_Agent\""},
               {4, "  ID of method CmdRequest = 208"},
               {4, "Attach succeeded"},
               {4, "Start d'tor"},
               {3, "Detach from SWITCH"},
               {4, "... Detach() done!"},
               {4, "End d'tor\n"}});

  StartAttached(FakeSwitch::kVCRequestMember);  // missing members stay unknown
  EXPECT_EQ(client_->DispatchId(sp::kCmdRequest), -1);
  EXPECT_EQ(client_->DispatchId(sp::kVCRequest), FakeSwitch::kIdVCRequest);
  ExpectTrace({{4, "  ID of method ClientName = -1"}});
  EXPECT_EQ(fake_->ClientNameCalls(), 0);
}

TEST_F(SwitchClientTest, AttachTwiceInitialisesComOnceAndDetachUninitialises) {
  Start();
  DWORD thread_id = 0;
  OnFreshThread([&] {
    thread_id = GetCurrentThreadId();
    ASSERT_TRUE(client_->Attach(nullptr));
    ASSERT_TRUE(client_->Attach(nullptr));
    EXPECT_EQ(client_->ComThreadCount(), 1u);
    EXPECT_GT(fake_->ExternalReferences(), 0u);
    client_->Detach();
    // COM was uninitialised on this thread: the next initialisation is a first one.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  });
  EXPECT_EQ(fake_->CreateCount(), 1);
  const std::string prefix = "Attach(): Thread ID " + std::to_string(thread_id);
  EXPECT_EQ(trace_.Count(Line(prefix + ": CoInitializeEx OK - was not called before!")), 1);
  EXPECT_EQ(trace_.Count(Line(prefix + ": CoInitializeEx OK - was already called here!")), 1);
  ExpectTrace({{3, "  already attached"},
               {0, "Detach(): Revoke RevokeInterfaceFromGlobal returned 0x0"},
               {0, "... Detach() done!"}});
  EXPECT_FALSE(client_->IsAttached());
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
  EXPECT_EQ(client_->ComThreadCount(), 0u);
}

TEST_F(SwitchClientTest, AttachKeepsTheThreadsOwnComInitialisation) {
  Start();
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_TRUE(client_->Attach(nullptr));
    client_->Detach();  // balances its own S_FALSE, not the thread's S_OK
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  });
  EXPECT_TRUE(TracedPart("CoInitializeEx OK - was already called!"));
  OnFreshThread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_TRUE(client_->Attach(nullptr));
    client_->Detach();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);  // still once
    CoUninitialize();
    CoUninitialize();
  });
  EXPECT_TRUE(TracedPart("CoInitializeEx FAILED - thread mode could not be changed!"));
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
}

TEST_F(SwitchClientTest, FailedAttachLeavesTheResultAndRequestsFail) {
  client_ = std::make_unique<CSwitchClient>();  // no switch registered, no module name
  EXPECT_FALSE(client_->Attach(nullptr));
  EXPECT_EQ(client_->m_LasthResult, REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(client_->IsAttached());
  client_->Detach();
  ExpectTrace({{2, "## WARNING! Could not get a valid module name at Attach!"},
               {4, "... Attach() - interface instance 0 created FALSE!"},
               {1, "## ERROR! Attach to SWITCH failed, m_LasthResult=0x80040154"},
               {5, "Detach() - not attached (ignored)"}});

  fake_ = std::make_unique<FakeSwitch>();
  ASSERT_TRUE(client_->Attach(nullptr));  // without a module name no name is sent
  EXPECT_EQ(fake_->ClientNameCalls(), 0);
  Start();
  fake_->SetCreationResult(E_OUTOFMEMORY);
  EXPECT_FALSE(client_->Attach(nullptr));
  EXPECT_EQ(client_->m_LasthResult, E_OUTOFMEMORY);
  fake_->SetCreationResult(S_OK);
  EXPECT_FALSE(client_->Attach(u"far-away-host"));  // never the local switch
  EXPECT_EQ(fake_->CreateCount(), 0);
  EXPECT_EQ(client_->m_LasthResult, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Send(StatusRequest()), cmd_status::kCommandFailed);
  EXPECT_EQ(client_->m_LasthResult, RPC_E_SERVER_DIED_DNE);
  CommandBuffer none;
  EXPECT_EQ(Send(none), cmd_status::kIncompleteHeader);
  EXPECT_TRUE(fake_->Frames().empty());
}

TEST_F(SwitchClientTest, DetachFromOtherThreadKeepsRegistrationAndWarns) {
  StartAttached();
  DWORD other = 0;
  std::thread([&] {
    other = GetCurrentThreadId();
    client_->Detach();
  }).join();
  EXPECT_TRUE(client_->IsAttached());
  EXPECT_GT(fake_->ExternalReferences(), 0u);
  ExpectTrace({{1, "WARNING! Attach was done using thread " + std::to_string(GetCurrentThreadId()) +
                       " current thread is " + std::to_string(other) +
                       "! RevokeInterfaceFromGlobal() skipped!"}});
  EXPECT_EQ(Send(StatusRequest()), 0u);  // requests still work from any thread
  client_->Detach();
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
}

// --- Requests --------------------------------------------------------------

struct TransportCase {
  const char* name;
  unsigned members;
  DISPID method;
};

class TransportTest : public SwitchClientTest,
                      public ::testing::WithParamInterface<TransportCase> {};

TEST_P(TransportTest, FrameTravelsAndReplyComesBack) {
  StartAttached(GetParam().members | FakeSwitch::kClientNameMember);
  fake_->QueueAnswer(Answer::Text(0, "42.5"));
  fake_->QueueAnswer(Answer::Status(0, {1}));
  fake_->QueueAnswer(Answer::Status(cmd_status::kIllegalObject));
  CommandBuffer request(sp::kOcRuleCurrentValue, 0, 5, sp::kAgentCabinet, 0x13, "cpu", 4);
  EXPECT_EQ(Send(request, 30), 0u);
  EXPECT_STREQ(request.DataText(), "42.5");
  EXPECT_EQ(request.Header()->OC, sp::kOcRuleCurrentValue);

  CommandBuffer bare;
  bare.SetHeaderFields(sp::kOcReadConfiguration, sp::kSettingShutdownIsAllowed, 0,
                       sp::kAgentCabinet, sp::kStatRequestPending);
  EXPECT_EQ(Send(bare), 0u);
  EXPECT_TRUE(bare.HasReplyData(1, false));
  EXPECT_EQ(bare.DataByte(0), 1);
  ExpectTrace({{3, "CmdRequest() IN  CABID -001: OC 0xE001-0x3811 OID 0x0000 "
                   "MID 0x00000000 Stat 0x16 Len 0000"},
               {3, "CmdRequest() OUT CABID -001: OC 0xE001-0x3811 OID 0x0000 "
                   "MID 0x00000000 Stat 0x00 Len 0001"}});

  CommandBuffer refused = CpuRequest();
  EXPECT_EQ(Send(refused), cmd_status::kIllegalObject);
  EXPECT_EQ(refused.DataLength(), 0u);

  const auto frames = fake_->Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].method, GetParam().method);
  EXPECT_EQ(frames[0].oc, sp::kOcRuleCurrentValue);
  EXPECT_EQ(frames[0].oid, 5u);
  EXPECT_EQ(frames[0].stat, 0x13u);
  EXPECT_EQ(frames[0].timeout, 30);
  EXPECT_EQ(frames[0].data, (std::vector<BYTE>{'c', 'p', 'u', 0}));
  // The VC methods carry the low halves of the fields only.
  const bool full_fields = GetParam().method == FakeSwitch::kIdCmdRequest;
  EXPECT_EQ(frames[0].cabid, full_fields ? 0xFFFFFFFFu : 0xFFFFu);
  EXPECT_TRUE(frames[1].data.empty());
  EXPECT_EQ(frames[1].stat, 0x16u);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, TransportTest,
    ::testing::Values(
        TransportCase{"CmdRequest", FakeSwitch::kAllMembers, FakeSwitch::kIdCmdRequest},
        TransportCase{"VCRequestEx", FakeSwitch::kVCRequestExMember | FakeSwitch::kVCRequestMember,
                      FakeSwitch::kIdVCRequestEx},
        TransportCase{"VCRequest", FakeSwitch::kVCRequestMember, FakeSwitch::kIdVCRequest}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(SwitchClientTest, VCRequestExMapsMessageIdToMessageByteAndBack) {
  StartAttached(FakeSwitch::kVCRequestExMember);
  Answer answer = Answer::Status(0);
  answer.message = 0xC7;  // low six bits 7, high two bits 3
  fake_->QueueAnswer(answer);
  CmdHeader header = BareHeader(0x45, 2);  // only the low six bits of MIDLow travel
  BYTE* data = nullptr;
  client_->KeepMessageIdOnce();
  EXPECT_TRUE(client_->CmdRequest(&header, &data, 0, 0, 0));
  EXPECT_EQ(fake_->Frames().at(0).message, 0x05 + (2 << 6));
  EXPECT_EQ(header.MIDLow, 7);
  EXPECT_EQ(header.MIDHigh, 3);
  EXPECT_EQ(data, nullptr);
}

// The odd replies: a VC status byte widens with its sign and 0xFFFFFFFF is not
// the good status 255; a reply header that ends before the status field
// leaves the request's status; no request method at all fails the request.
TEST_F(SwitchClientTest, OddRepliesAndMissingMethodsGiveTheirStatus) {
  StartAttached(FakeSwitch::kVCRequestMember);
  fake_->QueueAnswer(Answer::Status(0xFF));
  CommandBuffer request = StatusRequest();
  EXPECT_EQ(Send(request), 0xFFFFFFFFu);
  EXPECT_FALSE(request.IsStatusOk());

  StartAttached();
  Answer answer = Answer::Status(0);
  answer.header_bytes = 20;
  fake_->QueueAnswer(answer);
  EXPECT_EQ(Send(StatusRequest()), 0x13u);
  ExpectTrace({{0, "CmdRequest() - ... return from InvokeEx(), hResult=0x00000000"}});

  StartAttached(FakeSwitch::kClientNameMember | FakeSwitch::kLookedUpOnlyMembers);
  EXPECT_EQ(Send(StatusRequest()), cmd_status::kCommandFailed);
  EXPECT_EQ(client_->m_LasthResult, RPC_E_INVALIDMETHOD);
  EXPECT_TRUE(fake_->Frames().empty());
}

TEST_F(SwitchClientTest, MessageIdIsClearedUnlessKeptOnceAndCorruptHeadersAreNotSent) {
  StartAttached();
  BYTE* data = nullptr;
  for (bool keep : {false, true, false}) {  // the flag is one-shot
    CmdHeader header = BareHeader(0x1234, 0x5678);
    if (keep) client_->KeepMessageIdOnce();
    EXPECT_TRUE(client_->CmdRequest(&header, &data, 0, 0, 0));
    EXPECT_EQ(fake_->Frames().back().mid_low, keep ? 0x1234 : 0);
    EXPECT_EQ(fake_->Frames().back().mid_high, keep ? 0x5678 : 0);
  }
  CmdHeader header = BareHeader(0, 0);
  header.HeaderLength = 40;
  EXPECT_FALSE(client_->CmdRequest(&header, &data, 0, 0, 0));
  header.HeaderLength = 48;
  header.Signature[0] = '#';
  EXPECT_FALSE(client_->CmdRequest(&header, &data, 0, 0, 0));
  EXPECT_EQ(trace_.Count(Line("## ERROR in CmdRequest(): CmdHeader corrupt!")), 2);
  EXPECT_FALSE(client_->CmdRequest(nullptr, &data, 0, 0, 0));
  ExpectTrace({{1, "## ERROR in CmdRequest(): pCmdHeader = NULL!"}});
  EXPECT_EQ(client_->m_LasthResult, RPC_E_SERVER_DIED_DNE);
  EXPECT_EQ(fake_->Frames().size(), 3u);
}

TEST_F(SwitchClientTest, BusySwitchIsAskedRetriesPlusOneTimesWithGrowingTimeout) {
  StartAttached();
  fake_->AnswerBusy(5);
  EXPECT_EQ(Send(CpuRequest(), 10, 2, 5), cmd_status::kDeviceNotResponding);
  const auto frames = fake_->Frames();
  ASSERT_EQ(frames.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(frames[i].timeout, 10 + 5 * i);
    EXPECT_EQ(frames[i].oc, sp::kOcRuleCurrentValue);  // every attempt the original request
    EXPECT_EQ(frames[i].stat, 0x13u);
    EXPECT_EQ(frames[i].data.size(), 4u);
  }

  StartAttached(FakeSwitch::kVCRequestMember);  // the first real answer ends retrying
  fake_->AnswerBusy(1);
  Answer late = Answer::Text(0, "ok");
  late.delay_ms = 5;  // a delayed answer still arrives when nobody cancels
  fake_->QueueAnswer(late);
  CommandBuffer request = CpuRequest();
  EXPECT_EQ(Send(request, 0, 5, 1), 0u);
  EXPECT_EQ(fake_->Frames().size(), 2u);
  EXPECT_STREQ(request.DataText(), "ok");
  fake_->QueueAnswer(Answer::Failure(RPC_E_DISCONNECTED));  // failures are not retried
  EXPECT_EQ(Send(StatusRequest(), 0, 3, 0), cmd_status::kCommandFailed);
  EXPECT_EQ(fake_->Frames().size(), 3u);
  EXPECT_EQ(client_->m_LasthResult, RPC_E_DISCONNECTED);
}

TEST_F(SwitchClientTest, ClientNameIsStoredCutAndSentWhenAttached) {
  Start();
  EXPECT_FALSE(client_->ClientName(nullptr));  // nothing to send
  EXPECT_TRUE(client_->ClientName("before-attach"));
  EXPECT_EQ(fake_->ClientNameCalls(), 0);
  ASSERT_TRUE(client_->Attach(nullptr));
  EXPECT_EQ(fake_->ClientName(), "before-attach");
  const std::string long_name(300, 'n');
  EXPECT_TRUE(client_->ClientName(long_name.c_str()));
  EXPECT_EQ(std::string(client_->GetClientName()), std::string(255, 'n'));
  EXPECT_EQ(fake_->ClientName(), std::string(255, 'n'));
  EXPECT_TRUE(client_->ClientName(nullptr));  // the stored name again
  EXPECT_EQ(fake_->ClientNameCalls(), 3);
}

// --- Cancellation ----------------------------------------------------------

class CancelTest : public SwitchClientTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelTest, CancelFromAnotherThreadBreaksBlockedCallAndLaterRequests) {
  const bool use_cancel_object = GetParam();
  if (use_cancel_object) platform::SetComProcHidden("CoCancelCall", true);
  StartAttached();
  ASSERT_TRUE(client_->EnableCancelRequest(TRUE));
  fake_->QueueAnswer(Answer::Blocking());
  auto result = std::async(std::launch::async, [&] {
    const DWORD status = Send(CpuRequest());
    return std::make_pair(status, client_->m_LasthResult);
  });
  ASSERT_TRUE(fake_->WaitForCallInProgress(10000));
  EXPECT_TRUE(client_->CancelRequest(5));
  const auto [status, hr] = result.get();
  EXPECT_EQ(status, cmd_status::kCommandFailed);
  EXPECT_EQ(hr, RPC_E_CALL_CANCELED);
  bool found = false;
  for (const auto& line : trace_.Lines()) {
    if (line.text.find("CancelRequest() - cancel Invoke() with thread ID=") != std::string::npos) {
      found = true;
      EXPECT_EQ(line.text.find("Timout 5 sec") != std::string::npos, !use_cancel_object);
    }
  }
  EXPECT_TRUE(found);

  // Until cancellation is disabled, nothing more reaches the switch.
  CommandBuffer later = StatusRequest();
  EXPECT_EQ(Send(later), cmd_status::kCommandFailed);
  EXPECT_EQ(client_->m_LasthResult, static_cast<HRESULT>(RPC_S_CALL_CANCELLED));
  EXPECT_EQ(fake_->Frames().size(), 1u);
  EXPECT_TRUE(client_->EnableCancelRequest(FALSE));
  EXPECT_EQ(Send(later), 0u);
  EXPECT_EQ(fake_->Frames().size(), 2u);
  ExpectTrace({{4, "EnableCancelRequest(1) - hResult = 0x00000000"},
               {3, "CancelRequest() - cancel result = 0x00000000"},
               {2, "InvokeEx() - ## cancelled!"},
               {4, "EnableCancelRequest(0) - hResult = 0x00000000"}});
}

INSTANTIATE_TEST_SUITE_P(CancelFunctions, CancelTest, ::testing::Bool(),
                         [](const auto& param_info) {
                           return std::string(param_info.param ? "CancelObject" : "CancelCall");
                         });

TEST_F(SwitchClientTest, CancelWhileIdleStopsTheNextRequestAndWithoutEnablingNothing) {
  StartAttached();
  ASSERT_TRUE(client_->EnableCancelRequest(TRUE));
  EXPECT_FALSE(client_->CancelRequest(5));
  EXPECT_EQ(Send(StatusRequest()), cmd_status::kCommandFailed);
  EXPECT_TRUE(fake_->Frames().empty());
  client_->EnableCancelRequest(FALSE);
  std::promise<void> inside;
  std::promise<void> release;
  auto released = release.get_future().share();
  fake_->SetHandler([&](const FakeSwitch::Frame&) {
    inside.set_value();
    released.wait();
    return Answer::Status(0, {7});
  });
  auto result = std::async(std::launch::async, [&] {
    CommandBuffer request = StatusRequest();
    const DWORD status = Send(request);
    return std::make_pair(status, request.DataByte(0));
  });
  inside.get_future().wait();
  EXPECT_FALSE(client_->CancelRequest(5));
  release.set_value();
  const auto [status, value] = result.get();
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(client_->IsCancelled());
  ExpectTrace({{5, "CancelRequest() - no active thread available; ignored"},
               {5, "CancelRequest() - Cancel request not enabled; ignored"}});

  platform::SetComProcHidden("CoEnableCallCancellation", true);  // missing functions
  StartAttached();
  EXPECT_FALSE(client_->EnableCancelRequest(TRUE));
  ExpectTrace({{4, "EnableCancelRequest() - pointers to cancel functions not available (NT4?)"},
               {4, "EnableCancelRequest(1) - hResult = 0x00000001"}});
}

}  // namespace
