// The switch client: attach, requests over the three request methods,
// cancellation, detach, and the event sink.
#include "switch/SwitchClient.h"

#include <cstddef>
#include <cstring>

#include "trace/FileDebug.h"

namespace {

using switch_protocol::kMethodCount;
using switch_protocol::kMethodNames;

struct FrameImage {
  CmdHeader header;
  BYTE word[4];
};
static_assert(sizeof(FrameImage) == kCmdImageSize);

constexpr DISPID kUnknownId = -1;
// Offset of the status byte inside a header that comes back as a string.
constexpr size_t kStatOffset = offsetof(CmdHeader, Stat);

void CopyName(char* target, const char* source, size_t capacity) {
  if (target == source) return;
  size_t length = 0;
  while (length < capacity && source[length] != 0) ++length;
  std::memmove(target, source, length);
  target[length] = 0;
}

void InitVariant(VARIANT* v, VARTYPE type) {
  VariantInit(v);
  v->vt = type;
}

}  // namespace

CSwitchClient::CSwitchClient() {
  InitializeCriticalSection(&lock_);
  for (DISPID& id : dispatch_ids_) id = kUnknownId;
  // The cancellation functions are not available on every system; each one
  // is looked up by name and may be missing.
  com_library_loaded_ = true;
  co_enable_call_cancellation_ = reinterpret_cast<platform::PFN_CoEnableCallCancellation>(
      platform::GetComProcAddress("CoEnableCallCancellation"));
  co_disable_call_cancellation_ = reinterpret_cast<platform::PFN_CoDisableCallCancellation>(
      platform::GetComProcAddress("CoDisableCallCancellation"));
  co_get_cancel_object_ = reinterpret_cast<platform::PFN_CoGetCancelObject>(
      platform::GetComProcAddress("CoGetCancelObject"));
  co_cancel_call_ =
      reinterpret_cast<platform::PFN_CoCancelCall>(platform::GetComProcAddress("CoCancelCall"));
}

CSwitchClient::~CSwitchClient() {
  TRACE(4, "\nCSwitchClient       : Start d'tor");
  if (cancel_enabled_) EnableCancelRequest(FALSE);
  if (event_thread_ != 0 && GetCurrentThreadId() == event_thread_) {
    try {
      EnableEvents(FALSE);
    } catch (...) {
      // A destructor must not throw; the sink is gone with this object anyway.
    }
  }
  Detach();
  com_threads_.clear();
  DeleteCriticalSection(&lock_);
  com_library_loaded_ = false;
  TRACE(4, "\nCSwitchClient       : End d'tor\n");
  connection_point_.Reset();
}

size_t CSwitchClient::ComThreadCount() const {
  CriticalSectionLock hold(lock_);
  return com_threads_.size();
}

// ---------------------------------------------------------------------------
// Hooks

void CSwitchClient::OnIncomingFrame(const BYTE* /*header_image*/, BSTR /*data*/) {}
void CSwitchClient::Reply(CommandBuffer& /*buffer*/) {}
void CSwitchClient::ReplyFields(DWORD /*OC*/, DWORD /*OE*/, DWORD /*OID*/, DWORD /*CABID*/,
                                DWORD /*Stat*/, const BYTE* /*data*/, DWORD /*length*/) {}
void CSwitchClient::ReplyDone(DWORD /*status*/) {}

// ---------------------------------------------------------------------------
// Attach and detach

void CSwitchClient::SetDefaultClientName(const char* name) {
  CopyName(default_client_name_, name != nullptr ? name : "", kMaxClientName);
}

