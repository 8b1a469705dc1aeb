// A small in-process COM: the interfaces, result codes, byte strings, variants,
// apartments, class activation, the global interface table and call
// cancellation that the agent's switch connection uses, by their Windows names.
//
// Servers register a factory under their class id; clients create them with
// CoCreateInstanceEx and call them through IDispatch:
//
//   platform::RegisterInProcessClass(clsid, [](REFIID iid, void** out) { ... });
//   MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
//   HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &qi);
//
// Classes that live in another process are reached through an activator
// (platform::SetClassActivator); the one installed from the start is the
// socket remoting of platform/com/ComRemoting.h.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/WinTypes.h"

// ---------------------------------------------------------------------------
// Identifiers

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// The interface ids are those of the system, so that a peer speaking the same
// wire format can use them unchanged.
inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IGlobalInterfaceTable = {
    0x00000146, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ICancelMethodCalls = {
    0x00000029, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr CLSID CLSID_StdGlobalInterfaceTable = {
    0x00000323, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ---------------------------------------------------------------------------
// Result codes

inline constexpr HRESULT MakeHResult(uint32_t value) { return static_cast<HRESULT>(value); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
inline constexpr HRESULT RPC_E_CALL_REJECTED = MakeHResult(0x80010001);
inline constexpr HRESULT RPC_E_CALL_CANCELED = MakeHResult(0x80010002);
inline constexpr HRESULT RPC_E_SERVER_DIED = MakeHResult(0x80010007);
// The data of a call or of its reply could not be read.
inline constexpr HRESULT RPC_E_INVALID_DATA = MakeHResult(0x8001000F);
// The server is not available and the call was never made.
inline constexpr HRESULT RPC_E_SERVER_DIED_DNE = MakeHResult(0x80010008);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
// The server does not offer the method that was asked for.
inline constexpr HRESULT RPC_E_INVALIDMETHOD = MakeHResult(0x80010107);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
inline constexpr HRESULT RPC_E_WRONG_THREAD = MakeHResult(0x8001010E);
inline constexpr HRESULT RPC_S_CALLPENDING = MakeHResult(0x80010115);
inline constexpr HRESULT RPC_E_TOO_LATE = MakeHResult(0x80010119);
inline constexpr HRESULT RPC_E_CALL_COMPLETE = MakeHResult(0x8001011C);
// The call did not complete within the caller's time limit.
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);
inline constexpr HRESULT CO_E_CANCEL_DISABLED = MakeHResult(0x80010140);

// The system error code (not an HRESULT) of a call that was cancelled.
inline constexpr DWORD RPC_S_CALL_CANCELLED = 1818;
// The system error code of a server that cannot be reached, and its HRESULT
// form (0x800706BA), which is what a proxy returns when it cannot connect.
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return code == 0 ? S_OK : MakeHResult((code & 0xFFFF) | 0x80070000u);
}
inline constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

// ---------------------------------------------------------------------------
// Byte strings and variants

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A byte string: 16-bit characters preceded by a 4-byte byte count and
// followed by a 16-bit terminator.  It may hold any bytes, an odd count too.
using BSTR = OLECHAR*;
using DISPID = LONG;
using LCID = DWORD;
using SCODE = LONG;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using SHORT = int16_t;
using USHORT = uint16_t;

// len bytes from source (or zeroed bytes when source is null); nullptr when out
// of memory.
BSTR SysAllocStringByteLen(const char* source, UINT len);
BSTR SysAllocStringLen(const OLECHAR* source, UINT len);
// A copy of a terminated text; nullptr for nullptr.
BSTR SysAllocString(const OLECHAR* source);
// Both give 0 for nullptr.
UINT SysStringByteLen(BSTR text);
UINT SysStringLen(BSTR text);
void SysFreeString(BSTR text);

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    USHORT uiVal;
    ULONG ulVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* value);
// Frees what the variant owns (a byte string, an interface reference; never
// what a by-reference variant points at) and leaves it empty.
HRESULT VariantClear(VARIANT* value);

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

// Arguments in reverse order: rgvarg[0] is the last argument of the call.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// ---------------------------------------------------------------------------
// Interfaces.  The destructors are protected: an object goes away through its
// own Release, never through delete on an interface pointer.

struct ITypeInfo;
struct IEnumConnectionPoints;
struct IEnumConnections;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* arg_error) = 0;

 protected:
  ~IDispatch() = default;
};

struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

struct IGlobalInterfaceTable : IUnknown {
  virtual HRESULT RegisterInterfaceInGlobal(IUnknown* object, REFIID iid, DWORD* cookie) = 0;
  virtual HRESULT RevokeInterfaceFromGlobal(DWORD cookie) = 0;
  virtual HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

struct ICancelMethodCalls : IUnknown {
  // Cancels the call; the caller waits at most `seconds` for the server.
  virtual HRESULT Cancel(ULONG seconds) = 0;
  // RPC_S_CALLPENDING while the call runs uncancelled, RPC_E_CALL_CANCELED after.
  virtual HRESULT TestCancel() = 0;

 protected:
  ~ICancelMethodCalls() = default;
};

// ---------------------------------------------------------------------------
// Apartments, security and activation

enum : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };

// S_OK the first time on a thread, S_FALSE when the thread is already in the
// same mode (each success needs its own CoUninitialize), RPC_E_CHANGED_MODE
// when it is in the other mode (no CoUninitialize is owed).
HRESULT CoInitializeEx(LPVOID reserved, DWORD mode);
void CoUninitialize();

inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD EOAC_NONE = 0;

// Records the process's security settings; the first call wins, later ones
// give RPC_E_TOO_LATE.  The socket remoting checks peers itself.
HRESULT CoInitializeSecurity(void* descriptor, LONG auth_service_count, void* auth_services,
                             void* reserved1, DWORD authn_level, DWORD imp_level,
                             void* auth_list, DWORD capabilities, void* reserved3);

enum : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
};

struct COSERVERINFO {
  DWORD dwReserved1;
  LPOLESTR pwszName;
  void* pAuthInfo;
  DWORD dwReserved2;
};

struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

// Creates an object of the class and asks it for each interface of `results`.
// S_OK when every interface was obtained, CO_S_NOTALLINTERFACES when some were,
// E_NOINTERFACE when none; REGDB_E_CLASSNOTREG when no registration or
// activator serves the class; CO_E_NOTINITIALIZED when COM is not initialised
// in the process.
HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* server,
                           DWORD count, MULTI_QI* results);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object);

// Call cancellation, as looked up by name through platform::GetComProcAddress.
HRESULT CoEnableCallCancellation(LPVOID reserved);
HRESULT CoDisableCallCancellation(LPVOID reserved);
HRESULT CoGetCancelObject(DWORD thread_id, REFIID iid, void** object);
HRESULT CoCancelCall(DWORD thread_id, ULONG timeout_seconds);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into a buffer of at least 39
// characters; returns the characters written with the terminator, 0 if the
// buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);

namespace platform {

// A strict order of GUIDs (by their bytes), for maps keyed by class id.
struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

// AddRef and Release of a heap object that implements one interface and is
// deleted with its last reference:  class Sink final : public RefCounted<IDispatch>
template <class Interface>
class RefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() = default;
  virtual ~RefCounted() = default;

 private:
  std::atomic<ULONG> references_{0};
};

// ---------------------------------------------------------------------------
// Owner of one interface reference.  Construction from a raw pointer and copy
// add a reference; Attach adopts one without adding.

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  explicit ComPtr(T* object) : object_(object) {
    if (object_ != nullptr) object_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.object_) {}
  ComPtr(ComPtr&& other) noexcept : object_(other.Detach()) {}
  ComPtr& operator=(const ComPtr& other) {
    if (this != &other) ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void Reset() {
    T* old = object_;
    object_ = nullptr;
    if (old != nullptr) old->Release();
  }
  // Takes over a reference that the caller already owns.
  void Attach(T* object) {
    T* old = object_;
    object_ = object;
    if (old != nullptr) old->Release();
  }
  // Gives up the reference to the caller without releasing it.
  T* Detach() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }
  // For out-parameters: releases what is held and returns the slot.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &object_;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }
  void Swap(ComPtr& other) noexcept { std::swap(object_, other.object_); }

  template <typename U>
  HRESULT QueryInterface(REFIID iid, ComPtr<U>* result) const {
    if (object_ == nullptr) return E_POINTER;
    return object_->QueryInterface(iid, result->ReleaseAndGetVoidAddress());
  }

 private:
  T* object_ = nullptr;
};

