// switchd: the server-control service.  Serves the switch object over a Unix
// socket, keeps the threshold module's tables in its data directory and
// answers switchctl on its control socket.
#include <grp.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/Com.h"
#include "services/switchd/Log.h"
#include "services/switchd/Service.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: switchd [-f] [--data DIR] [--socket PATH] [--control PATH]\n"
               "               [--group GROUP] [--poll SECONDS]\n"
               "  -f              stay in the foreground, log to stderr only\n"
               "  --data DIR      table files (default $LORVETH_STATE_DIR/switchd)\n"
               "  --socket PATH   switch endpoint (default $LORVETH_RUNTIME_DIR/switch.sock)\n"
               "  --control PATH  control socket (default $LORVETH_RUNTIME_DIR/switchd.ctl)\n"
               "  --group GROUP   members of GROUP may use the switch and switchctl too\n"
               "  --poll SECONDS  how often the settings are read (default 5)\n");
}

}  // namespace

int main(int argc, char** argv) {
  switchd::ServiceOptions options;
  bool foreground = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "-f" || arg == "--foreground") {
      foreground = true;
    } else if (arg == "--data" && has_value) {
      options.data_dir = argv[++i];
    } else if (arg == "--socket" && has_value) {
      options.socket_path = argv[++i];
    } else if (arg == "--control" && has_value) {
      options.control_path = argv[++i];
    } else if (arg == "--group" && has_value) {
      const group* entry = getgrnam(argv[++i]);
      if (entry == nullptr) {
        std::fprintf(stderr, "switchd: unknown group %s\n", argv[i]);
        return 2;
      }
      options.group = entry->gr_gid;
    } else if (arg == "--poll" && has_value) {
      options.poll_seconds = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else {
      Usage();
      return 2;
    }
  }
  switchd::OpenLog("switchd", !foreground);

  // Signals are taken by sigwait below; every thread started later inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  switchd::Service service(options);
  std::string error;
  if (!service.Start(&error)) {
    switchd::Log(switchd::LogLevel::kError, error);
    return 1;
  }
  switchd::Log(switchd::LogLevel::kInfo, "serving " + service.Options().socket_path + ", data " +
                                             service.Options().data_dir + ", control " +
                                             service.Options().control_path);
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGHUP) {
      // The conventional "re-read your configuration".
      const switchd::ControlAnswer answer = service.Execute("reload");
      for (const std::string& line : answer.lines) switchd::Log(switchd::LogLevel::kInfo, line);
      continue;
    }
    switchd::Log(switchd::LogLevel::kInfo,
                 std::string("stopping on ") + (received == SIGTERM ? "SIGTERM" : "SIGINT"));
    break;
  }
  service.Stop();
  CoUninitialize();
  return 0;
}