BOOL CSwitchClient::Attach(const WCHAR* serverName) {
  TRACE(4, "\nCSwitchClient       : Attach() - Enter...");
  if (client_name_[0] == 0) CopyName(client_name_, default_client_name_, kMaxClientName);
  if (client_name_[0] != 0) {
    TRACE(3, "\nCSwitchClient       : Attach to SWITCH as module \"%s\"", client_name_);
  } else {
    TRACE(2, "\nCSwitchClient       : ## WARNING! Could not get a valid module name at Attach!");
  }

  CriticalSectionLock lock(lock_);
  const DWORD thread_id = GetCurrentThreadId();
  if (com_threads_.find(thread_id) == com_threads_.end()) {
    m_LasthResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    com_threads_[thread_id] = m_LasthResult;
    if (m_LasthResult == S_OK) {
      TRACE(4,
            "\nCSwitchClient       : Attach(): Thread ID %d: CoInitializeEx OK - was not called "
            "before!",
            thread_id);
    } else if (m_LasthResult == S_FALSE) {
      TRACE(4,
            "\nCSwitchClient       : Attach(): Thread ID %d: CoInitializeEx OK - was already "
            "called!",
            thread_id);
    } else if (m_LasthResult == RPC_E_CHANGED_MODE) {
      TRACE(4,
            "\nCSwitchClient       : Attach(): Thread ID %d: CoInitializeEx FAILED - thread mode "
            "could not be changed!",
            thread_id);
    }
  } else {
    TRACE(4,
          "\nCSwitchClient       : Attach(): Thread ID %d: CoInitializeEx OK - was already called "
          "here!",
          thread_id);
  }

  if (table_cookie_ != 0) {
    TRACE(3, "\nCSwitchClient       :   already attached");
    TRACE(4, "\nCSwitchClient       : Attach succeeded");
    return TRUE;
  }

  // The result only matters to the process's first caller; it is not checked.
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                       RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);

  if (serverName != nullptr && serverName[0] != 0 && serverName != server_name_) {
    size_t length = 0;
    while (length < kMaxServerName && serverName[length] != 0) ++length;
    std::memcpy(server_name_, serverName, length * sizeof(WCHAR));
    server_name_[length] = 0;
  }
  COSERVERINFO server_info{0, server_name_, nullptr, 0};

  const int attempt = 0;
  TRACE(4, "\nCSwitchClient       : Attach() - Try to create interface instance %d ...", attempt);
  MULTI_QI query{&IID_IDispatch, nullptr, S_OK};
  HRESULT hr = CoCreateInstanceEx(switch_protocol::CLSID_LorvethSwitch, nullptr,
                                  CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                  server_name_[0] != 0 ? &server_info : nullptr, 1, &query);
  if (SUCCEEDED(hr) && FAILED(query.hr)) hr = query.hr;
  m_LasthResult = hr;
  platform::ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(hr)) dispatch.Attach(static_cast<IDispatch*>(query.pItf));
  TRACE(4, "\nCSwitchClient       : ... Attach() - interface instance %d created %s!", attempt,
        SUCCEEDED(hr) ? "OK" : "FALSE");

  if (SUCCEEDED(hr) && dispatch) {
    TRACE(4, "\nCSwitchClient       : Attach() - create global interface table ...");
    const HRESULT table_hr =
        CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IGlobalInterfaceTable, interface_table_.ReleaseAndGetVoidAddress());
    TRACE(4, "\nCSwitchClient       : Attach() -   global interface created, hResult=0x%08X",
          static_cast<unsigned>(table_hr));
    HRESULT register_hr = table_hr;
    if (SUCCEEDED(table_hr) && interface_table_) {
      DWORD cookie = 0;
      register_hr = interface_table_->RegisterInterfaceInGlobal(dispatch.Get(), IID_IDispatch,
                                                                &cookie);
      if (SUCCEEDED(register_hr)) table_cookie_ = cookie;
    }
    TRACE(4, "\nCSwitchClient       : Attach(): Thread ID %d: RegisterInterfaceInGlobal %s!",
          thread_id, SUCCEEDED(register_hr) ? "OK" : "FALSE");
    attach_thread_ = thread_id;
  }

  if (dispatch) {
    TRACE(4, "\nCSwitchClient       : Attach() - Get dispatch IDs...");
    for (int i = 0; i < kMethodCount; ++i) {
      dispatch_ids_[i] = kUnknownId;
      WCHAR name[32] = {};
      for (size_t c = 0; c + 1 < sizeof name / sizeof name[0] && kMethodNames[i][c] != 0; ++c) {
        name[c] = kMethodNames[i][c];
      }
      LPOLESTR names[1] = {name};
      DISPID id = kUnknownId;
      if (SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id))) {
        dispatch_ids_[i] = id;
      }
      TRACE(4, "\nCSwitchClient       :   ID of method %ls = %d", name,
            static_cast<int>(dispatch_ids_[i]));
    }
    dispatch.Reset();  // the interface table holds the switch from here on
  }

  BOOL attached = FALSE;
  if (SUCCEEDED(hr)) {
    if (client_name_[0] != 0) ClientName(client_name_);
    attached = TRUE;
  }
  if (attached) {
    TRACE(4, "\nCSwitchClient       : Attach succeeded");
  } else {
    TRACE(1, "\nCSwitchClient       : ## ERROR! Attach to SWITCH failed, m_LasthResult=0x%08X",
          static_cast<unsigned>(m_LasthResult));
  }
  return attached;
}

