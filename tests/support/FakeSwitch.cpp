// The fake switch object: dispatch, connection point container and
// connection point in one object.
#include "support/FakeSwitch.h"

#include <cstring>

#include "platform/system/Threads.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace test_support {

namespace {

// A blocked call gives up after this long so that a broken cancel fails the
// test instead of hanging it; the result is then not RPC_E_CALL_CANCELED.
constexpr DWORD kBlockLimitMs = 20000;

BSTR MakeString(const std::vector<BYTE>& bytes) {
  return SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                               static_cast<UINT>(bytes.size()));
}

std::vector<BYTE> BytesOf(BSTR text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  return std::vector<BYTE>(bytes, bytes + SysStringByteLen(text));
}

void Replace(BSTR* slot, const std::vector<BYTE>& bytes) {
  SysFreeString(*slot);
  *slot = bytes.empty() ? nullptr : MakeString(bytes);
}

}  // namespace

class FakeSwitch::Object final : public IDispatch,
                                 public IConnectionPointContainer,
                                 public IConnectionPoint {
 public:
  explicit Object(FakeSwitch& owner) : owner_(owner) {}
  virtual ~Object() = default;

  ULONG References() const { return references_.load(); }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
      const HRESULT hr = owner_.container_result_.load();
      if (FAILED(hr)) return hr;
      *object = static_cast<IConnectionPointContainer*>(this);
    } else if (iid == IID_IConnectionPoint) {
      *object = static_cast<IConnectionPoint*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override { return --references_; }

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = IdOf(names[i]);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    if (params == nullptr) return E_POINTER;
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

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (iid != switch_protocol::DIID_LorvethSwitchEvents) return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  HRESULT GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = switch_protocol::DIID_LorvethSwitchEvents;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (container == nullptr) return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    platform::ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(switch_protocol::DIID_LorvethSwitchEvents,
                                    events.ReleaseAndGetVoidAddress()))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard lock(owner_.mutex_);
    *cookie = owner_.next_cookie_++;
    owner_.sinks_.emplace_back(*cookie, std::move(events));
    ++owner_.advise_count_;
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    platform::ComPtr<IDispatch> released;
    std::lock_guard lock(owner_.mutex_);
    for (auto it = owner_.sinks_.begin(); it != owner_.sinks_.end(); ++it) {
      if (it->first == cookie) {
        released = std::move(it->second);
        owner_.sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  DISPID IdOf(LPCOLESTR name) const {
    if (name == nullptr) return DISPID_UNKNOWN;
    const std::u16string text(name);
    const unsigned members = owner_.members_;
    struct Known {
      const char16_t* name;
      DISPID id;
      unsigned member;
    };
    static const Known kKnown[] = {
        {u"SyncRequest", kIdSyncRequest, kLookedUpOnlyMembers},
        {u"DefaultTimeout", kIdDefaultTimeout, kLookedUpOnlyMembers},
        {u"VCRequest", kIdVCRequest, kVCRequestMember},
        {u"ServerCabinetNumber", kIdServerCabinetNumber, kLookedUpOnlyMembers},
        {u"ServerControlVersion", kIdServerControlVersion, kLookedUpOnlyMembers},
        {u"VCRequestEx", kIdVCRequestEx, kVCRequestExMember},
        {u"ClientName", kIdClientName, kClientNameMember},
        {u"CmdRequest", kIdCmdRequest, kCmdRequestMember},
    };
    for (const Known& known : kKnown) {
      if (text == known.name && (members & known.member) != 0) return known.id;
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
    std::string name;
    const BSTR text = params->rgvarg[0].bstrVal;
    for (UINT i = 0; i < SysStringLen(text); ++i) name.push_back(static_cast<char>(text[i]));
    std::lock_guard lock(owner_.mutex_);
    owner_.client_name_ = name;
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
    BSTR* header_slot = args[2].pbstrVal;
    BSTR* data_slot = args[1].pbstrVal;
    std::vector<BYTE> header = BytesOf(*header_slot);
    if (header.size() < sizeof(CmdHeader)) return DISP_E_TYPEMISMATCH;
    CmdHeader fields;
    std::memcpy(&fields, header.data(), sizeof fields);

    Frame frame;
    frame.method = kIdCmdRequest;
    frame.oc = fields.OC;
    frame.oe = fields.OE;
    frame.oid = fields.OID;
    frame.cabid = fields.CABID;
    frame.stat = fields.Stat;
    frame.mid_low = fields.MIDLow;
    frame.mid_high = fields.MIDHigh;
    frame.header_bytes = header.size();
    frame.data = BytesOf(*data_slot);
    frame.timeout = static_cast<WORD>(args[0].iVal);
    Answer answer = owner_.NextAnswer(frame);
    const HRESULT hr = owner_.Answered(answer);
    if (hr != S_OK) return hr;

    fields.Stat = answer.stat;
    fields.Len = static_cast<DWORD>(answer.data.size());
    std::memcpy(header.data(), &fields, sizeof fields);
    if (answer.header_bytes >= 0 && static_cast<size_t>(answer.header_bytes) < header.size()) {
      header.resize(static_cast<size_t>(answer.header_bytes));
    }
    Replace(header_slot, header);
    Replace(data_slot, answer.data);
    return S_OK;
  }

  HRESULT VCRequest(DISPPARAMS* params, bool extended) {
    const UINT count = extended ? 8 : 7;
    if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;
    VARIANTARG* args = params->rgvarg;
    const UINT last = count - 1;
    for (UINT i = 0; i < 4; ++i) {
      if (args[last - i].vt != VT_I2) return DISP_E_TYPEMISMATCH;
    }
    if (args[last - 4].vt != (VT_BSTR | VT_BYREF) || args[last - 5].vt != (VT_UI1 | VT_BYREF) ||
        args[last - 6].vt != VT_I2 || (extended && args[0].vt != (VT_UI1 | VT_BYREF))) {
      return DISP_E_TYPEMISMATCH;
    }
    Frame frame;
    frame.method = extended ? kIdVCRequestEx : kIdVCRequest;
    frame.oc = static_cast<WORD>(args[last].iVal);
    frame.oe = static_cast<WORD>(args[last - 1].iVal);
    frame.oid = static_cast<WORD>(args[last - 2].iVal);
    frame.cabid = static_cast<WORD>(args[last - 3].iVal);
    BSTR* data_slot = args[last - 4].pbstrVal;
    frame.data = BytesOf(*data_slot);
    frame.stat = *args[last - 5].pbVal;
    frame.timeout = static_cast<WORD>(args[last - 6].iVal);
    if (extended) frame.message = *args[0].pbVal;
    Answer answer = owner_.NextAnswer(frame);
    const HRESULT hr = owner_.Answered(answer);
    if (hr != S_OK) return hr;

    *args[last - 5].pbVal = answer.stat;
    if (extended && answer.message >= 0) *args[0].pbVal = static_cast<BYTE>(answer.message);
    Replace(data_slot, answer.data);
    return S_OK;
  }

  FakeSwitch& owner_;
  std::atomic<ULONG> references_{0};
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
  std::vector<std::pair<DWORD, platform::ComPtr<IDispatch>>> sinks;
  {
    std::lock_guard lock(mutex_);
    sinks.swap(sinks_);
  }
}

void FakeSwitch::AnswerBusy(int times) {
  for (int i = 0; i < times; ++i) QueueAnswer(Answer::Status(cmd_status::kDeviceNotResponding));
}

ULONG FakeSwitch::ExternalReferences() const { return object_->References() - 1; }

FakeSwitch::Answer FakeSwitch::NextAnswer(const Frame& frame) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    Frame recorded = frame;
    recorded.thread_id = GetCurrentThreadId();
    frames_.push_back(std::move(recorded));
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
  if (answer.delay_ms != 0 || answer.block_until_cancelled) {
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
    if (answer.block_until_cancelled) return E_UNEXPECTED;
  }
  return answer.hr;
}

bool FakeSwitch::WaitForCallInProgress(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return calls_waiting_ > 0; });
}

