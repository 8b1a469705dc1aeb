// The control socket of a running switchd and its line protocol.
//
// A client connects, sends one command line (at most 4096 bytes, ended by a
// newline) and reads the answer: any number of lines, the last of which is
// "OK" or "ERROR <reason>"; then the server closes the connection.  Only
// root and the user that runs switchd may connect (the socket has mode 0600),
// and members of the group given to Start (the socket then has mode 0660).
//
//   ControlServer server;
//   server.Start(path, [](const std::string& line) { return ControlAnswer{...}; }, &error);
//   ...
//   std::string answer;
//   SendControlCommand(path, "status", &answer, &error);
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace switchd {

struct ControlAnswer {
  std::vector<std::string> lines;
  bool ok = true;
  std::string error;  // when !ok
};

using ControlHandler = std::function<ControlAnswer(const std::string& line)>;

// Longest command line a client may send.
inline constexpr size_t kMaxControlLine = 4096;

class ControlServer {
 public:
  ControlServer() = default;
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Binds the path (replacing a socket file nobody answers on) and serves
  // commands on a thread of its own.  False with a reason.
  bool Start(const std::string& path, ControlHandler handler, std::string* error,
             std::optional<gid_t> group = std::nullopt);
  // Stops serving and removes the socket file if it is still the one bound.
  void Stop();

 private:
  void Run();
  void Serve(int fd);

  std::string path_;
  ControlHandler handler_;
  std::optional<gid_t> group_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::thread thread_;
};

// Sends one command and collects the whole answer text.  False with a reason
// when switchd cannot be reached.
bool SendControlCommand(const std::string& path, const std::string& line, std::string* answer,
                        std::string* error);

}  // namespace switchd
