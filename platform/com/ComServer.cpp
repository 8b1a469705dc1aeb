// The server side of the COM remoting: the listening socket, peer checks, and
// one connection per client with a call thread that runs the client's calls
// in order on its object, reading them itself while it has nothing to do, and
// a reader thread that reads (cancels, further calls) while a call runs long.
#include <errno.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/ComRemoting.h"
#include "platform/system/Paths.h"
#include "platform/system/Threads.h"
#include "platform/com/detail/ComSocket.h"
#include "platform/com/detail/ComWire.h"

namespace platform {

namespace {

using detail::NowMs;
using detail::ReportRemotingError;
using detail::wire::MessageType;
using detail::wire::Reader;
using detail::wire::Writer;
namespace wire = detail::wire;

// A client that does not read what it is sent for this long is dropped, so
// that one stuck client cannot hold up events to the others.
constexpr uint32_t kSendTimeoutMs = 10000;
// Calls a client may have queued on its connection; more is a protocol error.
constexpr size_t kMaxQueuedCalls = 64;
constexpr size_t kMaxConnections = 256;
// A call running this long has the reader thread read the connection, so that
// a cancel reaches it.  Shorter calls are over before a cancel could matter.
constexpr uint64_t kWatchCallAfterMs = 5;
// After this long without calls the reader thread stops looking at the clock
// and sleeps until a call comes.
constexpr uint64_t kIdleAfterMs = 100;

bool CanCarry(const VARIANT& value) {
  Writer probe(MessageType::kReply, 0);
  return (value.vt & VT_BYREF) == 0 && SUCCEEDED(probe.Variant(value));
}

class ServerConnection;

// The sink that the server object sees for one client's advise: its Invoke
// sends the event down that client's connection and returns at once.
class SinkProxy final : public platform::RefCounted<IDispatch> {
 public:
  SinkProxy(std::weak_ptr<ServerConnection> connection, uint32_t sink_id, REFIID iid)
      : connection_(std::move(connection)), sink_id_(sink_id), iid_(iid) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iid_) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override;

 private:
  ~SinkProxy() = default;
  std::weak_ptr<ServerConnection> connection_;
  const uint32_t sink_id_;
  const IID iid_;
};

class ServerConnection : public std::enable_shared_from_this<ServerConnection> {
 public:
  ServerConnection(std::shared_ptr<ComServer::Impl> server, int fd, ComServer::Peer peer)
      : server_(std::move(server)),
        fd_(fd),
        peer_(peer),
        messages_(fd),
        hand_over_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~ServerConnection() {
    ::close(fd_);
    if (hand_over_fd_ >= 0) ::close(hand_over_fd_);
  }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // False when the connection cannot be served (no descriptor to spare).
  bool Ready() const { return hand_over_fd_ >= 0; }

  void Start() {
    auto self = shared_from_this();
    reader_ = std::thread([self] { self->ReadLoop(); });
    worker_ = std::thread([self] { self->CallLoop(); });
  }

  // Closes the connection; the call thread then releases the object.
  void Close(const std::string& reason) {
    if (closed_.exchange(true)) return;
    if (!reason.empty()) ReportRemotingError(reason);
    ::shutdown(fd_, SHUT_RDWR);
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      if (current_call_ != 0) CancelCallOnThread(worker_thread_id_);
    }
    changed_.notify_all();
  }

  void Join() {
    if (reader_.joinable()) reader_.join();
    if (worker_.joinable()) worker_.join();
  }

  bool Finished() const { return finished_.load(); }
  bool Closed() const { return closed_.load(); }
  const ComServer::Peer& peer() const { return peer_; }

  bool Send(const std::vector<uint8_t>& message) {
    if (closed_) return false;
    bool written;
    {
      std::lock_guard lock(write_mutex_);
      written = detail::WriteMessage(fd_, message);
    }
    if (!written) Close("cannot write to client " + std::to_string(peer_.connection));
    return written;
  }

 private:
  struct Request {
    wire::Header header;
    std::vector<uint8_t> body;
  };
  struct SinkRecord {
    ComPtr<IConnectionPoint> point;
    DWORD cookie;
  };

  std::string Who() const {
    return "client " + std::to_string(peer_.connection) + " (pid " + std::to_string(peer_.pid) +
           ")";
  }

