// The COM remoting against a server in another process (com_test_server): the
// server killed in the middle of a call.  A server process restarted while the
// client keeps its proxy and its advised sink is the switchd process test's.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <string>

#include "RemoteTestObject.h"
#include "platform/com/ComRemoting.h"
#include "support/PrivateRegistry.h"
#include "support/ProcessHelpers.h"

namespace {

using platform::ComPtr;
using remote_test::kClsid;

HRESULT Invoke(IDispatch* object, DISPID id, VARIANTARG* arg) {
  DISPPARAMS params{arg, nullptr, arg != nullptr ? 1u : 0u, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                        nullptr, nullptr);
}

TEST(ComRemotingProcessTest, ServerKilledMidCallFailsTheCallWithAnRpcError) {
  test_support::PrivateRegistry registry;
  const std::string path = registry.Root() + "/run/test.sock";
  const std::string log = registry.Root() + "/server.log";
  platform::SetRemotingErrorSink([](const std::string&) {});
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  platform::EnableLocalServerActivation();
  ASSERT_EQ(platform::RegisterLocalServer(kClsid, "unix:" + path), ERROR_SUCCESS);
  // The server prints "ready" once it listens and "slow" when a slow call waits.
  const auto printed = [&](const char* line) {
    return test_support::WaitFor([&] {
      return test_support::ReadFile(log).find(std::string(line) + "\n") != std::string::npos;
    });
  };
  auto server = test_support::ChildProcess::Start(
      {std::string(LORVETH_BINARY_DIR) + "/tests/platform/com_test_server", path}, {}, log);
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(printed("ready")) << test_support::ReadFile(log);
  ComPtr<IDispatch> proxy;
  ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                             IID_IDispatch, proxy.ReleaseAndGetVoidAddress()),
            S_OK);
  auto call = std::async(std::launch::async, [&] {
    VARIANTARG wait;
    VariantInit(&wait);
    wait.vt = VT_I4;
    wait.lVal = 600000;  // far longer than any test runs
    return Invoke(proxy.Get(), remote_test::kIdSlow, &wait);
  });
  ASSERT_TRUE(printed("slow"));
  server->Signal(SIGKILL);
  ASSERT_TRUE(server->WaitExit().has_value());
  EXPECT_EQ(call.get(), RPC_E_DISCONNECTED);
  // Nobody listens on the socket file the dead server left.
  EXPECT_EQ(Invoke(proxy.Get(), remote_test::kIdEcho, nullptr), RPC_E_SERVER_UNAVAILABLE);
  proxy.Reset();
  CoUninitialize();
  platform::SetRemotingErrorSink(nullptr);
}

}  // namespace
