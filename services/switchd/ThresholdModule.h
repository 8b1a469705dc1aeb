// The threshold module of the switch service: keeps the seven configuration
// tables as XML files in a data directory, answers the commands that clients
// send through the switch, applies store commands record by record, and
// knows the settings that clients read.
//
// Statuses, current values and records come from the rule engine and the
// report recorder when they are attached (SetRuleState, SetReportState);
// without them every status is 0, nothing has a current value and no report
// has records.
//
//   ThresholdModule module("/var/lib/lorveth/switchd");
//   std::string error;
//   if (!module.Load(&error)) ... a table file is unreadable ...
//   ModuleReply reply = module.Handle({0xE001, 0x311, 0, 0xFFFFFFFF, {}});
//   // reply.stat 0, reply.data = the Rules document and its terminating NUL
//
// Thread safety: every public operation may be called from any thread; they
// run one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/Settings.h"
#include "services/switchd/Tables.h"

class MarkupDocument;

namespace switchd {

struct ModuleRequest {
  DWORD oc = 0;
  DWORD oe = 0;
  DWORD oid = 0;
  DWORD cabid = 0;
  std::string_view data;
};

struct ModuleReply {
  DWORD stat = 0;
  std::vector<BYTE> data;
  // Set after an accepted store: the table whose change every client must hear of.
  std::optional<DWORD> changed_table;
};

// The tables as an accepted store would leave them, shown to the store
// checks before anything is written.
struct StoreCandidate {
  DWORD table;                             // the table stored
  const std::vector<std::string>& names;   // its records added or changed, in document order
  std::function<std::string(DWORD)> text;  // any table's text as it would be served after
};

// A check a store must pass besides the module's own; false with a reason
// refuses it (status 4).  Called under the module's lock: it must not call
// the module.
using StoreCheck = std::function<bool(const StoreCandidate&, std::string* reason)>;

// Called after every accepted store with the table's code, outside the
// module's lock.
using ChangeListener = std::function<void(DWORD table)>;

// One table as `switchctl status` shows it.
struct TableSummary {
  const TableInfo* table;
  size_t records;
  std::string modified;  // the "Modified" text, "" when none
  bool present;          // whether its file exists
};

// The threshold event document: Threshold/Rule[Name], Threshold/Rule/Comment,
// Threshold/Value and an Event record with Name, Type and Severity.
std::string ThresholdEventDocument(std::string_view rule, std::string_view comment,
                                   std::string_view value, std::string_view event,
                                   std::string_view type, std::string_view severity);

class ThresholdModule {
 public:
  explicit ThresholdModule(std::string data_dir);

  const std::string& DataDirectory() const { return data_dir_; }

  // Creates the directory if needed, removes temporaries of interrupted
  // writes and reads every table.  A missing file is an empty table; a file
  // that is not a well-formed document of its table fails the load with the
  // file and the reason.  A file that loads but holds an element of another
  // kind between its records adds a line naming the file and the element to
  // *warnings (when given).
  bool Load(std::string* error, std::vector<std::string>* warnings = nullptr);

  // Re-reads every file; returns the codes of the tables whose content
  // changed (and are now served).  A file that cannot be used keeps the
  // table as it was and adds a line to *problems; a changed file is checked
  // for foreign elements between its records as at Load.
  std::vector<DWORD> Reload(std::vector<std::string>* problems,
                            std::vector<std::string>* warnings = nullptr);

  // Answers one command.  Unknown commands get status 1.
  ModuleReply Handle(const ModuleRequest& request);

  // Validates and applies a store command; the status of the reply (0
  // accepted, 4 refused document, 7 read-only record, 6 write failure).
  // *reason says why a store was refused.  A refused store changes nothing;
  // it is logged, and kept as the last refusal.
  DWORD Store(DWORD table, std::string_view document, std::string* reason);
  // "<time> <table>: <reason>" of the last refused store, "" when none.
  std::string LastRefusal() const;
  // Store commands handled and refused since the start.
  uint64_t StoreRequests() const { return store_requests_; }
  uint64_t StoreRefusals() const { return store_refusals_; }

  // Set before the module serves: checks every store must pass, and who
  // hears of accepted stores.
  void AddStoreCheck(StoreCheck check);
  void SetChangeListener(ChangeListener listener);

  // The table document as served (an empty table is its bare root element).
  std::string TableDocument(DWORD table);
  std::vector<TableSummary> Summaries();

  // Calls `listener` with a table's code after every accepted store of it and
  // for every table that Reload changed, on the caller's thread and outside
  // the module's locks.  Listeners are added before the module serves.
  void AddChangeListener(std::function<void(DWORD table)> listener);

  // Where the live answers come from; null detaches.
  void SetRuleState(std::shared_ptr<const RuleState> rules);
  void SetReportState(std::shared_ptr<const ReportState> reports);

  void SetSettings(const SettingValues& values);
  SettingValues CurrentSettings();

  // The document of a threshold event for a stored rule and event (see
  // ThresholdEventDocument), with the rule's comment and the event's Type and
  // Severity as stored.  False with a reason when the rule or the event is
  // not stored.
  bool BuildThresholdEvent(std::string_view rule, std::string_view value, std::string_view event,
                           std::string* document, std::string* error);

 private:
  std::string ServedText(const TableInfo& table) const;
  bool Exists(DWORD table, std::string_view name) const;
  std::optional<std::string> RecordMarkup(DWORD table, std::string_view name) const;
  bool ParseTable(const TableInfo& table, const std::string& text, std::string* reason) const;
  std::vector<DWORD> ReloadUnannounced(std::vector<std::string>* problems,
                                       std::vector<std::string>* warnings);
  DWORD StoreUnannounced(DWORD table, std::string_view document, std::string* reason);
  void Announce(DWORD table) const;
  DWORD ApplyStore(const TableInfo& info, std::string_view document, std::string* reason);
  // Sets a table's text and the index of its record names; `parsed`, when
  // given, is that text as a document already.
  void Keep(const TableInfo& table, std::string text, MarkupDocument* parsed = nullptr);

  std::shared_ptr<const RuleState> Rules() const;
  std::shared_ptr<const ReportState> Reports() const;

  const std::string data_dir_;
  mutable std::mutex mutex_;
  std::map<DWORD, std::string> texts_;  // file contents; "" for a missing file
  // Record names per table: a value request must not parse its whole table.
  std::map<DWORD, std::set<std::string, std::less<>>> names_;
  SettingValues settings_{};
  std::vector<std::function<void(DWORD)>> listeners_;
  std::vector<StoreCheck> store_checks_;
  ChangeListener change_listener_;
  std::string last_refusal_;
  std::atomic<uint64_t> store_requests_{0};
  std::atomic<uint64_t> store_refusals_{0};
  // Apart from mutex_: a live answer must not wait for a store to be written.
  mutable std::mutex live_mutex_;
  std::shared_ptr<const RuleState> rules_;
  std::shared_ptr<const ReportState> reports_;
};

}  // namespace switchd
