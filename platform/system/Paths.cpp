// Directory locations and path translation.
#include "platform/system/Paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

}  // namespace

std::string StateDirectory() { return FromEnvironment("LORVETH_STATE_DIR", "/var/lib/lorveth"); }

std::string RuntimeDirectory() { return FromEnvironment("LORVETH_RUNTIME_DIR", "/run/lorveth"); }

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ToNativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace platform
