// The COM remoting with client and server in this process over a real Unix socket: argument
// forms, names, events, cancellation, time-outs, malformed messages, peer refusal, activation.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RemoteTestObject.h"
#include "platform/com/ComRemoting.h"
#include "platform/com/detail/ComWire.h"
#include "platform/system/Threads.h"
#include "support/PrivateRegistry.h"

namespace {

using platform::ComPtr;
using platform::ComServer;
using remote_test::BytesOf;
using remote_test::kClsid;
using remote_test::kEventsIid;
using remote_test::MakeString;
using remote_test::RecordingSink;
using remote_test::TestObject;
namespace wire = platform::detail::wire;

constexpr auto kPatience = std::chrono::seconds(20);

// Invokes with the arguments given in call order; returns the HRESULT.
HRESULT Call(IDispatch* object, DISPID id, std::vector<VARIANTARG> args, VARIANT* result) {
  std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                        nullptr, nullptr);
}

VARIANTARG Arg(VARTYPE type, LONG value = 0) {
  VARIANTARG v;
  VariantInit(&v);
  v.vt = type;
  v.lVal = value;
  return v;
}

VARIANTARG I4(LONG value) { return Arg(VT_I4, value); }

HRESULT CallSlow(IDispatch* object, LONG milliseconds, LONG* number = nullptr) {
  VARIANT result = Arg(VT_EMPTY);
  const HRESULT hr = Call(object, remote_test::kIdSlow, {I4(milliseconds)}, &result);
  if (number != nullptr) *number = result.vt == VT_I4 ? result.lVal : -1;
  VariantClear(&result);
  return hr;
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{AF_UNIX, {}};
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A raw client socket for writing malformed messages.
int ConnectRaw(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = Address(path);
  return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

std::vector<uint8_t> RawHeader(uint8_t type, uint32_t call_id, uint32_t length,
                               uint32_t magic = wire::kMagic) {
  std::vector<uint8_t> bytes(wire::kHeaderSize, 0);
  std::memcpy(bytes.data(), &magic, 4);
  bytes[4] = wire::kVersion;
  bytes[5] = type;
  std::memcpy(bytes.data() + 8, &call_id, 4);
  std::memcpy(bytes.data() + 12, &length, 4);
  return bytes;
}

// True when the peer closed the socket (read gives end of stream).
bool PeerCloses(int fd) {
  char buffer[256];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) return errno == ECONNRESET;
  }
}

class ComRemotingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = registry_.Root() + "/run/sockets/test.sock";
    platform::SetRemotingErrorSink([this](const std::string& message) {
      std::lock_guard lock(mutex_);
      errors_ += message + "\n";
    });
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    platform::EnableLocalServerActivation();
    ASSERT_EQ(platform::RegisterLocalServer(kClsid, "unix:" + path_), ERROR_SUCCESS);
  }

  void TearDown() override {
    server_.reset();
    CoUninitialize();
    platform::SetRemoteCallTimeoutMs(0);
    platform::SetRemotingErrorSink(nullptr);
  }

  void StartServer(ComServer::Options options = {}) {
    server_ = std::make_unique<ComServer>();
    server_->RegisterClassObject(
        kClsid, [this](REFIID iid, void** object) { return object_.QueryInterface(iid, object); });
    options.path = path_;
    std::string error;
    ASSERT_TRUE(server_->Start(options, &error)) << error;
  }

  ComPtr<IDispatch> Create(HRESULT* hr = nullptr) {
    MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
    const HRESULT created = CoCreateInstanceEx(
        kClsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, nullptr, 1, &qi);
    if (hr != nullptr) *hr = created;
    ComPtr<IDispatch> object;
    object.Attach(static_cast<IDispatch*>(qi.pItf));
    return object;
  }

  // Advises `sink` at the proxy's event connection point.
  HRESULT AdviseSink(IDispatch* proxy, RecordingSink* sink, DWORD* cookie,
                     ComPtr<IConnectionPoint>* point) {
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr =
        proxy->QueryInterface(IID_IConnectionPointContainer, container.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    hr = container->FindConnectionPoint(kEventsIid, point->ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    return (*point)->Advise(sink, cookie);
  }

  bool WaitForError(const std::string& fragment) {
    return test_support::WaitFor([&] {
      std::lock_guard lock(mutex_);
      return errors_.find(fragment) != std::string::npos;
    });
  }

  test_support::PrivateRegistry registry_;
  std::string path_;
  TestObject object_;
  std::unique_ptr<ComServer> server_;
  std::mutex mutex_;
  std::string errors_;  // one line each
};

TEST_F(ComRemotingTest, ArgumentFormsOfTheSwitchRoundTripAndOthersAreRefused) {
  StartServer();
  ComPtr<IDispatch> proxy = Create();
  ASSERT_TRUE(proxy);
  for (const size_t size : {size_t{0}, size_t{1}, size_t{64 * 1024}, size_t{1024 * 1024}}) {
    std::vector<BYTE> sent(size);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<BYTE>(i * 7 + 3);
    BSTR text = MakeString(sent);
    VARIANTARG arg = Arg(VT_BSTR | VT_BYREF);
    arg.pbstrVal = &text;
    VARIANT result = Arg(VT_EMPTY);
    ASSERT_EQ(Call(proxy.Get(), remote_test::kIdEcho, {arg}, &result), S_OK) << size;
    EXPECT_EQ(BytesOf(text), remote_test::Transformed(sent)) << size;
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 1);
    SysFreeString(text);
  }
  BYTE ui1 = 0xFF;
  std::vector<VARIANTARG> args = {Arg(VT_UI1 | VT_BYREF), Arg(VT_I2, -32768)};
  args[0].pbVal = &ui1;
  VARIANT result = Arg(VT_EMPTY);
  ASSERT_EQ(Call(proxy.Get(), remote_test::kIdEcho, args, &result), S_OK);
  EXPECT_EQ(ui1, 0);  // wraps, as on the server
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, -32768);
  BSTR text = nullptr;
  VARIANTARG arg = Arg(VT_BSTR | VT_BYREF);
  arg.pbstrVal = &text;
  ASSERT_EQ(Call(proxy.Get(), remote_test::kIdEcho, {arg}, nullptr), S_OK);
  // The object saw an empty string and answered with one byte.
  EXPECT_EQ(BytesOf(text), std::vector<BYTE>{0x5A});
  SysFreeString(text);
  VARIANTARG by_value = Arg(VT_BSTR);
  by_value.bstrVal = MakeString({0, 1, 0, 0xFF, 'x'});
  ASSERT_EQ(Call(proxy.Get(), remote_test::kIdEcho, {by_value}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(BytesOf(result.bstrVal), (std::vector<BYTE>{0, 1, 0, 0xFF, 'x'}));
  VariantClear(&result);
  VariantClear(&by_value);
  // A type the wire does not carry is refused without harm to the connection;
  // names cross one by one.  Named arguments are the wire test's.
  EXPECT_EQ(Call(proxy.Get(), remote_test::kIdEcho, {Arg(VT_DISPATCH)}, nullptr),
            DISP_E_BADVARTYPE);
  EXPECT_EQ(Call(proxy.Get(), remote_test::kIdEcho, {I4(1)}, nullptr), S_OK);
  const OLECHAR* names[] = {u"Slow", u"NoSuchMember", u"Echo"};
  DISPID ids[3] = {0, 0, 0};
  EXPECT_EQ(
      proxy->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 3, LOCALE_SYSTEM_DEFAULT, ids),
      DISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<DISPID>(ids, ids + 3),
            (std::vector<DISPID>{remote_test::kIdSlow, DISPID_UNKNOWN, remote_test::kIdEcho}));
}

TEST_F(ComRemotingTest, EventsReachEachClientOnItsProxyThreadInOrder) {
  StartServer();
  RecordingSink sinks[2];  // outlive the proxies that may still hold them
  ComPtr<IDispatch> proxies[2] = {Create(), Create()};
  ASSERT_TRUE(proxies[0] && proxies[1]);
  DWORD cookies[2] = {0, 0};
  ComPtr<IConnectionPoint> points[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(AdviseSink(proxies[i].Get(), &sinks[i], &cookies[i], &points[i]), S_OK);
  }
  EXPECT_EQ(object_.SinkCount(), 2u);
  object_.RaiseEvents(3, 5);
  object_.RaiseEvents(4, 1);
  for (RecordingSink& sink : sinks) {
    ASSERT_TRUE(sink.WaitForEvents(6, kPatience));
    const auto events = sink.Events();
    ASSERT_EQ(events.size(), 6u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(events[i].id, 3);
      EXPECT_EQ(events[i].types,
                (std::vector<VARTYPE>{VT_I2, VT_I2, VT_I2, VT_I2, VT_UI1, VT_BSTR}));
      EXPECT_EQ(events[i].numbers.front(), 0x1000 + i);  // in the order raised
      EXPECT_EQ(events[i].strings.at(0), (std::vector<BYTE>{'e', 'v', static_cast<BYTE>(i)}));
      EXPECT_EQ(events[i].thread_id, events[0].thread_id);
    }
    EXPECT_EQ(events[5].id, 4);
    EXPECT_EQ(events[5].types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR}));
    EXPECT_EQ(events[5].strings.at(0).size(), 52u);
    EXPECT_NE(events[0].thread_id, GetCurrentThreadId());
  }
  EXPECT_NE(sinks[0].Events()[0].thread_id, sinks[1].Events()[0].thread_id);
  EXPECT_EQ(points[0]->Unadvise(cookies[0]), S_OK);
  EXPECT_EQ(points[0]->Unadvise(cookies[0]), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(object_.SinkCount(), 1u);
  // Once the proxies are gone nothing holds the sinks, the one still advised included.
  for (int i = 0; i < 2; ++i) {
    points[i].Reset();
    proxies[i].Reset();
  }
  EXPECT_EQ(sinks[0].References() + sinks[1].References(), 0u);
}

