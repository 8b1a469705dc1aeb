// The in-process COM: byte strings, variants, apartment state, the class
// registry, the global interface table and call cancellation.
#include "platform/com/Com.h"

#include <pthread.h>

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/com/ComRemoting.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"

namespace {

// ---------------------------------------------------------------------------
// Byte strings: [4-byte byte count][bytes][at least two zero bytes]

constexpr size_t kLengthPrefix = sizeof(uint32_t);
// Two zero bytes terminate the text; one more keeps an odd-length string
// terminated on a 16-bit boundary too.
constexpr size_t kTerminator = 3;
// The byte count must fit the 32-bit prefix, with room for the terminator.
constexpr size_t kMaxByteLength = 0xFFFFFFFFu - 16;

BSTR AllocBytes(const void* source, size_t bytes) {
  if (bytes > kMaxByteLength) return nullptr;
  auto* block = static_cast<BYTE*>(std::malloc(kLengthPrefix + bytes + kTerminator));
  if (block == nullptr) return nullptr;
  const auto count = static_cast<uint32_t>(bytes);
  std::memcpy(block, &count, sizeof count);
  if (source != nullptr) {
    std::memcpy(block + kLengthPrefix, source, bytes);
  } else {
    std::memset(block + kLengthPrefix, 0, bytes);
  }
  std::memset(block + kLengthPrefix + bytes, 0, kTerminator);
  return reinterpret_cast<BSTR>(block + kLengthPrefix);
}

BYTE* BlockOf(BSTR text) { return reinterpret_cast<BYTE*>(text) - kLengthPrefix; }

// ---------------------------------------------------------------------------
// Apartments

// Threads currently in the multithreaded apartment.  While there is one, every
// thread of the process may use COM as a member of that apartment without
// initialising itself, as on Windows.
std::atomic<int> g_mta_threads{0};

struct ApartmentState {
  int count = 0;
  DWORD mode = COINIT_MULTITHREADED;
};
// Trivially destructible, so that a thread that used COM does not keep a
// library holding this code loaded (the loader pins a module while threads
// with its TLS destructors live).  A thread that ends without uninitialising
// still leaves the apartment: a pthread key destructor does that, and the key
// is deleted when this code is unloaded.
thread_local ApartmentState t_apartment;

void LeaveApartmentAtThreadExit(void* state) {
  auto* apartment = static_cast<ApartmentState*>(state);
  if (apartment->count > 0 && apartment->mode == COINIT_MULTITHREADED) --g_mta_threads;
  apartment->count = 0;
}

class ApartmentExitKey {
 public:
  ApartmentExitKey() { valid_ = pthread_key_create(&key_, &LeaveApartmentAtThreadExit) == 0; }
  ~ApartmentExitKey() {
    if (valid_) pthread_key_delete(key_);
  }
  ApartmentExitKey(const ApartmentExitKey&) = delete;
  ApartmentExitKey& operator=(const ApartmentExitKey&) = delete;
  void Watch(ApartmentState* state) {
    if (valid_) pthread_setspecific(key_, state);
  }

