// SNMP reads on one thread of the source running Net-SNMP's single-session
// API: one session per agent address, each read a small state machine (GET,
// then GETBULK down the column when the OID names no instance, then the
// column of names), host names resolved on a second thread so that a slow
// name server delays only the reads of that name.
#include "services/switchd/SnmpSource.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
// clang-format on

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace switchd {

namespace {

// Rows asked for per GETBULK: a typical table in one or two exchanges, and an
// answer that stays well within one UDP datagram.
constexpr int kBulkRows = 32;
// A column longer than this is refused rather than held in memory each poll.
constexpr size_t kMaxRows = 10000;
// Reads in flight to one agent at a time; more wait for a free slot.  A burst
// of hundreds of requests at once overflows an agent's socket buffer, and the
// requests lost there would fail only after their time-out.
constexpr int kMaxInFlightPerAgent = 32;
// Sessions nobody read through for this long are closed.
constexpr int64_t kIdleSessionMs = 10 * 60 * 1000;
// How long a resolved host name is used before it is looked up again.
constexpr int64_t kResolvedForMs = 5 * 60 * 1000;
// The longest OID text looked up in the MIBs.
constexpr size_t kMaxOidText = 1024;
constexpr uint32_t kMaxSubIdentifiers = 128;

const char* const kLibraryName = "switchd";

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Net-SNMP's library state (the MIB tree, request ids) is shared by the whole
// process: every call into it holds this lock, so that several sources, and
// validation on other threads, never meet inside it.
std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Once per process, with LibraryMutex held.
void InitLibrary() {
  static bool initialized = false;
  if (initialized) return;
  initialized = true;
  // Reads keep nothing: no persistent file is read or written.
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  // A name that no MIB knows is reported with the read, not logged.
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
  init_snmp(kLibraryName);
}

using Oid = std::vector<oid>;

// An OID text resolved: numeric without the library, names through the MIBs.
// The caller holds LibraryMutex and has initialized the library.
std::optional<Oid> ResolveOidLocked(std::string_view text) {
  text = TrimBlanks(text);
  if (const auto numeric = ParseNumericOid(text)) return Oid(numeric->begin(), numeric->end());
  if (text.empty() || text.size() > kMaxOidText) return std::nullopt;
  oid buffer[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  if (snmp_parse_oid(std::string(text).c_str(), buffer, &length) == nullptr || length == 0) {
    return std::nullopt;
  }
  return Oid(buffer, buffer + length);
}

std::optional<Oid> ResolveOid(std::string_view text) {
  // Numeric OIDs need no library.
  if (const auto numeric = ParseNumericOid(TrimBlanks(text))) {
    return Oid(numeric->begin(), numeric->end());
  }
  std::lock_guard lock(LibraryMutex());
  InitLibrary();
  return ResolveOidLocked(text);
}

std::string OidText(const oid* name, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(name[i]);
  }
  return text;
}

bool IsIpv4(const std::string& host) {
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

bool IsIpv6(const std::string& host) {
  in6_addr address{};
  return inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

// A host name as DNS allows it: labels of letters, digits and hyphens, not
// all of them numbers (that would be a mistyped IPv4 address).
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  bool all_digits = true;
  size_t start = 0;
  while (start <= host.size()) {
    const size_t dot = std::min(host.find('.', start), host.size());
    const std::string_view label = host.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
      return false;
    }
    for (const char c : label) {
      const bool digit = c >= '0' && c <= '9';
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      if (!digit && !letter && c != '-') return false;
      all_digits = all_digits && digit;
    }
    start = dot + 1;
  }
  return !all_digits;
}

// The peer text Net-SNMP opens for an address.
std::string PeerName(const std::string& ip, uint16_t port) {
  const std::string port_text = std::to_string(port);
  return IsIpv6(ip) ? "udp6:[" + ip + "]:" + port_text : "udp:" + ip + ":" + port_text;
}

std::string Display(const SnmpAddress& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

const char* TypeName(u_char type) {
  switch (type) {
    case ASN_INTEGER:
      return "INTEGER";
    case ASN_OCTET_STR:
      return "OCTET STRING";
    case ASN_OBJECT_ID:
      return "OBJECT IDENTIFIER";
    case ASN_IPADDRESS:
      return "IpAddress";
    case ASN_NULL:
      return "NULL";
    case ASN_OPAQUE:
      return "Opaque";
    default:
      return "a type that is no number";
  }
}

// The number a value carries; none for a type that carries none.  Counters
// mark the reading.
std::optional<int64_t> Number(const netsnmp_variable_list& value, Reading* reading) {
  switch (value.type) {
    case ASN_INTEGER:
      return static_cast<int64_t>(*value.val.integer);
    case ASN_GAUGE:
    case ASN_TIMETICKS:
      return static_cast<int64_t>(static_cast<uint32_t>(*value.val.integer));
    case ASN_COUNTER:
      reading->counter = true;
      reading->counter_modulus = uint64_t{1} << 32;
      return static_cast<int64_t>(static_cast<uint32_t>(*value.val.integer));
    case ASN_COUNTER64: {
      reading->counter = true;
      const uint64_t high = value.val.counter64->high & 0xFFFFFFFFu;
      const uint64_t low = value.val.counter64->low & 0xFFFFFFFFu;
      return static_cast<int64_t>((high << 32) | low);
    }
    case ASN_OCTET_STR:
      return ParseDecimalValue(
          std::string_view(reinterpret_cast<const char*>(value.val.string), value.val_len));
    default:
      return std::nullopt;
  }
}

// A value as an instance name.
std::string Text(const netsnmp_variable_list& value) {
  switch (value.type) {
    case ASN_OCTET_STR: {
      std::string text(reinterpret_cast<const char*>(value.val.string), value.val_len);
      while (!text.empty() && text.back() == '\0') text.pop_back();
      return text;
    }
    case ASN_INTEGER:
      return std::to_string(*value.val.integer);
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_COUNTER:
      return std::to_string(static_cast<uint32_t>(*value.val.integer));
    case ASN_OBJECT_ID:
      return OidText(value.val.objid, value.val_len / sizeof(oid));
    case ASN_IPADDRESS:
      if (value.val_len == 4) {
        const u_char* b = value.val.string;
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
               "." + std::to_string(b[3]);
      }
      return "";
    default:
      return "";
  }
}

Reading Failed(std::string error) {
  Reading reading;
  reading.error = std::move(error);
  return reading;
}

}  // namespace

std::optional<SnmpAddress> ParseSnmpTarget(std::string_view text, std::string* reason) {
  text = TrimBlanks(text);
  SnmpAddress address;
  if (text.empty()) {
    address.host = "127.0.0.1";
    return address;
  }
  std::string_view host = text;
  std::string_view port;
  bool valid = true;
  bool bracketed = false;
  if (text.front() == '[') {
    // "[v6]" or "[v6]:port"
    const size_t close = text.find(']');
    bracketed = true;
    valid = close != std::string_view::npos;
    if (valid) {
      host = text.substr(1, close - 1);
      const std::string_view rest = text.substr(close + 1);
      valid = rest.empty() || (rest.size() > 1 && rest.front() == ':');
      if (valid && !rest.empty()) port = rest.substr(1);
    }
  } else if (const size_t colon = text.find(':');
             colon != std::string_view::npos &&
             text.find(':', colon + 1) == std::string_view::npos) {
    // One colon: "host:port"; more are a bare IPv6 address.
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    valid = !port.empty();
  }
  address.host = std::string(host);
  valid = valid && (bracketed ? IsIpv6(address.host)
                              : IsIpv4(address.host) || IsIpv6(address.host) || IsHostName(host));
  if (valid && !port.empty()) {
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    valid = ec == std::errc() && end == port.data() + port.size() && number > 0 && number < 65536;
    address.port = static_cast<uint16_t>(number);
  }
  if (!valid) {
    *reason = "\"" + std::string(text) + "\" is not an address (host, host:port or [IPv6]:port)";
    return std::nullopt;
  }
  return address;
}

std::optional<std::vector<uint32_t>> ParseNumericOid(std::string_view text) {
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  std::vector<uint32_t> ids;
  while (!text.empty()) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    uint32_t id = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), id);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return std::nullopt;
    if (ids.size() == kMaxSubIdentifiers) return std::nullopt;
    ids.push_back(id);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
    if (text.empty()) return std::nullopt;  // a trailing dot
  }
  if (ids.size() < 2) return std::nullopt;
  return ids;
}

