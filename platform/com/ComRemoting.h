// COM objects of another process, reached over a Unix-domain stream socket.
//
// Client side: creation of a class that no in-process registration serves goes
// to the local-server activator, which reads the endpoint from
// SOFTWARE\Classes\CLSID\{clsid}\LocalServer32 (default value, e.g.
// "unix:/run/lorveth/switch.sock"), connects and returns a proxy whose
// IDispatch and connection points are carried over the socket.  The activator
// is installed in every process from the start; events come back over the
// same connection and are delivered on the proxy's own event thread.
//
// Server side: a ComServer listens on a socket path and serves the classes
// registered with it to every permitted peer:
//
//   platform::ComServer server;
//   server.RegisterClassObject(clsid, [&](REFIID iid, void** out) { ... });
//   platform::ComServer::Options options;
//   options.path = "/run/lorveth/switch.sock";
//   std::string error;
//   if (!server.Start(options, &error)) ... report error ...
//   platform::RegisterLocalServer(clsid, "unix:" + options.path);
//
// docs/com-remoting.md describes the wire format, the limits, the time-outs
// and what happens when either side restarts.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/WinTypes.h"

namespace platform {

// Installs the local-server activator again after a test replaced it (every
// process starts with it installed).
void EnableLocalServerActivation();
// The activator itself, for a caller that wants to chain it with its own.
HRESULT ActivateLocalServer(REFCLSID clsid, DWORD context, const std::u16string& server,
                            REFIID iid, void** object);

// Writes "endpoint" as the default value of the class's LocalServer32 key.
// A Windows error code.
LONG RegisterLocalServer(REFCLSID clsid, const std::string& endpoint);
// The endpoint registered for the class, if any.
std::optional<std::string> LocalServerEndpoint(REFCLSID clsid);

// How long a remote call waits for its reply before it fails with
// RPC_E_TIMEOUT: $LORVETH_COM_CALL_TIMEOUT (seconds) if set, else 30 s; the
// setter overrides both for this process (0 returns to the default).
DWORD RemoteCallTimeoutMs();
void SetRemoteCallTimeoutMs(DWORD milliseconds);

// Where the remoting reports a connection it closed because of a protocol
// error, a refused peer or a lost server.  The default writes one line to
// stderr; tests capture it.  Empty restores the default.
using RemotingErrorSink = std::function<void(const std::string& message)>;
void SetRemotingErrorSink(RemotingErrorSink sink);

class ComServer {
 public:
  // One advise that reached an object through this server.  `again` is set
  // when the client advised the same sink before it lost its connection:
  // the server it talks to now may have changed state meanwhile, so the
  // service should tell that sink about everything that may have changed.
  struct AdviseInfo {
    CLSID clsid;
    IID iid;
    IDispatch* sink;  // valid during the callback; AddRef to keep it
    uint64_t connection;
    bool again;
  };
  using AdviseObserver = std::function<void(const AdviseInfo& info)>;

  struct Options {
    std::string path;
    // Peers whose user id is listed, or whose group (primary or
    // supplementary) is `group`, may connect; every other peer is refused.
    std::vector<uid_t> allowed_users = {0, geteuid()};
    std::optional<gid_t> group;
    // Called on the connection's call thread after each successful advise.
    AdviseObserver on_advise;
  };

  struct Peer {
    uint64_t connection;
    pid_t pid;
    uid_t uid;
    gid_t gid;
  };

  ComServer();
  ~ComServer();
  ComServer(const ComServer&) = delete;
  ComServer& operator=(const ComServer&) = delete;

  // Serves creation of `clsid` over the socket.  The factory decides whether
  // every connection gets an object of its own or all share one.
  HRESULT RegisterClassObject(REFCLSID clsid, ClassFactory factory);

  // Creates the socket's directory, removes a stale socket file, binds with
  // mode 0660 (group `group` when given) and starts accepting.  False with a
  // reason when the path is in use by a live server or cannot be bound.
  bool Start(const Options& options, std::string* error);
  // Closes the socket and every connection; sinks advised through them are
  // unadvised.  Also done by the destructor.
  void Stop();

  std::vector<Peer> Peers() const;

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace platform