 private:
  pthread_key_t key_{};
  bool valid_ = false;
};
ApartmentExitKey g_apartment_exit;
std::atomic<bool> g_security_initialized{false};

bool ComUsableHere() { return t_apartment.count > 0 || g_mta_threads.load() > 0; }

// ---------------------------------------------------------------------------
// Class registry

struct ClassRegistry {
  std::mutex mutex;
  std::map<CLSID, platform::ClassFactory, platform::GuidLess> in_process;
  // Classes of other processes are found through the registry and reached
  // over a socket, from the start, as the system's COM does.
  platform::ClassActivator activator = &platform::ActivateLocalServer;
};

ClassRegistry& Classes() {
  // Never destroyed: an agent library's detach may still need it at process
  // exit, after the C++ statics are gone (exit runs them before the
  // libraries' own destructors).
  static auto* registry = new ClassRegistry;
  return *registry;
}

// ---------------------------------------------------------------------------
// Global interface table: one per process, never destroyed.

class GlobalInterfaceTable final : public IGlobalInterfaceTable {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IGlobalInterfaceTable) {
      *object = static_cast<IGlobalInterfaceTable*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT RegisterInterfaceInGlobal(IUnknown* object, REFIID iid, DWORD* cookie) override {
    if (object == nullptr || cookie == nullptr) return E_INVALIDARG;
    *cookie = 0;
    if (!ComUsableHere()) return CO_E_NOTINITIALIZED;
    platform::ComPtr<IUnknown> held;
    const HRESULT hr = object->QueryInterface(iid, held.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    const DWORD assigned = next_cookie_++;
    if (next_cookie_ == 0) next_cookie_ = 1;
    entries_[assigned] = Entry{std::move(held), iid};
    *cookie = assigned;
    return S_OK;
  }

  HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override {
    platform::ComPtr<IUnknown> released;
    {
      std::lock_guard lock(mutex_);
      auto found = entries_.find(cookie);
      if (found == entries_.end()) return E_INVALIDARG;
      released = std::move(found->second.object);
      entries_.erase(found);
    }
    return S_OK;  // the reference goes when `released` does, outside the lock
  }

  HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) override {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (!ComUsableHere()) return CO_E_NOTINITIALIZED;
    platform::ComPtr<IUnknown> held;
    {
      std::lock_guard lock(mutex_);
      auto found = entries_.find(cookie);
      if (found == entries_.end()) return E_INVALIDARG;
      held = found->second.object;
    }
    return held->QueryInterface(iid, object);
  }

 private:
  struct Entry {
    platform::ComPtr<IUnknown> object;
    IID iid;
  };
  std::mutex mutex_;
  std::map<DWORD, Entry> entries_;
  DWORD next_cookie_ = 1;
};

GlobalInterfaceTable& TheGlobalInterfaceTable() {
  static auto* table = new GlobalInterfaceTable;  // lives until the process ends
  return *table;
}

// ---------------------------------------------------------------------------
// Call cancellation

// Calls in progress per thread, innermost last.
struct CallRegistry {
  std::mutex mutex;
  std::map<DWORD, std::vector<std::shared_ptr<platform::CancellableCall::State>>> calls;
};

CallRegistry& Calls() {
  static auto* registry = new CallRegistry;
  return *registry;
}

// Windows counts enabling per thread; the agent enables cancellation on its
// initialisation thread and cancels calls made on request threads, so the
// count here is for the whole process.
std::atomic<int> g_cancel_enabled{0};

std::shared_ptr<platform::CancellableCall::State> InnermostCall(DWORD thread_id) {
  CallRegistry& registry = Calls();
  std::lock_guard lock(registry.mutex);
  auto found = registry.calls.find(thread_id);
  if (found == registry.calls.end() || found->second.empty()) return nullptr;
  return found->second.back();
}

}  // namespace

struct platform::CancellableCall::State {
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};
  // Most calls end without anyone waiting for a cancel, so the event is made
  // only when first asked for: no system calls for a call that is not waited on.
  std::mutex mutex;
  UniqueHandle event;
  int wake = -1;  // an eventfd of the caller's to signal as well (not owned)

  HANDLE Event() {
    std::lock_guard lock(mutex);
    if (!event) {
      event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
      if (cancelled.load() && event) SetEvent(event.Get());
    }
    return event.Get();
  }

  void Wake(int descriptor) {
    std::lock_guard lock(mutex);
    wake = descriptor;
    if (cancelled.load()) Signal(wake);
  }

  HRESULT Cancel() {
    if (finished.load()) return RPC_E_CALL_COMPLETE;
    if (cancelled.exchange(true)) return RPC_E_CALL_CANCELED;
    std::lock_guard lock(mutex);
    if (event) SetEvent(event.Get());
    Signal(wake);
    return S_OK;
  }

  static void Signal(int descriptor) {
    if (descriptor < 0) return;
    const uint64_t one = 1;
    static_cast<void>(::write(descriptor, &one, sizeof one));
  }
};

