// The switch object in this process, reached by the agent's real switch client
// (recording every event frame and the dispatch id that carried it) through the
// class registry, and its request methods called directly.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "SwitchdFixture.h"
#include "services/switchd/Service.h"
#include "services/switchd/Settings.h"
#include "services/switchd/SwitchObject.h"
#include "support/WaitFor.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"
#include "threshold/documents/Records.h"

namespace switchd_test {
namespace {

using test_support::kPatience;

struct ReceivedFrame {
  DISPID dispid;
  DWORD oc, oe, oid, stat;
  std::string data;
};

class RecordingClient : public CVarnClient, private IVarnReplyTarget {
 public:
  RecordingClient() : CVarnClient(nullptr, &flags_) { SetReplyTarget(this); }

  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override {
    {
      std::lock_guard lock(mutex_);
      last_dispid_ = id;
    }
    return CVarnClient::Invoke(id, iid, locale, flags, params, result, exception, arg_error);
  }

  // Chooses the event form of the next advise (3 fields, 4 header image).
  HRESULT ChooseEventForm(LONG form) {
    VARIANTARG value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = form;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return InvokeEx(kEventFormId, DISPATCH_PROPERTYPUT, &params, nullptr);
  }
  // The switch's documented dispatch id of EventForm.
  static constexpr DISPID kEventFormId = 9;

  bool WaitForFrames(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
  }
  std::vector<ReceivedFrame> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

  SwitchPermissionFlags flags_;

 private:
  void VarnReply(CommandBuffer& buffer) override {
    const CmdHeader* header = buffer.Header();
    std::lock_guard lock(mutex_);
    ReceivedFrame frame{last_dispid_, header->OC, header->OE, header->OID, header->Stat, {}};
    if (buffer.DataAt(0) != nullptr) {
      frame.data.assign(reinterpret_cast<const char*>(buffer.DataAt(0)), buffer.DataLength());
    }
    frames_.push_back(std::move(frame));
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  DISPID last_dispid_ = 0;
  std::vector<ReceivedFrame> frames_;
};

// A client attached to the switch found through the registry, with events on
// in the form asked for (0 keeps the default).
std::unique_ptr<RecordingClient> AttachedClient(LONG form = 0) {
  auto client = std::make_unique<RecordingClient>();
  client->SetDefaultClientName("test-client");
  EXPECT_TRUE(client->Attach(nullptr));
  if (form != 0) {
    EXPECT_EQ(client->ChooseEventForm(form), S_OK);
  }
  EXPECT_TRUE(client->EnableEvents(TRUE));
  return client;
}

// Sends one request the way the agent does and returns the reply frame.
std::unique_ptr<CommandBuffer> SendAsAgent(CSwitchClient& client, DWORD oc, DWORD oe,
                                           const char* name, DWORD oid = 0) {
  auto request = std::make_unique<CommandBuffer>();
  if (name == nullptr) {
    request->SetHeaderFields(oc, oe, oid, switch_protocol::kAgentCabinet,
                             switch_protocol::kStatRequestPending);
  } else {
    request->BuildFrame(oc, oe, oid, switch_protocol::kAgentCabinet, switch_protocol::kStatNoData,
                        name, static_cast<DWORD>(std::char_traits<char>::length(name) + 1));
  }
  request->SendRequest(client, 0, 0, 0);
  return request;
}

std::string ReplyText(const CommandBuffer& reply) {
  if (reply.DataLength() == 0) return {};
  return std::string(reinterpret_cast<const char*>(reply.DataAt(0)), reply.DataLength());
}

namespace sp = switch_protocol;
using switchd::Service;
using switchd::ServiceOptions;

class SwitchObjectTest : public DataDirFixture {
 protected:
  void SetUp() override {
    DataDirFixture::SetUp();
    Seed();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ServiceOptions options;
    options.poll_seconds = 60;
    StartService(options);
  }
  void TearDown() override {
    for (auto& client : clients_) {
      client->EnableEvents(FALSE);
      client->Detach();
    }
    clients_.clear();
    service_.reset();
    CoUninitialize();
    DataDirFixture::TearDown();
  }

  RecordingClient& NewClient(LONG form = 0) {
    clients_.push_back(AttachedClient(form));
    return *clients_.back();
  }

