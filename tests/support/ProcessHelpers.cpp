// Child processes, commands, ports and the Net-SNMP environment for the tests.
#include "support/ProcessHelpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Builds argv/envp arrays before fork, so the child only calls async-safe
// functions.  The extra entries replace inherited variables of the same name
// (getenv takes the first of duplicates, so appending would not do).
struct ExecArgs {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;

  ExecArgs(const std::vector<std::string>& a, const std::vector<std::string>& extra) : args(a) {
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (const std::string& entry : extra) {
      const std::string name = NameOf(entry);
      std::erase_if(env, [&](const std::string& have) { return NameOf(have) == name; });
      env.push_back(entry);
    }
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
  }
};

}  // namespace

std::vector<std::string> NetSnmpEnvironment(const std::string& dir) {
  // The persistent directory as the first Net-SNMP program leaves it: a tool
  // that has to make it (or its cert_indexes) says so on stderr.
  for (const char* sub : {"/persist/cert_indexes", "/conf", "/home"}) {
    std::filesystem::create_directories(dir + sub);
  }
  return {"MIBS=", "MIBDIRS=", "SNMP_PERSISTENT_DIR=" + dir + "/persist",
          "SNMPCONFPATH=" + dir + "/conf", "HOME=" + dir + "/home"};
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::vector<std::string>& env,
                                                  const std::string& log_path) {
  ExecArgs exec(argv, env);
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return nullptr;
  const pid_t pid = fork();
  if (pid < 0) {
    close(log);
    return nullptr;
  }
  if (pid == 0) {
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    setpgid(0, 0);
    execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    _exit(127);
  }
  close(log);
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool ChildProcess::Running() {
  if (status_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

void ChildProcess::Signal(int signal) {
  if (!status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds timeout) {
  WaitFor([&] { return !Running(); }, timeout);
  return status_;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds timeout, Streams streams) {
  CommandResult result;
  ExecArgs exec(argv, env);
  int out[2];
  int err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (streams == Streams::kApart && pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) close(fd);
    }
    return result;
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1] >= 0 ? err[1] : out[1], STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    execvpe(exec.argv[0], exec.argv.data(), exec.envp.data());
    _exit(127);
  }
  close(out[1]);
  if (err[1] >= 0) close(err[1]);

  struct Reader {
    int fd;
    std::string* text;
  };
  std::vector<Reader> open_readers = {{out[0], &result.output}};
  if (err[0] >= 0) open_readers.push_back({err[0], &result.errors});
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool killed = false;
  char buffer[4096];
  while (!open_readers.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    std::vector<pollfd> polled;
    for (const Reader& reader : open_readers) polled.push_back({reader.fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), static_cast<int>(left.count())) <= 0) continue;
    for (std::size_t i = polled.size(); i-- > 0;) {
      if (polled[i].revents == 0) continue;
      const ssize_t n = read(polled[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        open_readers[i].text->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(polled[i].fd);
        open_readers.erase(open_readers.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  for (const Reader& reader : open_readers) close(reader.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

namespace {

bool UdpPortIsFree(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

}  // namespace

int FreeUdpPort() {
  // Outside the kernel's ephemeral range, from which every client socket (an
  // snmpget of this or another test run) takes its port: a port handed out
  // here cannot be taken by one of those before the service binds it.
  int low = 32768;
  int high = 60999;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low >> high;
  const bool below = low - 1024 >= 65535 - high;
  std::uniform_int_distribution<int> pick(below ? 1024 : high + 1, below ? low - 1 : 65535);
  static thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int port = pick(random);
    if (UdpPortIsFree(port)) return port;
  }
  throw std::runtime_error("no free UDP port");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace test_support
