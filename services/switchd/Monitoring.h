// The seams between switchd's monitoring parts: the clock, the resource
// sources, and the live state that the threshold module answers the agent's
// status, current-value and record commands from.  The rule engine and the
// report recorder implement the two state interfaces; tests drive both with a
// fake clock and fake sources.
//
//   SystemClock clock;
//   ResourceQuery query{RequestType::kBuiltin, "memory.used.percent", "", ""};
//   source.Read(query, [](Reading reading) { ... reading.instances ... });
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace switchd {

// Time as the monitoring sees it.  Scheduling runs on the monotonic clock;
// schedules, records and "violated since" use the wall clock in local time.
class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds (never goes back).
  virtual int64_t NowMs() const = 0;
  // Seconds since 1970 (UTC).
  virtual int64_t WallSeconds() const = 0;
  // The local calendar time of a wall time.
  virtual std::tm Local(int64_t wall_seconds) const = 0;
};

// The machine's clocks and its time zone.
class SystemClock final : public Clock {
 public:
  int64_t NowMs() const override;
  int64_t WallSeconds() const override;
  std::tm Local(int64_t wall_seconds) const override;
};

// Whether a local time of day lies in a daily window.  Times are minutes of the
// day as the configuration documents read them, -1 for a missing time; a
// window with a missing end, or with start equal to stop, is always open.  A
// start after the stop spans midnight (22:00 to 06:00).  Start is inside the
// window, stop is not.
bool InDailyWindow(int minute_of_day, int start, int stop);

// The three kinds of Resource/Request[Type], in code order.
enum class RequestType { kBuiltin = 0, kSnmp = 1, kRegistry = 2 };

// What to read: a Resource record together with the Target of the rule or
// report that reads it.
struct ResourceQuery {
  RequestType type = RequestType::kBuiltin;
  std::string request;        // Resource/Request text
  std::string inst_name_req;  // Resource/InstNameReq text
  std::string target;         // the Target record's address text, "" when none

  bool operator==(const ResourceQuery&) const = default;
};

// One instance of a resource at one read.  `number` is what Instances/Indexes
// select by (1-based position in the source's own order, or the row index of
// an SNMP table column); `name` is what Instances/Names patterns match.
struct InstanceValue {
  DWORD number = 0;
  std::string name;
  int64_t value = 0;
};

// The result of one read.  A failed read (ok false) is "no value" for that
// poll, never 0.  A resource with one value has one instance, named by the
// source (for example "total" or the path it measures).
struct Reading {
  bool ok = false;
  std::string error;                     // why the read failed
  bool counter = false;                  // running counters: compared as deltas per poll
  std::vector<InstanceValue> instances;  // in the source's order
  // For a counter: the value at which it wraps to 0 (2^32 for an SNMP
  // Counter32); 0 when it never wraps, so that a fall means it started over.
  uint64_t counter_modulus = 0;
};

// The text without the blanks (spaces, tabs, line ends) around it.
std::string_view TrimBlanks(std::string_view text);

// A decimal number as text values hold it (a registry string, an SNMP octet
// string): an optional sign and digits, blanks around them allowed; none for
// anything else or a number beyond 64 bits.
std::optional<int64_t> ParseDecimalValue(std::string_view text);

// Answers "the values of this resource now, per instance".
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  // Whether a query can ever be read: false with a reason for an unknown
  // builtin measurement, an SNMP target text that is not an address, a
  // registry path without a value name, ...
  virtual bool Validate(const ResourceQuery& query, std::string* reason) const = 0;
  // Starts one read; `done` is called exactly once, on any thread, perhaps
  // before Read returns.  Reads started between two BeginTick calls may share
  // their file reads (one read of /proc/stat serves every rule of a tick).
  virtual void Read(const ResourceQuery& query, std::function<void(Reading)> done) = 0;
  virtual void BeginTick() {}
};

// What the rule engine knows now; answered from memory, never waiting for a poll.
class RuleState {
 public:
  virtual ~RuleState() = default;
  virtual BYTE ThresholdStatus() const = 0;    // 0 none violated, 1 violated, 2 a critical one
  virtual BYTE PerformanceStatus() const = 0;  // highest Performance/Status code among the violated
  // The last value evaluated, as the agent shows it; none while not yet
  // polled or when the last read failed.
  virtual std::optional<std::string> RuleCurrentValue(std::string_view rule) const = 0;
  // 0 not running, 1 running, 2 running with a rule violated; "" asks for
  // the highest of all sets.
  virtual BYTE RuleSetStatus(std::string_view set) const = 0;
};

// What the report recorder knows now.
class ReportState {
 public:
  virtual ~ReportState() = default;
  virtual std::optional<std::string> ReportCurrentValue(std::string_view report) const = 0;
  // 0 not recording, 1 recording, 2 recording but the last read failed; ""
  // asks for the highest of all sets.
  virtual BYTE ReportSetStatus(std::string_view set) const = 0;
  // The number of records kept (the highest record number; 0 when none).
  virtual DWORD HighestRecord(std::string_view report) const = 0;
  // The text of record `number` (1 the oldest kept); none outside 1..count.
  virtual std::optional<std::string> RecordText(std::string_view report, DWORD number) const = 0;
};

}  // namespace switchd