void CSwitchClient::Detach() {
  CriticalSectionLock lock(lock_);
  if (table_cookie_ == 0) {
    TRACE(5, "\nCSwitchClient       : Detach() - not attached (ignored)");
    return;
  }
  try {
    TRACE(3, "\nCSwitchClient       : Detach from SWITCH");
    const DWORD thread_id = GetCurrentThreadId();
    if (thread_id != attach_thread_) {
      TRACE(1,
            "\nCSwitchClient       : WARNING! Attach was done using thread %d current thread is "
            "%d! RevokeInterfaceFromGlobal() skipped!",
            attach_thread_, thread_id);
    } else {
      TRACE(4, "\nCSwitchClient       : Detach(): Start revoke global interface table...");
      const HRESULT hr = interface_table_->RevokeInterfaceFromGlobal(table_cookie_);
      TRACE(4, "\nCSwitchClient       : Detach(): Revoke RevokeInterfaceFromGlobal returned 0x%X",
            static_cast<unsigned>(hr));
      interface_table_.Reset();
      TRACE(4, "\nCSwitchClient       : Detach(): ... global interface table released");
      table_cookie_ = 0;
      attach_thread_ = 0;
      auto entry = com_threads_.find(thread_id);
      if (entry != com_threads_.end()) {
        // Only a thread whose own initialisation succeeded owes an uninitialise.
        if (entry->second == S_OK || entry->second == S_FALSE) CoUninitialize();
        com_threads_.erase(entry);
      }
    }
  } catch (...) {
    TRACE(1, "\nCSwitchClient       : Detach() - EXCEPTION!");
  }
  TRACE(4, "\nCSwitchClient       : ... Detach() done!");
}

// ---------------------------------------------------------------------------
// Requests

void CSwitchClient::TraceFrame(const char* line, const CmdHeader* header) const {
  TRACE(3, line, static_cast<int>(header->CABID), header->OC, header->OE, header->OID,
        static_cast<unsigned>(header->MIDHigh), static_cast<unsigned>(header->MIDLow),
        header->Stat, static_cast<int>(header->Len));
}

BOOL CSwitchClient::CmdRequest(CmdHeader* header, BYTE** data, WORD timeout, DWORD retries,
                               WORD retryIncrement) {
  m_LasthResult = RPC_E_SERVER_DIED_DNE;
  if (header == nullptr) {
    TRACE(1, "\nCSwitchClient       : ## ERROR in CmdRequest(): pCmdHeader = NULL!");
    return FALSE;
  }
  if (header->HeaderLength < kCmdHeaderLength || std::memcmp(header->Signature, "$SIP", 4) != 0) {
    TRACE(1, "\nCSwitchClient       : ## ERROR in CmdRequest(): CmdHeader corrupt!");
    return FALSE;
  }
  if (keep_message_id_) {
    keep_message_id_ = false;
  } else {
    header->MIDLow = 0;
    header->MIDHigh = 0;
  }
  TraceFrame(
      "\nCSwitchClient       : CmdRequest() IN  CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID "
      "0x%04X%04X Stat 0x%02X Len %04d",
      header);

  CriticalSectionLock lock(lock_);
  BOOL ok = FALSE;
  try {
    if (table_cookie_ != 0) {
      m_LasthResult = S_OK;
      int method = -1;
      if (dispatch_ids_[switch_protocol::kCmdRequest] != kUnknownId) {
        method = switch_protocol::kCmdRequest;
      } else if (dispatch_ids_[switch_protocol::kVCRequestEx] != kUnknownId) {
        method = switch_protocol::kVCRequestEx;
      } else if (dispatch_ids_[switch_protocol::kVCRequest] != kUnknownId) {
        method = switch_protocol::kVCRequest;
      }
      if (method < 0) {
        m_LasthResult = RPC_E_INVALIDMETHOD;
      } else {
        m_LasthResult = CallRequestMethod(dispatch_ids_[method], method, header, data, timeout,
                                          retries, retryIncrement);
      }
    }
    ok = m_LasthResult == S_OK;
  } catch (...) {
    TRACE(1, "\nCSwitchClient       : ## EXCEPTION in CmdRequest()!");
    ok = FALSE;
  }
  TraceFrame(
      "\nCSwitchClient       : CmdRequest() OUT CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID "
      "0x%04X%04X Stat 0x%02X Len %04d",
      header);
  return ok;
}