// The thread that owns every Net-SNMP session of the source, and the thread
// that resolves host names for it.
class SnmpSource::Worker {
 public:
  explicit Worker(const EngineSettings& settings)
      : settings_(settings), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  ~Worker() {
    {
      std::lock_guard lock(inbox_mutex_);
      stopping_ = true;
    }
    Wake();
    resolver_wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (resolver_.joinable()) resolver_.join();
    if (wake_fd_ >= 0) close(wake_fd_);
    // Reads submitted while the thread was stopping never started.
    for (auto& job : inbox_) job->done(Stopped());
  }

  void UpdateSettings(const EngineSettings& settings) {
    {
      std::lock_guard lock(inbox_mutex_);
      settings_ = settings;
      ++settings_generation_;
    }
    Wake();
  }

  struct Job;
  void Submit(std::unique_ptr<Job> job) {
    {
      std::lock_guard lock(inbox_mutex_);
      if (!stopping_ && !thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
        resolver_ = std::thread([this] { ResolveLoop(); });
      }
      inbox_.push_back(std::move(job));
    }
    Wake();
  }

  struct Row {
    Oid index;
    int64_t value = 0;
  };
  enum class Phase { kGet, kWalk, kNames };
  struct Session;
  struct Job {
    uint64_t id = 0;
    std::string request;
    std::string names_request;
    SnmpAddress address;
    std::function<void(Reading)> done;
    Oid column;
    std::optional<Oid> name_column;
    Phase phase = Phase::kGet;
    Oid cursor;
    std::vector<Row> rows;
    std::map<Oid, std::string> names;
    Reading reading;
    Session* session = nullptr;
  };

