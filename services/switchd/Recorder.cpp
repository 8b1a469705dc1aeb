// The report recorder: configuration from the tables, polling, records and
// the answers to the agent.
#include "services/switchd/Recorder.h"
#include "services/switchd/TableRecords.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "services/switchd/Instances.h"
#include "services/switchd/Log.h"
#include "services/switchd/RecordText.h"
#include "services/switchd/ThresholdModule.h"
#include "switch/SwitchProtocol.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/Records.h"

namespace switchd {

namespace sp = switch_protocol;

namespace {

constexpr int kMonitorAverage = 1;  // Instances[Monitor] code of "average"

// RecordingEnd's "month/day/year" as year*10000 + month*100 + day; 0 when
// missing or unreadable (no end).
int EndDay(const std::string& text) {
  int month = 0;
  int day = 0;
  int year = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d", &month, &day, &year) != 3) return 0;
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1 || year > 9999) return 0;
  return year * 10000 + month * 100 + day;
}

// The change of a counter between two polls.  A smaller value after a value
// that fits 32 bits is taken as a 32-bit counter that wrapped; any other
// decrease is a counter that restarted, and gives no delta.
std::optional<int64_t> CounterDelta(int64_t before, int64_t now) {
  if (now >= before) return now - before;
  constexpr int64_t k32 = int64_t{1} << 32;
  if (before < k32 && now >= 0) return now + k32 - before;
  return std::nullopt;
}

int64_t Mean(const std::vector<RecordValue>& values) {
  long double sum = 0;
  for (const RecordValue& value : values) sum += static_cast<long double>(value.value);
  return std::llround(sum / static_cast<long double>(values.size()));
}

}  // namespace

Recorder::Recorder(ThresholdModule& module, Scheduler& scheduler, ResourceSource& source,
                   const Clock& clock, std::unique_ptr<RecordStore> store, EngineSettings settings)
    : module_(module),
      scheduler_(scheduler),
      source_(source),
      clock_(clock),
      store_(std::move(store)),
      settings_(std::move(settings)) {
  status_.database = store_->Path();
  writer_ = std::thread([this] { WriterLoop(); });
}

Recorder::~Recorder() {
  // A stop (SIGTERM) loses nothing that was read.
  Flush();
  {
    std::lock_guard lock(jobs_mutex_);
    stopping_ = true;
  }
  jobs_changed_.notify_all();
  writer_.join();
}

void Recorder::Write(std::function<void()> job) {
  {
    std::lock_guard lock(jobs_mutex_);
    jobs_.push_back(std::move(job));
  }
  jobs_changed_.notify_all();
}

void Recorder::WriterLoop() {
  std::unique_lock lock(jobs_mutex_);
  for (;;) {
    jobs_changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    // The queue is written to the end before the thread stops.
    if (jobs_.empty()) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    writing_ = true;
    lock.unlock();
    job();
    lock.lock();
    writing_ = false;
    jobs_changed_.notify_all();
  }
}

void Recorder::WaitForWrites() {
  std::unique_lock lock(jobs_mutex_);
  jobs_changed_.wait(lock, [this] { return jobs_.empty() && !writing_; });
}

void Recorder::Reconfigure() {
  scheduler_.Post([self = weak_from_this()] {
    if (const auto recorder = self.lock()) recorder->ConfigureNow();
  });
}

void Recorder::UpdateSettings(const EngineSettings& settings) {
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
  }
  // The record limit may have dropped: trim on the scheduler's thread.
  Reconfigure();
}