// ---------------------------------------------------------------------------
// Class registry

// Creates an object and returns the interface iid of it, with a reference for
// the caller, in *object; an HRESULT as QueryInterface gives.
using ClassFactory = std::function<HRESULT(REFIID iid, void** object)>;

// Registers an object factory of this process under a class id, the way a
// server registers its class objects: it serves creation in every context
// from this process, when no other machine is named.  A second registration
// of the same class replaces the first.  E_INVALIDARG for an empty factory.
HRESULT RegisterInProcessClass(REFCLSID clsid, ClassFactory factory);
// S_FALSE when the class was not registered.
HRESULT UnregisterInProcessClass(REFCLSID clsid);

// Serves creation requests that no in-process registration answers and that
// allow a local or remote server: it finds where the class lives (for a local
// server the endpoint under SOFTWARE\Classes\CLSID\{clsid}\LocalServer32) and
// returns a proxy.  `server` is empty for this machine.  The local-server
// activator of ComRemoting.h is installed from the start; without an
// activator such requests fail with REGDB_E_CLASSNOTREG.
using ClassActivator = std::function<HRESULT(REFCLSID clsid, DWORD context,
                                             const std::u16string& server, REFIID iid,
                                             void** object)>;
void SetClassActivator(ClassActivator activator);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", as the registry names class keys.
std::string GuidToString(REFGUID guid);

// Whether a server name given to CoCreateInstanceEx means this machine: empty,
// ".", "localhost" or the computer name (without regard to case).
bool NamesThisMachine(const std::u16string& server);

// ---------------------------------------------------------------------------
// Call cancellation seen from the server side.
//
// A blocking call into an object runs inside a CancellableCall on the calling
// thread; CoCancelCall and ICancelMethodCalls::Cancel for that thread signal
// it.  An in-process server (or a proxy waiting for its peer) opens one around
// the part of the call that may block and returns RPC_E_CALL_CANCELED once it
// sees the signal:
//
//   platform::CancellableCall call;
//   if (call.WaitForCancel(delay_ms)) return RPC_E_CALL_CANCELED;
class CancellableCall {
 public:
  CancellableCall();
  ~CancellableCall();
  CancellableCall(const CancellableCall&) = delete;
  CancellableCall& operator=(const CancellableCall&) = delete;

  bool Cancelled() const;
  // True as soon as the call is cancelled; false after `milliseconds` without
  // (INFINITE waits without limit).
  bool WaitForCancel(DWORD milliseconds) const;
  // Readable while the call is cancelled, for poll() next to a socket.
  int Descriptor() const;
  // Has a cancel also add 1 to the eventfd descriptor (at once if the call is
  // already cancelled), so that a caller can wait on its own descriptor alone.
  // The descriptor must stay open until this call object is destroyed.
  void WakeOnCancel(int descriptor);

  struct State;

 private:
  std::shared_ptr<State> state_;
  DWORD thread_id_;
};

// Whether the innermost CancellableCall of the calling thread was cancelled.
bool CurrentCallCancelled();

// Cancels the innermost call in progress on a thread, as CoCancelCall does but
// whether or not that thread enabled cancellation: the remoting server uses it
// to pass on a client's cancel to the thread that runs the call.  A call that
// starts inside a cancelled one starts cancelled.  RPC_E_CALL_COMPLETE when the
// thread is in no call.
HRESULT CancelCallOnThread(DWORD thread_id);

// The stand-in for loading the system's COM library and looking up a function
// by name: the four call-cancellation functions (and the other Co* functions
// above); nullptr for any other name.
void* GetComProcAddress(const char* name);
// Test hook: makes a name look missing (or present again).
void SetComProcHidden(const char* name, bool hidden);
void ResetComProcHidden();

using PFN_CoEnableCallCancellation = HRESULT (*)(LPVOID);
using PFN_CoDisableCallCancellation = HRESULT (*)(LPVOID);
using PFN_CoGetCancelObject = HRESULT (*)(DWORD, REFIID, void**);
using PFN_CoCancelCall = HRESULT (*)(DWORD, ULONG);

}  // namespace platform
