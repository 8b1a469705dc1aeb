// The in-process COM: byte strings, variants, the global interface table, call cancellation,
// the function lookup.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "platform/com/Com.h"
#include "platform/system/Threads.h"

namespace {

using platform::ComPtr;

// Runs a body on a thread of its own: apartment state belongs to a thread.
template <typename F>
void OnFreshThread(F body) {
  std::thread(body).join();
}

// Keeps COM initialised on a fresh thread for the lifetime of the object.
struct ComScope {
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

constexpr IID kIidCounter = {0x1111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

// An object that counts its references and answers for IUnknown and kIidCounter.
class Counter final : public IUnknown {
 public:
  virtual ~Counter() = default;
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == kIidCounter) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  std::atomic<ULONG> references{0};
};

TEST(ByteStringTest, NullEmptyAndImpossibleLengths) {
  BSTR text = SysAllocStringByteLen(nullptr, 7);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(reinterpret_cast<const BYTE*>(text)[i], 0);
  SysFreeString(text);
  BSTR chars = SysAllocStringLen(u"abcdef", 3);
  EXPECT_EQ(SysStringLen(chars), 3u);
  EXPECT_EQ(std::u16string(chars), u"abc");
  SysFreeString(chars);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR empty = SysAllocStringByteLen("", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringByteLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFF), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000), nullptr);
}

TEST(VariantTest, ClearFreesStringsAndReleasesInterfacesButNotReferences) {
  Counter counter;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  v.vt = VT_UNKNOWN;
  v.punkVal = &counter;
  counter.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(counter.references.load(), 0u);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"freed by clear");  // leak checkers watch this one
  VariantClear(&v);

  BSTR kept = SysAllocString(u"kept");
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &kept;
  VariantClear(&v);
  EXPECT_EQ(std::u16string(kept), u"kept");
  SysFreeString(kept);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(GlobalInterfaceTableTest, InterfaceRegisteredOnOneThreadIsReachableFromAnother) {
  Counter counter;
  OnFreshThread([&] {
    ComScope com;
    ComPtr<IGlobalInterfaceTable> table;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGlobalInterfaceTable, table.ReleaseAndGetVoidAddress()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(table->RegisterInterfaceInGlobal(&counter, kIidCounter, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(counter.references.load(), 1u);

    // A thread that never initialised COM belongs to the process's
    // multithreaded apartment while this thread keeps it open.
    OnFreshThread([&] {
      ComPtr<IUnknown> got;
      EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, kIidCounter, got.ReleaseAndGetVoidAddress()),
                S_OK);
      EXPECT_EQ(got.Get(), static_cast<IUnknown*>(&counter));
    });
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(counter.references.load(), 0u);
    void* gone = &counter;
    EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, kIidCounter, &gone), E_INVALIDARG);
    EXPECT_EQ(gone, nullptr);
    EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  });
}

class CancellationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoEnableCallCancellation(nullptr), S_OK); }
  void TearDown() override { CoDisableCallCancellation(nullptr); }
};

TEST_F(CancellationTest, CancelObjectCancelsOnceAndOutlivesTheCall) {
  std::promise<DWORD> started;
  std::promise<void> checked;
  auto outcome = std::async(std::launch::async, [&] {
    platform::CancellableCall call;
    started.set_value(GetCurrentThreadId());
    const bool cancelled = call.WaitForCancel(20000);
    checked.get_future().wait();
    return cancelled;
  });
  const DWORD thread = started.get_future().get();
  ComPtr<ICancelMethodCalls> cancel;
  ASSERT_EQ(CoGetCancelObject(thread, IID_ICancelMethodCalls, cancel.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(cancel->Cancel(1), S_OK);
  EXPECT_EQ(cancel->Cancel(1), RPC_E_CALL_CANCELED);
  checked.set_value();
  EXPECT_TRUE(outcome.get());
  // The object outlives the call safely and knows it is over.
  EXPECT_EQ(cancel->Cancel(1), RPC_E_CALL_COMPLETE);
  platform::CancellableCall other_call;
  ASSERT_GE(other_call.Descriptor(), 0);
  EXPECT_EQ(CoCancelCall(0, 1), S_OK);  // thread 0 names the calling thread
  EXPECT_TRUE(other_call.WaitForCancel(0));
}

TEST(ComProcTest, FunctionsAreFoundUnlessHiddenAndRefuseWhileCancellingIsOff) {
  platform::SetComProcHidden("CoGetCancelObject", true);
  EXPECT_EQ(platform::GetComProcAddress("CoGetCancelObject"), nullptr);
  platform::SetComProcHidden("CoGetCancelObject", false);
  EXPECT_EQ(platform::GetComProcAddress("CoCancelCallEx"), nullptr);
  EXPECT_EQ(platform::GetComProcAddress(nullptr), nullptr);
  auto cancel =
      reinterpret_cast<platform::PFN_CoCancelCall>(platform::GetComProcAddress("CoCancelCall"));
  EXPECT_EQ(cancel(GetCurrentThreadId(), 0), CO_E_CANCEL_DISABLED);
  EXPECT_EQ(CoCancelCall(GetCurrentThreadId(), 1), CO_E_CANCEL_DISABLED);
  void* object = nullptr;
  EXPECT_EQ(CoGetCancelObject(GetCurrentThreadId(), IID_ICancelMethodCalls, &object),
            CO_E_CANCEL_DISABLED);
  EXPECT_EQ(CoDisableCallCancellation(nullptr), CO_E_CANCEL_DISABLED);
  // The text form of a class id, as registry key names carry it.
  EXPECT_EQ(platform::GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
}

}  // namespace
