// The fake switch object: each call recorded and answered as the owner says.
#include "support/FakeSwitch.h"

#include <cstring>

#include "platform/system/Threads.h"
#include "support/ConnectableObject.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace test_support {

namespace {

// A blocked call gives up after this long so that a broken cancel fails the test instead of
// hanging it; the result is then not RPC_E_CALL_CANCELED.
constexpr DWORD kBlockLimitMs = 20000;

// An empty text is the null string, as the switch sends it.
BSTR StringOrNull(const std::vector<BYTE>& bytes) {
  return bytes.empty() ? nullptr : MakeString(bytes);
}

void Replace(BSTR* slot, const std::vector<BYTE>& bytes) {
  SysFreeString(*slot);
  *slot = StringOrNull(bytes);
}

}  // namespace

class FakeSwitch::Object final : public ConnectableObject {
 public:
  explicit Object(FakeSwitch& owner)
      : ConnectableObject(switch_protocol::DIID_LorvethSwitchEvents), owner_(owner) {}

  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = IdOf(names[i]);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    const unsigned members = owner_.members_;
    if (id == kIdCmdRequest && (members & kCmdRequestMember) != 0) return CmdRequest(params);
    if (id == kIdVCRequestEx && (members & kVCRequestExMember) != 0) {
      return VCRequest(params, true);
    }
    if (id == kIdVCRequest && (members & kVCRequestMember) != 0) return VCRequest(params, false);
    if (id == kIdClientName && (members & kClientNameMember) != 0) {
      return PutClientName(flags, params);
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  DISPID IdOf(LPCOLESTR name) const {
    static const struct {
      const char16_t* name;
      DISPID id;
      unsigned member;
    } kKnown[] = {
        {u"SyncRequest", kIdSyncRequest, kLookedUpOnlyMembers},
        {u"DefaultTimeout", kIdDefaultTimeout, kLookedUpOnlyMembers},
        {u"VCRequest", kIdVCRequest, kVCRequestMember},
        {u"ServerCabinetNumber", kIdServerCabinetNumber, kLookedUpOnlyMembers},
        {u"ServerControlVersion", kIdServerControlVersion, kLookedUpOnlyMembers},
        {u"VCRequestEx", kIdVCRequestEx, kVCRequestExMember},
        {u"ClientName", kIdClientName, kClientNameMember},
        {u"CmdRequest", kIdCmdRequest, kCmdRequestMember},
    };
    for (const auto& known : kKnown) {
      if (name != nullptr && std::u16string(name) == known.name &&
          (owner_.members_ & known.member) != 0) {
        return known.id;
      }
    }
    return DISPID_UNKNOWN;
  }

  HRESULT PutClientName(WORD flags, DISPPARAMS* params) {
    if ((flags & DISPATCH_PROPERTYPUT) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_BADPARAMCOUNT;
    }
    if (params->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    const BSTR text = params->rgvarg[0].bstrVal;
    std::lock_guard lock(owner_.mutex_);
    owner_.client_name_.assign(text, text + SysStringLen(text));
    ++owner_.client_name_calls_;
    return S_OK;
  }

  HRESULT CmdRequest(DISPPARAMS* params) {
    if (params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
    VARIANTARG* args = params->rgvarg;
    if (args[2].vt != (VT_BSTR | VT_BYREF) || args[1].vt != (VT_BSTR | VT_BYREF) ||
        args[0].vt != VT_I2) {
      return DISP_E_TYPEMISMATCH;
    }
    std::vector<BYTE> header = BytesOf(*args[2].pbstrVal);
    CmdHeader fields;
    if (header.size() < sizeof fields) return DISP_E_TYPEMISMATCH;
    std::memcpy(&fields, header.data(), sizeof fields);
    const Frame frame{.method = kIdCmdRequest,
                      .oc = fields.OC,
                      .oe = fields.OE,
                      .oid = fields.OID,
                      .cabid = fields.CABID,
                      .stat = fields.Stat,
                      .mid_low = fields.MIDLow,
                      .mid_high = fields.MIDHigh,
                      .header_bytes = header.size(),
                      .data = BytesOf(*args[1].pbstrVal),
                      .timeout = static_cast<WORD>(args[0].iVal)};
    Answer answer = owner_.NextAnswer(frame);
    const HRESULT hr = owner_.Answered(answer);
    if (hr != S_OK) return hr;
    fields.Stat = answer.stat;
    fields.Len = static_cast<DWORD>(answer.data.size());
    std::memcpy(header.data(), &fields, sizeof fields);
    if (answer.header_bytes >= 0 && static_cast<size_t>(answer.header_bytes) < header.size()) {
      header.resize(static_cast<size_t>(answer.header_bytes));
    }
    Replace(args[2].pbstrVal, header);
    Replace(args[1].pbstrVal, answer.data);
    return S_OK;
  }

  // In call order: OC, OE, OID, CABID (I2), data (BSTR*), status (UI1*), timeout (I2) and,
  // extended, the message byte (UI1*).
  HRESULT VCRequest(DISPPARAMS* params, bool extended) {
    const UINT count = extended ? 8 : 7;
    if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;
    const auto arg = [&](UINT i) -> VARIANTARG& { return params->rgvarg[count - 1 - i]; };
    for (UINT i = 0; i < count; ++i) {
      const int wanted = i == 4 ? VT_BSTR | VT_BYREF : i == 5 || i == 7 ? VT_UI1 | VT_BYREF : VT_I2;
      if (arg(i).vt != wanted) return DISP_E_TYPEMISMATCH;
    }
    Frame frame{.method = extended ? kIdVCRequestEx : kIdVCRequest,
                .oc = static_cast<WORD>(arg(0).iVal),
                .oe = static_cast<WORD>(arg(1).iVal),
                .oid = static_cast<WORD>(arg(2).iVal),
                .cabid = static_cast<WORD>(arg(3).iVal),
                .stat = *arg(5).pbVal,
                .data = BytesOf(*arg(4).pbstrVal),
                .timeout = static_cast<WORD>(arg(6).iVal)};
    if (extended) frame.message = *arg(7).pbVal;
    Answer answer = owner_.NextAnswer(frame);
    const HRESULT hr = owner_.Answered(answer);
    if (hr != S_OK) return hr;
    *arg(5).pbVal = answer.stat;
    if (extended && answer.message >= 0) *arg(7).pbVal = static_cast<BYTE>(answer.message);
    Replace(arg(4).pbstrVal, answer.data);
    return S_OK;
  }

  FakeSwitch& owner_;
};

FakeSwitch::FakeSwitch(unsigned members)
    : object_(std::make_unique<Object>(*this)), members_(members) {
  object_->AddRef();  // the fake's own reference
  platform::RegisterInProcessClass(switch_protocol::CLSID_LorvethSwitch,
                                   [this](REFIID iid, void** object) {
                                     const HRESULT hr = creation_result_.load();
                                     if (FAILED(hr)) return hr;
                                     ++create_count_;
                                     return object_->QueryInterface(iid, object);
                                   });
}

FakeSwitch::~FakeSwitch() {
  platform::UnregisterInProcessClass(switch_protocol::CLSID_LorvethSwitch);
}

void FakeSwitch::AnswerBusy(int times) {
  for (int i = 0; i < times; ++i) QueueAnswer(Answer::Status(cmd_status::kDeviceNotResponding));
}

void FakeSwitch::SetContainerQueryResult(HRESULT hr) { object_->container_result = hr; }
int FakeSwitch::AdviseCount() const { return object_->AdviseCount(); }
size_t FakeSwitch::SinkCount() const { return object_->SinkCount(); }
ULONG FakeSwitch::ExternalReferences() const { return object_->References() - 1; }

FakeSwitch::Answer FakeSwitch::NextAnswer(const Frame& frame) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame);
    frames_.back().thread_id = GetCurrentThreadId();
    if (!script_.empty()) {
      Answer answer = std::move(script_.front());
      script_.pop_front();
      return answer;
    }
    handler = handler_;
  }
  return handler ? handler(frame) : Answer{};
}

