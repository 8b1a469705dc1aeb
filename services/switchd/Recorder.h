// The report recorder: polls the resource of every report that one of its
// enabled report sets is recording now, and appends one record per poll to
// the record store.  It answers the agent's report commands (ReportState)
// from memory and the store, never waiting for a poll.
//
//   Recorder recorder(module, scheduler, source, clock, std::move(store), settings);
//   module.SetReportState(recorder.shared_from_this());   // recorder made with make_shared
//   recorder.Reconfigure();       // at start and after every change of its tables
//
// A report records while at least one set holding it is enabled, inside the
// set's daily StartTime..StopTime (local time) and not after its RecordingEnd
// day.  It polls every Interval seconds, at multiples of the interval on the
// monotonic clock, so that reports of the same interval share one tick and
// one write.
//
// Threads: polls, reads' results and configuration run on the scheduler's
// thread; the database is written, in order, on a writer thread of the
// recorder's own, so that a synced commit never holds up a poll (the rule
// engine polls on the same scheduler).  Every other public member may be
// called from any thread.
// The recorder must be made with make_shared (its tasks hold weak pointers to
// it), and the scheduler, the source and the clock must outlive its tasks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "services/switchd/EngineSettings.h"
#include "services/switchd/Metrics.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/RecordStore.h"
#include "services/switchd/Scheduler.h"

namespace switchd {

class ThresholdModule;

// One report as `switchctl reports` shows it.
struct ReportSummary {
  std::string name;
  std::string description;
  std::string unit;
  std::string resource;
  int interval_seconds = 1;
  DWORD keep = 0;  // the most records it keeps
  DWORD records = 0;
  uint64_t failed_reads = 0;
  std::string last_error;  // of the last failed read, "" when none
  bool recording = false;  // a set holding it is recording now
  bool last_failed = false;
  std::optional<std::string> current_value;
};

// The recorder as a whole, for `switchctl status`.
struct RecorderStatus {
  std::string database;
  bool stopped = false;       // writes fail: the disk is full or the database unusable
  std::string reason;         // why, while stopped
  uint64_t lost_records = 0;  // read but never written since the start
};

class Recorder final : public ReportState, public std::enable_shared_from_this<Recorder> {
 public:
  Recorder(ThresholdModule& module, Scheduler& scheduler, ResourceSource& source,
           const Clock& clock, std::unique_ptr<RecordStore> store, EngineSettings settings);
  // Writes what was read but not yet written, then ends the writer thread.
  // Called once the scheduler no longer runs the recorder's tasks.
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Reads the Reports, ReportSets, Resources and Targets tables again (on the
  // scheduler's thread, soon): new reports start, changed ones start over
  // with their records kept, deleted ones stop and lose their records.
  void Reconfigure();
  // The same on the calling thread, at once: at start, before the scheduler runs.
  void ConfigureNow();
  void UpdateSettings(const EngineSettings& settings);
  // Waits until every write queued so far is done.  For tests and measurements.
  void WaitForWrites();

  // ReportState
  std::optional<std::string> ReportCurrentValue(std::string_view report) const override;
  BYTE ReportSetStatus(std::string_view set) const override;
  DWORD HighestRecord(std::string_view report) const override;
  std::optional<std::string> RecordText(std::string_view report, DWORD number) const override;

  std::vector<ReportSummary> Summaries() const;
  std::optional<ReportSummary> Summary(std::string_view report) const;
  RecorderStatus Status() const;
  // Copies every report's figures and the report sets' running state.
  void CopyMetrics(MetricsSnapshot* snapshot) const;
  const RecordStore& Store() const { return *store_; }
  // For tests and measurements; writes only while the scheduler is idle.
  RecordStore& Store() { return *store_; }

 private:
  // What a report does, from its Report, Resource and Target records.
  struct ReportConfig {
    std::string description;
    std::string resource;
    std::string unit;
    int interval_seconds = 1;
    int max_entries = 0;  // MaxEntries; 0 keeps up to the engine's limit
    bool average = false;
    std::string indexes;
    std::string patterns;
    ResourceQuery query;
    std::string problem;  // why the resource cannot be read at all, "" when it can
    bool operator==(const ReportConfig& other) const {
      return description == other.description && resource == other.resource && unit == other.unit &&
             interval_seconds == other.interval_seconds && max_entries == other.max_entries &&
             average == other.average && indexes == other.indexes && patterns == other.patterns &&
             query.type == other.query.type && query.request == other.query.request &&
             query.inst_name_req == other.query.inst_name_req &&
             query.target == other.query.target && problem == other.problem;
    }
  };
  // A report's polling, on the scheduler's thread.
  struct Polling {
    ReportConfig config;
    uint64_t generation = 0;
    Scheduler::TaskId timer = 0;
    // Counters: the values of the last poll, by instance name.
    std::map<std::string, int64_t, std::less<>> previous;
  };
  struct SetPlan {
    std::string name;
    bool enabled = true;
    int start = -1;  // minutes of the day, -1 when missing
    int stop = -1;
    int end_day = 0;  // RecordingEnd as year*10000 + month*100 + day, 0 when none
    std::vector<std::string> members;
  };
  // What the readers see of a report.
  struct Live {
    ReportConfig config;
    std::optional<std::string> current_value;
    uint64_t failed_reads = 0;
    std::string last_error;
    bool last_failed = false;
  };

  void Schedule(const std::string& report, uint64_t generation);
  void Poll(const std::string& report, uint64_t generation);
  void Handle(const std::string& report, uint64_t generation, int64_t wall, Reading reading);
  void Failed(const std::string& report, std::string why);
  void Keep(NewRecord record);
  void Flush();
  void WriteTick(const std::vector<NewRecord>& records);  // on the writer thread
  // Queues a write of the store for the writer thread.
  void Write(std::function<void()> job);
  void WriterLoop();
  // Whether a set (a report) records at that wall time; under mutex_.
  bool SetRecording(const SetPlan& set, int64_t wall) const;
  bool Recording(std::string_view report, int64_t wall) const;
  DWORD KeepOf(const ReportConfig& config) const;  // under mutex_

  ThresholdModule& module_;
  Scheduler& scheduler_;
  ResourceSource& source_;
  const Clock& clock_;
  const std::unique_ptr<RecordStore> store_;

  // Scheduler thread only.
  std::map<std::string, Polling, std::less<>> polling_;
  uint64_t next_generation_ = 1;
  std::vector<NewRecord> pending_;
  bool flush_posted_ = false;
  bool tick_open_ = false;

  // The writer thread and its queue.
  std::mutex jobs_mutex_;
  std::condition_variable jobs_changed_;
  std::deque<std::function<void()>> jobs_;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread writer_;

  // Shared with the readers.
  mutable std::mutex mutex_;
  EngineSettings settings_;
  std::map<std::string, Live, std::less<>> live_;
  std::vector<SetPlan> sets_;
  RecorderStatus status_;
};

}  // namespace switchd