  // What one read brought: a call to run (into *request), a cancel handled,
  // or the end of the connection (false, with why in *reason).
  bool TakeIn(detail::ReadStatus status, Request* request, bool* is_call, std::string* reason) {
    *is_call = false;
    if (status == detail::ReadStatus::kClosed) {
      reason->clear();
      return false;
    }
    if (status == detail::ReadStatus::kMalformed) {
      *reason = "malformed message from " + Who() + ": " + *reason;
      return false;
    }
    const MessageType type = request->header.type;
    if (type == MessageType::kCancel) {
      std::lock_guard lock(mutex_);
      if (current_call_ == request->header.call_id && current_call_ != 0) {
        CancelCallOnThread(worker_thread_id_);
      }
      return true;
    }
    if (type == MessageType::kReply || type == MessageType::kEvent ||
        type == MessageType::kRefused) {
      *reason = "unexpected message type " + std::to_string(static_cast<int>(type)) + " from " +
                Who();
      return false;
    }
    *is_call = true;
    return true;
  }

  // The reader thread: it reads while a call has been running for a while,
  // until the call thread wants the connection back.
  void ReadLoop() {
    std::string reason;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        for (;;) {
          if (stopping_) return;
          const uint64_t now = NowMs();
          if (!reading_ && call_started_ != 0 && now - call_started_ >= kWatchCallAfterMs) break;
          if (call_started_ != 0 || now - last_call_ < kIdleAfterMs) {
            changed_.wait_for(lock, std::chrono::milliseconds(kWatchCallAfterMs));
          } else {
            reader_asleep_ = true;
            changed_.wait(lock);
            reader_asleep_ = false;
          }
        }
        reading_ = true;
      }
      if (!ReadWhileCallRuns(&reason)) break;
    }
    Close(reason);
  }

  // Reads until the call thread asks for the connection; false (with why) when
  // the connection ends.
  bool ReadWhileCallRuns(std::string* reason) {
    for (;;) {
      if (!messages_.HasMessage()) {
        pollfd waits[2] = {{fd_, POLLIN, 0}, {hand_over_fd_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) {
          *reason = "cannot wait for " + Who();
          return false;
        }
        if (waits[1].revents != 0) {
          uint64_t count;
          static_cast<void>(::read(hand_over_fd_, &count, sizeof count));
          std::lock_guard lock(mutex_);
          reading_ = false;
          changed_.notify_all();
          return true;
        }
        if (waits[0].revents == 0) continue;
      }
      Request request;
      const detail::ReadStatus status =
          messages_.Next(&request.header, &request.body, reason, false);
      if (status == detail::ReadStatus::kIncomplete) continue;
      bool is_call = false;
      if (!TakeIn(status, &request, &is_call, reason)) return false;
      if (!is_call) continue;
      {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueuedCalls) {
          *reason = "too many calls queued by " + Who();
          return false;
        }
        queue_.push_back(std::move(request));
      }
      changed_.notify_all();
    }
  }

  // The next call to run: queued by the reader thread, or read by this thread
  // itself while it holds the connection.  False when the connection ends.
  bool NextCall(Request* request) {
    {
      std::unique_lock lock(mutex_);
      bool asked = false;
      for (;;) {
        if (stopping_) return false;
        if (!queue_.empty()) {
          *request = std::move(queue_.front());
          queue_.pop_front();
          StartCall();
          return true;
        }
        if (!reading_) break;
        // The reader thread holds the connection: it is asked to give it back.
        if (!asked) {
          const uint64_t one = 1;
          static_cast<void>(::write(hand_over_fd_, &one, sizeof one));
          asked = true;
        }
        changed_.wait(lock);
      }
      reading_ = true;
    }
    std::string reason;
    for (;;) {
      const detail::ReadStatus status = messages_.Next(&request->header, &request->body, &reason);
      bool is_call = false;
      if (!TakeIn(status, request, &is_call, &reason)) {
        Close(reason);
        return false;
      }
      if (is_call) break;
    }
    std::lock_guard lock(mutex_);
    reading_ = false;
    StartCall();
    return true;
  }

  // Under mutex_: the call thread starts a call.  A reader thread asleep since
  // the connection went quiet is woken to keep an eye on it.
  void StartCall() {
    call_started_ = NowMs();
    if (reader_asleep_) changed_.notify_all();
  }

  void CallLoop() {
    worker_thread_id_ = GetCurrentThreadId();
    for (;;) {
      Request request;
      if (!NextCall(&request)) break;
      std::string problem = Serve(request);
      {
        std::lock_guard lock(mutex_);
        call_started_ = 0;
        last_call_ = NowMs();
      }
      if (!problem.empty()) {
        Close(problem + " from " + Who());
        break;
      }
    }
    // The object learns that this client is gone: its sinks are unadvised
    // and its reference released, on the thread that made its calls.
    std::map<uint32_t, SinkRecord> sinks;
    sinks.swap(sinks_);
    for (auto& [id, record] : sinks) record.point->Unadvise(record.cookie);
    sinks.clear();
    dispatch_.Reset();
    object_.Reset();
    finished_ = true;
  }

  // Runs one call; a non-empty result is a protocol error that ends the
  // connection.
  std::string Serve(const Request& request) {
    Reader reader(request.body.data(), request.body.size());
    const uint32_t call_id = request.header.call_id;
    const MessageType type = request.header.type;
    if (type == MessageType::kCreate) {
      wire::CreateRequest create;
      if (!wire::DecodeCreate(reader, &create)) return "malformed creation request";
      if (object_) return "second creation request";
      return ReplyResult(call_id, Create(create));
    }
    if (!object_) return "call before creation";
    switch (type) {
      case MessageType::kQueryInterface: {
        IID iid;
        if (!reader.Guid(&iid) || !reader.AtEnd()) return "malformed interface query";
        ComPtr<IUnknown> found;
        const HRESULT hr = object_->QueryInterface(iid, found.ReleaseAndGetVoidAddress());
        return ReplyResult(call_id, hr);
      }
      case MessageType::kGetIDsOfNames:
        return GetIDsOfNames(call_id, reader);
      case MessageType::kInvoke:
        return Invoke(call_id, reader);
      case MessageType::kFindConnectionPoint: {
        IID iid;
        if (!reader.Guid(&iid) || !reader.AtEnd()) return "malformed connection point query";
        ComPtr<IConnectionPoint> point;
        return ReplyResult(call_id, FindPoint(iid, &point));
      }
      case MessageType::kAdvise:
        return Advise(call_id, reader);
      case MessageType::kUnadvise: {
        uint32_t sink_id = 0;
        if (!reader.U32(&sink_id) || !reader.AtEnd()) return "malformed unadvise request";
        auto found = sinks_.find(sink_id);
        if (found == sinks_.end()) return ReplyResult(call_id, CONNECT_E_NOCONNECTION);
        const HRESULT hr = found->second.point->Unadvise(found->second.cookie);
        sinks_.erase(found);
        return ReplyResult(call_id, hr);
      }
      default:
        return "unexpected request";
    }
  }

  std::string ReplyResult(uint32_t call_id, HRESULT hr) {
    Writer writer(MessageType::kReply, call_id);
    writer.I32(hr);
    Send(writer.Finish());
    return {};
  }

  HRESULT Create(const wire::CreateRequest& request);

  HRESULT FindPoint(REFIID iid, ComPtr<IConnectionPoint>* point) {
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = object_.QueryInterface(IID_IConnectionPointContainer, &container);
    if (FAILED(hr)) return hr;
    if (!container) return E_NOINTERFACE;
    hr = container->FindConnectionPoint(iid, point->ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && !*point) hr = E_POINTER;
    return hr;
  }

  std::string GetIDsOfNames(uint32_t call_id, Reader& reader) {
    wire::NamesRequest request;
    if (!wire::DecodeNames(reader, &request)) return "malformed name lookup";
    std::vector<LPOLESTR> names;
    for (std::u16string& name : request.names) names.push_back(name.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr = dispatch_ ? dispatch_->GetIDsOfNames(request.iid, names.data(),
                                                      static_cast<UINT>(names.size()),
                                                      request.locale, ids.data())
                           : E_NOINTERFACE;
    Writer writer(MessageType::kReply, call_id);
    writer.I32(hr);
    writer.U32(static_cast<uint32_t>(ids.size()));
    for (const DISPID id : ids) writer.I32(id);
    Send(writer.Finish());
    return {};
  }

  std::string Invoke(uint32_t call_id, Reader& reader) {
    wire::InvokeRequest request;
    if (!wire::DecodeInvoke(reader, &request)) return "malformed call";
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception;
    std::memset(static_cast<void*>(&exception), 0, sizeof exception);
    UINT arg_error = 0;
    HRESULT hr = E_NOINTERFACE;
    if (dispatch_) {
      CancellableCall call;
      {
        std::lock_guard lock(mutex_);
        current_call_ = call_id;
        if (stopping_) CancelCallOnThread(worker_thread_id_);
      }
      hr = dispatch_->Invoke(request.id, request.iid, request.locale, request.flags,
                             request.params.Params(),
                             (request.options & wire::kWantResult) != 0 ? &result : nullptr,
                             (request.options & wire::kWantException) != 0 ? &exception : nullptr,
                             (request.options & wire::kWantArgError) != 0 ? &arg_error : nullptr);
      std::lock_guard lock(mutex_);
      current_call_ = 0;
    }
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    const bool has_result = result.vt != VT_EMPTY && CanCarry(result);
    if (result.vt != VT_EMPTY && !has_result && SUCCEEDED(hr)) hr = DISP_E_BADVARTYPE;
    Writer writer(MessageType::kReply, call_id);
    writer.I32(hr);
    writer.U32(arg_error);
    writer.U8(has_result ? 1 : 0);
    if (has_result) writer.Variant(result);
    const bool has_exception = hr == DISP_E_EXCEPTION && (request.options & wire::kWantException);
    writer.U8(has_exception ? 1 : 0);
    if (has_exception) wire::EncodeException(writer, exception);
    request.params.EncodeOutputs(writer);
    std::vector<uint8_t> message = writer.Finish();
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (message.empty()) {
      // What the call returned is more than one message may carry.
      Writer small(MessageType::kReply, call_id);
      small.I32(E_OUTOFMEMORY);
      small.U32(0);
      small.U8(0);
      small.U8(0);
      small.U32(0);
      message = small.Finish();
    }
    Send(message);
    return {};
  }

  std::string Advise(uint32_t call_id, Reader& reader);

  std::shared_ptr<ComServer::Impl> server_;
  const int fd_;
  const ComServer::Peer peer_;
  std::mutex write_mutex_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> finished_{false};
  std::thread reader_;
  std::thread worker_;

  // Read by the holder of the connection only: the call thread, or the reader
  // thread while a call runs long (reading_).
  detail::MessageReader messages_;
  const int hand_over_fd_;  // the call thread asks the reader thread for the connection

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Request> queue_;
  bool stopping_ = false;
  bool reading_ = false;
  bool reader_asleep_ = false;
  uint64_t call_started_ = 0;  // when the running call started; 0 between calls
  uint64_t last_call_ = 0;     // when the last call ended
  uint32_t current_call_ = 0;
  DWORD worker_thread_id_ = 0;

  // Used by the call thread only.
  ComPtr<IUnknown> object_;
  ComPtr<IDispatch> dispatch_;
  CLSID clsid_{};
  std::map<uint32_t, SinkRecord> sinks_;
};

