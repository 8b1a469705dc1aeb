// The client side of the COM remoting: the local-server activator, the
// channel that owns the connection to one server object (calls, replies,
// cancellation, reconnection and re-advising), and the proxy objects.
#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/ComRemoting.h"
#include "platform/registry/Registry.h"
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

constexpr DWORD kDefaultCallTimeoutMs = 30000;
// Between two attempts to reach a lost server while sinks wait for events.
constexpr DWORD kReconnectDelayMs = 1000;

std::atomic<DWORD> g_call_timeout_override{0};

std::string ClassKey(REFCLSID clsid) {
  return "SOFTWARE\\Classes\\CLSID\\" + GuidToString(clsid) + "\\LocalServer32";
}

// "unix:/path" or an absolute path; empty when the endpoint names neither.
std::string SocketPathOf(const std::string& endpoint) {
  std::string path = endpoint;
  if (path.rfind("unix:", 0) == 0) path = path.substr(5);
  if (path.empty() || path[0] != '/' || path.size() >= sizeof(sockaddr_un::sun_path)) return {};
  return path;
}

// Connects with the send time-out bounding the connect too; -1 on failure.
int ConnectTo(const std::string& path, DWORD timeout_ms) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  detail::SetSendTimeout(fd, timeout_ms);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The calling thread's descriptor to be woken through, made once per thread
// rather than once per call.  A wake meant for an earlier call of the thread
// may still be counted on it, so a wake only ever means "look again".
int ThreadSignal() {
  struct Descriptor {
    Descriptor() : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
    const int fd;
  };
  thread_local Descriptor descriptor;
  return descriptor.fd;
}

// One reply awaited by one caller.
struct Pending {
  Pending(uint64_t connection, int caller_signal)
      : generation(connection), signal(caller_signal) {}
  Pending(const Pending&) = delete;
  Pending& operator=(const Pending&) = delete;

  void Complete() {
    done = true;
    const uint64_t one = 1;
    static_cast<void>(::write(signal, &one, sizeof one));
  }

  const uint64_t generation;
  const int signal;          // the caller's, see ThreadSignal
  bool done = false;         // guarded by the channel's mutex
  HRESULT failure = S_OK;    // set instead of body when the connection broke
  std::vector<uint8_t> body;
};

struct Connection {
  Connection(int socket, uint64_t number) : fd(socket), generation(number) {}
  ~Connection() { ::close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // False with errno set when the message could not be written.
  bool Send(const std::vector<uint8_t>& message) {
    std::lock_guard lock(write_mutex);
    return detail::WriteMessage(fd, message);
  }

  const int fd;
  const uint64_t generation;
  std::mutex write_mutex;
  std::atomic<bool> alive{true};
  // Why the connection ended: what calls waiting on it fail with.
  std::atomic<HRESULT> failure{RPC_E_DISCONNECTED};
  // A call ran out of time and the server has sent nothing since: it is
  // stalled, and further calls fail at once instead of each waiting out the
  // time-out in turn (callers that serialize their calls would pile up).
  // Whatever the server sends next shows that it works again.
  std::atomic<bool> unanswered{false};
  std::thread reader;
};

struct Sink {
  ComPtr<IDispatch> sink;
  IID iid;
  bool advised = false;  // the server accepted it on some connection
};

struct QueuedEvent {
  std::unique_ptr<wire::EventMessage> event;
};

// ---------------------------------------------------------------------------
// Channel: everything one proxy needs to talk to its server object.

class Channel : public std::enable_shared_from_this<Channel> {
 public:
  Channel(REFCLSID clsid, std::string path) : clsid_(clsid), path_(std::move(path)) {}
  ~Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  void StartEventThread() {
    auto self = shared_from_this();
    event_thread_ = std::thread([self] { self->EventLoop(); });
  }

  // Connects now (activation); the failure as an HRESULT.
  HRESULT Connect() {
    std::shared_ptr<Connection> connection;
    return EnsureConnected(&connection);
  }

