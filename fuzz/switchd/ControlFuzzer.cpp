// A control command line with arbitrary bytes: never crashes, always gets an
// answer, and never changes a table file (no control command writes tables).
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/com/Com.h"
#include "services/switchd/Service.h"

namespace {

const char* const kRules =
    "<Rules><Rule Name=\"w\"><Comment>c</Comment><Event Name=\"e\"/></Rule></Rules>";
const char* const kEvents =
    "<Events><Event Name=\"e\"><Type>snmp-trap</Type><Severity>minor</Severity></Event></Events>";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct State {
  std::string root;
  std::unique_ptr<switchd::Service> service;

  State() {
    std::string pattern = "/tmp/lorveth-control-fuzz-XXXXXX";
    root = mkdtemp(pattern.data());
    setenv("LORVETH_STATE_DIR", (root + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (root + "/run").c_str(), 1);
    std::filesystem::create_directories(root + "/data");
    std::ofstream(root + "/data/Rules.xml") << kRules;
    std::ofstream(root + "/data/Events.xml") << kEvents;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    switchd::ServiceOptions options;
    options.data_dir = root + "/data";
    options.serve_socket = false;
    options.serve_control = false;
    options.poll_seconds = 3600;
    service = std::make_unique<switchd::Service>(options);
    std::string error;
    if (!service->Start(&error)) {
      std::fprintf(stderr, "switchd does not start: %s\n", error.c_str());
      abort();
    }
  }
  ~State() {
    service.reset();
    std::filesystem::remove_all(root);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static State state;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const switchd::ControlAnswer answer = state.service->Execute(line);
  if (!answer.ok && answer.error.empty()) abort();
  if (ReadFile(state.root + "/data/Rules.xml") != kRules) abort();
  if (ReadFile(state.root + "/data/Events.xml") != kEvents) abort();
  return 0;
}