HRESULT CSwitchClient::CallRequestMethod(DISPID method, int index, CmdHeader* header,
                                         BYTE** data, WORD timeout, DWORD retries,
                                         WORD retryIncrement) {
  // The header struct is all there is of the caller's header: a larger
  // declared length has no bytes behind it, so at most 48 are sent and
  // copied back.
  const size_t header_bytes = sizeof(CmdHeader);
  const BYTE* request_data = data != nullptr ? *data : nullptr;
  const DWORD request_length = request_data != nullptr ? header->Len : 0;

  BSTR header_string = nullptr;
  BSTR data_string = nullptr;
  BYTE status = 0;
  BYTE message = 0;
  WORD call_timeout = timeout;
  DWORD extra_attempts = retries;
  HRESULT hr = S_OK;
  for (;;) {
    // Each attempt sends the original request, whatever the last one returned.
    SysFreeString(header_string);
    SysFreeString(data_string);
    header_string = nullptr;
    data_string = nullptr;
    if (index == switch_protocol::kCmdRequest) {
      header_string = SysAllocStringByteLen(reinterpret_cast<const char*>(header),
                                            static_cast<UINT>(header_bytes));
      if (header_string == nullptr) {
        hr = E_OUTOFMEMORY;
        break;
      }
    }
    if (request_length != 0) {
      data_string =
          SysAllocStringByteLen(reinterpret_cast<const char*>(request_data), request_length);
      if (data_string == nullptr) {
        hr = E_OUTOFMEMORY;
        break;
      }
    }
    status = static_cast<BYTE>(header->Stat & 0xFF);
    message = static_cast<BYTE>((header->MIDLow & 0x3F) + (header->MIDHigh << 6));

    VARIANTARG args[8];
    UINT count = 0;
    // Arguments go in reverse order: args[0] is the last one of the call.
    if (index == switch_protocol::kCmdRequest) {
      count = 3;
      InitVariant(&args[2], VT_BSTR | VT_BYREF);
      args[2].pbstrVal = &header_string;
      InitVariant(&args[1], VT_BSTR | VT_BYREF);
      args[1].pbstrVal = &data_string;
      InitVariant(&args[0], VT_I2);
      args[0].iVal = static_cast<SHORT>(call_timeout);
    } else {
      count = index == switch_protocol::kVCRequestEx ? 8 : 7;
      const UINT last = count - 1;
      const DWORD fields[4] = {header->OC, header->OE, header->OID, header->CABID};
      for (UINT i = 0; i < 4; ++i) {
        InitVariant(&args[last - i], VT_I2);
        args[last - i].iVal = static_cast<SHORT>(fields[i] & 0xFFFF);
      }
      InitVariant(&args[last - 4], VT_BSTR | VT_BYREF);
      args[last - 4].pbstrVal = &data_string;
      InitVariant(&args[last - 5], VT_UI1 | VT_BYREF);
      args[last - 5].pbVal = &status;
      InitVariant(&args[last - 6], VT_I2);
      args[last - 6].iVal = static_cast<SHORT>(call_timeout);
      if (count == 8) {
        InitVariant(&args[0], VT_UI1 | VT_BYREF);
        args[0].pbVal = &message;
      }
    }
    DISPPARAMS params{args, nullptr, count, 0};

    TRACE(4, "\nCSwitchClient       : CmdRequest() - call InvokeEx()...");
    hr = InvokeEx(method, DISPATCH_METHOD, &params, nullptr);
    TRACE(4, "\nCSwitchClient       : CmdRequest() - ... return from InvokeEx(), hResult=0x%08X",
          static_cast<unsigned>(hr));
    if (index == switch_protocol::kCmdRequest) {
      status = SysStringByteLen(header_string) > kStatOffset
                   ? reinterpret_cast<const BYTE*>(header_string)[kStatOffset]
                   : static_cast<BYTE>(header->Stat & 0xFF);
    }
    call_timeout = static_cast<WORD>(call_timeout + retryIncrement);
    if (FAILED(hr) || status != cmd_status::kDeviceNotResponding || extra_attempts == 0) break;
    --extra_attempts;
  }

  if (index == switch_protocol::kCmdRequest) {
    if (header_string != nullptr) {
      size_t returned = SysStringByteLen(header_string);
      if (returned > header_bytes) returned = header_bytes;
      std::memcpy(header, header_string, returned);
    }
  } else {
    header->Stat = static_cast<DWORD>(static_cast<int32_t>(static_cast<int8_t>(status)));
    if (index == switch_protocol::kVCRequestEx) {
      header->MIDLow = static_cast<WORD>(message & 0x3F);
      header->MIDHigh = static_cast<WORD>(message >> 6);
    }
  }
  // After a failed call the in/out string still holds what was sent; it is
  // no reply, so the caller's frame keeps the failure status.
  if (hr == S_OK && data_string != nullptr && SysStringByteLen(data_string) != 0) {
    header->Len = SysStringByteLen(data_string);
    if (data != nullptr) {
      *data = reinterpret_cast<BYTE*>(data_string);
      data_string = nullptr;
    }
  } else {
    header->Len = 0;
    if (data != nullptr) *data = nullptr;
  }
  SysFreeString(header_string);
  SysFreeString(data_string);
  return hr;
}

