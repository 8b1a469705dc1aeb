// CTrapAlert: forwards a trap to the event log and as an administrator alert.
// The trap number selects a message of the message library; the trap's
// varbinds become the message's insertion strings; a filter byte selects by
// the message's severity (bit 0 informational, bit 1 warning, bit 2 error).
#pragma once

#include <cstddef>

#include "platform/Snmp.h"
#include "platform/WinTypes.h"

struct Trap2MsgRow {
  int trap_number;  // -1 ends the table
  DWORD message_id;
};

// Trap number -> message identifier (severity in the top two bits, code
// 10000 + trap number), in search order, ended by a row with trap number -1.
extern const Trap2MsgRow Trap2MsgTable[];
// Number of rows before the terminator.
size_t Trap2MsgTableSize();

class CTrapAlert {
 public:
  static constexpr DWORD kNoMessage = 0xFFFFFFFF;
  static constexpr size_t kMaxParams = 10;

  CTrapAlert() = default;
  ~CTrapAlert();
  CTrapAlert(const CTrapAlert&) = delete;
  CTrapAlert& operator=(const CTrapAlert&) = delete;

  // Loads the message library as a data-only module; true if loaded.
  bool LoadMessageDLL(const char* path);
  // Prepares message identifier and insertion strings for a trap.
  void SetTrapParams(const SnmpVarBindList* varbinds, DWORD trap_number);
  // True if an event was written (the filter selects the message's severity).
  bool Write2EventLog(BYTE filter, const char* computer_name);
  // True if the alert was raised (the filter selects the message's severity).
  bool RaiseAdminAlert(BYTE filter);

  DWORD MessageId() const { return message_id_; }
  DWORD ParamCount() const { return param_count_; }
  const char* Param(size_t i) const { return i < param_count_ ? params_[i] : nullptr; }

 private:
  void FreeParams();
  bool FilterSelects(BYTE filter) const;

  char* params_[kMaxParams] = {};
  DWORD param_count_ = 0;
  DWORD trap_number_ = 0;
  DWORD message_id_ = kNoMessage;
  HMODULE message_library_ = nullptr;
};