  std::vector<std::unique_ptr<RecordingClient>> clients_;
};

TEST_F(SwitchObjectTest, AgentRequestsAreAnswered) {
  ASSERT_EQ(switchd::WriteSetting(*switchd::FindSetting("TrapToAdminAlert"), 3), ERROR_SUCCESS);
  EXPECT_EQ(service_->CheckSettings(), std::vector<DWORD>{0x3801});
  EXPECT_TRUE(service_->CheckSettings().empty());  // no change, no event
  RecordingClient& client = NewClient();
  for (int i = 0; i < sp::kMethodCount; ++i) EXPECT_NE(client.DispatchId(i), DISPID_UNKNOWN) << i;
  EXPECT_EQ(client.DispatchId(sp::kCmdRequest), switchd::dispid::kCmdRequest);
  ASSERT_TRUE(client.ClientName("Lorveth_Agent"));
  ASSERT_EQ(service_->Hub()->Clients().size(), 1u);
  EXPECT_EQ(service_->Hub()->Clients()[0].form, switchd::EventForm::kHeader);

  for (const switchd::TableInfo& table : switchd::Tables()) {
    auto reply = SendAsAgent(client, sp::kOcReadConfiguration, table.code, nullptr);
    EXPECT_EQ(reply->FrameStatus(), 0u) << table.collection;
    EXPECT_EQ(ReplyText(*reply), FileText(std::string(table.file)) + '\0');
  }
  // One-byte answers: two settings, no rule fired, the enabled set "w" runs.
  for (const auto& [oc, oe, name, value] :
       {std::tuple<DWORD, DWORD, const char*, int>{sp::kOcReadConfiguration, 0x3801, nullptr, 3},
        {sp::kOcReadConfiguration, 0x3812, nullptr, 0},
        {sp::kOcThresholdStatus, 0, nullptr, 0},
        {sp::kOcRuleSetStatus, 0, "w", 1},
        {sp::kOcRuleSetStatus, 0, "", 1}}) {
    auto reply = SendAsAgent(client, oc, oe, name);
    EXPECT_TRUE(reply->HasReplyData(1, false)) << oc;
    EXPECT_EQ(reply->DataByte(0), value) << oc;
  }
  for (const DWORD oc : {sp::kOcRuleCurrentValue, sp::kOcReportCurrentValue}) {
    auto reply = SendAsAgent(client, oc, 0, "w");
    EXPECT_EQ(reply->FrameStatus(), cmd_status::kNoMoreReplies) << oc;
    EXPECT_EQ(reply->DataLength(), 0u);
  }
  // Record 70000 of report "w": the high half of the number - 1 in OE.
  auto record = SendAsAgent(client, sp::kOcReportRecordValue, 1, "w", 70000 - 1 - 65536);
  EXPECT_EQ(record->FrameStatus(), cmd_status::kNoMoreReplies);
  EXPECT_FALSE(record->HasReplyData(0, false));
  // Record numbers: four bytes; a name ends at its terminator.
  for (const DWORD oc : {sp::kOcReportHighestRecord, sp::kOcReportOldestRecord}) {
    auto reply = SendAsAgent(client, oc, 0, "w");
    EXPECT_TRUE(reply->HasReplyData(4, false)) << oc;
    EXPECT_EQ(reply->DataWord(0), 0u);
    EXPECT_EQ(SendAsAgent(client, oc, 0, "ro\0x")->FrameStatus(), cmd_status::kSuccess);
  }
  auto reports = SendAsAgent(client, sp::kOcReportSetDocument, 0, "w");
  ASSERT_TRUE(reports->HasReplyData(0, false));
  RecordDocument report_set;
  ASSERT_TRUE(report_set.LoadText(reports->DataText()));
  EXPECT_EQ(report_set.RecordTag(), "ReportSet");
  // Its file leaves the status implied; the reply states it, so that the set
  // stored back without members is no record that names only the set.
  EXPECT_EQ(report_set.ItemText(records::kReportSetStatus), "enable");

  for (const DWORD oc : {sp::kOcRuleSetStatus, sp::kOcReportSetStatus, sp::kOcRuleCurrentValue,
                         sp::kOcReportCurrentValue, sp::kOcReportSetDocument}) {
    EXPECT_EQ(SendAsAgent(client, oc, 0, "nope")->FrameStatus(), cmd_status::kIllegalObject) << oc;
  }
  EXPECT_EQ(SendAsAgent(client, 0x2299, 0, nullptr)->FrameStatus(),
            cmd_status::kUnsupportedCommand);
  EXPECT_EQ(SendAsAgent(client, sp::kOcReadConfiguration, 0x315, nullptr)->FrameStatus(),
            cmd_status::kIllegalObject);
}

TEST_F(SwitchObjectTest, InjectedThresholdEventCarriesTheStoredRuleAndEvent) {
  RecordingClient& client = NewClient(3);
  EXPECT_TRUE(service_->Execute("event w 042 w").ok);
  ASSERT_TRUE(client.WaitForFrames(1));
  const ReceivedFrame frame = client.Frames()[0];
  EXPECT_EQ(frame.oc, sp::kOcThresholdEvent);
  RecordDocument threshold;
  ASSERT_TRUE(threshold.LoadText(frame.data.c_str()));
  EXPECT_EQ(threshold.ItemText(records::kThresholdRuleName), "w");
  EXPECT_EQ(threshold.ItemText(records::kThresholdRuleComment), "watch it");
  EXPECT_EQ(threshold.ItemValue(records::kThresholdValue), 42);
  RecordDocument event;
  ASSERT_TRUE(event.LoadText(threshold.ChildMarkup("Threshold", "Event")));
  EXPECT_EQ(event.ItemText(records::kEventName), "w");
  EXPECT_EQ(event.ItemText(records::kEventType), "snmp-trap");
  EXPECT_EQ(event.ItemText(records::kEventSeverity), "minor");

  for (const char* wrong : {"event nope 1 w", "event w 1 nope", "event w 1", "frobnicate",
                            "set Nothing 1", "set SetAllowed 256", "announce Nothing"}) {
    EXPECT_FALSE(service_->Execute(wrong).ok) << wrong;
  }
}

TEST_F(SwitchObjectTest, ReloadAnnouncesOnlyTheTablesThatChanged) {
  RecordingClient& client = NewClient();
  WriteFile(data_dir_ + "/Reports.xml", "<Reports><Report Name=\"z\"/></Reports>");
  const switchd::ControlAnswer answer = service_->Execute("reload");
  EXPECT_TRUE(answer.ok);
  EXPECT_EQ(answer.lines, std::vector<std::string>{"changed Reports"});
  ASSERT_TRUE(client.WaitForFrames(1));
  service_->Hub()->Flush();
  ASSERT_EQ(client.Frames().size(), 1u);
  EXPECT_EQ(client.Frames()[0].oe, sp::kTableReports);
  EXPECT_TRUE(service_->Execute("announce Events").ok);
  ASSERT_TRUE(client.WaitForFrames(2));
  EXPECT_EQ(client.Frames()[1].oe, sp::kTableEvents);
}

// The request methods as other clients call them, straight on the object.
class SwitchObjectArgumentTest : public DataDirFixture {
 protected:
  void SetUp() override {
    DataDirFixture::SetUp();
    Seed();
    module_ = std::make_shared<switchd::ThresholdModule>(data_dir_);
    std::string error;
    ASSERT_TRUE(module_->Load(&error)) << error;
    hub_ = std::make_shared<switchd::EventHub>();
    object_.Attach(switchd::SwitchObject::Create(module_, hub_));
  }