  struct Session {
    void* handle = nullptr;
    int socket = -1;
    int pending = 0;              // requests sent and not yet answered or timed out
    std::deque<uint64_t> queued;  // reads waiting for a free slot
    bool broken = false;
    int64_t last_used_ms = 0;
    std::string address;  // for messages
    DWORD timeout_ms = 0;
    DWORD retries = 0;
  };

 private:
  struct Resolution {
    std::string host;
    std::string ip;  // empty when the name could not be resolved
    std::string error;
  };
  struct CachedAddress {
    std::string ip;
    int64_t until_ms = 0;
  };

  void Wake() const {
    if (wake_fd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
  }

  void Run() {
    uint64_t generation = 0;
    EngineSettings settings;
    {
      std::lock_guard lock(inbox_mutex_);
      generation = settings_generation_;
      settings = settings_;
    }
    {
      std::lock_guard lock(LibraryMutex());
      InitLibrary();
    }
    netsnmp_large_fd_set scratch;
    netsnmp_large_fd_set_init(&scratch, FD_SETSIZE);
    for (;;) {
      std::vector<std::unique_ptr<Job>> arrived;
      std::vector<Resolution> resolved;
      bool stopping = false;
      {
        std::lock_guard lock(inbox_mutex_);
        arrived.swap(inbox_);
        resolved.swap(resolutions_);
        stopping = stopping_;
        if (generation != settings_generation_) {
          generation = settings_generation_;
          settings = settings_;
          // Reads from now on use new sessions; the old ones close once
          // their answers are in.
          for (auto& [peer, session] : sessions_) retired_.push_back(std::move(session));
          sessions_.clear();
        }
      }
      if (stopping) {
        for (auto& job : arrived) finished_.emplace_back(std::move(job->done), Stopped());
        break;
      }
      std::vector<pollfd> fds;
      int timeout_ms = -1;
      {
        std::lock_guard lock(LibraryMutex());
        settings_now_ = settings;
        for (const Resolution& resolution : resolved) Resolved(resolution);
        for (auto& job : arrived) Start(std::move(job));
        CloseIdleSessions();
        fds.push_back({wake_fd_, POLLIN, 0});
        ForEachSession([&](Session& session) {
          fds.push_back({session.socket, POLLIN, 0});
          if (session.pending == 0) return;
          int numfds = 0;
          int block = 1;
          timeval wait{};
          NETSNMP_LARGE_FD_ZERO(&scratch);
          snmp_sess_select_info2(session.handle, &numfds, &scratch, &wait, &block);
          if (block == 0) {
            const int ms = static_cast<int>(wait.tv_sec * 1000 + (wait.tv_usec + 999) / 1000);
            timeout_ms = timeout_ms < 0 ? ms : std::min(timeout_ms, ms);
          }
        });
      }
      DeliverFinished();
      poll(fds.data(), fds.size(), timeout_ms);
      if (fds[0].revents != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = read(wake_fd_, &count, sizeof count);
      }
      {
        std::lock_guard lock(LibraryMutex());
        NETSNMP_LARGE_FD_ZERO(&scratch);
        for (size_t i = 1; i < fds.size(); ++i) {
          if (fds[i].revents != 0) NETSNMP_LARGE_FD_SET(fds[i].fd, &scratch);
        }
        ForEachSession([&](Session& session) {
          if (NETSNMP_LARGE_FD_ISSET(session.socket, &scratch)) {
            snmp_sess_read2(session.handle, &scratch);
          }
          if (session.pending > 0) snmp_sess_timeout(session.handle);
        });
      }
      DeliverFinished();
    }
    {
      std::lock_guard lock(LibraryMutex());
      // Closing a session answers its open requests as timed out, which
      // fails their reads.
      ForEachSession([this](Session& session) { FailQueued(session, Stopped().error); });
      closing_ = true;
      ForEachSession([](Session& session) { snmp_sess_close(session.handle); });
      sessions_.clear();
      retired_.clear();
      for (auto& [host, ids] : waiting_) {
        for (const uint64_t id : ids) Finish(Find(id), Stopped());
      }
      waiting_.clear();
    }
    DeliverFinished();
    netsnmp_large_fd_set_cleanup(&scratch);
  }

  template <typename Fn>
  void ForEachSession(Fn fn) {
    for (auto& [peer, session] : sessions_) fn(*session);
    for (auto& session : retired_) fn(*session);
  }

  Job* Find(uint64_t id) {
    const auto it = jobs_.find(id);
    return it == jobs_.end() ? nullptr : it->second.get();
  }

  // Ends a read: its answer is delivered once the library lock is released.
  void Finish(Job* job, Reading reading) {
    if (job == nullptr) return;
    finished_.emplace_back(std::move(job->done), std::move(reading));
    jobs_.erase(job->id);
  }

  static Reading Stopped() { return Failed("the source stopped"); }

  void DeliverFinished() {
    std::vector<std::pair<std::function<void(Reading)>, Reading>> finished;
    finished.swap(finished_);
    for (auto& [done, reading] : finished) done(std::move(reading));
  }

  void Start(std::unique_ptr<Job> owned) {
    Job* job = owned.get();
    jobs_.emplace(job->id, std::move(owned));
    const auto column = ResolveOidLocked(job->request);
    if (!column) {
      Finish(job, Failed("\"" + job->request + "\" is not an OID the installed MIBs know"));
      return;
    }
    job->column = *column;
    if (!job->names_request.empty()) job->name_column = ResolveOidLocked(job->names_request);
    const std::string& host = job->address.host;
    if (IsIpv4(host) || IsIpv6(host)) {
      Connect(job, host);
      return;
    }
    const auto cached = addresses_.find(host);
    if (cached != addresses_.end() && cached->second.until_ms > SteadyMs()) {
      Connect(job, cached->second.ip);
      return;
    }
    auto& waiting = waiting_[host];
    waiting.push_back(job->id);
    if (waiting.size() == 1) {
      {
        std::lock_guard lock(inbox_mutex_);
        to_resolve_.push_back(host);
      }
      resolver_wake_.notify_one();
    }
  }

  void Resolved(const Resolution& resolution) {
    if (!resolution.ip.empty()) {
      addresses_[resolution.host] = {resolution.ip, SteadyMs() + kResolvedForMs};
    }
    const auto it = waiting_.find(resolution.host);
    if (it == waiting_.end()) return;
    const std::vector<uint64_t> ids = std::move(it->second);
    waiting_.erase(it);
    for (const uint64_t id : ids) {
      Job* job = Find(id);
      if (job == nullptr) continue;
      if (resolution.ip.empty()) {
        Finish(job, Failed("cannot resolve " + resolution.host + ": " + resolution.error));
      } else {
        Connect(job, resolution.ip);
      }
    }
  }

  // Sends the read's first request through the session of its agent.
  void Connect(Job* job, const std::string& ip) {
    const std::string peer = PeerName(ip, job->address.port);
    auto& session = sessions_[peer];
    if (!session) {
      std::string error;
      session = Open(peer, Display(job->address), &error);
      if (!session) {
        sessions_.erase(peer);
        Finish(job, Failed(error));
        return;
      }
    }
    session->last_used_ms = SteadyMs();
    job->session = session.get();
    if (session->pending >= kMaxInFlightPerAgent) {
      session->queued.push_back(job->id);
      return;
    }
    Begin(job);
  }

  void Begin(Job* job) {
    job->cursor = job->column;
    Send(job, SNMP_MSG_GET);
  }

  // Starts waiting reads while the agent has free slots.
  void Refill(Session& session) {
    while (session.pending < kMaxInFlightPerAgent && !session.queued.empty()) {
      Job* job = Find(session.queued.front());
      session.queued.pop_front();
      if (job != nullptr) Begin(job);
    }
  }

  // Fails the reads waiting for the agent: when it does not answer one read,
  // the reads behind it would only wait their turn to time out as well.
  void FailQueued(Session& session, const std::string& reason) {
    for (const uint64_t id : session.queued) Finish(Find(id), Failed(reason));
    session.queued.clear();
  }

  std::unique_ptr<Session> Open(const std::string& peer, const std::string& display,
                                std::string* error) {
    netsnmp_session config;
    snmp_sess_init(&config);
    std::string peer_text = peer;
    std::string community = settings_now_.community;
    config.version = SNMP_VERSION_2c;
    config.peername = peer_text.data();
    config.community = reinterpret_cast<u_char*>(community.data());
    config.community_len = community.size();
    config.timeout = static_cast<long>(settings_now_.snmp_timeout_ms) * 1000;
    config.retries = static_cast<int>(settings_now_.snmp_retries);
    config.callback_magic = this;
    void* handle = snmp_sess_open(&config);
    if (handle == nullptr) {
      int library_error = 0;
      int system_error = 0;
      char* text = nullptr;
      snmp_error(&config, &library_error, &system_error, &text);
      *error = "cannot open a session to " + display + ": " + (text != nullptr ? text : "?");
      free(text);
      return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->handle = handle;
    session->socket = snmp_sess_transport(handle)->sock;
    session->address = display;
    session->timeout_ms = settings_now_.snmp_timeout_ms;
    session->retries = settings_now_.snmp_retries;
    return session;
  }

  void Send(Job* job, int command) {
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    if (command == SNMP_MSG_GETBULK) {
      pdu->non_repeaters = 0;
      pdu->max_repetitions = kBulkRows;
    }
    snmp_add_null_var(pdu, job->cursor.data(), job->cursor.size());
    Session* session = job->session;
    if (snmp_sess_async_send(session->handle, pdu, &Worker::Answered,
                             reinterpret_cast<void*>(static_cast<uintptr_t>(job->id))) == 0) {
      int library_error = 0;
      int system_error = 0;
      char* text = nullptr;
      snmp_sess_error(session->handle, &library_error, &system_error, &text);
      snmp_free_pdu(pdu);
      Finish(job,
             Failed("cannot send to " + session->address + ": " + (text != nullptr ? text : "?")));
      free(text);
      return;
    }
    ++session->pending;
  }

  static int Answered(int operation, netsnmp_session* session, int /*request*/, netsnmp_pdu* pdu,
                      void* magic) {
    auto* self = static_cast<Worker*>(session->callback_magic);
    self->OnAnswer(operation, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(magic)), pdu);
    return 1;
  }

  void OnAnswer(int operation, uint64_t id, netsnmp_pdu* pdu) {
    // A retry being sent is no answer yet.
    if (operation == NETSNMP_CALLBACK_OP_RESEND) return;
    Job* job = Find(id);
    if (job == nullptr) return;
    Session& session = *job->session;
    --session.pending;
    if (closing_) {
      Finish(job, Stopped());
      return;
    }
    if (operation == NETSNMP_CALLBACK_OP_TIMED_OUT) {
      const std::string retries =
          session.retries == 1 ? "1 retry" : std::to_string(session.retries) + " retries";
      const std::string reason = "no answer from " + session.address + " within " +
                                 std::to_string(session.timeout_ms) + " ms (" + retries + ")";
      Finish(job, Failed(reason));
      FailQueued(session, reason);
    } else if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
      // On this machine a closed port is reported at once; the session is
      // not used again.
      const std::string reason = "cannot reach " + session.address + " (nothing listens there)";
      session.broken = true;
      Finish(job, Failed(reason));
      FailQueued(session, reason);
    } else if (pdu->errstat != SNMP_ERR_NOERROR) {
      Finish(job, Failed(session.address + " answered " + snmp_errstring(pdu->errstat)));
    } else if (job->phase == Phase::kGet) {
      OnGet(job, pdu->variables);
    } else {
      OnWalk(job, pdu->variables);
    }
    Refill(session);
  }