void Recorder::ConfigureNow() {
  struct ResourceInfo {
    ResourceQuery query;
    std::string unit;
  };
  std::map<std::string, ResourceInfo, std::less<>> resources;
  ForEachRecord<records::ResourceRecord>(
      module_.TableDocument(sp::kTableResources), [&](records::ResourceRecord& resource) {
        ResourceInfo info;
        info.query.type = static_cast<RequestType>(resource.ReqType());
        info.query.request = resource.ReqString();
        info.query.inst_name_req = resource.InstNameReq();
        info.unit = resource.Unit();
        resources.emplace(resource.Name(), std::move(info));
      });
  std::map<std::string, std::string, std::less<>> targets;
  ForEachRecord<records::TargetRecord>(
      module_.TableDocument(sp::kTableTargets),
      [&](records::TargetRecord& target) { targets.emplace(target.Name(), target.Address()); });

  std::map<std::string, ReportConfig, std::less<>> configs;
  ForEachRecord<records::ReportRecord>(
      module_.TableDocument(sp::kTableReports), [&](records::ReportRecord& report) {
        ReportConfig config;
        config.description = report.Description();
        config.resource = report.ResourceName();
        config.interval_seconds = std::max(report.PollInterval(), 1);
        config.max_entries = std::max(report.MaxEntries(), 0);
        config.average = report.InstMonitor() == kMonitorAverage;
        config.indexes = report.InstIndexes();
        config.patterns = report.InstNamePatterns();
        const auto resource = resources.find(config.resource);
        if (resource == resources.end()) {
          config.problem = "the resource \"" + config.resource + "\" is not defined";
        } else {
          config.query = resource->second.query;
          config.unit = resource->second.unit;
          if (const auto target = targets.find(report.TargetName()); target != targets.end()) {
            config.query.target = target->second;
          }
          std::string reason;
          if (!source_.Validate(config.query, &reason)) {
            config.problem = "resource \"" + config.resource + "\": " + reason;
          }
        }
        configs.emplace(report.Name(), std::move(config));
      });

  std::vector<SetPlan> sets;
  ForEachRecord<records::ReportSetRecord>(
      module_.TableDocument(sp::kTableReportSets), [&](records::ReportSetRecord& set) {
        SetPlan plan;
        plan.name = set.Name();
        plan.enabled = set.Enabled();
        plan.start = set.StartTime();
        plan.stop = set.StopTime();
        plan.end_day = EndDay(set.Document().ItemText(records::kReportSetRecordingEnd));
        plan.members = set.MemberNames();
        sets.push_back(std::move(plan));
      });

  // Reports that are gone stop and lose their records, also those deleted
  // while switchd was not running.
  std::set<std::string> gone;
  for (const auto& [name, polling] : polling_) {
    if (!configs.contains(name)) gone.insert(name);
  }
  for (const std::string& name : store_->Reports()) {
    if (!configs.contains(name)) gone.insert(name);
  }
  for (const std::string& name : gone) {
    if (const auto it = polling_.find(name); it != polling_.end()) {
      scheduler_.Cancel(it->second.timer);
      polling_.erase(it);
    }
    std::erase_if(pending_, [&](const NewRecord& record) { return record.report == name; });
    // After the writes queued before: none of them brings the records back.
    Write([this, name] {
      std::string error;
      if (store_->Forget(name, &error) != WriteOutcome::kWritten) {
        Log(LogLevel::kWarning,
            "recorder: cannot delete the records of the deleted report \"" + name + "\": " + error);
      } else {
        Log(LogLevel::kInfo, "recorder: report \"" + name + "\" deleted with its records");
      }
    });
  }

  std::vector<std::string> restarted;
  for (const auto& [name, config] : configs) {
    const auto it = polling_.find(name);
    if (it != polling_.end() && it->second.config == config) continue;
    if (it != polling_.end()) scheduler_.Cancel(it->second.timer);
    Polling& polling = polling_[name];
    polling = Polling();
    polling.config = config;
    polling.generation = next_generation_++;
    if (!config.problem.empty()) {
      Log(LogLevel::kWarning, "recorder: report \"" + name + "\" cannot record: " + config.problem);
    }
    restarted.push_back(name);
  }

  {
    std::lock_guard lock(mutex_);
    std::erase_if(live_, [&](const auto& entry) { return !configs.contains(entry.first); });
    for (const auto& [name, config] : configs) {
      const auto [it, added] = live_.try_emplace(name);
      it->second.config = config;
      // After a restart the last record is the last value recorded.
      if (added) {
        if (const DWORD count = store_->Count(name); count > 0) {
          const std::optional<std::string> last = store_->Text(name, count);
          if (last && last->size() > kRecordTimeLength) {
            it->second.current_value = last->substr(kRecordTimeLength + 1);
          }
        }
      }
    }
    sets_ = std::move(sets);
  }

  for (const std::string& name : restarted) Schedule(name, polling_[name].generation);
  for (const auto& [name, config] : configs) {
    DWORD keep;
    {
      std::lock_guard lock(mutex_);
      keep = KeepOf(config);
    }
    Write([this, report = name, keep] {
      std::string error;
      if (store_->Trim(report, keep, &error) != WriteOutcome::kWritten) {
        Log(LogLevel::kWarning,
            "recorder: cannot drop the oldest records of \"" + report + "\": " + error);
      }
    });
  }
}

