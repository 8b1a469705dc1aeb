// Log lines to stderr and syslog.
#include "services/switchd/Log.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>

namespace switchd {

namespace {
std::atomic<bool> g_syslog{false};
}

void OpenLog(const char* ident, bool use_syslog) {
  if (use_syslog) openlog(ident, LOG_PID, LOG_DAEMON);
  g_syslog = use_syslog;
}

void Log(LogLevel level, const std::string& message) {
  const char* tag = level == LogLevel::kError ? "error: " : level == LogLevel::kWarning ? "warning: " : "";
  std::fprintf(stderr, "switchd: %s%s\n", tag, message.c_str());
  if (g_syslog) {
    const int priority =
        level == LogLevel::kError ? LOG_ERR : level == LogLevel::kWarning ? LOG_WARNING : LOG_INFO;
    syslog(priority, "%s", message.c_str());
  }
}

}  // namespace switchd
