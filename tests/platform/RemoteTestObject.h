// A scriptable server object for the remoting tests, served in the test
// process or by the com_test_server program: methods that echo and change
// the argument forms the switch uses, a slow method that honours cancellation,
// and a connection point whose events the test raises.  Also the
// recording sink that the client side advises.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/system/Threads.h"

namespace remote_test {

inline constexpr CLSID kClsid = {
    0x4A0C11E0, 0x1B2C, 0x4D3E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
inline constexpr IID kEventsIid = {
    0x4A0C11E1, 0x1B2C, 0x4D3E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};

enum : DISPID {
  kIdEcho = 10,   // by-reference outputs changed, result: number of arguments
  kIdSlow = 11,   // (I4 milliseconds): waits, cancellable; result: I4 call number
};

inline std::vector<BYTE> BytesOf(BSTR text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  return std::vector<BYTE>(bytes, bytes + SysStringByteLen(text));
}

inline BSTR MakeString(const std::vector<BYTE>& bytes) {
  return SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                               static_cast<UINT>(bytes.size()));
}

// Every byte inverted and one byte 0x5A appended: an output that differs
// from its input at every size.
inline std::vector<BYTE> Transformed(std::vector<BYTE> bytes) {
  for (BYTE& b : bytes) b = static_cast<BYTE>(~b);
  bytes.push_back(0x5A);
  return bytes;
}

// The event arguments that RaiseEvents sends: dispid 3 carries the header
// fields one by one, dispid 4 a header string and a data string.
inline void RaiseTo(IDispatch* sink, DISPID id, int sequence) {
  VARIANTARG args[6];
  for (VARIANTARG& arg : args) VariantInit(&arg);
  DISPPARAMS params{args, nullptr, 0, 0};
  const std::vector<BYTE> data = {'e', 'v', static_cast<BYTE>(sequence)};
  if (id == 3) {
    for (int i = 0; i < 4; ++i) {
      args[5 - i].vt = VT_I2;
      args[5 - i].iVal = static_cast<SHORT>(0x1000 * (i + 1) + sequence);
    }
    args[1].vt = VT_UI1;
    args[1].bVal = static_cast<BYTE>(sequence);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = MakeString(data);
    params.cArgs = 6;
  } else {
    args[1].vt = VT_BSTR;
    args[1].bstrVal = MakeString(std::vector<BYTE>(52, static_cast<BYTE>(sequence)));
    args[0].vt = VT_BSTR;
    args[0].bstrVal = MakeString(data);
    params.cArgs = 2;
  }
  sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
               nullptr);
  for (VARIANTARG& arg : args) VariantClear(&arg);
}

