// The client as the switch's event sink: interface identity, decoding of the
// two event forms, refusal of malformed events, the settings events, and
// advising at the switch's connection point.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/FakeSwitch.h"
#include "support/PrivateRegistry.h"
#include "support/TraceCapture.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"

namespace {

using test_support::FakeSwitch;
using Bytes = std::vector<BYTE>;
namespace sp = switch_protocol;

struct ReceivedFrame {
  DWORD oc, oe, oid, cabid, stat, len;
  Bytes data;
};

// Stands where the agent will: keeps a copy of every frame it is handed.
class RecordingAgent : public IVarnReplyTarget {
 public:
  virtual ~RecordingAgent() = default;
  void VarnReply(CommandBuffer& buffer) override {
    const CmdHeader* h = buffer.Header();
    ReceivedFrame frame{h->OC, h->OE, h->OID, h->CABID, h->Stat, h->Len, {}};
    if (buffer.DataAt(0) != nullptr) {
      frame.data.assign(buffer.DataAt(0), buffer.DataAt(0) + buffer.DataLength());
    }
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
  }
  std::vector<ReceivedFrame> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ReceivedFrame> frames_;
};

std::string Line(const std::string& text) { return "\nCSwitchClient       : " + text; }
std::string ReplyLine(const std::string& text) { return "\nCVarnClient::Reply  : " + text; }

// Owns the variants of one hand-made event call, added in call order.
class EventArgs {
 public:
  EventArgs& Short(SHORT value) { return Add(VT_I2, [&](VARIANT& v) { v.iVal = value; }); }
  EventArgs& Long(LONG value) { return Add(VT_I4, [&](VARIANT& v) { v.lVal = value; }); }
  EventArgs& Byte(BYTE value) { return Add(VT_UI1, [&](VARIANT& v) { v.bVal = value; }); }
  EventArgs& Bytes(const std::vector<BYTE>& bytes) {
    return Add(VT_BSTR, [&](VARIANT& v) {
      v.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<UINT>(bytes.size()));
    });
  }
  // The fields form: OC, OE, OID, CABID as 16 bits, Stat as a byte, then data.
  EventArgs& Fields(WORD oc, WORD oe, BYTE stat, const std::vector<BYTE>& data) {
    return Short(static_cast<SHORT>(oc)).Short(static_cast<SHORT>(oe)).Short(0).Short(0)
        .Byte(stat).Bytes(data);
  }
  ~EventArgs() {
    for (VARIANT& v : args_) VariantClear(&v);
  }
  DISPPARAMS* Params() {  // DISPPARAMS wants the arguments reversed
    reversed_.assign(args_.rbegin(), args_.rend());
    params_ = DISPPARAMS{reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
    return &params_;
  }
  EventArgs& Add(VARTYPE type, const std::function<void(VARIANT&)>& set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    set(v);
    args_.push_back(v);
    return *this;
  }

 private:
  std::vector<VARIANT> args_;
  std::vector<VARIANT> reversed_;  // shallow copies; args_ owns the strings
  DISPPARAMS params_{};
};

Bytes Header(DWORD oc, DWORD oe, DWORD stat, DWORD len) {
  return FakeSwitch::HeaderImage(oc, oe, 0, 0xFFFFFFFF, stat, len);
}
const Bytes kText = {'a', 'b', 'c'};

class EventSinkTest : public ::testing::Test {
 protected:
  HRESULT Invoke(DISPID id, DISPPARAMS* params) {
    return client_.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                          nullptr, nullptr);
  }
  HRESULT Fields(WORD oc, WORD oe, BYTE stat, const Bytes& data) {
    EventArgs args;
    args.Fields(oc, oe, stat, data);
    return Invoke(3, args.Params());
  }

  // Creation goes to the registry when no fake is registered: an empty one.
  test_support::PrivateRegistry registry_;
  test_support::TraceCapture trace_;
  RecordingAgent agent_;
  SwitchPermissionFlags flags_;
  CVarnClient client_{&agent_, &flags_};
};