TEST_F(ComRemotingTest, CancelledOrTimedOutCallEndsAndTheNextCallGetsItsOwnReply) {
  StartServer();
  ComPtr<IDispatch> proxy = Create();
  ASSERT_TRUE(proxy);
  ASSERT_EQ(CoEnableCallCancellation(nullptr), S_OK);
  std::promise<DWORD> caller;
  auto call = std::async(std::launch::async, [&] {
    caller.set_value(GetCurrentThreadId());
    return CallSlow(proxy.Get(), 15000);
  });
  const DWORD caller_thread = caller.get_future().get();
  ASSERT_TRUE(object_.WaitForSlowCall(kPatience));
  EXPECT_EQ(CoCancelCall(caller_thread, 1), S_OK);
  EXPECT_EQ(call.get(), RPC_E_CALL_CANCELED);
  // The server was told, so its work stopped too.
  for (int i = 0; i < 2000 && object_.SlowCallsCancelled() == 0; ++i) Sleep(5);
  EXPECT_EQ(object_.SlowCallsCancelled(), 1);
  LONG number = 0;
  EXPECT_EQ(CallSlow(proxy.Get(), 0, &number), S_OK);
  EXPECT_EQ(number, 2);  // its own reply, not the cancelled call's
  CoDisableCallCancellation(nullptr);
  platform::SetRemoteCallTimeoutMs(200);
  // The caller gives up; the server is told and answers the call as
  // cancelled, a reply that nobody waits for any more.
  EXPECT_EQ(CallSlow(proxy.Get(), 60000), RPC_E_TIMEOUT);
  platform::SetRemoteCallTimeoutMs(0);
  // Until that reply shows the server working again, calls fail at once
  // without reaching it; then they go through.
  HRESULT hr = RPC_E_TIMEOUT;
  for (int i = 0; i < 2000 && (hr = CallSlow(proxy.Get(), 0, &number)) == RPC_E_TIMEOUT; ++i) {
    Sleep(5);
  }
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(number, 4);  // the cancelled, the answered and the timed-out calls came first
  std::lock_guard lock(mutex_);
  EXPECT_EQ(errors_, "");  // one connection served them all
}

struct BadMessage {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* reported;
};

class MalformedClientTest : public ComRemotingTest, public ::testing::WithParamInterface<int> {};

std::vector<BadMessage> BadClientMessages() {
  std::vector<BadMessage> cases;
  auto truncated = RawHeader(static_cast<uint8_t>(wire::MessageType::kCreate), 1, 32);
  truncated.resize(truncated.size() + 5);
  cases.push_back({"truncated", truncated, "stream ended inside a message"});
  cases.push_back(
      {"oversized",
       RawHeader(static_cast<uint8_t>(wire::MessageType::kInvoke), 1, wire::kMaxBody + 1),
       "longer than the limit"});
  auto short_create = RawHeader(static_cast<uint8_t>(wire::MessageType::kCreate), 1, 3);
  short_create.insert(short_create.end(), {1, 2, 3});
  cases.push_back({"short creation", short_create, "malformed creation request"});
  cases.push_back({"call before creation",
                   RawHeader(static_cast<uint8_t>(wire::MessageType::kUnadvise), 1, 0),
                   "call before creation"});
  cases.push_back({"reply from a client",
                   RawHeader(static_cast<uint8_t>(wire::MessageType::kReply), 1, 0),
                   "unexpected message type"});
  return cases;
}

TEST_P(MalformedClientTest, ClosesThatConnectionAndServesOthers) {
  const BadMessage bad = BadClientMessages().at(static_cast<size_t>(GetParam()));
  StartServer();
  ComPtr<IDispatch> good = Create();
  ASSERT_TRUE(good);
  const int fd = ConnectRaw(path_);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bad.bytes.data(), bad.bytes.size()), static_cast<ssize_t>(bad.bytes.size()));
  if (std::string(bad.name) == "truncated") shutdown(fd, SHUT_WR);
  EXPECT_TRUE(PeerCloses(fd)) << bad.name;
  close(fd);
  EXPECT_TRUE(WaitForError(bad.reported)) << bad.name;
  EXPECT_EQ(Call(good.Get(), remote_test::kIdEcho, {I4(3)}, nullptr), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedClientTest, ::testing::Range(0, 5));

