// Where switchd reports: stderr always, syslog too when it runs as a daemon.
#pragma once

#include <string>

namespace switchd {

enum class LogLevel { kError, kWarning, kInfo };

// Opens syslog under `ident` when `use_syslog`; stderr is used either way.
void OpenLog(const char* ident, bool use_syslog);
void Log(LogLevel level, const std::string& message);

}  // namespace switchd
