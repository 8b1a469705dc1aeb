// Table catalog and atomic file writing.
#include "services/switchd/Tables.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/system/Paths.h"

namespace switchd {

namespace {

constexpr TableInfo kTables[] = {
    {0x310, "RuleSets.xml", "RuleSets", "RuleSet", "Rule", 0x311},
    {0x311, "Rules.xml", "Rules", "Rule", "", 0},
    {0x312, "Resources.xml", "Resources", "Resource", "", 0},
    {0x313, "Targets.xml", "Targets", "Target", "", 0},
    {0x314, "Events.xml", "Events", "Event", "", 0},
    {0x320, "ReportSets.xml", "ReportSets", "ReportSet", "Report", 0x321},
    {0x321, "Reports.xml", "Reports", "Report", "", 0},
};

// Temporary files are hidden and carry this marker, so that a leftover one
// can be told from an administrator's file.
constexpr std::string_view kTempMarker = ".tmp.";

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

bool WriteAll(int fd, std::string_view content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::span<const TableInfo> Tables() { return kTables; }

const TableInfo* FindTable(DWORD code) {
  for (const TableInfo& table : kTables) {
    if (table.code == code) return &table;
  }
  return nullptr;
}

const TableInfo* FindTableByName(std::string_view name) {
  if (name.empty()) return nullptr;
  const std::string text(name);
  char* end = nullptr;
  errno = 0;
  const unsigned long code = std::strtoul(text.c_str(), &end, 0);
  if (errno == 0 && end != nullptr && *end == '\0' && code <= 0xFFFFFFFFul) {
    return FindTable(static_cast<DWORD>(code));
  }
  for (const TableInfo& table : kTables) {
    if (strcasecmp(text.c_str(), std::string(table.collection).c_str()) == 0 ||
        strcasecmp(text.c_str(), std::string(table.file).c_str()) == 0) {
      return &table;
    }
  }
  return nullptr;
}

std::string FormatModified(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void SetBeforeRenameHook(std::function<void()> hook) {
  std::lock_guard lock(HookMutex());
  Hook() = std::move(hook);
}

bool WriteFileAtomically(const std::string& dir, std::string_view name, std::string_view content,
                         std::string* error) {
  const std::string target = dir + "/" + std::string(name);
  std::string temp = dir + "/." + std::string(name) + std::string(kTempMarker) + "XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *error = Reason("cannot create a temporary file in", dir);
    return false;
  }
  bool ok = platform::RestrictStateFile(fd);
  if (!ok) *error = Reason("cannot set the mode of", temp);
  if (ok && !WriteAll(fd, content)) {
    ok = false;
    *error = Reason("cannot write", temp);
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    *error = Reason("cannot sync", temp);
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    *error = Reason("cannot close", temp);
  }
  if (ok) {
    std::function<void()> hook;
    {
      std::lock_guard lock(HookMutex());
      hook = Hook();
    }
    if (hook) hook();
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      ok = false;
      *error = Reason("cannot rename over", target);
    }
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename is durable only once the directory entry is on disk.
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

int RemoveStaleTemporaries(const std::string& dir) {
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view file = entry->d_name;
    if (file.size() < 2 || file[0] != '.' || file.find(kTempMarker) == std::string_view::npos) {
      continue;
    }
    for (const TableInfo& table : kTables) {
      if (file.substr(1, table.file.size()) == table.file &&
          ::unlink((dir + "/" + std::string(file)).c_str()) == 0) {
        ++removed;
        break;
      }
    }
  }
  ::closedir(listing);
  return removed;
}

bool ReadWholeFile(const std::string& path, std::string* content, bool* missing) {
  *missing = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    struct stat info {};
    *missing = ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *content = text.str();
  return !in.bad();
}

}  // namespace switchd