  static bool NoInstance(u_char type) {
    return type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE || type == SNMP_ENDOFMIBVIEW;
  }

  void OnGet(Job* job, const netsnmp_variable_list* value) {
    if (value == nullptr) {
      Finish(job, Failed(job->session->address + " answered without a value"));
      return;
    }
    if (NoInstance(value->type)) {
      // Not an instance: a column, whose rows are the instances.
      job->phase = Phase::kWalk;
      Send(job, SNMP_MSG_GETBULK);
      return;
    }
    Reading reading;
    const auto number = Number(*value, &reading);
    if (!number) {
      Finish(job, Failed(job->request + " is " + TypeName(value->type) + ", not a number"));
      return;
    }
    reading.ok = true;
    reading.instances.push_back({1, job->request, *number});
    Finish(job, std::move(reading));
  }

  void OnWalk(Job* job, const netsnmp_variable_list* values) {
    const Oid& prefix = job->phase == Phase::kWalk ? job->column : *job->name_column;
    bool end = values == nullptr;
    for (const netsnmp_variable_list* value = values; value != nullptr && !end;
         value = value->next_variable) {
      if (value->type == SNMP_ENDOFMIBVIEW ||
          netsnmp_oid_is_subtree(prefix.data(), prefix.size(), value->name, value->name_length) !=
              0) {
        end = true;
        break;
      }
      if (snmp_oid_compare(value->name, value->name_length, job->cursor.data(),
                           job->cursor.size()) <= 0) {
        Finish(job, Failed(job->session->address + " answered OIDs out of order"));
        return;
      }
      Oid index(value->name + prefix.size(), value->name + value->name_length);
      if (job->phase == Phase::kWalk) {
        const auto number = Number(*value, &job->reading);
        if (!number) {
          Finish(job, Failed(OidText(value->name, value->name_length) + " is " +
                             TypeName(value->type) + ", not a number"));
          return;
        }
        if (job->rows.size() == kMaxRows) {
          Finish(job,
                 Failed(job->request + " has more than " + std::to_string(kMaxRows) + " rows"));
          return;
        }
        job->rows.push_back({std::move(index), *number});
      } else {
        job->names[std::move(index)] = Text(*value);
      }
      job->cursor.assign(value->name, value->name + value->name_length);
    }
    if (!end) {
      Send(job, SNMP_MSG_GETBULK);
      return;
    }
    if (job->phase == Phase::kWalk && job->name_column && !job->rows.empty()) {
      job->phase = Phase::kNames;
      job->cursor = *job->name_column;
      Send(job, SNMP_MSG_GETBULK);
      return;
    }
    Complete(job);
  }