HRESULT CSwitchClient::InvokeEx(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* exception, UINT* arg_error) {
  m_LasthResult = static_cast<HRESULT>(RPC_S_CALL_CANCELLED);
  if (cancelled_) {
    TRACE(2, "\nCSwitchClient       : InvokeEx() - ## cancelled!");
    return static_cast<HRESULT>(RPC_S_CALL_CANCELLED);
  }
  platform::ComPtr<IDispatch> dispatch;
  HRESULT hr = E_INVALIDARG;  // what the table answers for a cookie it does not hold
  {
    CriticalSectionLock lock(lock_);
    if (interface_table_) {
      hr = interface_table_->GetInterfaceFromGlobal(table_cookie_, IID_IDispatch,
                                                   dispatch.ReleaseAndGetVoidAddress());
    }
  }
  m_LasthResult = hr;
  if (FAILED(hr) || !dispatch) {
    if (SUCCEEDED(hr)) hr = m_LasthResult = E_POINTER;
    TRACE(1, "\nCSwitchClient       : InvokeEx() FAILED! (HResult = 0x%X)",
          static_cast<unsigned>(hr));
    return hr;
  }
  const DWORD thread_id = GetCurrentThreadId();
  calling_thread_ = thread_id;
  TRACE(5, "\nCSwitchClient       : InvokeEx() - current thread ID = %d", thread_id);
  hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, exception,
                        arg_error);
  calling_thread_ = 0;
  m_LasthResult = hr;
  return hr;
}

