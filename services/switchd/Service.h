// switchd as one object: the threshold module, the event hub, the switch
// served over the COM socket, the control socket and the settings watch.
// The daemon's main() and the tests both run it through this class.
//
//   ServiceOptions options;
//   options.data_dir = "/var/lib/lorveth/switchd";
//   Service service(options);
//   std::string error;
//   if (!service.Start(&error)) ...;
//   ... until SIGTERM ...
//   service.Stop();
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "platform/com/ComRemoting.h"
#include "services/switchd/ControlChannel.h"
#include "services/switchd/EngineSettings.h"
#include "services/switchd/EventHub.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/Recorder.h"
#include "services/switchd/RuleEngine.h"
#include "services/switchd/Scheduler.h"
#include "services/switchd/Sources.h"
#include "services/switchd/ThresholdModule.h"

namespace switchd {

struct ServiceOptions {
  std::string data_dir;        // default: $LORVETH_STATE_DIR/switchd
  std::string socket_path;     // default: $LORVETH_RUNTIME_DIR/switch.sock
  std::string control_path;    // default: $LORVETH_RUNTIME_DIR/switchd.ctl
  std::optional<gid_t> group;  // also permitted on the COM and control sockets
  unsigned poll_seconds = 5;   // how often the settings are read from the registry
  bool serve_socket = true;    // false: the switch is only registered in this process
  bool register_endpoint = true;
  bool serve_control = true;  // false: no control socket (Execute still works)
  // What the rules read and the clock they run by; null: this machine's.
  std::shared_ptr<ResourceSource> source;
  std::shared_ptr<const Clock> clock;
};

// Fills the empty paths of the options with the defaults.
ServiceOptions WithDefaults(ServiceOptions options);

class Service {
 public:
  explicit Service(ServiceOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  bool Start(std::string* error);
  void Stop();

  const ServiceOptions& Options() const { return options_; }
  std::shared_ptr<ThresholdModule> Module() const { return module_; }
  std::shared_ptr<EventHub> Hub() const { return hub_; }
  // Null until Start succeeded.
  std::shared_ptr<Recorder> ReportRecorder() const { return recorder_; }
  // Null until started.
  std::shared_ptr<RuleEngine> Engine() const { return engine_; }

  // The control commands (see ControlChannel.h for the protocol).
  ControlAnswer Execute(const std::string& line);

  // Reads the settings now and sends an event for each that changed.
  std::vector<DWORD> CheckSettings();
  // Every table change and setting, as a client that lost track needs them.
  std::vector<EventFrame> Everything();

 private:
  void PollLoop();
  ControlAnswer Status();
  ControlAnswer SetSetting(const std::vector<std::string>& words);
  ControlAnswer Announce(const std::vector<std::string>& words);
  ControlAnswer InjectEvent(const std::vector<std::string>& words);
  ControlAnswer Reload();
  bool StartRecorder(std::string* error);
  ControlAnswer Rules(const std::vector<std::string>& words);
  // Hands the rule engine the tables as they are now.
  void ConfigureEngine();
  // The same on the configuration thread, so that a store does not wait for
  // the engine to read a large table.
  void ConfigureEngineSoon();
  void ConfigureLoop();

  ServiceOptions options_;
  std::shared_ptr<ThresholdModule> module_;
  std::shared_ptr<EventHub> hub_;
  std::shared_ptr<const Clock> clock_;
  std::shared_ptr<ResourceSource> source_;
  std::shared_ptr<Sources> sources_;  // this machine's, unless the options gave a source
  std::unique_ptr<Scheduler> scheduler_;
  std::shared_ptr<RuleEngine> engine_;
  EngineSettings engine_settings_;
  std::shared_ptr<Recorder> recorder_;
  std::unique_ptr<platform::ComServer> com_server_;
  ControlServer control_;
  bool started_ = false;
  bool registered_in_process_ = false;

  std::mutex settings_mutex_;  // the poll thread and switchctl may check at once
  std::mutex poll_mutex_;
  std::condition_variable poll_wake_;
  bool stopping_ = false;
  std::thread poll_thread_;

  std::mutex configure_mutex_;
  std::condition_variable configure_wake_;
  bool configure_wanted_ = false;
  bool configure_stopping_ = false;
  std::thread configure_thread_;
};

}  // namespace switchd
