// The trace facility: settings from the registry, the line layout with its
// prefixes, and the file, console and debugger targets.
#include "trace/FileDebug.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/system/Diagnostics.h"
#include "platform/system/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"
#include "trace/detail/FormatText.h"

namespace {

constexpr char kDebugKey[] = "SOFTWARE\\Debug";
constexpr size_t kMaxApplicationName = 31;
constexpr size_t kMaxFileName = 259;
constexpr DWORD kDefaultFileLimitMb = 10;
// wsprintf writes at most 1,024 characters; the whole line buffer holds 1,123.
constexpr size_t kMaxFormatted = 1024;
constexpr size_t kMaxLine = 1123;
// Newlines and prefixes must leave room for the text: from this length on
// they are replaced by a fixed warning.
constexpr size_t kMaxPrefix = 100;
constexpr char kPrefixTooLong[] = "!! BUFFER TOO SMALL - FIXME !! ";
// A debugger string holds one line of at most this many characters.
constexpr size_t kMaxDebuggerLine = 1122;
// The file mutex is waited for only briefly: a slow writer elsewhere must not
// stall the caller, so after this the line is written unguarded.
constexpr DWORD kFileMutexWaitMs = 20;

// Restores the caller's last error, whatever the trace call did.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

// Settings keys are opened in the 64-bit view first, as on a 64-bit system,
// and once more without a view if that is refused.
// *error is the reason a key could not be opened.
std::optional<platform::RegistryKey> OpenForReading(const std::string& path, LONG* error) {
  auto key =
      platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WOW64_64KEY, error);
  if (!key && *error == ERROR_ACCESS_DENIED) {
    key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, path, KEY_READ, error);
  }
  return key;
}

// A missing key means "no settings"; any other failure means the registry
// itself is unreadable, which an administrator must hear of, since the
// trace is off until it is readable again.
bool StoreUnreadable(LONG error) {
  return error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::string FormatPrefix(const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  trace::detail::FormatText(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string MutexNameFor(const std::string& file_name) {
  std::string name = "CFileDebug_" + file_name;
  for (char& c : name) {
    if (c == '\\' || c == ':' || c == '/') c = '_';
  }
  return name;
}

}  // namespace

struct CFileDebug::Settings {
  DWORD dynamic_update = 0;  // units of 1,024 ms; 0 = never re-read
  DWORD file_level = 0;
  DWORD console_level = 0;
  DWORD debugger_level = 0;
  uint64_t file_limit = 0;  // bytes; 0 = unlimited
  std::string file_name;
  std::shared_ptr<void> file_mutex;  // closed with the last generation using it
  DWORD time_stamp = 0;
  DWORD date_stamp = 0;
  DWORD thread_id = 0;
  DWORD cpu_id = 0;
  DWORD app_name = 0;
  DWORD mem_usage = 0;
  DWORD handle_count = 0;
  bool active = false;

  bool FileOn() const { return file_level != 0 && !file_name.empty(); }
};

CFileDebug::CFileDebug() : settings_(std::make_shared<Settings>()) {}

CFileDebug::CFileDebug(const char* application_name, bool announce)
    : settings_(std::make_shared<Settings>()) {
  Configure(application_name, announce);
}

CFileDebug::~CFileDebug() = default;

DWORD CFileDebug::Now() const { return tick_source_ ? tick_source_() : GetTickCount(); }

void CFileDebug::Configure(const char* application_name, bool announce) {
  LastErrorKeeper keeper;
  bool banner = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::make_shared<Settings>();
    application_name_ = application_name != nullptr ? application_name : "";
    if (application_name_.size() > kMaxApplicationName) {
      application_name_.resize(kMaxApplicationName);
    }
    if (!application_name_.empty()) ReadSettingsLocked(Now());
    UpdateActiveLocked();
    banner = announce && !application_name_.empty() && IsActive();
  }
  if (banner) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    Print(1, "\n\n----- Application [%s] started at %02d:%02d:%02d %02d/%02d/%02d -----\n",
          application_name_.c_str(), now.wHour, now.wMinute, now.wSecond, now.wMonth, now.wDay,
          now.wYear);
  }
}

void CFileDebug::ReadSettingsLocked(DWORD now) {
  // Levels, file name and mutex carry over when the application's key is
  // missing; the switches are read afresh every time.
  auto next = std::make_shared<Settings>(*settings_);
  next->dynamic_update = 0;
  next->time_stamp = next->date_stamp = next->thread_id = next->cpu_id = 0;
  next->app_name = next->mem_usage = next->handle_count = 0;
  LONG error = ERROR_SUCCESS;
  if (auto debug = OpenForReading(kDebugKey, &error)) {
    next->dynamic_update = debug->QueryDword("DynamicUpdate").value_or(0);
  }
  next->active = next->dynamic_update != 0;

  const bool unreadable = StoreUnreadable(error);
  if (auto app = OpenForReading(std::string(kDebugKey) + "\\" + application_name_, &error)) {
    const auto dword = [&app](const char* name) { return app->QueryDword(name).value_or(0); };
    next->file_level = dword("FileDebugLevel");
    if (next->file_level != 0) {
      next->file_limit =
          uint64_t{app->QueryDword("TraceFileLimit").value_or(kDefaultFileLimitMb)} * 1048576u;
      std::string file_name = app->QueryString("TraceFile").value_or("");
      if (file_name.size() > kMaxFileName) file_name.resize(kMaxFileName);
      if (file_name != next->file_name) {
        next->file_mutex.reset();
        if (!file_name.empty()) {
          HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexNameFor(file_name).c_str());
          if (mutex != nullptr) next->file_mutex = std::shared_ptr<void>(mutex, CloseHandle);
        }
        next->file_name = file_name;
      }
    }
    // Standard output stands in for the console; it always exists.
    next->console_level = dword("ConDebugLevel");
    next->debugger_level = dword("WinDebugLevel");
    next->active =
        next->active || next->FileOn() || next->console_level != 0 || next->debugger_level != 0;
    next->time_stamp = dword("TimeStampOn");
    next->date_stamp = dword("DateStampOn");
    next->thread_id = dword("ThreadIdOn");
    next->cpu_id = dword("CpuIdOn");
    next->app_name = dword("AppNameOn");
    next->mem_usage = dword("MemUsageOn");
    next->handle_count = dword("HandleCountOn");
  }
  if (unreadable || StoreUnreadable(error)) {
    platform::WriteDebugString(application_name_,
                               "the registry cannot be read, so the trace settings are the "
                               "defaults: " +
                                   platform::LastRegistryStoreProblem());
  }
  settings_ = std::move(next);
  last_read_ = now / 1024;
}