  void Complete(Job* job) {
    Reading reading = std::move(job->reading);
    reading.ok = true;
    reading.error.clear();
    DWORD position = 0;
    for (const Row& row : job->rows) {
      ++position;
      const bool simple = row.index.size() == 1 && row.index[0] <= 0xFFFFFFFFu;
      const auto name = job->names.find(row.index);
      reading.instances.push_back({simple ? static_cast<DWORD>(row.index[0]) : position,
                                   name != job->names.end() && !name->second.empty()
                                       ? name->second
                                       : OidText(row.index.data(), row.index.size()),
                                   row.value});
    }
    Finish(job, std::move(reading));
  }

  void CloseIdleSessions() {
    const int64_t now = SteadyMs();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (it->second->broken) {
        retired_.push_back(std::move(it->second));
        it = sessions_.erase(it);
      } else if (it->second->pending == 0 && now - it->second->last_used_ms > kIdleSessionMs) {
        snmp_sess_close(it->second->handle);
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
    for (auto it = retired_.begin(); it != retired_.end();) {
      if ((*it)->pending == 0 && (*it)->queued.empty()) {
        snmp_sess_close((*it)->handle);
        it = retired_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void ResolveLoop() {
    std::unique_lock lock(inbox_mutex_);
    for (;;) {
      resolver_wake_.wait(lock, [this] { return stopping_ || !to_resolve_.empty(); });
      if (stopping_) return;
      const std::string host = std::move(to_resolve_.front());
      to_resolve_.pop_front();
      lock.unlock();
      Resolution resolution{host, "", ""};
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_DGRAM;
      addrinfo* found = nullptr;
      const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
      if (status != 0 || found == nullptr) {
        resolution.error = gai_strerror(status);
      } else {
        char text[INET6_ADDRSTRLEN] = {};
        const void* address =
            found->ai_family == AF_INET6
                ? static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
        if (inet_ntop(found->ai_family, address, text, sizeof text) != nullptr) {
          resolution.ip = text;
        }
      }
      if (found != nullptr) freeaddrinfo(found);
      lock.lock();
      resolutions_.push_back(std::move(resolution));
      lock.unlock();
      Wake();
      lock.lock();
    }
  }

  // Shared with Read, UpdateSettings and the resolver, under inbox_mutex_.
  std::mutex inbox_mutex_;
  EngineSettings settings_;
  uint64_t settings_generation_ = 0;
  std::vector<std::unique_ptr<Job>> inbox_;
  std::vector<Resolution> resolutions_;
  std::deque<std::string> to_resolve_;
  std::condition_variable resolver_wake_;
  bool stopping_ = false;
  const int wake_fd_;
  std::thread thread_;
  std::thread resolver_;

  // The worker thread's own.
  EngineSettings settings_now_;
  bool closing_ = false;
  std::map<uint64_t, std::unique_ptr<Job>> jobs_;
  std::map<std::string, std::unique_ptr<Session>> sessions_;
  std::vector<std::unique_ptr<Session>> retired_;
  std::map<std::string, std::vector<uint64_t>> waiting_;
  std::map<std::string, CachedAddress> addresses_;
  std::vector<std::pair<std::function<void(Reading)>, Reading>> finished_;
};

SnmpSource::SnmpSource(const EngineSettings& settings)
    : worker_(std::make_unique<Worker>(settings)) {}

SnmpSource::~SnmpSource() = default;

void SnmpSource::UpdateSettings(const EngineSettings& settings) {
  worker_->UpdateSettings(settings);
}

bool SnmpSource::Validate(const ResourceQuery& query, std::string* reason) const {
  if (!ParseSnmpTarget(query.target, reason)) return false;
  if (!ResolveOid(query.request)) {
    *reason =
        "\"" + std::string(TrimBlanks(query.request)) + "\" is not an OID the installed MIBs know";
    return false;
  }
  return true;
}

void SnmpSource::Read(const ResourceQuery& query, std::function<void(Reading)> done) {
  std::string reason;
  const auto address = ParseSnmpTarget(query.target, &reason);
  if (!address) {
    done(Failed(reason));
    return;
  }
  static std::atomic<uint64_t> next_id{1};
  auto job = std::make_unique<Worker::Job>();
  job->id = next_id++;
  job->request = std::string(TrimBlanks(query.request));
  job->names_request = std::string(TrimBlanks(query.inst_name_req));
  job->address = *address;
  job->done = std::move(done);
  worker_->Submit(std::move(job));
}

}  // namespace switchd
