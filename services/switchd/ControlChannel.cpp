// Control socket: server and client.
#include "services/switchd/ControlChannel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/system/Paths.h"

namespace switchd {

namespace {

// A client that sends nothing for this long is dropped, so one stuck client
// cannot block the channel for the others.
constexpr int kClientTimeoutMs = 5000;

bool FillAddress(const std::string& path, sockaddr_un* address, std::string* error) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) {
    *error = "the socket path is empty or too long: " + path;
    return false;
  }
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

bool SendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool PeerPermitted(int fd, std::optional<gid_t> group) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  if (credentials.uid == 0 || credentials.uid == geteuid()) return true;
  if (!group) return false;
  if (credentials.gid == *group) return true;
  // The peer's supplementary groups: a member whose primary group is another.
  std::vector<gid_t> groups(64);
  socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
  if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) != 0) return false;
  groups.resize(bytes / sizeof(gid_t));
  return std::find(groups.begin(), groups.end(), *group) != groups.end();
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Start(const std::string& path, ControlHandler handler, std::string* error,
                          std::optional<gid_t> group) {
  sockaddr_un address;
  if (!FillAddress(path, &address, error)) return false;
  platform::MakeDirectories(ParentOf(path));
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    std::string ignored;
    if (SendControlCommand(path, "ping", nullptr, &ignored)) {
      *error = path + " is in use by a running switchd";
      return false;
    }
    ::unlink(path.c_str());
  }
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 ||
      ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), group ? 0660 : 0600) != 0 ||
      (group && ::chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) ||
      ::listen(listen_fd_, 16) != 0 || ::stat(path.c_str(), &info) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  device_ = info.st_dev;
  inode_ = info.st_ino;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC);
  path_ = path;
  handler_ = std::move(handler);
  group_ = group;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ControlServer::Stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  thread_.join();
  ::close(listen_fd_);
  ::close(wake_fd_);
  listen_fd_ = wake_fd_ = -1;
  struct stat info {};
  // Another switchd may have taken the path over meanwhile; its socket stays.
  if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

void ControlServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (PeerPermitted(fd, group_)) {
      Serve(fd);
    } else {
      SendAll(fd, "ERROR permission denied\n");
    }
    ::close(fd);
  }
}

void ControlServer::Serve(int fd) {
  std::string line;
  char buffer[512];
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, kClientTimeoutMs) <= 0) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
    if (line.find('\n') != std::string::npos) break;
    if (line.size() > kMaxControlLine) {
      SendAll(fd, "ERROR command line too long\n");
      return;
    }
  }
  const size_t end = line.find('\n');
  if (end != std::string::npos) line.resize(end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxControlLine) {
    SendAll(fd, "ERROR command line too long\n");
    return;
  }
  const ControlAnswer answer = handler_(line);
  std::string text;
  for (const std::string& reply : answer.lines) text += reply + "\n";
  text += answer.ok ? std::string("OK\n") : "ERROR " + answer.error + "\n";
  SendAll(fd, text);
}

bool SendControlCommand(const std::string& path, const std::string& line, std::string* answer,
                        std::string* error) {
  sockaddr_un address;
  if (!FillAddress(path, &address, error)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot reach switchd at " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!SendAll(fd, line + "\n")) {
    *error = std::string("cannot send the command: ") + std::strerror(errno);
    ::close(fd);
    return false;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (text.empty()) {
    *error = "switchd closed the connection without an answer";
    return false;
  }
  if (answer != nullptr) *answer = std::move(text);
  return true;
}

}  // namespace switchd