HRESULT SinkProxy::Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO*, UINT*) {
  if (result != nullptr) VariantInit(result);
  auto connection = connection_.lock();
  if (!connection || connection->Closed()) return RPC_E_DISCONNECTED;
  Writer writer(MessageType::kEvent, 0);
  writer.U32(sink_id_);
  writer.I32(id);
  writer.U32(locale);
  writer.U16(flags);
  const HRESULT hr = writer.Params(params);
  if (FAILED(hr)) return hr;
  const std::vector<uint8_t> message = writer.Finish();
  if (message.empty()) return E_INVALIDARG;
  return connection->Send(message) ? S_OK : RPC_E_DISCONNECTED;
}

}  // namespace

// ---------------------------------------------------------------------------

class ComServer::Impl : public std::enable_shared_from_this<ComServer::Impl> {
 public:
  Impl() = default;
  ~Impl() { Stop(); }

  HRESULT Register(REFCLSID clsid, ClassFactory factory) {
    if (!factory) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    classes_[clsid] = std::move(factory);
    return S_OK;
  }

  ClassFactory FactoryOf(REFCLSID clsid) {
    std::lock_guard lock(mutex_);
    auto found = classes_.find(clsid);
    return found != classes_.end() ? found->second : ClassFactory{};
  }

  AdviseObserver Observer() {
    std::lock_guard lock(mutex_);
    return options_.on_advise;
  }

