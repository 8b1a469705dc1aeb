// The switch object: request methods, properties and the event connection point.
#include "services/switchd/SwitchObject.h"

#include <cstring>
#include <vector>

#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace switchd {

namespace {

struct Member {
  const char16_t* name;
  DISPID id;
};

constexpr Member kMembers[] = {
    {u"CmdRequest", dispid::kCmdRequest},
    {u"VCRequestEx", dispid::kVCRequestEx},
    {u"VCRequest", dispid::kVCRequest},
    {u"ClientName", dispid::kClientName},
    {u"SyncRequest", dispid::kSyncRequest},
    {u"DefaultTimeout", dispid::kDefaultTimeout},
    {u"ServerCabinetNumber", dispid::kServerCabinetNumber},
    {u"ServerControlVersion", dispid::kServerControlVersion},
    {u"EventForm", dispid::kEventForm},
};

// Names are compared without regard to ASCII case, as automation does.
bool SameName(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    const auto fold = [](char16_t c) {
      return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

std::string_view BytesOf(BSTR text) {
  return std::string_view(reinterpret_cast<const char*>(text), SysStringByteLen(text));
}

// Replaces the string a by-reference argument points at.
HRESULT ReplaceString(BSTR* slot, const std::vector<BYTE>& bytes) {
  BSTR fresh = nullptr;
  if (!bytes.empty()) {
    fresh = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<UINT>(bytes.size()));
    if (fresh == nullptr) return E_OUTOFMEMORY;
  }
  SysFreeString(*slot);
  *slot = fresh;
  return S_OK;
}

bool IsTimeout(const VARIANTARG& arg) {
  return arg.vt == VT_I2 || arg.vt == VT_UI2 || arg.vt == VT_I4;
}

HRESULT LongResult(WORD flags, DISPPARAMS* params, VARIANT* result, LONG value) {
  if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
  if (result != nullptr) {
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = value;
  }
  return S_OK;
}

// The one value of a property put.
const VARIANTARG* PutValue(DISPPARAMS* params, HRESULT* hr) {
  if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
      params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
    *hr = DISP_E_BADPARAMCOUNT;
    return nullptr;
  }
  return &params->rgvarg[0];
}

}  // namespace

SwitchObject* SwitchObject::Create(std::shared_ptr<ThresholdModule> module,
                                   std::shared_ptr<EventHub> hub) {
  auto* object = new SwitchObject(std::move(module), std::move(hub));
  object->AddRef();
  return object;
}

platform::ClassFactory SwitchObject::Factory(std::shared_ptr<ThresholdModule> module,
                                             std::shared_ptr<EventHub> hub) {
  return [module, hub](REFIID iid, void** object) -> HRESULT {
    SwitchObject* created = Create(module, hub);
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  };
}

SwitchObject::SwitchObject(std::shared_ptr<ThresholdModule> module, std::shared_ptr<EventHub> hub)
    : module_(std::move(module)), hub_(std::move(hub)) {}

SwitchObject::~SwitchObject() {
  // A client that went away without unadvising gets no more events.
  for (const DWORD cookie : cookies_) hub_->Unsubscribe(cookie);
}