  // Sends one request and waits for its reply body.
  HRESULT Call(MessageType type, const std::function<HRESULT(Writer&)>& build,
               std::vector<uint8_t>* reply) {
    std::shared_ptr<Connection> connection;
    const HRESULT hr = EnsureConnected(&connection);
    if (FAILED(hr)) return hr;
    return Exchange(connection, type, build, reply);
  }

  // A call whose reply is only an HRESULT.
  HRESULT SimpleCall(MessageType type, const std::function<HRESULT(Writer&)>& build) {
    std::vector<uint8_t> reply;
    const HRESULT hr = Call(type, build, &reply);
    if (FAILED(hr)) return hr;
    const HRESULT result = ReadResult(reply);
    if (result == RPC_E_INVALID_DATA) Discard("malformed reply");
    return result;
  }

  HRESULT Advise(REFIID iid, IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(iid, events.ReleaseAndGetVoidAddress())) || !events) {
      return CONNECT_E_CANNOTCONNECT;
    }
    uint32_t id;
    {
      std::lock_guard lock(mutex_);
      id = next_sink_id_++;
      sinks_[id] = Sink{std::move(events), iid, false};
    }
    const HRESULT hr = SimpleCall(MessageType::kAdvise, [&](Writer& w) {
      w.Guid(iid);
      w.U32(id);
      w.U32(0);
      return S_OK;
    });
    ComPtr<IDispatch> released;
    {
      std::lock_guard lock(mutex_);
      auto found = sinks_.find(id);
      if (found != sinks_.end()) {
        if (SUCCEEDED(hr)) {
          found->second.advised = true;
        } else {
          released = std::move(found->second.sink);
          sinks_.erase(found);
        }
      }
    }
    if (SUCCEEDED(hr)) *cookie = id;
    return hr;
  }

  HRESULT Unadvise(DWORD cookie) {
    ComPtr<IDispatch> released;
    {
      std::lock_guard lock(mutex_);
      auto found = sinks_.find(cookie);
      if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
      released = std::move(found->second.sink);
      sinks_.erase(found);
    }
    const HRESULT hr = SimpleCall(MessageType::kUnadvise, [&](Writer& w) {
      w.U32(cookie);
      return S_OK;
    });
    // A server that is gone holds no advise any more: the sink is released.
    if (hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_UNAVAILABLE) return S_OK;
    return hr;
  }

  // Stops the threads and closes the connection; the sinks are released.
  void Shutdown() {
    std::map<uint32_t, Sink> sinks;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      sinks.swap(sinks_);
    }
    changed_.notify_all();
    if (event_thread_.joinable()) {
      if (std::this_thread::get_id() == event_thread_.get_id()) {
        event_thread_.detach();  // the thread ends when this event's delivery returns
      } else {
        event_thread_.join();
      }
    }
    {
      // No connection attempt runs now, and none starts after stopping_.
      std::lock_guard connect(connect_mutex_);
      std::shared_ptr<Connection> current;
      {
        std::lock_guard lock(mutex_);
        current = current_;
      }
      if (current) Break(current, RPC_E_DISCONNECTED, {});
      JoinRetired();
    }
    sinks.clear();
  }

  // Closes the connection after a reply that could not be read.
  void Discard(const std::string& reason) {
    std::shared_ptr<Connection> current;
    {
      std::lock_guard lock(mutex_);
      current = current_;
    }
    if (current) Break(current, RPC_E_DISCONNECTED, reason + " from the server at " + path_);
  }

 private:
  static HRESULT ReadResult(const std::vector<uint8_t>& reply) {
    Reader reader(reply.data(), reply.size());
    int32_t hr = 0;
    if (!reader.I32(&hr) || !reader.AtEnd()) return RPC_E_INVALID_DATA;
    return hr;
  }

  HRESULT EnsureConnected(std::shared_ptr<Connection>* out) {
    std::lock_guard connect(connect_mutex_);
    std::vector<std::pair<uint32_t, IID>> to_advise;
    std::shared_ptr<Connection> connection;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return RPC_E_DISCONNECTED;
      if (current_) {
        *out = current_;
        return S_OK;
      }
    }
    JoinRetired();
    const int fd = ConnectTo(path_, RemoteCallTimeoutMs());
    if (fd < 0) return RPC_E_SERVER_UNAVAILABLE;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) {
        ::close(fd);
        return RPC_E_DISCONNECTED;
      }
      connection = std::make_shared<Connection>(fd, ++generation_);
      current_ = connection;
      for (const auto& [id, sink] : sinks_) {
        if (sink.advised) to_advise.emplace_back(id, sink.iid);
      }
    }
    auto self = shared_from_this();
    Connection* raw = connection.get();
    connection->reader = std::thread([self, raw] { self->ReadLoop(raw); });

    std::vector<uint8_t> reply;
    HRESULT hr = Exchange(connection, MessageType::kCreate,
                          [&](Writer& w) {
                            w.Guid(clsid_);
                            w.Guid(IID_IUnknown);
                            return S_OK;
                          },
                          &reply);
    if (SUCCEEDED(hr)) hr = ReadResult(reply);
    if (FAILED(hr)) {
      Break(connection, hr, {});
      return hr;
    }
    // The server may be a new process: every sink advised before is advised
    // again, marked so that the service can tell it what changed meanwhile.
    for (const auto& [id, iid] : to_advise) {
      const IID advised_iid = iid;
      const uint32_t sink_id = id;
      HRESULT advise = Exchange(connection, MessageType::kAdvise,
                                [&](Writer& w) {
                                  w.Guid(advised_iid);
                                  w.U32(sink_id);
                                  w.U32(wire::kAdviseAgain);
                                  return S_OK;
                                },
                                &reply);
      if (SUCCEEDED(advise)) advise = ReadResult(reply);
      if (FAILED(advise)) {
        ReportRemotingError("advising sink " + std::to_string(sink_id) + " again at " + path_ +
                            " failed: " + std::to_string(static_cast<uint32_t>(advise)));
      }
    }
    *out = connection;
    return S_OK;
  }

  HRESULT Exchange(const std::shared_ptr<Connection>& connection, MessageType type,
                   const std::function<HRESULT(Writer&)>& build, std::vector<uint8_t>* reply) {
    auto pending = std::make_shared<Pending>(connection->generation, ThreadSignal());
    if (pending->signal < 0) return E_OUTOFMEMORY;
    uint32_t id;
    {
      std::lock_guard lock(mutex_);
      if (!connection->alive) return connection->failure.load();
      if (connection->unanswered) return RPC_E_TIMEOUT;
      // Ids wrap after 2^32 calls; one still awaited is never given out again.
      do {
        id = next_call_id_++;
        if (next_call_id_ == 0) next_call_id_ = 1;
      } while (pending_.count(id) != 0);
      pending_[id] = pending;
    }
    auto forget = [&] {
      std::lock_guard lock(mutex_);
      pending_.erase(id);
    };
    // Open before sending, so that a cancel is seen from the moment the
    // server can be working on the call.
    CancellableCall call;
    Writer writer(type, id);
    HRESULT hr = build(writer);
    if (FAILED(hr)) {
      forget();
      return hr;
    }
    const std::vector<uint8_t> message = writer.Finish();
    if (message.empty()) {
      forget();
      return E_INVALIDARG;  // larger than a message may be
    }
    if (!connection->Send(message)) {
      if (errno != EPIPE && errno != ECONNRESET) {
        forget();
        Break(connection, RPC_E_DISCONNECTED, "cannot write to the server at " + path_);
        return RPC_E_DISCONNECTED;
      }
      // The server closed the connection.  The reader still reads what it
      // sent before (a refusal says why) and then fails this call.
    }

    const DWORD timeout = RemoteCallTimeoutMs();
    const uint64_t deadline = NowMs() + timeout;
    // A cancel signals the caller's descriptor too: one descriptor to wait on.
    call.WakeOnCancel(pending->signal);
    pollfd waits[1] = {{pending->signal, POLLIN, 0}};
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (pending->done) {
          pending_.erase(id);
          if (FAILED(pending->failure)) return pending->failure;
          *reply = std::move(pending->body);
          return S_OK;
        }
      }
      if (call.Cancelled()) {
        hr = RPC_E_CALL_CANCELED;
        break;
      }
      const uint64_t now = NowMs();
      if (now >= deadline) {
        hr = RPC_E_TIMEOUT;
        connection->unanswered = true;
        break;
      }
      const int rc = ::poll(waits, 1, static_cast<int>(deadline - now));
      if (rc < 0 && errno != EINTR) {
        hr = E_FAIL;
        break;
      }
      if (rc > 0) {
        uint64_t count;
        static_cast<void>(::read(pending->signal, &count, sizeof count));
      }
    }
    // The call is abandoned: a reply that still comes finds no caller and is
    // dropped; the server is told so that it can stop working on it.
    forget();
    Writer cancel(MessageType::kCancel, id);
    const std::vector<uint8_t> cancel_message = cancel.Finish();
    if (connection->alive) connection->Send(cancel_message);
    return hr;
  }

  // Marks the connection dead and fails every call waiting on it.
  void Break(const std::shared_ptr<Connection>& connection, HRESULT failure,
             const std::string& reason) {
    {
      std::lock_guard lock(mutex_);
      if (!connection->alive.exchange(false)) return;
      connection->failure = failure;
      if (current_ == connection) {
        current_.reset();
        retired_.push_back(connection);
      }
      for (auto& [id, pending] : pending_) {
        if (pending->generation == connection->generation && !pending->done) {
          pending->failure = failure;
          pending->Complete();
        }
      }
    }
    ::shutdown(connection->fd, SHUT_RDWR);
    changed_.notify_all();
    if (!reason.empty()) ReportRemotingError(reason);
  }

  std::shared_ptr<Connection> Find(Connection* raw) {
    std::lock_guard lock(mutex_);
    if (current_.get() == raw) return current_;
    for (const auto& connection : retired_) {
      if (connection.get() == raw) return connection;
    }
    return nullptr;
  }

  void ReadLoop(Connection* raw) {
    std::string reason;
    HRESULT failure = RPC_E_DISCONNECTED;
    detail::MessageReader messages(raw->fd);
    for (;;) {
      wire::Header header;
      std::vector<uint8_t> body;
      const detail::ReadStatus status = messages.Next(&header, &body, &reason);
      if (status == detail::ReadStatus::kClosed) {
        if (raw->alive) reason = "connection to the server at " + path_ + " lost";
        break;
      }
      if (status == detail::ReadStatus::kMalformed) {
        reason = "malformed message from the server at " + path_ + ": " + reason;
        break;
      }
      raw->unanswered = false;
      if (header.type == MessageType::kReply) {
        std::lock_guard lock(mutex_);
        auto found = pending_.find(header.call_id);
        // A reply nobody waits for belongs to a cancelled or timed-out call.
        if (found != pending_.end() && found->second->generation == raw->generation &&
            !found->second->done) {
          found->second->body = std::move(body);
          found->second->Complete();
        }
        continue;
      }
      if (header.type == MessageType::kEvent) {
        auto event = std::make_unique<wire::EventMessage>();
        Reader reader(body.data(), body.size());
        if (!wire::DecodeEvent(reader, event.get())) {
          reason = "malformed event from the server at " + path_;
          break;
        }
        {
          std::lock_guard lock(mutex_);
          events_.push_back(QueuedEvent{std::move(event)});
        }
        changed_.notify_all();
        continue;
      }
      if (header.type == MessageType::kRefused) {
        Reader reader(body.data(), body.size());
        int32_t hr = 0;
        failure = reader.I32(&hr) && reader.AtEnd() && FAILED(hr) ? hr : E_ACCESSDENIED;
        reason = "the server at " + path_ + " refused the connection";
        break;
      }
      reason = "unexpected message type " + std::to_string(static_cast<int>(header.type)) +
               " from the server at " + path_;
      break;
    }
    if (auto connection = Find(raw)) Break(connection, failure, reason);
  }

  void JoinRetired() {
    std::vector<std::shared_ptr<Connection>> retired;
    {
      std::lock_guard lock(mutex_);
      retired.swap(retired_);
    }
    for (const auto& connection : retired) {
      if (connection->reader.joinable()) connection->reader.join();
    }
  }

  // Delivers events in order and, while sinks wait for events from a server
  // that went away, tries to reach it again.
  void EventLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait_for(lock, std::chrono::milliseconds(kReconnectDelayMs),
                        [&] { return stopping_ || !events_.empty(); });
      if (stopping_) return;
      if (!events_.empty()) {
        QueuedEvent queued = std::move(events_.front());
        events_.pop_front();
        ComPtr<IDispatch> sink;
        auto found = sinks_.find(queued.event->sink_id);
        if (found != sinks_.end()) sink = found->second.sink;
        lock.unlock();
        if (sink) {
          wire::EventMessage& event = *queued.event;
          sink->Invoke(event.id, IID_NULL, event.locale, event.flags, event.params.Params(),
                       nullptr, nullptr, nullptr);
        }
        sink.Reset();
        queued.event.reset();
        lock.lock();
        continue;
      }
      if (!current_ && HasAdvisedSinks()) {
        lock.unlock();
        std::shared_ptr<Connection> connection;
        EnsureConnected(&connection);
        lock.lock();
      }
    }
  }

  bool HasAdvisedSinks() const {
    for (const auto& entry : sinks_) {
      if (entry.second.advised) return true;
    }
    return false;
  }

  const CLSID clsid_;
  const std::string path_;
  std::mutex connect_mutex_;  // one connection attempt at a time; taken before mutex_
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::shared_ptr<Connection> current_;
  std::vector<std::shared_ptr<Connection>> retired_;
  uint64_t generation_ = 0;
  uint32_t next_call_id_ = 1;
  std::map<uint32_t, std::shared_ptr<Pending>> pending_;
  uint32_t next_sink_id_ = 1;
  std::map<uint32_t, Sink> sinks_;
  std::deque<QueuedEvent> events_;
  std::thread event_thread_;
};

