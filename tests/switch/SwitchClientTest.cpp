// The switch client and its event sink against the in-process fake switch.
#include <gtest/gtest.h>

#include <cstddef>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "support/FakeSwitch.h"
#include "support/PrivateRegistry.h"
#include "support/TraceCapture.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchClient.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"

namespace {

using test_support::FakeSwitch;
using Answer = FakeSwitch::Answer;
using Bytes = std::vector<BYTE>;
namespace sp = switch_protocol;

std::string Line(const std::string& text) { return "\nCSwitchClient       : " + text; }

CommandBuffer StatusRequest() {
  return CommandBuffer(sp::kOcThresholdStatus, 0, 0, sp::kAgentCabinet, 0x13, nullptr, 0);
}
CommandBuffer CpuRequest() {
  return CommandBuffer(sp::kOcRuleCurrentValue, 0, 0, sp::kAgentCabinet, 0x13, "cpu", 4);
}
CmdHeader BareHeader(WORD mid_low, WORD mid_high) {
  CmdHeader header = *StatusRequest().Header();
  header.MIDLow = mid_low;
  header.MIDHigh = mid_high;
  return header;
}

// Records the OE of every frame handed to the agent.
struct RecordingAgent : IVarnReplyTarget {
  virtual ~RecordingAgent() = default;
  void VarnReply(CommandBuffer& buffer) override { frames.push_back(buffer.Header()->OE); }
  std::vector<DWORD> frames;
};

std::string ReplyLine(const std::string& text) { return "\nCVarnClient::Reply  : " + text; }

// Owns the variants of one hand-made event call, added in call order.
class EventArgs {
 public:
  EventArgs& Num(VARTYPE type, LONG value) {
    Add(type).lVal = value;
    return *this;
  }
  EventArgs& Text(const std::vector<BYTE>& bytes) {
    Add(VT_BSTR).bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<UINT>(bytes.size()));
    return *this;
  }
  // The fields form: OC, OE, OID, CABID (zero) as 16 bits, Stat as a byte, then data.
  EventArgs& Fields(LONG oc, LONG oe, BYTE stat, const Bytes& data) {
    return Num(VT_I2, oc).Num(VT_I2, oe).Num(VT_I2, 0).Num(VT_I2, 0).Num(VT_UI1, stat).Text(data);
  }
  ~EventArgs() {
    for (VARIANT& v : args_) VariantClear(&v);
  }
  DISPPARAMS* Params() {  // DISPPARAMS wants the arguments reversed
    reversed_.assign(args_.rbegin(), args_.rend());
    params_ = DISPPARAMS{reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
    return &params_;
  }

 private:
  VARIANT& Add(VARTYPE type) {
    VariantInit(&args_.emplace_back());
    args_.back().vt = type;
    return args_.back();
  }
  std::vector<VARIANT> args_;
  std::vector<VARIANT> reversed_;  // shallow copies; args_ owns the strings
  DISPPARAMS params_{};
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
    client_ = std::make_unique<CVarnClient>(&agent_, &flags_);
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
  // The level of the client's trace line (0: not written).
  DWORD Level(const std::string& text) const { return trace_.LevelOf(Line(text)); }

  // Creation goes to the registry when no fake is registered: an empty one.
  test_support::PrivateRegistry registry_;
  test_support::TraceCapture trace_;
  RecordingAgent agent_;
  SwitchPermissionFlags flags_;
  std::unique_ptr<FakeSwitch> fake_;
  std::unique_ptr<CVarnClient> client_;
};

// COM state belongs to a thread, so each row runs on a fresh one: attach
// initialises COM once per thread, and detach undoes only its own
// initialisation, never the thread's.
TEST_F(SwitchClientTest, AttachInitialisesComOncePerThreadAndDetachUndoesOnlyItsOwn) {
  const struct {
    int before;          // the thread's own initialisation, -1 for none
    const char* traced;  // how the attach found COM
    HRESULT after;       // an apartment initialisation after the detach
  } rows[] = {{-1, "OK - was not called before!", S_OK},
              {COINIT_MULTITHREADED, "OK - was already called!", RPC_E_CHANGED_MODE},
              {COINIT_APARTMENTTHREADED, "FAILED - thread mode could not be changed!", S_FALSE}};
  Start();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.traced);
    trace_.Clear();
    DWORD thread_id = 0;
    std::thread([&] {
      thread_id = GetCurrentThreadId();
      ASSERT_EQ(row.before < 0 ? S_OK : CoInitializeEx(nullptr, row.before), S_OK);
      ASSERT_TRUE(client_->Attach(nullptr));
      ASSERT_TRUE(client_->Attach(nullptr));
      EXPECT_EQ(client_->ComThreadCount(), 1u);
      EXPECT_GT(fake_->ExternalReferences(), 0u);
      client_->Detach();
      EXPECT_EQ(client_->ComThreadCount(), 0u);
      EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), row.after);
      if (SUCCEEDED(row.after)) CoUninitialize();
      if (row.before >= 0) CoUninitialize();
    }).join();
    const std::string prefix = "Attach(): Thread ID " + std::to_string(thread_id);
    EXPECT_EQ(trace_.Count(Line(prefix + ": CoInitializeEx " + row.traced)), 1);
    EXPECT_EQ(Level(prefix + ": CoInitializeEx OK - was already called here!"), 4u);
    EXPECT_FALSE(client_->IsAttached());
    EXPECT_EQ(fake_->ExternalReferences(), 0u);
  }
  EXPECT_EQ(fake_->CreateCount(), 3);  // once per attached thread
}

