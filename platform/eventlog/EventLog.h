// The system event log and administrator alerts by their Windows names.  Each
// reported event and each raised alert becomes one syslog entry (journald):
// events at the priority of their type, alerts at LOG_ALERT.  Every entry
// passes through one sink, which tests replace to capture the records:
//
//   platform::SetEventLogSink([&](const platform::EventLogRecord& r) { seen.push_back(r); });
//   HANDLE source = RegisterEventSourceA(nullptr, "Korvell Agents");
//   const char* strings[] = {"srv1", "cpu"};
//   ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 0x80002FAA, nullptr, 2, 0, strings, nullptr);
//   DeregisterEventSource(source);
//   platform::SetEventLogSink(nullptr);  // back to syslog
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

#define RPC_S_SERVER_UNAVAILABLE 1722u
#define NERR_Success 0u

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

// Header of an administrator alert's variable part; the texts follow it as
// zero-terminated UTF-16 strings.
struct ADMIN_OTHER_INFO {
  DWORD alrtad_errcode;
  DWORD alrtad_numstrings;
};

// Registers an event source on the local machine.  server nullptr, "" or this
// computer's name (with or without a leading "\\"); another server fails with
// RPC_S_SERVER_UNAVAILABLE, as there is no remote event log.
HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
// Writes one event; raw data is kept in the record only.  Fails with
// ERROR_INVALID_HANDLE or ERROR_INVALID_PARAMETER (unknown type, strings missing).
BOOL ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, void* user_sid,
                  WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data);
BOOL DeregisterEventSource(HANDLE event_log);

// Raises an administrator alert: variable_info is an ADMIN_OTHER_INFO header and
// its strings within `size` bytes.  Returns NERR_Success or
// ERROR_INVALID_PARAMETER (missing names, a header or string cut short).
DWORD NetAlertRaiseEx(const WCHAR* alert_type, const void* variable_info, DWORD size,
                      const WCHAR* service_name);

namespace platform {

struct EventLogRecord {
  enum class Kind { kEvent, kAlert };
  Kind kind = Kind::kEvent;
  int priority = 0;              // syslog priority: LOG_ERR, LOG_WARNING, LOG_INFO, LOG_ALERT
  std::string source;            // event source, or the alert's service name
  WORD type = 0;                 // events: EVENTLOG_*_TYPE
  WORD category = 0;             // events
  DWORD event_id = 0;            // events
  std::string alert_type;        // alerts, in UTF-8
  DWORD error_code = 0;          // alerts: the header's error code
  std::vector<std::string> strings;  // insertion strings / alert texts (UTF-8)
  std::vector<unsigned char> data;   // events: the raw data
  std::string text;              // the syslog message as written
};

using EventLogSink = std::function<void(const EventLogRecord&)>;

// Replaces the sink; nullptr restores the default, which writes to syslog.
void SetEventLogSink(EventLogSink sink);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const WCHAR* text, size_t length);

}  // namespace platform