// ---------------------------------------------------------------------------
// The proxy of the server object, and of one of its connection points.

class RemoteObject final : public IDispatch, public IConnectionPointContainer {
 public:
  explicit RemoteObject(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
      const HRESULT hr = channel_->SimpleCall(MessageType::kQueryInterface, [&](Writer& w) {
        w.Guid(iid);
        return S_OK;
      });
      if (FAILED(hr)) return hr;
      *object = static_cast<IConnectionPointContainer*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      channel_->Shutdown();
      delete this;
    }
    return left;
  }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* ids) override {
    if (names == nullptr || ids == nullptr) return E_POINTER;
    if (count == 0 || count > wire::kMaxNames) return E_INVALIDARG;
    std::vector<uint8_t> reply;
    HRESULT hr = channel_->Call(MessageType::kGetIDsOfNames,
                                [&](Writer& w) {
                                  w.Guid(iid);
                                  w.U32(locale);
                                  w.U32(count);
                                  for (UINT i = 0; i < count; ++i) w.Text(names[i]);
                                  return S_OK;
                                },
                                &reply);
    if (FAILED(hr)) return hr;
    Reader reader(reply.data(), reply.size());
    int32_t result = 0;
    uint32_t returned = 0;
    std::vector<DISPID> got(count);
    bool read = reader.I32(&result) && reader.U32(&returned) && returned == count;
    for (DISPID& id : got) read = read && reader.I32(&id);
    if (!read || !reader.AtEnd()) {
      channel_->Discard("malformed reply to GetIDsOfNames");
      return RPC_E_INVALID_DATA;
    }
    std::copy(got.begin(), got.end(), ids);
    return result;
  }

  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override {
    std::vector<uint8_t> reply;
    HRESULT hr = channel_->Call(MessageType::kInvoke,
                                [&](Writer& w) {
                                  w.I32(id);
                                  w.Guid(iid);
                                  w.U32(locale);
                                  w.U16(flags);
                                  uint8_t options = 0;
                                  if (result != nullptr) options |= wire::kWantResult;
                                  if (exception != nullptr) options |= wire::kWantException;
                                  if (arg_error != nullptr) options |= wire::kWantArgError;
                                  w.U8(options);
                                  return w.Params(params);
                                },
                                &reply);
    if (FAILED(hr)) return hr;
    wire::InvokeReply decoded;
    Reader reader(reply.data(), reply.size());
    if (!wire::DecodeInvokeReply(reader, &decoded) || !wire::ApplyOutputs(decoded, params)) {
      channel_->Discard("malformed reply to Invoke");
      return RPC_E_INVALID_DATA;
    }
    if (result != nullptr) {
      VariantClear(result);
      if (decoded.has_result) {
        *result = decoded.result;
        VariantInit(&decoded.result);
      }
    }
    if (exception != nullptr && decoded.has_exception) {
      *exception = decoded.exception;
      std::memset(static_cast<void*>(&decoded.exception), 0, sizeof decoded.exception);
    }
    if (arg_error != nullptr) *arg_error = decoded.arg_error;
    return decoded.hr;
  }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  Channel& channel() { return *channel_; }

 private:
  ~RemoteObject() = default;
  std::shared_ptr<Channel> channel_;
  std::atomic<ULONG> references_{0};
};