TEST_F(SwitchClientTest, FailedAttachLeavesTheResultAndRequestsFailAndTheNameWaits) {
  client_ = std::make_unique<CVarnClient>(nullptr, nullptr);  // no switch, no module name
  EXPECT_FALSE(client_->Attach(nullptr));
  EXPECT_EQ(client_->m_LasthResult, REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(client_->IsAttached());
  client_->Detach();
  EXPECT_EQ(Level("## WARNING! Could not get a valid module name at Attach!"), 2u);
  EXPECT_EQ(Level("## ERROR! Attach to SWITCH failed, m_LasthResult=0x80040154"), 1u);

  fake_ = std::make_unique<FakeSwitch>();
  EXPECT_FALSE(client_->ClientName(nullptr));  // no name to send
  ASSERT_TRUE(client_->Attach(nullptr));       // without a module name no name is sent
  EXPECT_EQ(fake_->ClientNameCalls(), 0);
  client_->Detach();
  EXPECT_TRUE(client_->ClientName("before-attach"));  // kept until attached
  ASSERT_TRUE(client_->Attach(nullptr));
  EXPECT_EQ(fake_->ClientName(), "before-attach");
  const std::string long_name(300, 'n');  // cut, and sent at once when attached
  EXPECT_TRUE(client_->ClientName(long_name.c_str()));
  EXPECT_EQ(std::string(client_->GetClientName()), std::string(255, 'n'));
  EXPECT_EQ(fake_->ClientName(), std::string(255, 'n'));
  EXPECT_TRUE(client_->ClientName(nullptr));  // the stored name again
  EXPECT_EQ(fake_->ClientNameCalls(), 3);
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

TEST_F(SwitchClientTest, MessageIdIsClearedUnlessKeptOnceAndCorruptHeadersAreNotSent) {
  StartAttached(FakeSwitch::kVCRequestExMember);
  Answer answer = Answer::Status(0);
  answer.message = 0xC7;  // low six bits 7, high two bits 3
  fake_->QueueAnswer(answer);
  CmdHeader kept = BareHeader(0x45, 1);  // only the low six bits of MIDLow travel
  BYTE* data = nullptr;
  client_->KeepMessageIdOnce();
  EXPECT_TRUE(client_->CmdRequest(&kept, &data, 0, 0, 0));
  EXPECT_EQ(fake_->Frames().at(0).message, 0x05 + (1 << 6));
  EXPECT_EQ(std::make_tuple(kept.MIDLow, kept.MIDHigh, data), std::make_tuple(7, 3, nullptr));

  StartAttached();
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
  EXPECT_EQ(Level("## ERROR in CmdRequest(): pCmdHeader = NULL!"), 1u);
  EXPECT_EQ(client_->m_LasthResult, RPC_E_SERVER_DIED_DNE);
  EXPECT_EQ(fake_->Frames().size(), 3u);
}

TEST_F(SwitchClientTest, BusySwitchIsAskedRetriesPlusOneTimesWithGrowingTimeout) {
  StartAttached();
  fake_->AnswerBusy(5);
  EXPECT_EQ(Send(CpuRequest(), 10, 2, 5), cmd_status::kDeviceNotResponding);
  const auto frames = fake_->Frames();
  ASSERT_EQ(frames.size(), 3u);
  for (const auto& frame : frames) {  // every attempt the original request
    const size_t i = &frame - frames.data();
    EXPECT_EQ(std::make_tuple(frame.timeout, frame.oc, frame.stat, frame.data.size()),
              std::make_tuple(WORD(10 + 5 * i), sp::kOcRuleCurrentValue, 0x13u, size_t{4}));
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

// With the cancel function, or without it through the cancel object.
TEST_F(SwitchClientTest, CancelFromAnotherThreadBreaksBlockedCallAndLaterRequests) {
  for (const bool use_cancel_object : {false, true}) {
    SCOPED_TRACE(use_cancel_object ? "CancelObject" : "CancelCall");
    platform::SetComProcHidden("CoCancelCall", use_cancel_object);
    trace_.Clear();
    StartAttached();
    ASSERT_TRUE(client_->EnableCancelRequest(TRUE));
    fake_->QueueAnswer(Answer::Blocking());
    DWORD caller = 0;
    auto result = std::async(std::launch::async, [&] {
      caller = GetCurrentThreadId();
      const DWORD status = Send(CpuRequest());
      return std::make_pair(status, client_->m_LasthResult);
    });
    ASSERT_TRUE(fake_->WaitForCallInProgress(10000));
    EXPECT_TRUE(client_->CancelRequest(5));
    const auto [status, hr] = result.get();
    EXPECT_EQ(status, cmd_status::kCommandFailed);
    EXPECT_EQ(hr, RPC_E_CALL_CANCELED);

    // Until cancellation is disabled, nothing more reaches the switch.
    CommandBuffer later = StatusRequest();
    EXPECT_EQ(Send(later), cmd_status::kCommandFailed);
    EXPECT_EQ(client_->m_LasthResult, static_cast<HRESULT>(RPC_S_CALL_CANCELLED));
    EXPECT_EQ(fake_->Frames().size(), 1u);
    EXPECT_TRUE(client_->EnableCancelRequest(FALSE));
    EXPECT_EQ(Send(later), 0u);
    EXPECT_EQ(fake_->Frames().size(), 2u);
    EXPECT_EQ(Level("CancelRequest() - cancel Invoke() with thread ID=" + std::to_string(caller) +
                    (use_cancel_object ? "" : " Timout 5 sec")),
              3u);
    EXPECT_EQ(Level("InvokeEx() - ## cancelled!"), 2u);
  }
}

TEST_F(SwitchClientTest, CancelWhileIdleStopsTheNextRequestAndWithoutEnablingNothing) {
  StartAttached();
  ASSERT_TRUE(client_->EnableCancelRequest(TRUE));
  EXPECT_FALSE(client_->CancelRequest(5));
  EXPECT_EQ(Send(StatusRequest()), cmd_status::kCommandFailed);
  EXPECT_TRUE(fake_->Frames().empty());
  client_->EnableCancelRequest(FALSE);
  bool cancelled = true;
  fake_->SetHandler([&](const FakeSwitch::Frame&) {
    cancelled = client_->CancelRequest(5);  // a call is active, cancelling not enabled
    return Answer::Status(0);
  });
  EXPECT_EQ(Send(StatusRequest()), 0u);
  EXPECT_FALSE(cancelled);
  EXPECT_TRUE(client_->IsCancelled());
  platform::SetComProcHidden("CoEnableCallCancellation", true);  // missing functions
  StartAttached();
  EXPECT_FALSE(client_->EnableCancelRequest(TRUE));
}

Bytes Header(DWORD oc, DWORD oe, DWORD stat, DWORD len) {
  return FakeSwitch::HeaderImage(oc, oe, 0, 0xFFFFFFFF, stat, len);
}
const Bytes kText = {'a', 'b', 'c'};

class EventSinkTest : public SwitchClientTest {
 protected:
  void SetUp() override { Start(); }
  HRESULT Invoke(DISPID id, DISPPARAMS* params) {
    return client_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                           nullptr, nullptr);
  }
  HRESULT Fields(WORD oc, WORD oe, BYTE stat, const Bytes& data) {
    EventArgs args;
    args.Fields(oc, oe, stat, data);
    return Invoke(3, args.Params());
  }
};

// A malformed event, its arguments spelled one letter each: s a 16-bit, l a
// 32-bit number, b a byte, t a byte string "abc", e an empty one, h a header
// image, H one cut to 51 bytes, 4 a header whose Len is 4, F one whose Len is
// 0xFFFFFFFF; or no parameters at all (0), or six without their array (6).
TEST_F(EventSinkTest, MalformedEventsAndUnknownIdsAreRefusedAndNothingReachesTheAgent) {
  const struct {
    const char* name;
    DISPID id;
    const char* args;
    HRESULT expected;
  } rows[] = {
      // clang-format off
      {"FieldsFiveArguments", 3, "ssssb", DISP_E_BADPARAMCOUNT},
      {"FieldsOperationExtensionAs32Bit", 3, "slssbt", DISP_E_TYPEMISMATCH},
      {"FieldsStatusAs16Bit", 3, "ssssst", DISP_E_TYPEMISMATCH},
      {"FieldsDataAsNumber", 3, "ssssbl", DISP_E_TYPEMISMATCH},
      {"HeaderOneArgument", 4, "h", DISP_E_BADPARAMCOUNT},
      {"HeaderAsNumber", 4, "lt", DISP_E_TYPEMISMATCH},
      {"HeaderDataAsNumber", 4, "hs", DISP_E_TYPEMISMATCH},
      {"HeaderShorterThanImage", 4, "Ht", E_INVALIDARG},
      {"DataShorterThanLen", 4, "4t", E_INVALIDARG},
      {"HugeLenWithoutData", 4, "Fe", E_INVALIDARG},
      {"FieldsWithoutParameters", 3, "0", DISP_E_PARAMNOTFOUND},
      {"FieldsWithoutArgumentArray", 3, "6", DISP_E_PARAMNOTFOUND},
      {"Id1", 1, "", E_NOTIMPL}, {"Id2", 2, "", E_NOTIMPL},
      {"Id0", 0, "", DISP_E_MEMBERNOTFOUND}, {"Id5", 5, "", DISP_E_MEMBERNOTFOUND},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EventArgs args;
    for (const char* c = row.args; *c != 0; ++c) {
      Bytes header = Header(1, 2, 0, *c == '4' ? 4 : *c == 'F' ? 0xFFFFFFFF : 0);
      if (*c == 'H') header.resize(51);
      if (*c == 's' || *c == 'l' || *c == 'b')
        args.Num(*c == 's' ? VT_I2 : *c == 'l' ? VT_I4 : VT_UI1, 1);
      if (*c == 't' || *c == 'e') args.Text(*c == 't' ? kText : Bytes{});
      if (std::string_view("hH4F").find(*c) != std::string_view::npos) args.Text(header);
    }
    DISPPARAMS broken{nullptr, nullptr, 6, 0};
    DISPPARAMS* params = *row.args == '0' ? nullptr : *row.args == '6' ? &broken : args.Params();
    EXPECT_EQ(Invoke(row.id, params), row.expected);
  }
  EXPECT_TRUE(agent_.frames.empty());
}

// A store event of one byte changes a setting; two bytes, or the code under
// another operation, only reach the agent. A filter traces "<name> filter
// changed to <n>" at level 3 and needs a good status; a permission traces
// "# MIB <what> enabled! #" or "disabled" at level 2 and takes any status.
TEST_F(EventSinkTest, OneByteStoreEventsChangeTheSettings) {
  using F = SwitchPermissionFlags;
  const struct {
    const char* name;
    DWORD oe;
    std::atomic<BYTE> F::*flag;
    const char* what;  // null for a filter
  } rows[] = {
      {"Trap2EventLog", sp::kSettingTrap2EventLog, &F::Trap2EventLog, nullptr},
      {"TrapToAdminAlert", sp::kSettingTrapToAdminAlert, &F::TrapToAdminAlert, nullptr},
      {"SetAllowed", sp::kSettingSetAllowed, &F::SetAllowed, "write"},
      {"ShutdownIsAllowed", sp::kSettingShutdownIsAllowed, &F::ShutdownIsAllowed, "shutdown"},
      {"DoAccountCheck", sp::kSettingDoAccountCheck, &F::DoAccountCheck, "account check"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const WORD oe = static_cast<WORD>(row.oe);
    const auto line = [&](bool on) {
      return ReplyLine(row.what == nullptr
                           ? std::string(row.name) + " filter changed to " + (on ? "3" : "0")
                           : std::string("# MIB ") + row.what +
                                 (on ? " enabled! #" : " disabled! #"));
    };
    const DWORD level = row.what == nullptr ? 3 : 2;
    std::atomic<BYTE>& flag = flags_.*row.flag;
    EXPECT_EQ(Fields(0xE002, oe, 0, {1, 1}), S_OK);
    EXPECT_EQ(Fields(0xE001, oe, 0, {1}), S_OK);
    EXPECT_EQ(flag.load(), 0);
    EXPECT_EQ(Fields(0xE002, oe, 0, {3}), S_OK);
    EXPECT_EQ(flag.load(), 3);
    EXPECT_EQ(trace_.LevelOf(line(true)), level);
    EXPECT_EQ(Fields(0xE002, oe, 0, {0}), S_OK);
    EXPECT_EQ(flag.load(), 0);
    EXPECT_EQ(trace_.LevelOf(line(false)), level);
    EXPECT_EQ(Fields(0xE002, oe, 6, {1}), S_OK);
    EXPECT_EQ(flag.load(), row.what == nullptr ? 0 : 1);
  }
  EXPECT_EQ(agent_.frames.size(), 25u);
  CSwitchClient plain;  // the plain client ignores every frame
  EventArgs args;
  args.Fields(0xE002, 0x3800, 0, {1});
  EXPECT_EQ(plain.Invoke(3, IID_NULL, 0, DISPATCH_METHOD, args.Params(), nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(flags_.Trap2EventLog.load(), 0);
}

TEST_F(EventSinkTest, EnableEventsAdvisesOnceDeliversAndUnadvisesOnItsThread) {
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  EXPECT_TRUE(client_->EventsEnabled());
  EXPECT_EQ(fake_->AdviseCount(), 1);

  EXPECT_EQ(fake_->RaiseFieldsEvent(0xE002, 0x3801, 0, 0, 0, {2}), S_OK);
  EXPECT_EQ(flags_.TrapToAdminAlert.load(), 2);
  EXPECT_EQ(fake_->RaiseHeaderEvent(Header(0xE002, sp::kTableRules, 0, 0), {}), S_OK);
  ASSERT_EQ(agent_.frames.size(), 2u);
  EXPECT_EQ(agent_.frames[1], sp::kTableRules);

  // Another thread may not unadvise; the thread that advised does, and detaches.
  std::thread([&] { client_->EnableEvents(FALSE); }).join();
  EXPECT_EQ(fake_->SinkCount(), 1u);
  EXPECT_TRUE(client_->IsAttached());
  EXPECT_FALSE(trace_.Contains(Line("EnableEvents() - start unadvise")));
  EXPECT_TRUE(client_->EnableEvents(FALSE));
  EXPECT_EQ(fake_->SinkCount(), 0u);
  EXPECT_FALSE(client_->IsAttached());
  EXPECT_FALSE(client_->EventsEnabled());
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
  EXPECT_EQ(client_->ReferenceCount(), 0u);
  EXPECT_EQ(Level("Events at \"\" already enabled!"), 3u);
  EXPECT_EQ(Level("Thread ID " + std::to_string(GetCurrentThreadId()) + ": Unadvise OK!"), 4u);
  EXPECT_EQ(fake_->RaiseFieldsEvent(0x2201, 0, 0, 0, 0, kText), S_FALSE);  // nobody listens
  EXPECT_EQ(agent_.frames.size(), 2u);
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  client_.reset();  // destruction on the event thread unadvises
  EXPECT_EQ(fake_->SinkCount(), 0u);
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
}

TEST_F(EventSinkTest, FailuresToAdviseLeaveEventsDisabled) {
  fake_->SetContainerQueryResult(E_NOINTERFACE);
  EXPECT_FALSE(client_->EnableEvents(TRUE));
  EXPECT_EQ(client_->m_LasthResult, E_NOINTERFACE);
  EXPECT_TRUE(client_->IsAttached());
  fake_->SetContainerQueryResult(E_UNEXPECTED);  // an unexpected failure is raised
  EXPECT_THROW(client_->EnableEvents(TRUE), ComError);
  EXPECT_FALSE(client_->EventsEnabled());
}

}  // namespace
