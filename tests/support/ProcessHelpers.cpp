// Child processes, commands, ports and the Net-SNMP environment for the tests.
#include "support/ProcessHelpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace test_support {

namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Starts argv (found on PATH) in a process group of its own, stdin from /dev/null, with the
// environment plus `extra`, whose entries replace inherited ones (getenv takes the first of
// duplicates). Everything is built before the fork: the child calls only async-safe functions.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra, int out,
            int err) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const std::string& entry : extra) {
    std::erase_if(env, [&](const std::string& have) { return NameOf(have) == NameOf(entry); });
    env.push_back(entry);
  }
  std::vector<char*> args;
  std::vector<char*> envp;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (std::string& entry : env) envp.push_back(entry.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(null, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setpgid(0, 0);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(null);
  return pid;
}

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

std::vector<std::string> NetSnmpEnvironment(const std::string& dir) {
  // As the first Net-SNMP program leaves it: a tool that has to make it says so on stderr.
  for (const char* sub : {"/persist/cert_indexes", "/conf", "/home"}) {
    std::filesystem::create_directories(dir + sub);
  }
  return {"MIBS=", "MIBDIRS=", "SNMP_PERSISTENT_DIR=" + dir + "/persist",
          "SNMPCONFPATH=" + dir + "/conf", "HOME=" + dir + "/home"};
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::vector<std::string>& env,
                                                  const std::string& log_path) {
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return nullptr;
  const pid_t pid = Spawn(argv, env, log, log);
  close(log);
  return pid < 0 ? nullptr : std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Running() {
  int status = 0;
  if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return !status_;
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
  const TempDir dir("lorveth-command");
  const std::string out_path = dir.path() + "/out";
  const std::string err_path = dir.path() + "/err";
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int err = streams == Streams::kApart
                      ? open(err_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)
                      : out;
  const pid_t pid = Spawn(argv, env, out, err);
  close(out);
  if (err != out) close(err);
  if (pid < 0) return result;
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  result.output = ReadFile(out_path);
  if (streams == Streams::kApart) result.errors = ReadFile(err_path);
  return result;
}

int FreeUdpPort() {
  // Outside the kernel's ephemeral range, from which every client socket takes its port: no
  // snmpget of this or another run can take it before the service binds it.
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
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace test_support