void CFileDebug::UpdateActiveLocked() {
  active_.store(settings_->active || capture_ ? 1 : 0, std::memory_order_relaxed);
}

void CFileDebug::Print(DWORD level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintV(level, format, args);
  va_end(args);
}

void CFileDebug::PrintV(DWORD level, const char* format, va_list args) {
  LastErrorKeeper keeper;
  std::shared_ptr<const Settings> settings;
  CaptureSink capture;
  std::string application_name;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (settings_->dynamic_update != 0) {
      const DWORD now = Now() / 1024;
      // A tick count that wrapped is below the last reading.
      if (uint64_t{now} >= uint64_t{last_read_} + settings_->dynamic_update || now < last_read_) {
        ReadSettingsLocked(Now());
        UpdateActiveLocked();
      }
    }
    settings = settings_;
    capture = capture_;
    application_name = application_name_;
  }
  const Settings& s = *settings;
  if (!capture && level > s.file_level && level > s.console_level && level > s.debugger_level) {
    return;
  }
  if (format == nullptr) format = "";

  std::string line;
  while (*format == '\n' && line.size() < kMaxLine) {
    line += '\n';
    ++format;
  }
  if (s.date_stamp != 0 || s.time_stamp != 0) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    if (s.date_stamp != 0) {
      line += FormatPrefix("[%02d-%02d-%02d] ", now.wYear, now.wMonth, now.wDay);
    }
    if (s.time_stamp != 0) {
      line += FormatPrefix("[%02d:%02d:%02d.%03d] ", now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds);
    }
  }
  if (s.thread_id != 0) line += FormatPrefix("(%05d) ", GetCurrentThreadId());
  if (s.cpu_id != 0) line += FormatPrefix("#%02d ", platform::CurrentProcessorNumber());
  if (s.mem_usage != 0) {
    if (const auto usage = platform::ProcessMemoryUsage()) {
      line += FormatPrefix("{PB %05dkB, MU %05dkB} ", usage->private_kb, usage->working_set_kb);
    }
  }
  if (s.handle_count != 0) {
    if (const auto handles = platform::ProcessHandleCount()) {
      line += FormatPrefix("{%03d H} ", *handles);
    }
  }
  if (s.app_name != 0) {
    std::string prefix = FormatPrefix("%-13s  ", application_name.c_str());
    prefix[application_name.size()] = ':';
    line += prefix;
  }
  if (line.size() >= kMaxPrefix) line = kPrefixTooLong;

  char text[kMaxFormatted + 1];
  va_list copy;
  va_copy(copy, args);
  const size_t length = trace::detail::FormatText(text, sizeof text, format, copy);
  va_end(copy);
  line.append(text, length);

  if (s.FileOn() && level <= s.file_level) WriteFile(s, line);
  if (s.console_level != 0 && level <= s.console_level) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  if (s.debugger_level != 0 && level <= s.debugger_level) {
    // One debugger string per line; as a syslog entry it needs no line end.
    std::string_view rest(line);
    if (!rest.empty() && rest.front() == '\n') rest.remove_prefix(1);
    while (!rest.empty()) {
      const size_t end = rest.find('\n');
      std::string_view one = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (one.size() > kMaxDebuggerLine) one = one.substr(0, kMaxDebuggerLine);
      platform::WriteDebugString(application_name, one);
    }
  }
  if (capture) capture(level, line);
}

void CFileDebug::WriteFile(const Settings& settings, const std::string& text) const {
  HANDLE mutex = settings.file_mutex.get();
  const bool owned =
      mutex != nullptr && WaitForSingleObject(mutex, kFileMutexWaitMs) == WAIT_OBJECT_0;
  const std::string path = platform::ToNativePath(settings.file_name);
  std::error_code error;
  if (settings.file_limit != 0) {
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size >= settings.file_limit) {
      // One previous generation is kept, under the name with ".txt" appended.
      const std::string previous = path + ".txt";
      std::filesystem::remove(previous, error);
      std::filesystem::rename(path, previous, error);
    }
  }
  std::string bytes;
  bytes.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  // Opened and closed per line, so that other processes can write in between.
  if (FILE* file = std::fopen(path.c_str(), "ab")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  if (owned) ReleaseMutex(mutex);
}

void CFileDebug::Close() {
  const std::lock_guard<std::mutex> lock(mutex_);
  // A line being written keeps its generation, and with it the lock, until done.
  settings_ = std::make_shared<Settings>();
  application_name_.clear();
  UpdateActiveLocked();
}

void CFileDebug::SetCapture(CaptureSink sink) {
  const std::lock_guard<std::mutex> lock(mutex_);
  capture_ = std::move(sink);
  UpdateActiveLocked();
}

void CFileDebug::SetTickSource(TickSource tick_count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  tick_source_ = std::move(tick_count);
}
