// The COM remoting against a server in another process (com_test_server):
// the server killed in the middle of a call, and a server process restarted
// while the client keeps its proxy and its advised sink.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include "RemoteTestObject.h"
#include "platform/com/ComRemoting.h"
#include "support/PrivateRegistry.h"

namespace {

using platform::ComPtr;
using remote_test::kClsid;
using remote_test::RecordingSink;

constexpr auto kPatience = std::chrono::seconds(20);

// One com_test_server process with its standard output on a pipe.
class ServerProcess {
 public:
  ~ServerProcess() { Kill(); }

  bool Start(const std::string& path) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    const std::string program = std::string(LORVETH_BINARY_DIR) + "/tests/platform/com_test_server";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execl(program.c_str(), program.c_str(), path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = out[0];
    return pid_ > 0 && WaitForLine("ready");
  }

  // Reads lines until `line` comes; false at end of output (the process died).
  bool WaitForLine(const std::string& line) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        const std::string got = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (got == line) return true;
        continue;
      }
      char buffer[256];
      const ssize_t count = read(output_, buffer, sizeof buffer);
      if (count <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(count));
    }
  }

  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (output_ >= 0) {
      close(output_);
      output_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string pending_;
};

HRESULT CallWithShorts(IDispatch* object, DISPID id, std::vector<SHORT> values, VARIANT* result) {
  std::vector<VARIANTARG> args(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    VariantInit(&args[i]);
    args[i].vt = VT_I2;
    args[i].iVal = values[values.size() - 1 - i];
  }
  DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr,
                    static_cast<UINT>(args.size()), 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                        nullptr, nullptr);
}

class ComRemotingProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = registry_.Root() + "/run/test.sock";
    platform::SetRemotingErrorSink([](const std::string&) {});
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    platform::EnableLocalServerActivation();
    ASSERT_EQ(platform::RegisterLocalServer(kClsid, "unix:" + path_), ERROR_SUCCESS);
  }
  void TearDown() override {
    server_.Kill();
    CoUninitialize();
    platform::SetRemotingErrorSink(nullptr);
  }

  ComPtr<IDispatch> Create() {
    ComPtr<IDispatch> object;
    CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, IID_IDispatch,
                     object.ReleaseAndGetVoidAddress());
    return object;
  }

  test_support::PrivateRegistry registry_;
  std::string path_;
  ServerProcess server_;
};

TEST_F(ComRemotingProcessTest, ServerKilledMidCallFailsTheCallWithAnRpcError) {
  ASSERT_TRUE(server_.Start(path_));
  ComPtr<IDispatch> proxy = Create();
  ASSERT_TRUE(proxy);
  auto call = std::async(std::launch::async, [&] {
    VARIANTARG wait;
    VariantInit(&wait);
    wait.vt = VT_I4;
    wait.lVal = 600000;  // far longer than any test runs
    DISPPARAMS params{&wait, nullptr, 1, 0};
    return proxy->Invoke(remote_test::kIdSlow, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                         &params, nullptr, nullptr, nullptr);
  });
  ASSERT_TRUE(server_.WaitForLine("slow"));
  server_.Kill();
  EXPECT_EQ(call.get(), RPC_E_DISCONNECTED);
  // Nobody listens on the socket file the dead server left.
  EXPECT_EQ(CallWithShorts(proxy.Get(), remote_test::kIdEcho, {1}, nullptr),
            RPC_E_SERVER_UNAVAILABLE);
}

TEST_F(ComRemotingProcessTest, RestartedServerGetsTheSinkAgainAndEventsFlow) {
  RecordingSink sink;  // outlives the proxy, which may still hold it
  ASSERT_TRUE(server_.Start(path_));
  ComPtr<IDispatch> proxy = Create();
  ASSERT_TRUE(proxy);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(proxy->QueryInterface(IID_IConnectionPointContainer,
                                  container.ReleaseAndGetVoidAddress()),
            S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(remote_test::kEventsIid,
                                           point.ReleaseAndGetAddressOf()),
            S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  ASSERT_EQ(CallWithShorts(proxy.Get(), remote_test::kIdRaise, {3, 1}, nullptr), S_OK);
  ASSERT_TRUE(sink.WaitForEvents(1, kPatience));

  server_.Kill();
  ASSERT_TRUE(server_.Start(path_));
  // Without any call from here, the proxy reconnects, advises the sink again,
  // and the new server announces itself to it.
  ASSERT_TRUE(sink.WaitForEvents(2, kPatience));
  EXPECT_EQ(sink.Events()[1].id, 4);
  EXPECT_EQ(sink.Events()[1].strings.at(0).front(), 99);

  VARIANT count;
  VariantInit(&count);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(proxy->Invoke(remote_test::kIdSinks, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                          &none, &count, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(count.lVal, 1);
  ASSERT_EQ(CallWithShorts(proxy.Get(), remote_test::kIdRaise, {3, 2}, nullptr), S_OK);
  ASSERT_TRUE(sink.WaitForEvents(4, kPatience));
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

}  // namespace