  HRESULT Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result = nullptr) {
    return object_->Invoke(id, IID_NULL, 0, flags, params, result, nullptr, nullptr);
  }

  std::shared_ptr<switchd::ThresholdModule> module_;
  std::shared_ptr<switchd::EventHub> hub_;
  platform::ComPtr<switchd::SwitchObject> object_;
};

TEST_F(SwitchObjectArgumentTest, VCRequestExCarriesFieldsStatusAndDataByReference) {
  for (const bool extended : {true, false}) {
    BSTR data = SysAllocStringByteLen("w", 2);
    BYTE status = 19;
    BYTE message = 0x41;
    VARIANTARG args[8];
    for (VARIANTARG& arg : args) VariantInit(&arg);
    const UINT count = extended ? 8 : 7;
    const UINT last = count - 1;
    const SHORT fields[4] = {static_cast<SHORT>(sp::kOcRuleSetStatus), 0, 0, -1};
    for (UINT i = 0; i < 4; ++i) {
      args[last - i].vt = VT_I2;
      args[last - i].iVal = fields[i];
    }
    args[last - 4].vt = VT_BSTR | VT_BYREF;
    args[last - 4].pbstrVal = &data;
    args[last - 5].vt = VT_UI1 | VT_BYREF;
    args[last - 5].pbVal = &status;
    args[last - 6].vt = VT_I2;
    args[last - 6].iVal = 0;
    if (extended) {
      args[0].vt = VT_UI1 | VT_BYREF;
      args[0].pbVal = &message;
    }
    DISPPARAMS params{args, nullptr, count, 0};
    const DISPID id = extended ? switchd::dispid::kVCRequestEx : switchd::dispid::kVCRequest;
    EXPECT_EQ(Call(id, DISPATCH_METHOD, &params), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(SysStringByteLen(data), 1u);
    EXPECT_EQ(message, 0x41);
    SysFreeString(data);
  }
}

}  // namespace
}  // namespace switchd_test
