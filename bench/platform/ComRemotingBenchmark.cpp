// Cost of the COM remoting over a Unix socket, client and server in this
// process: one Invoke round trip with a by-reference byte string of each
// size, one with a small request and a large result (as a table fetch), and
// event delivery (batches of 100) from the server object to the client's sink.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <string>

#include "platform/com/Com.h"
#include "platform/com/ComRemoting.h"
#include "platform/system/Threads.h"

namespace {

constexpr CLSID kClsid = {0x5B1D22F1, 0x2C3D, 0x4E4F, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr IID kEventsIid = {0x5B1D22F2, 0x2C3D, 0x4E4F, {1, 2, 3, 4, 5, 6, 7, 8}};

// Answers every call by handing back the by-reference string unchanged, call 2
// with a result of as many bytes as its one argument asks, and raises events
// to its one sink on request.
class EchoObject final : public IDispatch, public IConnectionPointContainer,
                         public IConnectionPoint {
 public:
  virtual ~EchoObject() = default;
  HRESULT QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) *object = static_cast<IDispatch*>(this);
    if (iid == IID_IConnectionPointContainer) {
      *object = static_cast<IConnectionPointContainer*>(this);
    }
    if (*object == nullptr) return E_NOINTERFACE;
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id == 2 && result != nullptr && params->cArgs == 1 && params->rgvarg[0].vt == VT_I4) {
      const std::string bytes(static_cast<size_t>(params->rgvarg[0].lVal), 'r');
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
    }
    return S_OK;
  }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID, IConnectionPoint** point) override {
    *point = this;
    return S_OK;
  }
  HRESULT GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    sink->QueryInterface(kEventsIid, sink_.ReleaseAndGetVoidAddress());
    *cookie = 1;
    return S_OK;
  }
  HRESULT Unadvise(DWORD) override {
    sink_.Reset();
    return S_OK;
  }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
  IDispatch* Sink() { return sink_.Get(); }

 private:
  platform::ComPtr<IDispatch> sink_;
};

class CountingSink final : public IDispatch {
 public:
  virtual ~CountingSink() = default;
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = static_cast<IDispatch*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    std::lock_guard lock(mutex);
    ++count;
    changed.notify_all();
    return S_OK;
  }
  void WaitFor(int64_t target) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return count >= target; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  int64_t count = 0;
};

// A server on a socket in a temporary directory and a proxy to it.
struct Setup {
  Setup() {
    char pattern[] = "/tmp/lorveth-bench-XXXXXX";
    root = mkdtemp(pattern);
    setenv("LORVETH_STATE_DIR", (root + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (root + "/run").c_str(), 1);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    server.RegisterClassObject(kClsid, [this](REFIID iid, void** out) {
      return object.QueryInterface(iid, out);
    });
    platform::ComServer::Options options;
    options.path = root + "/run/bench.sock";
    server.Start(options, nullptr);
    platform::RegisterLocalServer(kClsid, "unix:" + options.path);
    CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                     proxy.ReleaseAndGetVoidAddress());
  }
  ~Setup() {
    proxy.Reset();
    server.Stop();
    CoUninitialize();
    std::filesystem::remove_all(root);
  }
  std::string root;
  EchoObject object;
  platform::ComServer server;
  platform::ComPtr<IDispatch> proxy;
};

void BM_InvokeByReferenceString(benchmark::State& state) {
  Setup setup;
  if (!setup.proxy) {
    state.SkipWithError("no proxy");
    return;
  }
  const std::string payload(static_cast<size_t>(state.range(0)), 'x');
  BSTR text = SysAllocStringByteLen(payload.data(), static_cast<UINT>(payload.size()));
  VARIANTARG arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR | VT_BYREF;
  arg.pbstrVal = &text;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(setup.proxy->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT,
                                                 DISPATCH_METHOD, &params, nullptr, nullptr,
                                                 nullptr));
  }
  SysFreeString(text);
  state.SetItemsProcessed(state.iterations());
  // Both directions carry the string.
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_InvokeByReferenceString)->Arg(0)->Arg(64)->Arg(4096)->Arg(65536)->Arg(1 << 20);

void BM_InvokeLargeResult(benchmark::State& state) {
  Setup setup;
  if (!setup.proxy) {
    state.SkipWithError("no proxy");
    return;
  }
  VARIANTARG arg;
  VariantInit(&arg);
  arg.vt = VT_I4;
  arg.lVal = static_cast<LONG>(state.range(0));
  DISPPARAMS params{&arg, nullptr, 1, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    benchmark::DoNotOptimize(setup.proxy->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT,
                                                 DISPATCH_METHOD, &params, &result, nullptr,
                                                 nullptr));
    VariantClear(&result);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_InvokeLargeResult)->Arg(256 << 10)->Arg(2 << 20);

void BM_EventDelivery(benchmark::State& state) {
  Setup setup;
  platform::ComPtr<IConnectionPointContainer> container;
  platform::ComPtr<IConnectionPoint> point;
  CountingSink sink;
  DWORD cookie = 0;
  if (!setup.proxy ||
      FAILED(setup.proxy->QueryInterface(IID_IConnectionPointContainer,
                                         container.ReleaseAndGetVoidAddress())) ||
      FAILED(container->FindConnectionPoint(kEventsIid, point.ReleaseAndGetAddressOf())) ||
      FAILED(point->Advise(&sink, &cookie))) {
    state.SkipWithError("no event connection");
    return;
  }
  VARIANTARG args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_I2;
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocStringByteLen("<Rules/>", 8);
  DISPPARAMS params{args, nullptr, 2, 0};
  constexpr int kBatch = 100;
  int64_t sent = 0;
  for (auto _ : state) {
    // A batch is timed from the first send to the delivery of its last event.
    for (int i = 0; i < kBatch; ++i) {
      setup.object.Sink()->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                  nullptr, nullptr, nullptr);
    }
    sent += kBatch;
    sink.WaitFor(sent);
  }
  SysFreeString(args[0].bstrVal);
  point->Unadvise(cookie);
  state.SetItemsProcessed(sent);
}
BENCHMARK(BM_EventDelivery)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