HRESULT SwitchObject::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *object = static_cast<IDispatch*>(this);
  } else if (iid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (iid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG SwitchObject::AddRef() { return ++references_; }

ULONG SwitchObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT SwitchObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT SwitchObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT SwitchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (names[i] != nullptr) {
      for (const Member& member : kMembers) {
        if (SameName(names[i], member.name)) ids[i] = member.id;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT SwitchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO*, UINT*) {
  if (params == nullptr || (params->cArgs != 0 && params->rgvarg == nullptr)) return E_POINTER;
  switch (id) {
    case dispid::kCmdRequest:
      return CmdRequest(params);
    case dispid::kVCRequestEx:
      return VCRequest(params, true);
    case dispid::kVCRequest:
      return VCRequest(params, false);
    case dispid::kClientName:
      return ClientNameProperty(flags, params, result);
    case dispid::kEventForm:
      return EventFormProperty(flags, params, result);
    case dispid::kSyncRequest:
      return LongResult(flags, params, result, 0);
    case dispid::kDefaultTimeout:
      return LongResult(flags, params, result, kDefaultTimeoutSeconds);
    case dispid::kServerCabinetNumber:
      return LongResult(flags, params, result, kServerCabinetNumber);
    case dispid::kServerControlVersion:
      return LongResult(flags, params, result, kServerControlVersion);
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

ModuleReply SwitchObject::Answer(const ModuleRequest& request) {
  ModuleReply reply = module_->Handle(request);
  if (reply.changed_table) hub_->Broadcast(EventFrame::Change(*reply.changed_table));
  return reply;
}

HRESULT SwitchObject::CmdRequest(DISPPARAMS* params) {
  if (params->cArgs != 3 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  VARIANTARG* args = params->rgvarg;
  if (args[2].vt != (VT_BSTR | VT_BYREF) || args[1].vt != (VT_BSTR | VT_BYREF) ||
      args[2].pbstrVal == nullptr || args[1].pbstrVal == nullptr || !IsTimeout(args[0])) {
    return DISP_E_TYPEMISMATCH;
  }
  BSTR* header_slot = args[2].pbstrVal;
  BSTR* data_slot = args[1].pbstrVal;
  const std::string_view header_bytes = BytesOf(*header_slot);
  // Without a whole header there is nowhere to put a status.
  if (header_bytes.size() < sizeof(CmdHeader)) return DISP_E_TYPEMISMATCH;
  CmdHeader header;
  std::memcpy(&header, header_bytes.data(), sizeof header);

  ModuleReply reply;
  if (std::memcmp(header.Signature, "$SIP", 4) != 0 || header.HeaderLength < kCmdHeaderLength) {
    reply.stat = cmd_status::kInterfaceCorrupt;
  } else {
    reply = Answer({header.OC, header.OE, header.OID, header.CABID, BytesOf(*data_slot)});
  }
  header.Stat = reply.stat;
  header.Len = static_cast<DWORD>(reply.data.size());
  std::vector<BYTE> returned(header_bytes.begin(), header_bytes.end());
  std::memcpy(returned.data(), &header, sizeof header);
  const HRESULT hr = ReplaceString(header_slot, returned);
  if (FAILED(hr)) return hr;
  return ReplaceString(data_slot, reply.data);
}

HRESULT SwitchObject::VCRequest(DISPPARAMS* params, bool extended) {
  const UINT count = extended ? 8 : 7;
  if (params->cArgs != count || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
  VARIANTARG* args = params->rgvarg;
  const UINT last = count - 1;  // arguments are stored last first
  DWORD fields[4];
  for (UINT i = 0; i < 4; ++i) {
    if (args[last - i].vt != VT_I2) return DISP_E_TYPEMISMATCH;
    fields[i] = static_cast<WORD>(args[last - i].iVal);
  }
  if (args[last - 4].vt != (VT_BSTR | VT_BYREF) || args[last - 4].pbstrVal == nullptr ||
      args[last - 5].vt != (VT_UI1 | VT_BYREF) || args[last - 5].pbVal == nullptr ||
      !IsTimeout(args[last - 6]) ||
      (extended && (args[0].vt != (VT_UI1 | VT_BYREF) || args[0].pbVal == nullptr))) {
    return DISP_E_TYPEMISMATCH;
  }
  BSTR* data_slot = args[last - 4].pbstrVal;
  const ModuleReply reply =
      Answer({fields[0], fields[1], fields[2], fields[3], BytesOf(*data_slot)});
  *args[last - 5].pbVal = static_cast<BYTE>(reply.stat);
  return ReplaceString(data_slot, reply.data);
}

HRESULT SwitchObject::ClientNameProperty(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if ((flags & DISPATCH_PROPERTYPUT) != 0) {
    HRESULT hr = S_OK;
    const VARIANTARG* value = PutValue(params, &hr);
    if (value == nullptr) return hr;
    if (value->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    std::string name;
    const UINT length = SysStringLen(value->bstrVal);
    for (UINT i = 0; i < length; ++i) {
      const char16_t c = value->bstrVal[i];
      name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    std::lock_guard lock(mutex_);
    client_name_ = std::move(name);
    return S_OK;
  }
  if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
  if (result != nullptr) {
    std::u16string wide;
    for (const char c : ClientNameText()) wide.push_back(static_cast<unsigned char>(c));
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  return S_OK;
}

HRESULT SwitchObject::EventFormProperty(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if ((flags & DISPATCH_PROPERTYPUT) != 0) {
    HRESULT hr = S_OK;
    const VARIANTARG* value = PutValue(params, &hr);
    if (value == nullptr) return hr;
    LONG form = 0;
    if (value->vt == VT_I2) {
      form = value->iVal;
    } else if (value->vt == VT_I4) {
      form = value->lVal;
    } else if (value->vt == VT_UI1) {
      form = value->bVal;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    if (form != static_cast<LONG>(EventForm::kFields) &&
        form != static_cast<LONG>(EventForm::kHeader)) {
      return DISP_E_OVERFLOW;
    }
    std::lock_guard lock(mutex_);
    form_ = static_cast<EventForm>(form);
    return S_OK;
  }
  EventForm form;
  {
    std::lock_guard lock(mutex_);
    form = form_;
  }
  return LongResult(flags, params, result, static_cast<LONG>(form));
}

std::string SwitchObject::ClientNameText() const {
  std::lock_guard lock(mutex_);
  return client_name_;
}

HRESULT SwitchObject::EnumConnectionPoints(IEnumConnectionPoints**) { return E_NOTIMPL; }

HRESULT SwitchObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (iid != switch_protocol::DIID_LorvethSwitchEvents) return CONNECT_E_NOCONNECTION;
  *point = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT SwitchObject::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = switch_protocol::DIID_LorvethSwitchEvents;
  return S_OK;
}

HRESULT SwitchObject::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = static_cast<IConnectionPointContainer*>(this);
  AddRef();
  return S_OK;
}

HRESULT SwitchObject::Advise(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = 0;
  platform::ComPtr<IDispatch> events;
  if (FAILED(sink->QueryInterface(switch_protocol::DIID_LorvethSwitchEvents,
                                  events.ReleaseAndGetVoidAddress()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::lock_guard lock(mutex_);
  // The hub knows the sink by its event interface, which is the pointer the
  // remoting's re-advise hook reports.
  *cookie = hub_->Subscribe(events.Get(), form_, client_name_);
  cookies_.insert(*cookie);
  return S_OK;
}

HRESULT SwitchObject::Unadvise(DWORD cookie) {
  {
    std::lock_guard lock(mutex_);
    if (cookies_.erase(cookie) == 0) return CONNECT_E_NOCONNECTION;
  }
  hub_->Unsubscribe(cookie);
  return S_OK;
}

HRESULT SwitchObject::EnumConnections(IEnumConnections**) { return E_NOTIMPL; }

}  // namespace switchd