BOOL CSwitchClient::ClientName(const char* name) {
  BOOL result = FALSE;
  if (name != nullptr) {
    CopyName(client_name_, name, kMaxClientName);
    result = TRUE;
  }
  CriticalSectionLock lock(lock_);
  const DISPID id = dispatch_ids_[switch_protocol::kClientName];
  if (client_name_[0] != 0 && table_cookie_ != 0 && id != kUnknownId) {
    WCHAR wide[kMaxClientName + 1] = {};
    for (size_t i = 0; i < kMaxClientName && client_name_[i] != 0; ++i) {
      wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(client_name_[i]));
    }
    VARIANT value;
    InitVariant(&value, VT_BSTR);
    value.bstrVal = SysAllocString(wide);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    const HRESULT hr = InvokeEx(id, DISPATCH_PROPERTYPUT, &params, nullptr);
    VariantClear(&value);
    result = hr == S_OK;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Cancellation

BOOL CSwitchClient::EnableCancelRequest(BOOL enable) {
  HRESULT hr = S_FALSE;
  if (co_enable_call_cancellation_ == nullptr || co_disable_call_cancellation_ == nullptr) {
    TRACE(4,
          "\nCSwitchClient       : EnableCancelRequest() - pointers to cancel functions not "
          "available (NT4?)");
    TRACE(4, "\nCSwitchClient       : EnableCancelRequest(%d) - hResult = 0x%08X",
          static_cast<int>(enable), static_cast<unsigned>(hr));
    return FALSE;
  }
  if (enable) {
    hr = co_enable_call_cancellation_(nullptr);
    if (hr == S_OK) cancel_enabled_ = true;
  } else {
    hr = co_disable_call_cancellation_(nullptr);
    cancel_enabled_ = false;
    cancelled_ = false;
  }
  TRACE(4, "\nCSwitchClient       : EnableCancelRequest(%d) - hResult = 0x%08X",
        static_cast<int>(enable), static_cast<unsigned>(hr));
  return hr == S_OK;
}

BOOL CSwitchClient::CancelRequest(DWORD timeoutSeconds) {
  cancelled_ = true;
  const DWORD thread_id = calling_thread_;
  if (thread_id == 0) {
    TRACE(5, "\nCSwitchClient       : CancelRequest() - no active thread available; ignored");
    return FALSE;
  }
  if (!cancel_enabled_) {
    TRACE(5, "\nCSwitchClient       : CancelRequest() - Cancel request not enabled; ignored");
    return FALSE;
  }
  HRESULT hr = E_NOTIMPL;
  if (co_cancel_call_ != nullptr) {
    TRACE(3,
          "\nCSwitchClient       : CancelRequest() - cancel Invoke() with thread ID=%d Timout %d "
          "sec",
          thread_id, static_cast<int>(timeoutSeconds));
    hr = co_cancel_call_(thread_id, timeoutSeconds);
  } else if (co_get_cancel_object_ != nullptr) {
    TRACE(3, "\nCSwitchClient       : CancelRequest() - cancel Invoke() with thread ID=%d",
          thread_id);
    platform::ComPtr<ICancelMethodCalls> cancel;
    hr = co_get_cancel_object_(thread_id, IID_ICancelMethodCalls,
                               cancel.ReleaseAndGetVoidAddress());
    if (SUCCEEDED(hr) && cancel) hr = cancel->Cancel(1);
  }
  TRACE(3, "\nCSwitchClient       : CancelRequest() - cancel result = 0x%08X",
        static_cast<unsigned>(hr));
  return hr == S_OK;
}

// ---------------------------------------------------------------------------
// Events

BOOL CSwitchClient::EnableEvents(BOOL enable) {
  const DWORD thread_id = GetCurrentThreadId();
  if (!enable) {
    TRACE(3, "\nCSwitchClient       : Disable events");
    if (advise_cookie_ != 0 && thread_id == event_thread_) {
      try {
        TRACE(4, "\nCSwitchClient       : EnableEvents() - start unadvise");
        m_LasthResult =
            connection_point_ ? connection_point_->Unadvise(advise_cookie_) : E_POINTER;
        TRACE(4, "\nCSwitchClient       : Thread ID %d: Unadvise %s!", thread_id,
              SUCCEEDED(m_LasthResult) ? "OK" : "FAILED");
        connection_point_.Reset();
      } catch (...) {
        TRACE(1, "\nCSwitchClient       : EnableEvents() - EXCEPTION during unadvise\n");
      }
      advise_cookie_ = 0;
      event_thread_ = 0;
      Detach();
      TRACE(4, "\nCSwitchClient       : EnableEvents() - end unadvise");
    }
    return SUCCEEDED(m_LasthResult);
  }

  if (advise_cookie_ != 0) {
    m_LasthResult = S_OK;
    TRACE(3, "\nCSwitchClient       : Events at \"%ws\" already enabled!", server_name_);
    return TRUE;
  }
  TRACE(3, "\nCSwitchClient       : Enable events at \"%ws\"", server_name_);
  Attach(server_name_);

  platform::ComPtr<IDispatch> dispatch;
  {
    CriticalSectionLock lock(lock_);
    if (!interface_table_ || table_cookie_ == 0) {
      // Not attached: the same result as a request without a switch.
      if (SUCCEEDED(m_LasthResult)) m_LasthResult = RPC_E_SERVER_DIED_DNE;
      return FALSE;
    }
    const HRESULT hr = interface_table_->GetInterfaceFromGlobal(
        table_cookie_, IID_IDispatch, dispatch.ReleaseAndGetVoidAddress());
    if (FAILED(hr) || !dispatch) {
      m_LasthResult = FAILED(hr) ? hr : E_POINTER;
      return FALSE;
    }
  }

  platform::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = dispatch.QueryInterface(IID_IConnectionPointContainer, &container);
  if (FAILED(hr) && hr != E_NOINTERFACE) throw ComError(hr);
  if (SUCCEEDED(hr) && container) {
    hr = container->FindConnectionPoint(switch_protocol::DIID_LorvethSwitchEvents,
                                        connection_point_.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && connection_point_) {
      DWORD cookie = 0;
      hr = connection_point_->Advise(static_cast<IDispatch*>(this), &cookie);
      if (SUCCEEDED(hr)) {
        advise_cookie_ = cookie;
        event_thread_ = thread_id;
      }
    }
  }
  m_LasthResult = hr;
  TRACE(4, "\nCSwitchClient       : Advise %s!", SUCCEEDED(hr) ? "OK" : "FAILED");
  return SUCCEEDED(m_LasthResult);
}

// ---------------------------------------------------------------------------
// IDispatch: the event sink

HRESULT CSwitchClient::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == switch_protocol::DIID_LorvethSwitchEvents || iid == IID_IDispatch ||
      iid == IID_IUnknown) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CSwitchClient::AddRef() { return ++references_; }

