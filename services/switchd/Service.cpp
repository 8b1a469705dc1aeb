// switchd's parts wired together, and the control commands.
#include "services/switchd/Service.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <future>
#include <sstream>
#include <thread>

#include "platform/system/Paths.h"
#include "services/switchd/EngineSettings.h"
#include "services/switchd/Listing.h"
#include "services/switchd/Log.h"
#include "services/switchd/RecorderCommands.h"
#include "services/switchd/ResourceList.h"
#include "services/switchd/RuleConfig.h"
#include "services/switchd/Settings.h"
#include "services/switchd/Sources.h"
#include "services/switchd/SwitchObject.h"
#include "switch/SwitchProtocol.h"

namespace switchd {

namespace sp = switch_protocol;

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

ControlAnswer Failure(std::string why) {
  ControlAnswer answer;
  answer.ok = false;
  answer.error = std::move(why);
  return answer;
}

bool IsRecorderTable(DWORD table) {
  return table == sp::kTableReports || table == sp::kTableReportSets ||
         table == sp::kTableResources || table == sp::kTableTargets;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The tables the rule engine runs from.
bool RuleTable(DWORD code) {
  return code == sp::kTableRuleSets || code == sp::kTableRules || code == sp::kTableResources ||
         code == sp::kTableTargets || code == sp::kTableEvents;
}

std::string LocalText(const Clock& clock, int64_t seconds) {
  const std::tm local = clock.Local(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// switchctl resources [--json]: the builtin catalogue with this machine's values.
ControlAnswer Resources(const std::vector<std::string>& words) {
  const bool json = words.size() == 2 && words[1] == "--json";
  if (words.size() > 2 || (words.size() == 2 && !json)) return Failure("usage: resources [--json]");
  // CPU time is measured between two samples: the listing shows the quarter
  // of a second after a first one.
  BuiltinSource source;
  source.Read({RequestType::kBuiltin, "cpu.load.percent", "", ""}, [](const Reading&) {});
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  return ListResources(source, json);
}

}  // namespace

ServiceOptions WithDefaults(ServiceOptions options) {
  if (options.data_dir.empty()) options.data_dir = platform::StateDirectory() + "/switchd";
  if (options.socket_path.empty()) {
    options.socket_path = platform::RuntimeDirectory() + "/switch.sock";
  }
  if (options.control_path.empty()) {
    options.control_path = platform::RuntimeDirectory() + "/switchd.ctl";
  }
  if (options.poll_seconds == 0) options.poll_seconds = 1;
  return options;
}

Service::Service(ServiceOptions options)
    : options_(WithDefaults(std::move(options))),
      module_(std::make_shared<ThresholdModule>(options_.data_dir)),
      hub_(std::make_shared<EventHub>()),
      clock_(options_.clock ? options_.clock : std::make_shared<SystemClock>()) {}

Service::~Service() {
  Stop();
  // The module may outlive this object; the recorder's parts do not.
  module_->SetReportState(nullptr);
  recorder_.reset();
}

bool Service::Start(std::string* error) {
  if (started_) return true;
  std::vector<std::string> warnings;
  if (!module_->Load(error, &warnings)) return false;
  for (const std::string& warning : warnings) Log(LogLevel::kWarning, warning);
  module_->SetSettings(ReadSettings());

  engine_settings_ = ReadEngineSettings();
  if (options_.source) {
    source_ = options_.source;
  } else {
    sources_ = std::make_shared<Sources>(engine_settings_);
    source_ = sources_;
  }
  scheduler_ = std::make_unique<Scheduler>(*clock_);
  const std::weak_ptr<EventHub> weak_hub = hub_;
  engine_ = std::make_shared<RuleEngine>(*clock_, *scheduler_, *source_,
                                         [weak_hub](const std::string& document) {
                                           if (auto hub = weak_hub.lock()) {
                                             hub->Broadcast(EventFrame::Threshold(document));
                                           }
                                         });
  // A store the sources could never read is refused; every accepted change
  // of a table the rules run from reaches the engine at once.
  module_->AddStoreCheck([weak_source = std::weak_ptr<ResourceSource>(source_)](
                             const StoreCandidate& candidate, std::string* reason) {
    const std::shared_ptr<ResourceSource> source = weak_source.lock();
    return source == nullptr || CheckRuleStore(candidate, *source, reason);
  });
  module_->SetChangeListener([this](DWORD table) {
    if (RuleTable(table)) ConfigureEngineSoon();
  });
  module_->SetRuleState(engine_);
  engine_->Start();
  ConfigureEngine();
  if (!StartRecorder(error)) return false;
  scheduler_->Start();
  // The first answers already come from the configured rules.
  std::promise<void> configured;
  scheduler_->Post([&configured] { configured.set_value(); });
  configured.get_future().wait();
  configure_stopping_ = false;
  configure_thread_ = std::thread([this] { ConfigureLoop(); });

  const platform::ClassFactory factory = SwitchObject::Factory(module_, hub_);
  if (options_.serve_socket) {
    com_server_ = std::make_unique<platform::ComServer>();
    com_server_->RegisterClassObject(sp::CLSID_LorvethSwitch, factory);
    platform::ComServer::Options com;
    com.path = options_.socket_path;
    com.group = options_.group;
    // A client that comes back after a lost connection cannot know what
    // changed meanwhile (this process may be a new one): it hears of every
    // table and setting again.
    const std::weak_ptr<EventHub> hub = hub_;
    com.on_advise = [this, hub](const platform::ComServer::AdviseInfo& info) {
      if (!info.again) return;
      if (auto events = hub.lock()) events->SendToSink(info.sink, Everything());
    };
    if (!com_server_->Start(com, error)) {
      com_server_.reset();
      return false;
    }
    if (options_.register_endpoint) {
      const LONG status =
          platform::RegisterLocalServer(sp::CLSID_LorvethSwitch, "unix:" + options_.socket_path);
      if (status != ERROR_SUCCESS) {
        Log(LogLevel::kWarning, "cannot register the switch endpoint in the registry (error " +
                                    std::to_string(status) + ")");
      }
    }
  } else {
    platform::RegisterInProcessClass(sp::CLSID_LorvethSwitch, factory);
    registered_in_process_ = true;
  }
  if (options_.serve_control &&
      !control_.Start(
          options_.control_path, [this](const std::string& line) { return Execute(line); },
          error, options_.group)) {
    Stop();
    return false;
  }
  stopping_ = false;
  poll_thread_ = std::thread([this] { PollLoop(); });
  started_ = true;
  return true;
}

bool Service::StartRecorder(std::string* error) {
  if (recorder_) return true;
  auto store = RecordStore::Open(options_.data_dir + "/records.db", error);
  if (!store) {
    *error = "cannot open the report records: " + *error;
    return false;
  }
  recorder_ = std::make_shared<Recorder>(*module_, *scheduler_, *source_, *clock_, std::move(store),
                                         ReadEngineSettings());
  module_->SetReportState(recorder_);
  module_->AddChangeListener([weak = std::weak_ptr<Recorder>(recorder_)](DWORD table) {
    const auto recorder = weak.lock();
    if (recorder && IsRecorderTable(table)) recorder->Reconfigure();
  });
  // Before the scheduler runs, so that the first request already finds the reports.
  recorder_->ConfigureNow();
  return true;
}

void Service::Stop() {
  {
    std::lock_guard lock(poll_mutex_);
    stopping_ = true;
  }
  poll_wake_.notify_all();
  if (poll_thread_.joinable()) poll_thread_.join();
  control_.Stop();
  if (com_server_) {
    com_server_->Stop();
    com_server_.reset();
  }
  if (registered_in_process_) {
    platform::UnregisterInProcessClass(sp::CLSID_LorvethSwitch);
    registered_in_process_ = false;
  }
  {
    std::lock_guard lock(configure_mutex_);
    configure_stopping_ = true;
  }
  configure_wake_.notify_all();
  if (configure_thread_.joinable()) configure_thread_.join();
  // The engine's polls run on the scheduler: stop it before the engine goes.
  if (scheduler_) scheduler_->Stop();
  if (engine_) {
    module_->SetRuleState(nullptr);
    module_->SetChangeListener(nullptr);
  }
  // Reads still running end (failing, into the stopped scheduler) when the
  // sources go, while the engine they report to is still there.
  source_.reset();
  sources_.reset();
  if (recorder_) {
    module_->SetReportState(nullptr);
    recorder_.reset();  // writes what was read
  }
  engine_.reset();
  scheduler_.reset();
  started_ = false;
}

void Service::ConfigureEngine() {
  if (!engine_) return;
  engine_->Configure([this](DWORD code) { return module_->TableDocument(code); });
}

void Service::ConfigureEngineSoon() {
  {
    std::lock_guard lock(configure_mutex_);
    configure_wanted_ = true;
  }
  configure_wake_.notify_all();
}

void Service::ConfigureLoop() {
  std::unique_lock lock(configure_mutex_);
  while (!configure_stopping_) {
    configure_wake_.wait(lock, [this] { return configure_stopping_ || configure_wanted_; });
    if (configure_stopping_) break;
    // Stores that come meanwhile are taken together at the next round: the
    // tables are read when the round begins.
    configure_wanted_ = false;
    lock.unlock();
    ConfigureEngine();
    lock.lock();
  }
}

void Service::PollLoop() {
  std::unique_lock lock(poll_mutex_);
  while (!stopping_) {
    poll_wake_.wait_for(lock, std::chrono::seconds(options_.poll_seconds),
                        [this] { return stopping_; });
    if (stopping_) break;
    lock.unlock();
    CheckSettings();
    lock.lock();
  }
}

std::vector<DWORD> Service::CheckSettings() {
  std::lock_guard lock(settings_mutex_);
  const SettingValues now = ReadSettings();
  const SettingValues before = module_->CurrentSettings();
  std::vector<DWORD> changed;
  module_->SetSettings(now);
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (now[i] == before[i]) continue;
    const SettingInfo& setting = Settings()[i];
    changed.push_back(setting.code);
    hub_->Broadcast(EventFrame::Setting(setting.code, now[i]));
    Log(LogLevel::kInfo, std::string(setting.name) + " is now " + std::to_string(now[i]));
  }
  return changed;
}

std::vector<EventFrame> Service::Everything() {
  std::vector<EventFrame> frames;
  for (const TableInfo& table : Tables()) frames.push_back(EventFrame::Change(table.code));
  const SettingValues values = module_->CurrentSettings();
  for (size_t i = 0; i < kSettingCount; ++i) {
    frames.push_back(EventFrame::Setting(Settings()[i].code, values[i]));
  }
  return frames;
}

ControlAnswer Service::Execute(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return Failure("empty command");
  const std::string& command = words[0];
  if (command == "ping") return {};
  if (command == "status" && words.size() == 1) return Status();
  if (command == "set") return SetSetting(words);
  if (command == "announce") return Announce(words);
  if (command == "event") return InjectEvent(words);
  if (command == "reload" && words.size() == 1) return Reload();
  if (command == "rules") return Rules(words);
  if (command == "resources") return Resources(words);
  if (command == "reports") return ReportsCommand(recorder_.get(), words);
  if (command == "records") return RecordsCommand(recorder_.get(), *clock_, words);
  return Failure("unknown command or wrong arguments: " + line);
}

ControlAnswer Service::Status() {
  ControlAnswer answer;
  answer.lines.push_back("data " + module_->DataDirectory());
  answer.lines.push_back("socket " + options_.socket_path);
  for (const TableSummary& summary : module_->Summaries()) {
    std::string text = "table " + std::string(summary.table->collection) + " " +
                       Hex(summary.table->code) + " records " + std::to_string(summary.records);
    if (!summary.present) text += " (no file)";
    if (!summary.modified.empty()) text += " modified " + summary.modified;
    answer.lines.push_back(text);
  }
  const SettingValues values = module_->CurrentSettings();
  for (size_t i = 0; i < kSettingCount; ++i) {
    answer.lines.push_back("setting " + std::string(Settings()[i].name) + " " +
                           Hex(Settings()[i].code) + " " + std::to_string(values[i]));
  }
  if (recorder_) answer.lines.push_back(RecorderStatusLine(*recorder_));
  if (const std::string refusal = module_->LastRefusal(); !refusal.empty()) {
    answer.lines.push_back("refused " + refusal);
  }
  if (engine_) {
    const PollStats stats = engine_->Stats();
    answer.lines.push_back("polls " + std::to_string(stats.polls) + " skipped " +
                           std::to_string(stats.skipped) + " late-p99-ms " +
                           std::to_string(stats.Percentile(0.99)));
  }
  for (const ClientInfo& client : hub_->Clients()) {
    answer.lines.push_back("client " + std::to_string(client.cookie) + " name \"" + client.name +
                           "\" form " + std::to_string(static_cast<int>(client.form)) +
                           " delivered " + std::to_string(client.delivered) + " failed " +
                           std::to_string(client.failed));
  }
  return answer;
}

ControlAnswer Service::SetSetting(const std::vector<std::string>& words) {
  if (words.size() != 3) return Failure("usage: set SETTING VALUE");
  const SettingInfo* setting = FindSetting(words[1]);
  if (setting == nullptr) return Failure("unknown setting " + words[1]);
  char* end = nullptr;
  const unsigned long value = std::strtoul(words[2].c_str(), &end, 0);
  if (words[2].empty() || *end != '\0' || value > 255) {
    return Failure("the value must be a number from 0 to 255");
  }
  const LONG status = WriteSetting(*setting, static_cast<DWORD>(value));
  if (status != ERROR_SUCCESS) {
    return Failure("cannot write the registry (error " + std::to_string(status) + ")");
  }
  CheckSettings();
  return {};
}

ControlAnswer Service::Announce(const std::vector<std::string>& words) {
  if (words.size() != 2) return Failure("usage: announce TABLE");
  const TableInfo* table = FindTableByName(words[1]);
  if (table == nullptr) return Failure("unknown table " + words[1]);
  hub_->Broadcast(EventFrame::Change(table->code));
  return {};
}

ControlAnswer Service::InjectEvent(const std::vector<std::string>& words) {
  if (words.size() != 4) return Failure("usage: event RULE VALUE EVENT");
  std::string document;
  std::string error;
  if (!module_->BuildThresholdEvent(words[1], words[2], words[3], &document, &error)) {
    return Failure(error);
  }
  hub_->Broadcast(EventFrame::Threshold(document));
  return {};
}

ControlAnswer Service::Reload() {
  std::vector<std::string> problems;
  engine_settings_ = ReadEngineSettings();
  if (sources_) sources_->UpdateSettings(engine_settings_);
  if (recorder_) recorder_->UpdateSettings(engine_settings_);
  std::vector<std::string> warnings;
  const std::vector<DWORD> changed = module_->Reload(&problems, &warnings);
  ControlAnswer answer;
  bool rules_changed = false;
  for (const DWORD code : changed) {
    hub_->Broadcast(EventFrame::Change(code));
    answer.lines.push_back("changed " + std::string(FindTable(code)->collection));
    rules_changed = rules_changed || RuleTable(code);
  }
  if (rules_changed) ConfigureEngine();
  for (const std::string& warning : warnings) {
    Log(LogLevel::kWarning, warning);
    answer.lines.push_back("warning " + warning);
  }
  for (const std::string& problem : problems) {
    Log(LogLevel::kWarning, problem);
    answer.lines.push_back("problem " + problem);
  }
  if (!problems.empty()) {
    answer.ok = false;
    answer.error = std::to_string(problems.size()) + " table(s) could not be reloaded";
  }
  return answer;
}

ControlAnswer Service::Rules(const std::vector<std::string>& words) {
  const bool json = words.size() == 2 && words[1] == "--json";
  if (words.size() > 2 || (words.size() == 2 && !json)) return Failure("usage: rules [--json]");
  if (!engine_) return Failure("the rule engine is not running");
  const std::vector<RuleReport> reports = engine_->Report();
  ControlAnswer answer;
  if (json) {
    std::string text = "[";
    for (const RuleReport& rule : reports) {
      static constexpr const char* kStates[] = {"not running", "waiting", "holding", "violated"};
      if (text.size() > 1) text += ",";
      text += "{\"name\":" + JsonString(rule.name) +
              ",\"state\":" + JsonString(kStates[static_cast<int>(rule.state)]) +
              ",\"holding\":" + std::to_string(rule.holding) +
              ",\"needed\":" + std::to_string(rule.needed) + ",\"violated_since\":" +
              (rule.state == RuleReport::State::kViolated ? std::to_string(rule.violated_since)
                                                          : "null") +
              ",\"value\":" + (rule.value ? JsonString(*rule.value) : "null") +
              ",\"error\":" + (rule.error.empty() ? "null" : JsonString(rule.error)) + "}";
    }
    answer.lines.push_back(text + "]");
    return answer;
  }
  std::vector<std::vector<std::string>> rows = {{"RULE", "STATE", "VALUE", "ERROR"}};
  for (const RuleReport& rule : reports) {
    std::string state;
    switch (rule.state) {
      case RuleReport::State::kNotRunning:
        state = "not running";
        break;
      case RuleReport::State::kWaiting:
        state = "waiting";
        break;
      case RuleReport::State::kHolding:
        state = "holding " + std::to_string(rule.holding) + " of " + std::to_string(rule.needed);
        break;
      case RuleReport::State::kViolated:
        state = "violated since " + LocalText(*clock_, rule.violated_since);
        break;
    }
    rows.push_back(
        {rule.name, state, rule.value.value_or("-"), rule.error.empty() ? "-" : rule.error});
  }
  answer.lines = Columns(rows);
  return answer;
}

}  // namespace switchd