class RemotePoint final : public platform::RefCounted<IConnectionPoint> {
 public:
  RemotePoint(RemoteObject* owner, REFIID iid) : owner_(owner), iid_(iid) { owner_->AddRef(); }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (container == nullptr) return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(owner_);
    owner_->AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    return owner_->channel().Advise(iid_, sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return owner_->channel().Unadvise(cookie); }
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  ~RemotePoint() { owner_->Release(); }
  RemoteObject* owner_;
  const IID iid_;
};

HRESULT RemoteObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  const HRESULT hr = channel_->SimpleCall(MessageType::kFindConnectionPoint, [&](Writer& w) {
    w.Guid(iid);
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  auto* created = new RemotePoint(this, iid);
  created->AddRef();
  *point = created;
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Activation and settings

HRESULT ActivateLocalServer(REFCLSID clsid, DWORD context, const std::u16string& server,
                            REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if ((context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) == 0) return REGDB_E_CLASSNOTREG;
  // Only servers of this machine are reachable: there is no transport to others.
  if (!NamesThisMachine(server)) return REGDB_E_CLASSNOTREG;
  const std::optional<std::string> endpoint = LocalServerEndpoint(clsid);
  if (!endpoint) return REGDB_E_CLASSNOTREG;
  const std::string path = SocketPathOf(*endpoint);
  if (path.empty()) {
    ReportRemotingError("class " + GuidToString(clsid) + " names no usable endpoint: \"" +
                        *endpoint + "\"");
    return REGDB_E_CLASSNOTREG;
  }
  auto channel = std::make_shared<Channel>(clsid, path);
  const HRESULT hr = channel->Connect();
  if (FAILED(hr)) {
    channel->Shutdown();
    return hr;
  }
  channel->StartEventThread();
  auto* proxy = new RemoteObject(std::move(channel));
  proxy->AddRef();
  const HRESULT result = proxy->QueryInterface(iid, object);
  proxy->Release();
  return result;
}

void EnableLocalServerActivation() { SetClassActivator(&ActivateLocalServer); }

LONG RegisterLocalServer(REFCLSID clsid, const std::string& endpoint) {
  LONG error = ERROR_SUCCESS;
  auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, ClassKey(clsid), false, KEY_ALL_ACCESS,
                                 &error);
  if (!key) return error;
  return key->SetString("", endpoint);
}

std::optional<std::string> LocalServerEndpoint(REFCLSID clsid) {
  auto key = RegistryKey::Open(HKEY_LOCAL_MACHINE, ClassKey(clsid));
  if (!key) return std::nullopt;
  return key->QueryString("");
}

DWORD RemoteCallTimeoutMs() {
  const DWORD override_ms = g_call_timeout_override.load();
  if (override_ms != 0) return override_ms;
  if (const char* text = std::getenv("LORVETH_COM_CALL_TIMEOUT")) {
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(text, &end, 10);
    if (end != text && *end == 0 && seconds > 0 && seconds <= 3600) {
      return static_cast<DWORD>(seconds * 1000);
    }
  }
  return kDefaultCallTimeoutMs;
}

void SetRemoteCallTimeoutMs(DWORD milliseconds) { g_call_timeout_override = milliseconds; }

}  // namespace platform