ULONG CSwitchClient::Release() { return --references_; }

HRESULT CSwitchClient::GetTypeInfoCount(UINT* /*count*/) { return E_NOTIMPL; }

HRESULT CSwitchClient::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** /*info*/) {
  return E_NOTIMPL;
}

HRESULT CSwitchClient::GetIDsOfNames(REFIID /*iid*/, LPOLESTR* /*names*/, UINT /*count*/,
                                     LCID /*locale*/, DISPID* /*ids*/) {
  return E_NOTIMPL;
}

HRESULT CSwitchClient::DecodeEvent(DISPID id, DISPPARAMS* params, BYTE* image_bytes,
                                   BSTR* data) const {
  if (params == nullptr || (params->cArgs != 0 && params->rgvarg == nullptr)) {
    return DISP_E_PARAMNOTFOUND;
  }
  if (id == switch_protocol::kEventDispatchFirst || id == switch_protocol::kEventDispatchSecond) {
    return E_NOTIMPL;
  }
  if (id != switch_protocol::kEventWithFields && id != switch_protocol::kEventWithHeader) {
    return DISP_E_MEMBERNOTFOUND;
  }
  const VARIANTARG* args = params->rgvarg;  // args[0] is the last argument
  FrameImage image;
  std::memcpy(&image, image_bytes, sizeof image);
  if (id == switch_protocol::kEventWithFields) {
    if (params->cArgs != 6) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 2; i < 6; ++i) {
      if (args[i].vt != VT_I2) return DISP_E_TYPEMISMATCH;
    }
    if (args[1].vt != VT_UI1 || args[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    image.header.OC = static_cast<WORD>(args[5].iVal);
    image.header.OE = static_cast<WORD>(args[4].iVal);
    image.header.OID = static_cast<WORD>(args[3].iVal);
    image.header.CABID = static_cast<WORD>(args[2].iVal);
    image.header.Stat = args[1].bVal;
    *data = args[0].bstrVal;
    image.header.Len = SysStringByteLen(*data);
  } else {
    if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    if (args[1].vt != VT_BSTR || args[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    // A header string too short for the header image, or a data string
    // shorter than the Len its header announces, cannot be read without
    // reading past its end: both are refused with E_INVALIDARG and nothing
    // reaches Reply.
    const BSTR header_string = args[1].bstrVal;
    if (SysStringByteLen(header_string) < kCmdImageSize) return E_INVALIDARG;
    std::memcpy(&image, header_string, sizeof image);
    *data = args[0].bstrVal;
    if (image.header.Len > SysStringByteLen(*data)) return E_INVALIDARG;
  }
  std::memcpy(image_bytes, &image, sizeof image);
  return S_OK;
}

HRESULT CSwitchClient::Invoke(DISPID id, REFIID /*iid*/, LCID /*locale*/, WORD /*flags*/,
                              DISPPARAMS* params, VARIANT* /*result*/, EXCEPINFO* /*exception*/,
                              UINT* /*arg_error*/) {
  FrameImage image{};
  std::memcpy(image.header.Signature, "$SIP", 4);
  image.header.Format = kCmdFrameFormat;
  image.header.HeaderLength = kCmdHeaderLength;
  BSTR data = nullptr;
  const HRESULT hr = DecodeEvent(id, params, reinterpret_cast<BYTE*>(&image), &data);
  if (FAILED(hr)) return hr;

  OnIncomingFrame(reinterpret_cast<const BYTE*>(&image), data);
  CommandBuffer buffer;
  buffer.CopyHeaderIn(&image);
  buffer.SetFrameData(data, image.header.Len, image.header.Stat);
  try {
    Reply(buffer);
  } catch (...) {
    // The caller is the switch's delivery thread: nothing it could do with
    // an exception, and the event has been handed over either way.
  }
  return S_OK;
}