  bool Start(const Options& options, std::string* error);
  void Stop();

  std::vector<Peer> Peers() {
    std::lock_guard lock(mutex_);
    std::vector<Peer> peers;
    for (const auto& connection : connections_) {
      if (!connection->Closed()) peers.push_back(connection->peer());
    }
    return peers;
  }

 private:
  bool Permitted(int fd, Peer* peer, std::string* why);
  void AcceptLoop();
  void Reap(bool all);

  std::mutex mutex_;
  std::map<CLSID, ClassFactory, GuidLess> classes_;
  Options options_;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  ino_t socket_inode_ = 0;
  std::thread acceptor_;
  std::list<std::shared_ptr<ServerConnection>> connections_;
  uint64_t next_connection_ = 1;
};

HRESULT ServerConnection::Create(const wire::CreateRequest& request) {
  ClassFactory factory = server_->FactoryOf(request.clsid);
  if (!factory) return REGDB_E_CLASSNOTREG;
  ComPtr<IUnknown> created;
  HRESULT hr = factory(IID_IUnknown, created.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  if (!created) return E_UNEXPECTED;
  ComPtr<IUnknown> asked;
  hr = created->QueryInterface(request.iid, asked.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  object_ = std::move(created);
  clsid_ = request.clsid;
  object_.QueryInterface(IID_IDispatch, &dispatch_);
  return S_OK;
}

std::string ServerConnection::Advise(uint32_t call_id, Reader& reader) {
  wire::AdviseRequest request;
  if (!wire::DecodeAdvise(reader, &request)) return "malformed advise request";
  if (sinks_.count(request.sink_id) != 0) return ReplyResult(call_id, E_INVALIDARG);
  ComPtr<IConnectionPoint> point;
  HRESULT hr = FindPoint(request.iid, &point);
  ComPtr<IDispatch> sink;
  if (SUCCEEDED(hr)) {
    auto* proxy = new SinkProxy(weak_from_this(), request.sink_id, request.iid);
    sink = ComPtr<IDispatch>(proxy);
    DWORD cookie = 0;
    hr = point->Advise(sink.Get(), &cookie);
    if (SUCCEEDED(hr)) sinks_[request.sink_id] = SinkRecord{point, cookie};
  }
  ReplyResult(call_id, hr);
  if (SUCCEEDED(hr)) {
    if (ComServer::AdviseObserver observer = server_->Observer()) {
      observer(ComServer::AdviseInfo{clsid_, request.iid, sink.Get(), peer_.connection,
                                     (request.flags & wire::kAdviseAgain) != 0});
    }
  }
  return {};
}

bool ComServer::Impl::Permitted(int fd, Peer* peer, std::string* why) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    *why = std::string("cannot read the peer's credentials: ") + std::strerror(errno);
    return false;
  }
  peer->pid = credentials.pid;
  peer->uid = credentials.uid;
  peer->gid = credentials.gid;
  const auto& users = options_.allowed_users;
  if (std::find(users.begin(), users.end(), credentials.uid) != users.end()) return true;
  if (options_.group) {
    if (credentials.gid == *options_.group) return true;
#ifdef SO_PEERGROUPS
    std::vector<gid_t> groups(64);
    socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) == 0) {
      groups.resize(bytes / sizeof(gid_t));
      if (std::find(groups.begin(), groups.end(), *options_.group) != groups.end()) return true;
    }