class TestObject final : public IDispatch,
                         public IConnectionPointContainer,
                         public IConnectionPoint {
 public:
  TestObject() = default;
  virtual ~TestObject() = default;

  HRESULT QueryInterface(REFIID iid, void** object) override {
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
  // The object is shared by every connection and owned by the test.
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override { return --references_; }

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static const std::pair<std::u16string, DISPID> kNames[] = {
        {u"Echo", kIdEcho}, {u"Slow", kIdSlow}};
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (const auto& [name, id] : kNames) {
        if (name == names[i]) ids[i] = id;
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    switch (id) {
      case kIdEcho:
        return Echo(params, result);
      case kIdSlow:
        return Slow(params, result);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    *point = nullptr;
    if (iid != kEventsIid) return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT GetConnectionInterface(IID* iid) override {
    *iid = kEventsIid;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = this;
    AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    platform::ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(kEventsIid, events.ReleaseAndGetVoidAddress()))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard lock(mutex_);
    *cookie = next_cookie_++;
    sinks_.emplace_back(*cookie, std::move(events));
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    platform::ComPtr<IDispatch> released;
    std::lock_guard lock(mutex_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        released = std::move(it->second);
        sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  void RaiseEvents(DISPID id, int count) {
    std::vector<platform::ComPtr<IDispatch>> sinks;
    {
      std::lock_guard lock(mutex_);
      for (const auto& sink : sinks_) sinks.push_back(sink.second);
    }
    for (int i = 0; i < count; ++i) {
      for (const auto& sink : sinks) RaiseTo(sink.Get(), id, i);
    }
  }

  size_t SinkCount() {
    std::lock_guard lock(mutex_);
    return sinks_.size();
  }
  int SlowCallsCancelled() const { return slow_cancelled_.load(); }
  // Waits until a slow call is inside its wait.
  bool WaitForSlowCall(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return slow_waiting_ > 0; });
  }
  // Called when a slow call starts waiting (the test server reports it).
  std::function<void()> on_slow_call;

 private:
  HRESULT Echo(DISPPARAMS* params, VARIANT* result) {
    for (UINT i = 0; i < params->cArgs; ++i) {
      VARIANTARG& arg = params->rgvarg[i];
      switch (arg.vt) {
        case VT_BSTR | VT_BYREF: {
          const std::vector<BYTE> out = Transformed(BytesOf(*arg.pbstrVal));
          SysFreeString(*arg.pbstrVal);
          *arg.pbstrVal = MakeString(out);
          break;
        }
        case VT_UI1 | VT_BYREF:
          *arg.pbVal = static_cast<BYTE>(*arg.pbVal + 1);
          break;
        case VT_I2:
        case VT_I4:
        case VT_UI1:
        case VT_BSTR:
        case VT_EMPTY:
          break;
        default:
          return DISP_E_TYPEMISMATCH;
      }
    }
    if (result != nullptr) {
      // The last argument comes back as the result, so that by-value
      // arguments are checked too.
      if (params->cArgs > 0 && (params->rgvarg[0].vt & VT_BYREF) == 0) {
        VARIANT copy = params->rgvarg[0];
        if (copy.vt == VT_BSTR) copy.bstrVal = MakeString(BytesOf(copy.bstrVal));
        *result = copy;
      } else {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(params->cArgs);
      }
    }
    return S_OK;
  }

  HRESULT Slow(DISPPARAMS* params, VARIANT* result) {
    if (params->cArgs != 1 || params->rgvarg[0].vt != VT_I4) return DISP_E_TYPEMISMATCH;
    const int number = ++slow_calls_;
    platform::CancellableCall call;
    {
      std::lock_guard lock(mutex_);
      ++slow_waiting_;
    }
    changed_.notify_all();
    if (on_slow_call) on_slow_call();
    const bool cancelled = call.WaitForCancel(static_cast<DWORD>(params->rgvarg[0].lVal));
    {
      std::lock_guard lock(mutex_);
      --slow_waiting_;
    }
    if (cancelled) {
      ++slow_cancelled_;
      return RPC_E_CALL_CANCELED;
    }
    if (result != nullptr) {
      result->vt = VT_I4;
      result->lVal = number;
    }
    return S_OK;
  }

  std::atomic<ULONG> references_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<DWORD, platform::ComPtr<IDispatch>>> sinks_;
  DWORD next_cookie_ = 1;
  std::atomic<int> slow_calls_{0};
  std::atomic<int> slow_cancelled_{0};
  int slow_waiting_ = 0;
};

// The client's event sink: records each event with the thread it came on.
class RecordingSink final : public IDispatch {
 public:
  struct Event {
    DISPID id;
    std::vector<VARTYPE> types;  // in call order
    std::vector<std::vector<BYTE>> strings;
    std::vector<LONG> numbers;
    DWORD thread_id;
  };

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != kEventsIid) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override { return --references_; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    Event event{id, {}, {}, {}, GetCurrentThreadId()};
    for (UINT i = params->cArgs; i-- > 0;) {
      const VARIANTARG& arg = params->rgvarg[i];
      event.types.push_back(arg.vt);
      if (arg.vt == VT_BSTR) {
        event.strings.push_back(BytesOf(arg.bstrVal));
      } else if (arg.vt == VT_I2) {
        event.numbers.push_back(arg.iVal);
      } else if (arg.vt == VT_UI1) {
        event.numbers.push_back(arg.bVal);
      }
    }
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
    return S_OK;
  }

  bool WaitForEvents(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  ULONG References() const { return references_.load(); }

 private:
  std::atomic<ULONG> references_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

}  // namespace remote_test
