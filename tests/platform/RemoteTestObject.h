// The remoting tests' server object (an echo of the switch's argument forms, a cancellable
// slow method, events the test raises) and the client's recording sink.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/Threads.h"
#include "support/ConnectableObject.h"
#include "support/WaitFor.h"

namespace remote_test {

using test_support::BytesOf;
using test_support::MakeString;

inline constexpr CLSID kClsid = {
    0x4A0C11E0, 0x1B2C, 0x4D3E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
inline constexpr IID kEventsIid = {
    0x4A0C11E1, 0x1B2C, 0x4D3E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};

enum : DISPID {
  kIdEcho = 10,  // by-reference outputs changed; result: the last by-value argument or the count
  kIdSlow = 11,  // (I4 milliseconds): waits, cancellable; result: I4 call number
};

// Every byte inverted and one byte 0x5A appended: an output that differs
// from its input at every size.
inline std::vector<BYTE> Transformed(std::vector<BYTE> bytes) {
  for (BYTE& b : bytes) b = static_cast<BYTE>(~b);
  bytes.push_back(0x5A);
  return bytes;
}

class TestObject final : public test_support::ConnectableObject {
 public:
  TestObject() : ConnectableObject(kEventsIid) {}

  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      const std::u16string name = names[i];
      ids[i] = name == u"Echo" ? kIdEcho : name == u"Slow" ? kIdSlow : DISPID_UNKNOWN;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id == kIdEcho) return Echo(params, result);
    return id == kIdSlow ? Slow(params, result) : DISP_E_MEMBERNOTFOUND;
  }

  // Dispid 3 carries the header fields one by one (four I2 of 0x1000 * n +
  // sequence, the sequence as UI1, "ev" + sequence), dispid 4 a string of 52
  // bytes and "ev" + sequence.
  void RaiseEvents(DISPID id, int count) {
    for (int sequence = 0; sequence < count; ++sequence) {
      VARIANTARG args[6];
      for (VARIANTARG& arg : args) VariantInit(&arg);
      DISPPARAMS params{args, nullptr, id == 3 ? 6u : 2u, 0};
      if (id == 3) {
        for (int i = 0; i < 4; ++i) {
          args[5 - i].vt = VT_I2;
          args[5 - i].iVal = static_cast<SHORT>(0x1000 * (i + 1) + sequence);
        }
        args[1].vt = VT_UI1;
        args[1].bVal = static_cast<BYTE>(sequence);
      } else {
        args[1].vt = VT_BSTR;
        args[1].bstrVal = MakeString(std::vector<BYTE>(52, static_cast<BYTE>(sequence)));
      }
      args[0].vt = VT_BSTR;
      args[0].bstrVal = MakeString({'e', 'v', static_cast<BYTE>(sequence)});
      RaiseEvent(id, &params);
      for (VARIANTARG& arg : args) VariantClear(&arg);
    }
  }

  int SlowCallsCancelled() const { return slow_cancelled_.load(); }
  // Waits until a slow call is inside its wait.
  bool WaitForSlowCall(std::chrono::milliseconds limit) {
    return test_support::WaitFor([&] { return slow_waiting_ > 0; }, limit);
  }

 private:
  HRESULT Echo(DISPPARAMS* params, VARIANT* result) {
    for (UINT i = 0; i < params->cArgs; ++i) {
      VARIANTARG& arg = params->rgvarg[i];
      if (arg.vt == (VT_BSTR | VT_BYREF)) {
        const std::vector<BYTE> out = Transformed(BytesOf(*arg.pbstrVal));
        SysFreeString(*arg.pbstrVal);
        *arg.pbstrVal = MakeString(out);
      } else if (arg.vt == (VT_UI1 | VT_BYREF)) {
        *arg.pbVal = static_cast<BYTE>(*arg.pbVal + 1);
      } else if (arg.vt != VT_I2 && arg.vt != VT_I4 && arg.vt != VT_UI1 && arg.vt != VT_BSTR &&
                 arg.vt != VT_EMPTY) {
        return DISP_E_TYPEMISMATCH;
      }
    }
    if (result == nullptr) return S_OK;
    if (params->cArgs > 0 && (params->rgvarg[0].vt & VT_BYREF) == 0) {
      *result = params->rgvarg[0];
      if (result->vt == VT_BSTR) result->bstrVal = MakeString(BytesOf(result->bstrVal));
    } else {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(params->cArgs);
    }
    return S_OK;
  }

  HRESULT Slow(DISPPARAMS* params, VARIANT* result) {
    if (params->cArgs != 1 || params->rgvarg[0].vt != VT_I4) return DISP_E_TYPEMISMATCH;
    const int number = ++slow_calls_;
    platform::CancellableCall call;
    ++slow_waiting_;
    const bool cancelled = call.WaitForCancel(static_cast<DWORD>(params->rgvarg[0].lVal));
    --slow_waiting_;
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
  std::atomic<int> slow_calls_{0};
  std::atomic<int> slow_cancelled_{0};
  std::atomic<int> slow_waiting_{0};
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
      if (arg.vt == VT_BSTR) event.strings.push_back(BytesOf(arg.bstrVal));
      if (arg.vt == VT_I2) event.numbers.push_back(arg.iVal);
      if (arg.vt == VT_UI1) event.numbers.push_back(arg.bVal);
    }
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    return S_OK;
  }

  bool WaitForEvents(size_t count, std::chrono::milliseconds limit) {
    return test_support::WaitFor([&] { return Events().size() >= count; }, limit);
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  ULONG References() const { return references_.load(); }

 private:
  std::atomic<ULONG> references_{0};
  std::mutex mutex_;
  std::vector<Event> events_;
};

}  // namespace remote_test