void Recorder::Schedule(const std::string& report, uint64_t generation) {
  Polling& polling = polling_.at(report);
  const int64_t interval_ms = int64_t{polling.config.interval_seconds} * 1000;
  // Multiples of the interval: reports of one interval poll in the same tick.
  const int64_t due = (clock_.NowMs() / interval_ms + 1) * interval_ms;
  polling.timer = scheduler_.At(due, [self = weak_from_this(), report, generation] {
    if (const auto recorder = self.lock()) recorder->Poll(report, generation);
  });
}

void Recorder::Poll(const std::string& report, uint64_t generation) {
  const auto it = polling_.find(report);
  if (it == polling_.end() || it->second.generation != generation) return;
  Schedule(report, generation);
  Polling& polling = it->second;
  const int64_t wall = clock_.WallSeconds();
  bool recording;
  {
    std::lock_guard lock(mutex_);
    recording = Recording(report, wall);
  }
  if (!recording) {
    // A counter's delta must not span a pause.
    polling.previous.clear();
    return;
  }
  if (!polling.config.problem.empty()) {
    Failed(report, polling.config.problem);
    return;
  }
  if (!tick_open_) {
    // Reads of one tick share what the source reads (one /proc/stat for all).
    tick_open_ = true;
    source_.BeginTick();
    scheduler_.Post([self = weak_from_this()] {
      if (const auto recorder = self.lock()) recorder->tick_open_ = false;
    });
  }
  source_.Read(polling.config.query,
               [self = weak_from_this(), report, generation, wall](Reading reading) {
                 const auto recorder = self.lock();
                 if (!recorder) return;
                 if (recorder->scheduler_.OnSchedulerThread()) {
                   recorder->Handle(report, generation, wall, std::move(reading));
                   return;
                 }
                 recorder->scheduler_.Post(
                     [self, report, generation, wall, reading = std::move(reading)]() mutable {
                       if (const auto again = self.lock()) {
                         again->Handle(report, generation, wall, std::move(reading));
                       }
                     });
               });
}

void Recorder::Handle(const std::string& report, uint64_t generation, int64_t wall,
                      Reading reading) {
  const auto it = polling_.find(report);
  if (it == polling_.end() || it->second.generation != generation) return;
  Polling& polling = it->second;
  const ReportConfig& config = polling.config;
  if (!reading.ok) {
    Failed(report, reading.error.empty() ? "the read failed" : reading.error);
    return;
  }
  const std::vector<InstanceValue> selected =
      SelectInstances(reading.instances, config.indexes, config.patterns);
  if (selected.empty()) {
    polling.previous.clear();
    Failed(report, "no instance of the resource is selected");
    return;
  }
  std::vector<RecordValue> values;
  if (reading.counter) {
    std::map<std::string, int64_t, std::less<>> now;
    for (const InstanceValue& instance : selected) {
      now[instance.name] = instance.value;
      const auto before = polling.previous.find(instance.name);
      if (before == polling.previous.end()) continue;
      if (const auto delta = CounterDelta(before->second, instance.value)) {
        values.push_back({instance.name, *delta});
      }
    }
    polling.previous = std::move(now);
    // The first poll of a counter only sets where the deltas start.
    if (values.empty()) {
      std::lock_guard lock(mutex_);
      live_[report].last_failed = false;
      return;
    }
  } else {
    for (const InstanceValue& instance : selected)
      values.push_back({instance.name, instance.value});
  }
  if (config.average) values = {{"", Mean(values)}};

  NewRecord record{.report = report, .text = FormatRecord(clock_.Local(wall), values, config.unit)};
  {
    std::lock_guard lock(mutex_);
    Live& live = live_[report];
    live.current_value = FormatValues(values, config.unit);
    live.last_failed = false;
    record.keep = KeepOf(config);
  }
  pending_.push_back(std::move(record));
  if (!flush_posted_) {
    // Every record of this tick goes into one transaction.
    flush_posted_ = true;
    scheduler_.Post([self = weak_from_this()] {
      if (const auto recorder = self.lock()) recorder->Flush();
    });
  }
}

void Recorder::Failed(const std::string& report, std::string why) {
  std::lock_guard lock(mutex_);
  Live& live = live_[report];
  ++live.failed_reads;
  live.last_error = std::move(why);
  live.last_failed = true;
  live.current_value.reset();
}

void Recorder::Flush() {
  flush_posted_ = false;
  if (pending_.empty()) return;
  Write([this, records = std::move(pending_)] { WriteTick(records); });
  pending_.clear();
}

