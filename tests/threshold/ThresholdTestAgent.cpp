// The threshold agent with the real entry points and frame, talking to an
// in-process fake threshold module.  The extra exports script the module
// (before SnmpExtensionInit: the tables load on the initialization thread),
// read what it received, raise its events and look into the agent.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame/Extension.h"
#include "support/FakeThresholdModule.h"
#include "threshold/MibRoot.h"
#include "threshold/ThresholdAgent.h"
#include "trace/FileDebug.h"

namespace {

using test_support::FakeThresholdModule;

std::unique_ptr<FakeThresholdModule>& Module() {
  static std::unique_ptr<FakeThresholdModule> module;
  return module;
}

CThresholdAgent& Agent() { return *static_cast<CThresholdAgent*>(Extension().agent); }

struct CapturedLine {
  DWORD level;
  std::string text;
};

std::mutex g_capture_lock;
std::vector<CapturedLine> g_captured;

// Copies text with its terminator into buffer when it fits; returns the size
// that the whole text needs.
size_t CopyOut(const std::string& text, char* buffer, size_t size) {
  if (buffer != nullptr && size > text.size()) std::memcpy(buffer, text.c_str(), text.size() + 1);
  return text.size() + 1;
}

}  // namespace

CSnmpAgent* CreateAgentInstance() {
  Module() = std::make_unique<FakeThresholdModule>();
  Module()->SetThresholdStatus(0);
  Module()->SetPerformanceStatus(1);
  auto* agent = new CThresholdAgent;
  agent->AddMibRegion(kMibRoot);
  return agent;
}

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT void LorvethThresholdTest_SetTable(unsigned table_code, const char* xml) {
  Module()->SetTable(table_code, xml);
}

// Requests of `oc` carrying `name` (and `number`: table code of 0xE001, record
// number of 0x2213) are answered with the status and data given.
TEST_EXPORT void LorvethThresholdTest_SetReply(unsigned oc, const char* name, unsigned number,
                                               unsigned char status, const unsigned char* data,
                                               size_t length) {
  Module()->SetNamedReply(
      oc, name, FakeThresholdModule::Bytes(std::vector<BYTE>(data, data + length), status), number);
}

TEST_EXPORT void LorvethThresholdTest_SetStoreStatus(unsigned char status) {
  Module()->SetStoreStatus(status);
}

TEST_EXPORT size_t LorvethThresholdTest_FrameCount() { return Module()->Frames().size(); }

// Header fields of command `index`: OC, OE, OID, CABID, Stat.  0 past the end.
TEST_EXPORT int LorvethThresholdTest_Frame(size_t index, unsigned fields[5]) {
  const auto frames = Module()->Frames();
  if (index >= frames.size()) return 0;
  const auto& frame = frames[index];
  const unsigned values[5] = {frame.oc, frame.oe, frame.oid, frame.cabid, frame.stat};
  std::memcpy(fields, values, sizeof values);
  return 1;
}

// Data bytes of command `index`; returns their number (copies when it fits).
TEST_EXPORT size_t LorvethThresholdTest_FrameData(size_t index, unsigned char* buffer,
                                                  size_t size) {
  const auto frames = Module()->Frames();
  if (index >= frames.size()) return 0;
  const auto& data = frames[index].data;
  if (buffer != nullptr && size >= data.size() && !data.empty()) {
    std::memcpy(buffer, data.data(), data.size());
  }
  return data.size();
}

TEST_EXPORT long LorvethThresholdTest_RaiseTableChanged(unsigned table_code) {
  return Module()->RaiseTableChanged(table_code);
}

TEST_EXPORT long LorvethThresholdTest_RaiseThresholdEvent(const char* xml) {
  return Module()->RaiseThresholdEvent(xml);
}

TEST_EXPORT void LorvethThresholdTest_CaptureTrace(int on) {
  if (on == 0) return GetTrace().SetCapture(nullptr);
  {
    std::lock_guard lock(g_capture_lock);
    g_captured.clear();
  }
  GetTrace().SetCapture([](DWORD level, const std::string& text) {
    std::lock_guard lock(g_capture_lock);
    g_captured.push_back({level, text});
  });
}

// Line `index` of the capture: its level and text; returns the size the text
// needs with its terminator, 0 past the end.
TEST_EXPORT size_t LorvethThresholdTest_TraceLine(size_t index, unsigned* level, char* buffer,
                                                  size_t size) {
  std::lock_guard lock(g_capture_lock);
  if (index >= g_captured.size()) return 0;
  if (level != nullptr) *level = g_captured[index].level;
  return CopyOut(g_captured[index].text, buffer, size);
}

TEST_EXPORT size_t LorvethThresholdTest_LastSetResult(char* buffer, size_t size) {
  return CopyOut(Agent().LastSetResultMessage(), buffer, size);
}

TEST_EXPORT size_t LorvethThresholdTest_MibEntryCount() { return Agent().GetMibEntryCount(); }

TEST_EXPORT const char* LorvethThresholdTest_MibRoot() { return kMibRoot; }
