// The common part of the COM test doubles: a dispatch object with one connection point, owned
// by the test (the count only tells who holds it). The derived class supplies names and methods.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/com/Com.h"

namespace test_support {

inline BSTR MakeString(const std::vector<BYTE>& bytes) {
  return SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                               static_cast<UINT>(bytes.size()));
}

inline std::vector<BYTE> BytesOf(BSTR text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  return std::vector<BYTE>(bytes, bytes + SysStringByteLen(text));
}

class ConnectableObject : public IDispatch,
                          public IConnectionPointContainer,
                          public IConnectionPoint {
 public:
  explicit ConnectableObject(const IID& events) : events_(events) {}
  virtual ~ConnectableObject() = default;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
      if (FAILED(container_result)) return container_result;
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
  ULONG References() const { return references_.load(); }

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    *point = iid == events_ ? this : nullptr;
    if (*point == nullptr) return CONNECT_E_NOCONNECTION;
    AddRef();
    return S_OK;
  }
  HRESULT GetConnectionInterface(IID* iid) override {
    *iid = events_;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = this;
    AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    platform::ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(events_, events.ReleaseAndGetVoidAddress()))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    std::lock_guard lock(mutex_);
    *cookie = next_cookie_++;
    sinks_.emplace_back(*cookie, std::move(events));
    ++advise_count_;
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    platform::ComPtr<IDispatch> released;  // outside the lock: it may call back
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(sinks_.begin(), sinks_.end(),
                                 [&](const auto& sink) { return sink.first == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    released = std::move(it->second);
    sinks_.erase(it);
    return S_OK;
  }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // The result of the last sink's Invoke, S_FALSE when there is no sink.
  HRESULT RaiseEvent(DISPID id, DISPPARAMS* params) {
    std::vector<platform::ComPtr<IDispatch>> sinks;
    {
      std::lock_guard lock(mutex_);
      for (const auto& sink : sinks_) sinks.push_back(sink.second);
    }
    HRESULT hr = S_FALSE;
    for (const auto& sink : sinks) {
      hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                        nullptr, nullptr);
    }
    return hr;
  }
  size_t SinkCount() const {
    std::lock_guard lock(mutex_);
    return sinks_.size();
  }
  int AdviseCount() const {
    std::lock_guard lock(mutex_);
    return advise_count_;
  }

  std::atomic<HRESULT> container_result{S_OK};

 private:
  const IID events_;
  std::atomic<ULONG> references_{0};
  mutable std::mutex mutex_;
  std::vector<std::pair<DWORD, platform::ComPtr<IDispatch>>> sinks_;
  DWORD next_cookie_ = 1;
  int advise_count_ = 0;
};

}  // namespace test_support