void Recorder::WriteTick(const std::vector<NewRecord>& records) {
  std::string error;
  const WriteOutcome outcome = store_->Append(records, &error);
  std::string message;
  LogLevel level = LogLevel::kInfo;
  {
    std::lock_guard lock(mutex_);
    if (outcome == WriteOutcome::kWritten) {
      if (status_.stopped) {
        message = "recorder: writing records to " + store_->Path() + " again";
        status_.stopped = false;
        status_.reason.clear();
      }
    } else {
      status_.lost_records += records.size();
      const std::string reason = outcome == WriteOutcome::kFull ? "the disk is full (" + error + ")"
                                                                : "cannot write (" + error + ")";
      if (!status_.stopped || status_.reason != reason) {
        level = LogLevel::kError;
        message = "recorder stopped: " + reason + " writing " + store_->Path() +
                  "; the records stored so far are kept, and recording resumes by itself "
                  "once a write succeeds again";
      }
      status_.stopped = true;
      status_.reason = reason;
    }
  }
  if (!message.empty()) Log(level, message);
}

bool Recorder::SetRecording(const SetPlan& set, int64_t wall) const {
  if (!set.enabled) return false;
  const std::tm local = clock_.Local(wall);
  if (!InDailyWindow(local.tm_hour * 60 + local.tm_min, set.start, set.stop)) return false;
  const int today = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
  return set.end_day == 0 || today <= set.end_day;
}

bool Recorder::Recording(std::string_view report, int64_t wall) const {
  for (const SetPlan& set : sets_) {
    for (const std::string& member : set.members) {
      if (member == report && SetRecording(set, wall)) return true;
    }
  }
  return false;
}

DWORD Recorder::KeepOf(const ReportConfig& config) const {
  return config.max_entries > 0 ? static_cast<DWORD>(config.max_entries) : settings_.max_records;
}

std::optional<std::string> Recorder::ReportCurrentValue(std::string_view report) const {
  std::lock_guard lock(mutex_);
  const auto it = live_.find(report);
  if (it == live_.end()) return std::nullopt;
  return it->second.current_value;
}

BYTE Recorder::ReportSetStatus(std::string_view set) const {
  const int64_t wall = clock_.WallSeconds();
  std::lock_guard lock(mutex_);
  const auto status_of = [&](const SetPlan& plan) -> BYTE {
    // A set without reports records nothing.
    if (plan.members.empty() || !SetRecording(plan, wall)) return 0;
    if (status_.stopped) return 2;
    for (const std::string& member : plan.members) {
      const auto it = live_.find(member);
      if (it != live_.end() && it->second.last_failed) return 2;
    }
    return 1;
  };
  BYTE status = 0;
  for (const SetPlan& plan : sets_) {
    if (set.empty() || plan.name == set) status = std::max(status, status_of(plan));
  }
  return status;
}

DWORD Recorder::HighestRecord(std::string_view report) const { return store_->Count(report); }

std::optional<std::string> Recorder::RecordText(std::string_view report, DWORD number) const {
  return store_->Text(report, number);
}

std::vector<ReportSummary> Recorder::Summaries() const {
  const int64_t wall = clock_.WallSeconds();
  std::vector<ReportSummary> summaries;
  std::lock_guard lock(mutex_);
  for (const auto& [name, live] : live_) {
    ReportSummary summary;
    summary.name = name;
    summary.description = live.config.description;
    summary.unit = live.config.unit;
    summary.resource = live.config.resource;
    summary.interval_seconds = live.config.interval_seconds;
    summary.keep = KeepOf(live.config);
    summary.records = store_->Count(name);
    summary.failed_reads = live.failed_reads;
    summary.last_error = live.last_error;
    summary.recording = Recording(name, wall);
    summary.last_failed = live.last_failed;
    summary.current_value = live.current_value;
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

std::optional<ReportSummary> Recorder::Summary(std::string_view report) const {
  for (ReportSummary& summary : Summaries()) {
    if (summary.name == report) return std::move(summary);
  }
  return std::nullopt;
}

void Recorder::CopyMetrics(MetricsSnapshot* snapshot) const {
  const int64_t wall = clock_.WallSeconds();
  std::lock_guard lock(mutex_);
  for (const auto& [name, live] : live_) {
    // Records are numbered from 1 for the oldest kept: the newest has the count's number.
    const DWORD count = store_->Count(name);
    snapshot->reports.push_back({name, live.config.resource, count, count, live.failed_reads});
  }
  for (const SetPlan& plan : sets_) {
    snapshot->report_sets.push_back({plan.name, !plan.members.empty() && SetRecording(plan, wall)});
  }
}

RecorderStatus Recorder::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

}  // namespace switchd