#endif
  }
  *why = "peer pid " + std::to_string(credentials.pid) + " uid " +
         std::to_string(credentials.uid) + " gid " + std::to_string(credentials.gid) +
         " is not permitted";
  return false;
}

bool ComServer::Impl::Start(const Options& options, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (listen_fd_ >= 0) {
    *error = "already started";
    return false;
  }
  const std::string& path = options.path;
  if (path.empty() || path[0] != '/' || path.size() >= sizeof(sockaddr_un::sun_path)) {
    *error = "socket path must be absolute and shorter than " +
             std::to_string(sizeof(sockaddr_un::sun_path)) + " bytes: \"" + path + "\"";
    return false;
  }
  const std::string directory = path.substr(0, path.rfind('/'));
  if (!directory.empty() && !MakeDirectories(directory)) {
    *error = "cannot create " + directory + ": " + std::strerror(errno);
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat existing{};
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    // A socket file that nobody answers on is left over from a server that
    // died; one that answers belongs to a running server.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 &&
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      *error = path + " is in use by a running server";
      return false;
    }
    ::unlink(path.c_str());
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot bind " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (::chmod(path.c_str(), 0660) != 0 ||
      (options.group && ::chown(path.c_str(), static_cast<uid_t>(-1), *options.group) != 0)) {
    *error = "cannot set the permissions of " + path + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  struct stat bound{};
  if (::lstat(path.c_str(), &bound) == 0) socket_inode_ = bound.st_ino;
  if (::listen(fd, 64) != 0) {
    *error = std::string("listen: ") + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
  if (stop_fd_ < 0) {
    *error = std::string("eventfd: ") + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    options_ = options;
  }
  listen_fd_ = fd;
  auto self = shared_from_this();
  acceptor_ = std::thread([self] { self->AcceptLoop(); });
  return true;
}

void ComServer::Impl::AcceptLoop() {
  pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    const int rc = ::poll(waits, 2, -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      ReportRemotingError(std::string("poll on the listening socket: ") + std::strerror(errno));
      return;
    }
    if (waits[1].revents != 0) return;
    if (waits[0].revents == 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Reap(false);
    detail::SetSendTimeout(fd, kSendTimeoutMs);
    Peer peer{};
    std::string why;
    {
      std::lock_guard lock(mutex_);
      peer.connection = next_connection_++;
    }
    bool permitted = Permitted(fd, &peer, &why);
    if (permitted) {
      std::lock_guard lock(mutex_);
      if (connections_.size() >= kMaxConnections) {
        permitted = false;
        why = "too many clients";
      }
    }
    if (!permitted) {
      Writer refusal(MessageType::kRefused, 0);
      refusal.I32(why == "too many clients" ? RPC_E_SERVER_UNAVAILABLE : E_ACCESSDENIED);
      detail::WriteMessage(fd, refusal.Finish());
      ::close(fd);
      ReportRemotingError("refused a client: " + why);
      continue;
    }
    auto connection = std::make_shared<ServerConnection>(shared_from_this(), fd, peer);
    if (!connection->Ready()) {
      ReportRemotingError("cannot serve client " + std::to_string(peer.connection) + ": " +
                          std::strerror(errno));
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      connections_.push_back(connection);
    }
    connection->Start();
  }
}

void ComServer::Impl::Reap(bool all) {
  std::list<std::shared_ptr<ServerConnection>> done;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->Finished()) {
        done.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& connection : done) {
    connection->Close({});
    connection->Join();
  }
}

void ComServer::Impl::Stop() {
  if (listen_fd_ < 0) return;
  const uint64_t one = 1;
  static_cast<void>(::write(stop_fd_, &one, sizeof one));
  if (acceptor_.joinable() && acceptor_.get_id() != std::this_thread::get_id()) acceptor_.join();
  ::close(listen_fd_);
  ::close(stop_fd_);
  listen_fd_ = -1;
  stop_fd_ = -1;
  // The file is removed only while it is still this server's socket.
  struct stat now{};
  if (::lstat(options_.path.c_str(), &now) == 0 && now.st_ino == socket_inode_) {
    ::unlink(options_.path.c_str());
  }
  Reap(true);
}

// ---------------------------------------------------------------------------

ComServer::ComServer() : impl_(std::make_shared<Impl>()) {}

ComServer::~ComServer() { Stop(); }

HRESULT ComServer::RegisterClassObject(REFCLSID clsid, ClassFactory factory) {
  return impl_->Register(clsid, std::move(factory));
}

bool ComServer::Start(const Options& options, std::string* error) {
  return impl_->Start(options, error);
}

void ComServer::Stop() { impl_->Stop(); }

std::vector<ComServer::Peer> ComServer::Peers() const { return impl_->Peers(); }

}  // namespace platform
