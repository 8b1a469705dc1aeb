// Processor, memory and handle figures from the kernel; debugger strings as
// syslog datagrams.
#include "platform/system/Diagnostics.h"

#include <dirent.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace platform {

DWORD CurrentProcessorNumber() {
  const int cpu = sched_getcpu();
  return cpu < 0 ? 0 : static_cast<DWORD>(cpu);
}

std::optional<MemoryUsage> ProcessMemoryUsage() {
  FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return std::nullopt;
  MemoryUsage usage;
  bool have_private = false;
  bool have_resident = false;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned long kb = 0;
    if (std::sscanf(line, "RssAnon: %lu kB", &kb) == 1) {
      usage.private_kb = static_cast<DWORD>(kb);
      have_private = true;
    } else if (std::sscanf(line, "VmRSS: %lu kB", &kb) == 1) {
      usage.working_set_kb = static_cast<DWORD>(kb);
      have_resident = true;
    }
  }
  std::fclose(status);
  if (!have_private || !have_resident) return std::nullopt;
  return usage;
}

std::optional<DWORD> ProcessHandleCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return std::nullopt;
  DWORD count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  // The listing includes the descriptor that reads it.
  return count > 0 ? count - 1 : 0;
}

void WriteDebugString(std::string_view ident, std::string_view text) {
  const char* path = std::getenv("LORVETH_SYSLOG_SOCKET");
  if (path == nullptr || *path == '\0') path = "/dev/log";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return;
  std::strcpy(address.sun_path, path);

  // The classic syslog line: <priority>timestamp ident[pid]: text, with
  // priority user.debug (facility 1 * 8 + severity 7).
  char stamp[32];
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  std::string message = "<15>";
  message += stamp;
  message += ' ';
  message += ident.empty() ? std::string_view("lorveth") : ident;
  message += '[' + std::to_string(getpid()) + "]: ";
  message += text;

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
         sizeof address);
  close(fd);
}

}  // namespace platform