HRESULT FakeSwitch::RaiseEvent(DISPID id, DISPPARAMS* params) {
  std::vector<platform::ComPtr<IDispatch>> sinks;
  {
    std::lock_guard lock(mutex_);
    for (const auto& sink : sinks_) sinks.push_back(sink.second);
  }
  HRESULT hr = S_FALSE;
  for (const auto& sink : sinks) {
    hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                      nullptr);
  }
  return hr;
}

HRESULT FakeSwitch::RaiseFieldsEvent(WORD oc, WORD oe, WORD oid, WORD cabid, BYTE stat,
                                     const std::vector<BYTE>& data) {
  VARIANTARG args[6];
  for (VARIANTARG& arg : args) VariantInit(&arg);
  const WORD fields[4] = {oc, oe, oid, cabid};
  for (int i = 0; i < 4; ++i) {
    args[5 - i].vt = VT_I2;
    args[5 - i].iVal = static_cast<SHORT>(fields[i]);
  }
  args[1].vt = VT_UI1;
  args[1].bVal = stat;
  args[0].vt = VT_BSTR;
  args[0].bstrVal = data.empty() ? nullptr : MakeString(data);
  DISPPARAMS params{args, nullptr, 6, 0};
  const HRESULT hr = RaiseEvent(switch_protocol::kEventWithFields, &params);
  VariantClear(&args[0]);
  return hr;
}

HRESULT FakeSwitch::RaiseHeaderEvent(const std::vector<BYTE>& header,
                                     const std::vector<BYTE>& data) {
  VARIANTARG args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_BSTR;
  args[1].bstrVal = MakeString(header);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = data.empty() ? nullptr : MakeString(data);
  DISPPARAMS params{args, nullptr, 2, 0};
  const HRESULT hr = RaiseEvent(switch_protocol::kEventWithHeader, &params);
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