namespace {

class CancelObject final : public platform::RefCounted<ICancelMethodCalls> {
 public:
  explicit CancelObject(std::shared_ptr<platform::CancellableCall::State> state)
      : state_(std::move(state)) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ICancelMethodCalls) {
      *object = static_cast<ICancelMethodCalls*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT Cancel(ULONG /*seconds*/) override { return state_->Cancel(); }
  HRESULT TestCancel() override {
    return state_->cancelled.load() ? RPC_E_CALL_CANCELED : RPC_S_CALLPENDING;
  }

 private:
  ~CancelObject() = default;
  std::shared_ptr<platform::CancellableCall::State> state_;
};

// ---------------------------------------------------------------------------
// Function lookup by name

struct ProcTable {
  std::mutex mutex;
  std::set<std::string> hidden;
};

ProcTable& Procs() {
  static auto* table = new ProcTable;
  return *table;
}

template <typename F>
void* ProcAddress(F* function) {
  return reinterpret_cast<void*>(function);
}

}  // namespace

// ---------------------------------------------------------------------------
// Byte strings and variants

BSTR SysAllocStringByteLen(const char* source, UINT len) { return AllocBytes(source, len); }

BSTR SysAllocStringLen(const OLECHAR* source, UINT len) {
  return AllocBytes(source, static_cast<size_t>(len) * sizeof(OLECHAR));
}

BSTR SysAllocString(const OLECHAR* source) {
  if (source == nullptr) return nullptr;
  size_t length = 0;
  while (source[length] != 0) ++length;
  return AllocBytes(source, length * sizeof(OLECHAR));
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t count;
  std::memcpy(&count, BlockOf(text), sizeof count);
  return count;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

void VariantInit(VARIANT* value) {
  if (value == nullptr) return;
  std::memset(static_cast<void*>(value), 0, sizeof *value);
  value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  switch (value->vt) {
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_UNKNOWN:
      if (value->punkVal != nullptr) value->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (value->pdispVal != nullptr) value->pdispVal->Release();
      break;
    default:
      break;
  }
  VariantInit(value);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Apartments and security

HRESULT CoInitializeEx(LPVOID /*reserved*/, DWORD mode) {
  if (mode != COINIT_MULTITHREADED && mode != COINIT_APARTMENTTHREADED) return E_INVALIDARG;
  ApartmentState& state = t_apartment;
  if (state.count > 0) {
    if (state.mode != mode) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  state.mode = mode;
  state.count = 1;
  if (mode == COINIT_MULTITHREADED) ++g_mta_threads;
  g_apartment_exit.Watch(&state);
  return S_OK;
}

void CoUninitialize() {
  ApartmentState& state = t_apartment;
  if (state.count == 0) return;
  if (--state.count == 0 && state.mode == COINIT_MULTITHREADED) --g_mta_threads;
}

HRESULT CoInitializeSecurity(void* /*descriptor*/, LONG /*auth_service_count*/,
                             void* /*auth_services*/, void* /*reserved1*/, DWORD /*authn_level*/,
                             DWORD /*imp_level*/, void* /*auth_list*/, DWORD /*capabilities*/,
                             void* /*reserved3*/) {
  if (!ComUsableHere()) return CO_E_NOTINITIALIZED;
  if (g_security_initialized.exchange(true)) return RPC_E_TOO_LATE;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Activation

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* server,
                           DWORD count, MULTI_QI* results) {
  if (count == 0 || results == nullptr) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    if (results[i].pIID == nullptr) return E_INVALIDARG;
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  auto fail_all = [&](HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) results[i].hr = hr;
    return hr;
  };
  if (outer != nullptr) return fail_all(CLASS_E_NOAGGREGATION);
  if ((context & CLSCTX_SERVER) == 0) return fail_all(E_INVALIDARG);
  if (!ComUsableHere()) return fail_all(CO_E_NOTINITIALIZED);

  std::u16string server_name;
  if (server != nullptr && server->pwszName != nullptr) server_name = server->pwszName;

  platform::ComPtr<IUnknown> object;
  HRESULT hr = REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_StdGlobalInterfaceTable && server_name.empty()) {
    object = platform::ComPtr<IUnknown>(&TheGlobalInterfaceTable());
    hr = S_OK;
  } else {
    platform::ClassFactory factory;
    platform::ClassActivator activator;
    {
      ClassRegistry& registry = Classes();
      std::lock_guard lock(registry.mutex);
      auto found = registry.in_process.find(clsid);
      if (found != registry.in_process.end() && platform::NamesThisMachine(server_name)) {
        factory = found->second;
      }
      activator = registry.activator;
    }
    if (factory) {
      hr = factory(IID_IUnknown, object.ReleaseAndGetVoidAddress());
    } else if (activator && (context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0) {
      hr = activator(clsid, context, server_name, IID_IUnknown, object.ReleaseAndGetVoidAddress());
    }
  }
  if (FAILED(hr)) return fail_all(hr);
  if (!object) return fail_all(E_UNEXPECTED);

  DWORD obtained = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr)) {
      ++obtained;
    } else {
      results[i].pItf = nullptr;
    }
  }
  if (obtained == count) return S_OK;
  return obtained == 0 ? E_NOINTERFACE : CO_S_NOTALLINTERFACES;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  MULTI_QI result{&iid, nullptr, S_OK};
  const HRESULT hr = CoCreateInstanceEx(clsid, outer, context, nullptr, 1, &result);
  if (FAILED(hr)) return hr;
  *object = result.pItf;
  return result.hr;
}