// A hand-written server: accepts one client, answers its creation, then sends what it is given.
class RawServer {
 public:
  explicit RawServer(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(path);
    unlink(path.c_str());
    bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
  }
  ~RawServer() {
    if (client_ >= 0) close(client_);
    close(fd_);
  }
  // Accepts and answers the creation; then reads one request header.
  bool AcceptAndCreate() {
    client_ = accept(fd_, nullptr, nullptr);
    if (client_ < 0) return false;
    wire::Header header;
    if (!ReadRequest(&header)) return false;
    wire::Writer reply(wire::MessageType::kReply, header.call_id);
    reply.I32(S_OK);
    const auto bytes = reply.Finish();
    return write(client_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  bool ReadRequest(wire::Header* header) {
    uint8_t bytes[wire::kHeaderSize];
    if (recv(client_, bytes, sizeof bytes, MSG_WAITALL) != sizeof bytes) return false;
    if (wire::DecodeHeader(bytes, header) != wire::HeaderStatus::kOk) return false;
    std::vector<uint8_t> body(header->length);
    return header->length == 0 || recv(client_, body.data(), body.size(), MSG_WAITALL) ==
                                      static_cast<ssize_t>(body.size());
  }
  void Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(client_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int fd_ = -1;
  int client_ = -1;
};

class MalformedServerTest : public ComRemotingTest, public ::testing::WithParamInterface<int> {};

TEST_P(MalformedServerTest, FailsTheCallAndClosesTheConnection) {
  RawServer raw(path_);
  auto created = std::async(std::launch::async, [&] { return raw.AcceptAndCreate(); });
  ComPtr<IDispatch> proxy = Create();
  ASSERT_TRUE(created.get());
  ASSERT_TRUE(proxy);
  auto call = std::async(std::launch::async,
                         [&] { return Call(proxy.Get(), remote_test::kIdEcho, {I4(1)}, nullptr); });
  wire::Header request;
  ASSERT_TRUE(raw.ReadRequest(&request));
  std::string expected = "malformed event";
  if (GetParam() == 0) {
    // A well-framed reply cut short; refused headers are the server's cases, on the same code.
    auto bytes = RawHeader(static_cast<uint8_t>(wire::MessageType::kReply), request.call_id, 2);
    bytes.insert(bytes.end(), {0, 0});
    raw.Send(bytes);
    expected = "malformed reply to Invoke";
  } else {
    // An event naming an argument type the wire does not carry.
    wire::Writer event(wire::MessageType::kEvent, 0);
    event.U32(1);
    event.I32(3);
    event.U32(0);
    event.U16(DISPATCH_METHOD);
    event.U32(1);
    event.U32(0);
    event.U16(VT_DISPATCH);
    raw.Send(event.Finish());
  }
  const HRESULT hr = call.get();
  EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == RPC_E_INVALID_DATA) << std::hex << hr;
  EXPECT_TRUE(WaitForError(expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedServerTest, ::testing::Range(0, 2));

// Twenty clients call at once; each reply reaches the caller that asked.
TEST_F(ComRemotingTest, TwentyClientsCallAtOnceAndEachGetsItsOwnReplies) {
  StartServer();
  constexpr int kClients = 20;
  constexpr int kCalls = 25;
  std::vector<std::future<int>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::async(std::launch::async, [this, c] {
      ComPtr<IDispatch> proxy = Create();
      int good = 0;
      for (int i = 0; proxy && i < kCalls; ++i) {
        VARIANT result = Arg(VT_EMPTY);
        if (Call(proxy.Get(), remote_test::kIdEcho, {I4(c * 1000 + i)}, &result) == S_OK &&
            result.vt == VT_I4 && result.lVal == c * 1000 + i) {
          ++good;
        }
      }
      return good;
    }));
  }
  for (auto& client : clients) EXPECT_EQ(client.get(), kCalls);
}

TEST_F(ComRemotingTest, PeerIsAcceptedOnlyByUserOrGroup) {
  ComServer::Options options;
  options.allowed_users = {getuid() + 4242};
  StartServer(options);
  HRESULT hr = S_OK;
  ComPtr<IDispatch> proxy = Create(&hr);
  EXPECT_EQ(hr, E_ACCESSDENIED);
  EXPECT_FALSE(proxy);
  EXPECT_TRUE(WaitForError("is not permitted"));
  server_.reset();
  options.group = getgid();  // the peer's group lets it in
  StartServer(options);
  EXPECT_TRUE(Create());
  struct stat info {};  // and the socket file is for owner and group only
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode) && (info.st_mode & 0777) == 0660u) << info.st_mode;
}

}  // namespace