TEST_F(EventSinkTest, AnswersForEventInterfaceDispatchAndUnknownOnly) {
  for (const IID& iid : {sp::DIID_LorvethSwitchEvents, IID_IDispatch, IID_IUnknown}) {
    void* object = nullptr;
    EXPECT_EQ(client_.QueryInterface(iid, &object), S_OK);
    EXPECT_EQ(object, static_cast<IDispatch*>(&client_));
  }
  void* object = &client_;
  EXPECT_EQ(client_.QueryInterface(IID_IConnectionPoint, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(client_.ReferenceCount(), 3u);
  for (int i = 0; i < 3; ++i) client_.Release();
  EXPECT_EQ(client_.AddRef(), 1u);  // release never destroys the client
  EXPECT_EQ(client_.Release(), 0u);
  UINT count = 0;
  EXPECT_EQ(client_.GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(client_.GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
  EXPECT_EQ(client_.GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);
}

TEST_F(EventSinkTest, MissingArgumentsAndUnknownIdsAreRefused) {
  EXPECT_EQ(Invoke(3, nullptr), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(Invoke(1, nullptr), DISP_E_PARAMNOTFOUND);
  DISPPARAMS broken{nullptr, nullptr, 6, 0};
  EXPECT_EQ(Invoke(3, &broken), DISP_E_PARAMNOTFOUND);
  EventArgs args;
  EXPECT_EQ(Invoke(1, args.Params()), E_NOTIMPL);
  EXPECT_EQ(Invoke(2, args.Params()), E_NOTIMPL);
  for (DISPID id : {0, 5, -1, -3, 0x7FFFFFFF}) {
    EXPECT_EQ(Invoke(id, args.Params()), DISP_E_MEMBERNOTFOUND) << id;
  }
  EXPECT_TRUE(agent_.Frames().empty());
}

// A malformed event, its arguments spelled one letter each: s a 16-bit, l a
// 32-bit number, b a byte, t a byte string "abc", e an empty one, h a header
// image, H one cut to 51 bytes, 4 a header whose Len is 4, F one whose Len is
// 0xFFFFFFFF.
struct BadEvent {
  const char* name;
  DISPID id;
  const char* args;
  HRESULT expected;
};

class BadEventTest : public EventSinkTest, public ::testing::WithParamInterface<BadEvent> {};

TEST_P(BadEventTest, IsRefusedAndNothingReachesTheAgent) {
  EventArgs args;
  for (const char* c = GetParam().args; *c != 0; ++c) {
    Bytes header = Header(1, 2, 0, *c == '4' ? 4 : *c == 'F' ? 0xFFFFFFFF : 0);
    if (*c == 'H') header.resize(51);
    if (*c == 's') args.Short(1);
    if (*c == 'l') args.Long(1);
    if (*c == 'b') args.Byte(0);
    if (*c == 't' || *c == 'e') args.Bytes(*c == 't' ? kText : Bytes{});
    if (std::string_view("hH4F").find(*c) != std::string_view::npos) args.Bytes(header);
  }
  EXPECT_EQ(Invoke(GetParam().id, args.Params()), GetParam().expected);
  EXPECT_TRUE(agent_.Frames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadEventTest,
    ::testing::Values(BadEvent{"FieldsFiveArguments", 3, "ssssb", DISP_E_BADPARAMCOUNT},
                      BadEvent{"FieldsSevenArguments", 3, "ssssbtb", DISP_E_BADPARAMCOUNT},
                      BadEvent{"FieldsNoArguments", 3, "", DISP_E_BADPARAMCOUNT},
                      BadEvent{"FieldsOperationExtensionAs32Bit", 3, "slssbt", DISP_E_TYPEMISMATCH},
                      BadEvent{"FieldsOperationCodeAsByte", 3, "bsssbt", DISP_E_TYPEMISMATCH},
                      BadEvent{"FieldsStatusAs16Bit", 3, "ssssst", DISP_E_TYPEMISMATCH},
                      BadEvent{"FieldsDataAsNumber", 3, "ssssbl", DISP_E_TYPEMISMATCH},
                      BadEvent{"HeaderOneArgument", 4, "h", DISP_E_BADPARAMCOUNT},
                      BadEvent{"HeaderThreeArguments", 4, "htt", DISP_E_BADPARAMCOUNT},
                      BadEvent{"HeaderAsNumber", 4, "lt", DISP_E_TYPEMISMATCH},
                      BadEvent{"HeaderDataAsNumber", 4, "hs", DISP_E_TYPEMISMATCH},
                      BadEvent{"HeaderShorterThanImage", 4, "Ht", E_INVALIDARG},
                      BadEvent{"HeaderEmpty", 4, "et", E_INVALIDARG},
                      BadEvent{"DataShorterThanLen", 4, "4t", E_INVALIDARG},
                      BadEvent{"HugeLenWithoutData", 4, "Fe", E_INVALIDARG}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(EventSinkTest, FieldsEventBecomesFrameWithZeroExtendedFields) {
  EventArgs args;
  args.Short(static_cast<SHORT>(0xE002)).Short(0x311).Short(-1).Short(-2).Byte(0xFF).Bytes(kText);
  EXPECT_EQ(Invoke(3, args.Params()), S_OK);
  EventArgs empty;  // a null byte string is an empty one
  empty.Short(0x2201).Short(0).Short(0).Short(0).Byte(0).Add(VT_BSTR, [](VARIANT& v) {
    v.bstrVal = nullptr;
  });
  EXPECT_EQ(Invoke(3, empty.Params()), S_OK);
  const auto frames = agent_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].oc, 0xE002u);
  EXPECT_EQ(frames[0].oe, 0x311u);
  EXPECT_EQ(frames[0].oid, 0xFFFFu);
  EXPECT_EQ(frames[0].cabid, 0xFFFEu);
  EXPECT_EQ(frames[0].stat, 255u);
  EXPECT_EQ(frames[0].len, 3u);
  EXPECT_EQ(frames[0].data, kText);
  EXPECT_EQ(frames[1].len, 0u);
}

TEST_F(EventSinkTest, HeaderEventTakesLenAndStatusFromTheHeaderAndClipsData) {
  EventArgs args;
  args.Bytes(Header(sp::kOcThresholdEvent, 0, 255, 4)).Bytes({'<', 'x', '/', '>', 'j', 'u'});
  EXPECT_EQ(Invoke(4, args.Params()), S_OK);
  EventArgs longer;  // a longer header string is fine
  auto header = Header(sp::kOcStoreConfiguration, sp::kTableRules, 0, 0);
  header.resize(200, 0xAB);
  longer.Bytes(header).Bytes({});
  EXPECT_EQ(Invoke(4, longer.Params()), S_OK);
  const auto frames = agent_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].oc, sp::kOcThresholdEvent);
  EXPECT_EQ(frames[0].stat, 255u);
  EXPECT_EQ(frames[0].len, 4u);
  EXPECT_EQ(frames[0].data, (Bytes{'<', 'x', '/', '>'}));
  EXPECT_EQ(frames[1].oe, sp::kTableRules);
}

struct SettingCase {
  const char* name;
  DWORD oe;
  std::atomic<BYTE> SwitchPermissionFlags::*flag;
  const char* on_line;
  const char* off_line;
  DWORD level;
};

class SettingEventTest : public EventSinkTest,
                         public ::testing::WithParamInterface<SettingCase> {};

// One byte changes the setting; two bytes, or the codes under another
// operation, only reach the agent.
TEST_P(SettingEventTest, OneByteStoreEventChangesTheSetting) {
  const SettingCase& setting = GetParam();
  const WORD oe = static_cast<WORD>(setting.oe);
  EXPECT_EQ(Fields(0xE002, oe, 0, {1, 1}), S_OK);
  EXPECT_EQ(Fields(0xE001, oe, 0, {1}), S_OK);
  EXPECT_EQ((flags_.*setting.flag).load(), 0);
  EXPECT_EQ(Fields(0xE002, oe, 0, {3}), S_OK);
  EXPECT_EQ((flags_.*setting.flag).load(), 3);
  EXPECT_EQ(trace_.LevelOf(ReplyLine(setting.on_line)), setting.level);
  EXPECT_EQ(trace_.Count(ReplyLine(setting.on_line)), 1);
  EXPECT_EQ(Fields(0xE002, oe, 0, {0}), S_OK);
  EXPECT_EQ((flags_.*setting.flag).load(), 0);
  EXPECT_EQ(trace_.LevelOf(ReplyLine(setting.off_line)), setting.level);
  EXPECT_EQ(agent_.Frames().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingEventTest,
    ::testing::Values(
        SettingCase{"Trap2EventLog", sp::kSettingTrap2EventLog,
                    &SwitchPermissionFlags::Trap2EventLog, "Trap2EventLog filter changed to 3",
                    "Trap2EventLog filter changed to 0", 3},
        SettingCase{"TrapToAdminAlert", sp::kSettingTrapToAdminAlert,
                    &SwitchPermissionFlags::TrapToAdminAlert,
                    "TrapToAdminAlert filter changed to 3", "TrapToAdminAlert filter changed to 0",
                    3},
        SettingCase{"SetAllowed", sp::kSettingSetAllowed, &SwitchPermissionFlags::SetAllowed,
                    "# MIB write enabled! #", "# MIB write disabled! #", 2},
        SettingCase{"ShutdownIsAllowed", sp::kSettingShutdownIsAllowed,
                    &SwitchPermissionFlags::ShutdownIsAllowed, "# MIB shutdown enabled! #",
                    "# MIB shutdown disabled! #", 2},
        SettingCase{"DoAccountCheck", sp::kSettingDoAccountCheck,
                    &SwitchPermissionFlags::DoAccountCheck, "# MIB account check enabled! #",
                    "# MIB account check disabled! #", 2}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(EventSinkTest, FiltersNeedGoodStatusButPermissionsDoNot) {
  EXPECT_EQ(Fields(0xE002, 0x3800, 6, {1}), S_OK);
  EXPECT_EQ(flags_.Trap2EventLog.load(), 0);
  EXPECT_EQ(Fields(0xE002, 0x3810, 6, {1}), S_OK);
  EXPECT_EQ(flags_.SetAllowed.load(), 1);
  EXPECT_EQ(agent_.Frames().size(), 2u);
  CSwitchClient plain;  // the plain client ignores every frame
  EventArgs args;
  args.Fields(0xE002, 0x3800, 0, {1});
  EXPECT_EQ(plain.Invoke(3, IID_NULL, 0, DISPATCH_METHOD, args.Params(), nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(flags_.Trap2EventLog.load(), 0);
}

// --- Advising at the switch ------------------------------------------------

class EventConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ = std::make_unique<FakeSwitch>();
    client_ = std::make_unique<CVarnClient>(&agent_, &flags_);
    client_->SetDefaultClientName("Lorveth_Agent");
  }
  void TearDown() override {
    client_.reset();
    fake_.reset();
  }

  test_support::PrivateRegistry registry_;
  test_support::TraceCapture trace_;
  RecordingAgent agent_;
  SwitchPermissionFlags flags_;
  std::unique_ptr<FakeSwitch> fake_;
  std::unique_ptr<CVarnClient> client_;
};

TEST_F(EventConnectionTest, EnableEventsAdvisesOnceDeliversAndUnadvisesOnItsThread) {
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  EXPECT_TRUE(client_->IsAttached());
  EXPECT_TRUE(client_->EventsEnabled());
  EXPECT_EQ(fake_->AdviseCount(), 1);
  EXPECT_EQ(client_->m_LasthResult, S_OK);
  EXPECT_TRUE(trace_.Contains(Line("Enable events at \"\"")));
  EXPECT_EQ(trace_.LevelOf(Line("Advise OK!")), 4u);
  EXPECT_EQ(trace_.LevelOf(Line("Events at \"\" already enabled!")), 3u);

  EXPECT_EQ(fake_->RaiseFieldsEvent(0xE002, 0x3801, 0, 0, 0, {2}), S_OK);
  EXPECT_EQ(flags_.TrapToAdminAlert.load(), 2);
  EXPECT_EQ(fake_->RaiseHeaderEvent(Header(0xE002, sp::kTableRules, 0, 0), {}), S_OK);
  ASSERT_EQ(agent_.Frames().size(), 2u);
  EXPECT_EQ(agent_.Frames()[1].oe, sp::kTableRules);

  // Another thread may not unadvise; the thread that advised does, and detaches.
  std::thread([&] { client_->EnableEvents(FALSE); }).join();
  EXPECT_EQ(fake_->SinkCount(), 1u);
  EXPECT_TRUE(client_->IsAttached());
  EXPECT_TRUE(trace_.Contains(Line("Disable events")));
  EXPECT_FALSE(trace_.Contains(Line("EnableEvents() - start unadvise")));
  EXPECT_TRUE(client_->EnableEvents(FALSE));
  EXPECT_EQ(fake_->SinkCount(), 0u);
  EXPECT_FALSE(client_->IsAttached());
  EXPECT_FALSE(client_->EventsEnabled());
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
  EXPECT_EQ(client_->ReferenceCount(), 0u);
  EXPECT_TRUE(trace_.Contains(Line("Thread ID " + std::to_string(GetCurrentThreadId()) +
                                   ": Unadvise OK!")));
  EXPECT_TRUE(trace_.Contains(Line("EnableEvents() - end unadvise")));
  EXPECT_EQ(fake_->RaiseFieldsEvent(0x2201, 0, 0, 0, 0, kText), S_FALSE);  // nobody listens
  EXPECT_EQ(agent_.Frames().size(), 2u);
}

TEST_F(EventConnectionTest, EventsFromAnotherThreadArriveWhileRequestsRun) {
  ASSERT_TRUE(client_->EnableEvents(TRUE));
  std::thread events([&] {
    for (WORD i = 0; i < 50; ++i) fake_->RaiseFieldsEvent(0x2201, 0, i, 0, 0, kText);
  });
  for (int i = 0; i < 50; ++i) {
    CommandBuffer request(sp::kOcThresholdStatus, 0, 0, sp::kAgentCabinet, 0x13, nullptr, 0);
    EXPECT_EQ(request.SendRequest(*client_, 0, 0, 0), 0u);
  }
  events.join();
  EXPECT_EQ(agent_.Frames().size(), 50u);
  EXPECT_EQ(fake_->Frames().size(), 50u);
  client_.reset();  // destruction on the event thread unadvises
  EXPECT_EQ(fake_->SinkCount(), 0u);
  EXPECT_EQ(fake_->ExternalReferences(), 0u);
}

TEST_F(EventConnectionTest, FailuresToAdviseLeaveEventsDisabled) {
  fake_->SetContainerQueryResult(E_NOINTERFACE);
  EXPECT_FALSE(client_->EnableEvents(TRUE));
  EXPECT_EQ(client_->m_LasthResult, E_NOINTERFACE);
  EXPECT_TRUE(trace_.Contains(Line("Advise FAILED!")));
  EXPECT_TRUE(client_->IsAttached());
  fake_->SetContainerQueryResult(E_UNEXPECTED);  // an unexpected failure is raised
  try {
    client_->EnableEvents(TRUE);
    ADD_FAILURE() << "no exception";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Result(), E_UNEXPECTED);
  }
  EXPECT_FALSE(client_->EventsEnabled());
  client_.reset();
  fake_.reset();  // no switch at all
  client_ = std::make_unique<CVarnClient>(&agent_, &flags_);
  EXPECT_FALSE(client_->EnableEvents(TRUE));
  EXPECT_EQ(client_->m_LasthResult, REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(client_->EventsEnabled());
}

}  // namespace
