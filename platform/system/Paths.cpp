// Directory locations and path translation.
#include "platform/system/Paths.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool RestrictStateFile(int fd) {
  // getgrnam_r's buffer: group entries with many members need more than the
  // usual suggestion.
  std::string buffer(16384, '\0');
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(kServiceGroup, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    // Only root or a member of the group may hand a file to it; otherwise the
    // owner's group stays, which the mode below restricts just as well.
    static_cast<void>(fchown(fd, static_cast<uid_t>(-1), found->gr_gid));
  }
  return fchmod(fd, 0660) == 0;
}

bool CreateStateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;
  const bool restricted = RestrictStateFile(fd);
  const int saved = errno;
  close(fd);
  errno = saved;
  return restricted;
}

std::string ToNativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace platform