HRESULT FakeSwitch::Answered(Answer& answer) {
  if (answer.delay_ms == 0 && !answer.block_until_cancelled) return answer.hr;
  platform::CancellableCall call;
  {
    std::lock_guard lock(mutex_);
    ++calls_waiting_;
  }
  changed_.notify_all();
  const bool cancelled =
      call.WaitForCancel(answer.block_until_cancelled ? kBlockLimitMs : answer.delay_ms);
  {
    std::lock_guard lock(mutex_);
    --calls_waiting_;
  }
  if (cancelled) return RPC_E_CALL_CANCELED;
  return answer.block_until_cancelled ? E_UNEXPECTED : answer.hr;
}

bool FakeSwitch::WaitForCallInProgress(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return calls_waiting_ > 0; });
}

HRESULT FakeSwitch::RaiseFieldsEvent(WORD oc, WORD oe, WORD oid, WORD cabid, BYTE stat,
                                     const std::vector<BYTE>& data) {
  VARIANTARG args[6];  // in reverse order: data, status, CABID, OID, OE, OC
  for (VARIANTARG& arg : args) VariantInit(&arg);
  const WORD fields[4] = {cabid, oid, oe, oc};
  for (int i = 0; i < 4; ++i) {
    args[2 + i].vt = VT_I2;
    args[2 + i].iVal = static_cast<SHORT>(fields[i]);
  }
  args[1].vt = VT_UI1;
  args[1].bVal = stat;
  args[0].vt = VT_BSTR;
  args[0].bstrVal = StringOrNull(data);
  DISPPARAMS params{args, nullptr, 6, 0};
  const HRESULT hr = object_->RaiseEvent(switch_protocol::kEventWithFields, &params);
  VariantClear(&args[0]);
  return hr;
}

HRESULT FakeSwitch::RaiseHeaderEvent(const std::vector<BYTE>& header,
                                     const std::vector<BYTE>& data) {
  VARIANTARG args[2];
  args[1].vt = VT_BSTR;
  args[1].bstrVal = MakeString(header);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = StringOrNull(data);
  DISPPARAMS params{args, nullptr, 2, 0};
  const HRESULT hr = object_->RaiseEvent(switch_protocol::kEventWithHeader, &params);
  VariantClear(&args[0]);
  VariantClear(&args[1]);
  return hr;
}

std::vector<BYTE> FakeSwitch::HeaderImage(DWORD oc, DWORD oe, DWORD oid, DWORD cabid, DWORD stat,
                                          DWORD len) {
  CmdHeader header{};
  std::memcpy(header.Signature, "$SIP", 4);
  header.Format = kCmdFrameFormat;
  header.HeaderLength = kCmdHeaderLength;
  header.Len = len;
  header.OC = oc;
  header.OE = oe;
  header.OID = oid;
  header.CABID = cabid;
  header.Stat = stat;
  std::vector<BYTE> image(kCmdImageSize, 0);
  std::memcpy(image.data(), &header, sizeof header);
  return image;
}

}  // namespace test_support
