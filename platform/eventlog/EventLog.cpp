// Event log entries and administrator alerts as syslog entries.
#include "platform/eventlog/EventLog.h"

#include "platform/system/Unicode.h"

#include <syslog.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/system/System.h"
#include "platform/system/Threads.h"
#include "platform/system/detail/Text.h"

namespace {

struct EventSource {
  std::string name;
};

struct EventLogState {
  std::mutex mutex;
  platform::EventLogSink sink;
  std::set<EventSource*> sources;
};

EventLogState& State() {
  // Never destroyed: an agent library's detach may still need it at process
  // exit, after the C++ statics are gone (exit runs them before the
  // libraries' own destructors).
  static auto* state = new EventLogState;
  return *state;
}

void WriteToSyslog(const platform::EventLogRecord& record) {
  syslog(LOG_USER | record.priority, "%s", record.text.c_str());
}

void Deliver(const platform::EventLogRecord& record) {
  platform::EventLogSink sink;
  {
    EventLogState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    sink = state.sink;
  }
  if (sink) {
    sink(record);
  } else {
    WriteToSyslog(record);
  }
}

bool IsLocalServer(LPCSTR server) {
  if (server == nullptr || *server == '\0') return true;
  std::string name = server;
  if (name.rfind("\\\\", 0) == 0) name.erase(0, 2);
  char own[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof own;
  if (!GetComputerNameA(own, &size)) return false;
  return platform::detail::EqualsNoCase(name, std::string_view(own, size));
}

bool TypeOfEvent(WORD type, int& priority, const char*& name) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      priority = LOG_INFO;
      name = "success";
      return true;
    case EVENTLOG_ERROR_TYPE:
      priority = LOG_ERR;
      name = "error";
      return true;
    case EVENTLOG_WARNING_TYPE:
      priority = LOG_WARNING;
      name = "warning";
      return true;
    case EVENTLOG_INFORMATION_TYPE:
      priority = LOG_INFO;
      name = "information";
      return true;
    case EVENTLOG_AUDIT_SUCCESS:
      priority = LOG_INFO;
      name = "audit success";
      return true;
    case EVENTLOG_AUDIT_FAILURE:
      priority = LOG_WARNING;
      name = "audit failure";
      return true;
    default:
      return false;
  }
}

size_t WideLength(const WCHAR* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

namespace platform {

void SetEventLogSink(EventLogSink sink) {
  EventLogState& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.sink = std::move(sink);
}

std::string Utf16ToUtf8(const WCHAR* text, size_t length) {
  return Utf16ToUtf8(std::u16string_view(text, length));
}

}  // namespace platform

HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source) {
  if (source == nullptr || *source == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!IsLocalServer(server)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  auto event_source = std::make_unique<EventSource>();
  event_source->name = source;
  EventLogState& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.sources.insert(event_source.get());
  return event_source.release();
}

BOOL DeregisterEventSource(HANDLE event_log) {
  EventLogState& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  auto* event_source = static_cast<EventSource*>(event_log);
  if (state.sources.erase(event_source) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete event_source;
  return TRUE;
}

BOOL ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, void* /*user_sid*/,
                  WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data) {
  platform::EventLogRecord record;
  {
    EventLogState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    auto* event_source = static_cast<EventSource*>(event_log);
    if (state.sources.count(event_source) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    record.source = event_source->name;
  }
  const char* type_name = nullptr;
  if (!TypeOfEvent(type, record.priority, type_name) ||
      (num_strings != 0 && strings == nullptr) || (data_size != 0 && raw_data == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  record.kind = platform::EventLogRecord::Kind::kEvent;
  record.type = type;
  record.category = category;
  record.event_id = event_id;
  for (WORD i = 0; i < num_strings; ++i) {
    record.strings.emplace_back(strings[i] != nullptr ? strings[i] : "");
  }
  if (data_size != 0) {
    const auto* bytes = static_cast<const unsigned char*>(raw_data);
    record.data.assign(bytes, bytes + data_size);
  }
  // "Korvell Agents: event 0xC0002FA8 error: srv1 | 12:00 | cpu"
  char head[64];
  std::snprintf(head, sizeof head, ": event 0x%08X %s", event_id, type_name);
  record.text = record.source + head;
  if (category != 0) record.text += " category " + std::to_string(category);
  for (size_t i = 0; i < record.strings.size(); ++i) {
    record.text += i == 0 ? ": " : " | ";
    record.text += record.strings[i];
  }
  Deliver(record);
  return TRUE;
}

DWORD NetAlertRaiseEx(const WCHAR* alert_type, const void* variable_info, DWORD size,
                      const WCHAR* service_name) {
  if (alert_type == nullptr || service_name == nullptr || variable_info == nullptr ||
      size < sizeof(ADMIN_OTHER_INFO)) {
    return ERROR_INVALID_PARAMETER;
  }
  const auto* bytes = static_cast<const unsigned char*>(variable_info);
  ADMIN_OTHER_INFO header{};
  std::memcpy(&header, bytes, sizeof header);
  platform::EventLogRecord record;
  record.kind = platform::EventLogRecord::Kind::kAlert;
  record.priority = LOG_ALERT;
  record.source = platform::Utf16ToUtf8(service_name, WideLength(service_name));
  record.alert_type = platform::Utf16ToUtf8(alert_type, WideLength(alert_type));
  record.error_code = header.alrtad_errcode;
  // The strings follow the header; each must end inside the buffer.  The buffer
  // need not be aligned for 16-bit reads, so units are copied out one by one.
  size_t at = sizeof header;
  for (DWORD i = 0; i < header.alrtad_numstrings; ++i) {
    std::u16string text;
    for (;;) {
      if (size - at < sizeof(WCHAR)) return ERROR_INVALID_PARAMETER;
      WCHAR unit = 0;
      std::memcpy(&unit, bytes + at, sizeof unit);
      at += sizeof unit;
      if (unit == 0) break;
      text.push_back(unit);
    }
    record.strings.push_back(platform::Utf16ToUtf8(text.data(), text.size()));
  }
  // "Server Control: administrator alert ADMIN: <text>"
  record.text = record.source + ": administrator alert " + record.alert_type;
  for (size_t i = 0; i < record.strings.size(); ++i) {
    record.text += i == 0 ? ": " : " | ";
    record.text += record.strings[i];
  }
  Deliver(record);
  return NERR_Success;
}
