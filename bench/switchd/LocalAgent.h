// What the switchd benchmarks share: a temporary directory, and a snmpd of
// the benchmark's own on a free loopback port serving one integer
// (.1.3.6.1.4.1.99999.1.0, 42) and a 100-row counter column
// (.1.3.6.1.4.1.99999.2.1), with configuration and persistent files in a
// directory of its own.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace switchd_bench {

struct TempDir {
  std::string path;
  TempDir() {
    std::string pattern = "/tmp/lorveth-switchd-bench-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

class LocalAgent {
 public:
  LocalAgent() {
    port_ = FreePort();
    std::string conf =
        "agentaddress udp:127.0.0.1:" + std::to_string(port_) +
        "\nrocommunity public 127.0.0.1\noverride .1.3.6.1.4.1.99999.1.0 integer 42\n";
    for (int row = 1; row <= 100; ++row) {
      conf += "override .1.3.6.1.4.1.99999.2.1." + std::to_string(row) + " counter " +
              std::to_string(row) + "\n";
    }
    std::ofstream(dir_.path + "/snmpd.conf") << conf;
    // The library of this process, too, reads and keeps nothing of the machine's.
    setenv("SNMPCONFPATH", dir_.path.c_str(), 1);
    setenv("SNMP_PERSISTENT_DIR", dir_.path.c_str(), 1);
    setenv("MIBS", "", 1);
    setenv("MIBDIRS", "", 1);
    pid_ = fork();
    if (pid_ == 0) {
      const int log = open((dir_.path + "/snmpd.log").c_str(), O_WRONLY | O_CREAT, 0644);
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      const std::string config = dir_.path + "/snmpd.conf";
      execl("/usr/sbin/snmpd", "snmpd", "-f", "-Lo", "-C", "-c", config.c_str(), "-I", "-smux",
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~LocalAgent() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static int FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }

  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace switchd_bench