// ---------------------------------------------------------------------------
// Call cancellation

HRESULT CoEnableCallCancellation(LPVOID /*reserved*/) {
  ++g_cancel_enabled;
  return S_OK;
}

HRESULT CoDisableCallCancellation(LPVOID /*reserved*/) {
  int current = g_cancel_enabled.load();
  while (current > 0 && !g_cancel_enabled.compare_exchange_weak(current, current - 1)) {
  }
  return current > 0 ? S_OK : CO_E_CANCEL_DISABLED;
}

HRESULT CoGetCancelObject(DWORD thread_id, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (g_cancel_enabled.load() <= 0) return CO_E_CANCEL_DISABLED;
  auto state = InnermostCall(thread_id == 0 ? GetCurrentThreadId() : thread_id);
  if (!state) return RPC_E_CALL_COMPLETE;
  auto* cancel = new CancelObject(std::move(state));
  cancel->AddRef();
  const HRESULT hr = cancel->QueryInterface(iid, object);
  cancel->Release();
  return hr;
}

HRESULT CoCancelCall(DWORD thread_id, ULONG /*timeout_seconds*/) {
  if (g_cancel_enabled.load() <= 0) return CO_E_CANCEL_DISABLED;
  auto state = InnermostCall(thread_id == 0 ? GetCurrentThreadId() : thread_id);
  if (!state) return RPC_E_CALL_COMPLETE;
  return state->Cancel();
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size) {
  const std::string text = platform::GuidToString(guid);
  if (buffer == nullptr || size < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
  buffer[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

namespace platform {

HRESULT RegisterInProcessClass(REFCLSID clsid, ClassFactory factory) {
  if (!factory) return E_INVALIDARG;
  ClassRegistry& registry = Classes();
  std::lock_guard lock(registry.mutex);
  registry.in_process[clsid] = std::move(factory);
  return S_OK;
}

HRESULT UnregisterInProcessClass(REFCLSID clsid) {
  ClassFactory released;
  ClassRegistry& registry = Classes();
  std::lock_guard lock(registry.mutex);
  auto found = registry.in_process.find(clsid);
  if (found == registry.in_process.end()) return S_FALSE;
  released = std::move(found->second);
  registry.in_process.erase(found);
  return S_OK;
}

void SetClassActivator(ClassActivator activator) {
  ClassRegistry& registry = Classes();
  std::lock_guard lock(registry.mutex);
  registry.activator = std::move(activator);
}

bool NamesThisMachine(const std::u16string& server) {
  if (server.empty() || server == u"." || server == u"localhost") return true;
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return false;
  std::string narrow;
  for (const char16_t c : server) {
    if (c > 0x7F) return false;
    narrow.push_back(static_cast<char>(c));
  }
  return strcasecmp(narrow.c_str(), name) == 0;
}

std::string GuidToString(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

CancellableCall::CancellableCall()
    : state_(std::make_shared<State>()), thread_id_(GetCurrentThreadId()) {
  CallRegistry& registry = Calls();
  std::lock_guard lock(registry.mutex);
  auto& stack = registry.calls[thread_id_];
  // Work done for a call that was cancelled is cancelled with it.
  if (!stack.empty() && stack.back()->cancelled.load()) state_->Cancel();
  stack.push_back(state_);
}

CancellableCall::~CancellableCall() {
  state_->finished.store(true);
  {
    // The caller's descriptor may be closed once this call is over.
    std::lock_guard lock(state_->mutex);
    state_->wake = -1;
  }
  CallRegistry& registry = Calls();
  std::lock_guard lock(registry.mutex);
  auto found = registry.calls.find(thread_id_);
  if (found == registry.calls.end()) return;
  auto& stack = found->second;
  for (auto it = stack.begin(); it != stack.end(); ++it) {
    if (*it == state_) {
      stack.erase(it);
      break;
    }
  }
  if (stack.empty()) registry.calls.erase(found);
}

bool CancellableCall::Cancelled() const { return state_->cancelled.load(); }

bool CancellableCall::WaitForCancel(DWORD milliseconds) const {
  if (Cancelled()) return true;
  const HANDLE event = state_->Event();
  if (event == nullptr) {
    // Without an event (out of descriptors) the wait degrades to polling.
    const DWORD start = GetTickCount();
    while (!Cancelled()) {
      if (milliseconds != INFINITE && GetTickCount() - start >= milliseconds) return false;
      Sleep(10);
    }
    return true;
  }
  return WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
}

int CancellableCall::Descriptor() const { return GetEventDescriptor(state_->Event()); }

void CancellableCall::WakeOnCancel(int descriptor) { state_->Wake(descriptor); }

HRESULT CancelCallOnThread(DWORD thread_id) {
  auto state = InnermostCall(thread_id);
  if (!state) return RPC_E_CALL_COMPLETE;
  return state->Cancel();
}

bool CurrentCallCancelled() {
  auto state = InnermostCall(GetCurrentThreadId());
  return state && state->cancelled.load();
}

void* GetComProcAddress(const char* name) {
  if (name == nullptr) return nullptr;
  {
    ProcTable& table = Procs();
    std::lock_guard lock(table.mutex);
    if (table.hidden.count(name) != 0) return nullptr;
  }
  static const std::pair<const char*, void*> kProcs[] = {
      {"CoEnableCallCancellation", ProcAddress(&CoEnableCallCancellation)},
      {"CoDisableCallCancellation", ProcAddress(&CoDisableCallCancellation)},
      {"CoGetCancelObject", ProcAddress(&CoGetCancelObject)},
      {"CoCancelCall", ProcAddress(&CoCancelCall)},
      {"CoInitializeEx", ProcAddress(&CoInitializeEx)},
      {"CoUninitialize", ProcAddress(&CoUninitialize)},
      {"CoInitializeSecurity", ProcAddress(&CoInitializeSecurity)},
      {"CoCreateInstanceEx", ProcAddress(&CoCreateInstanceEx)},
  };
  for (const auto& [proc_name, address] : kProcs) {
    if (std::strcmp(proc_name, name) == 0) return address;
  }
  return nullptr;
}

void SetComProcHidden(const char* name, bool hidden) {
  if (name == nullptr) return;
  ProcTable& table = Procs();
  std::lock_guard lock(table.mutex);
  if (hidden) {
    table.hidden.insert(name);
  } else {
    table.hidden.erase(name);
  }
}

void ResetComProcHidden() {
  ProcTable& table = Procs();
  std::lock_guard lock(table.mutex);
  table.hidden.clear();
}

}  // namespace platform
