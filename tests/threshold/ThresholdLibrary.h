// The test copy of the threshold agent library in a fresh state directory, with
// its test exports (script the module between Load and Start) and MIB helpers.
// Free of any test framework, so that benchmarks can use it too.
#pragma once

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/ExtensionLibrary.h"
#include "support/PrivateRegistry.h"
#include "support/WaitFor.h"

namespace threshold_test {

using test_support::Oid;

inline Oid ParseOid(const std::string& text) {
  Oid ids;
  std::istringstream in(text);
  for (std::string id; std::getline(in, id, '.');) ids.push_back(static_cast<UINT>(std::stoul(id)));
  return ids;
}

// name.length.bytes... as the MIB indexes rows.
inline Oid WithName(Oid oid, const std::string& name) {
  oid.push_back(static_cast<UINT>(name.size()));
  for (unsigned char c : name) oid.push_back(c);
  return oid;
}

using test_support::NameOf;
using test_support::VarBinds;

// A value as a comparable text: "INTEGER 5", "STRING abc", "NULL".
inline std::string ValueText(const AsnAny& value) {
  const AsnOctetString& octets = value.asnValue.string;
  if (value.asnType == ASN_INTEGER) return "INTEGER " + std::to_string(value.asnValue.number);
  if (value.asnType == ASN_NULL) return "NULL";
  if (value.asnType != ASN_OCTETSTRING) return "TYPE " + std::to_string(value.asnType);
  return "STRING " + std::string(reinterpret_cast<const char*>(octets.stream), octets.length);
}

// A text as the module sends it, with its terminator.
inline std::vector<unsigned char> TextBytes(const std::string& text) {
  return std::vector<unsigned char>(text.c_str(), text.c_str() + text.size() + 1);
}

// What the agent's trace lines begin with.
inline const std::string kAgentTrace = "\nLORVETH_AGENT       : ";

struct WalkEntry {
  Oid oid;
  std::string value;
};

class ThresholdLibrary : public test_support::ExtensionLibrary {
 public:
  static constexpr const char* kStatusKey = "SOFTWARE\\Quorvath\\#Status";

  explicit ThresholdLibrary(std::string file = "Lorveth_ThresholdTest")
      : ExtensionLibrary(std::string(LORVETH_BINARY_DIR) + "/tests/threshold/" + file + ".so"),
        name_(std::move(file)) {}
  ~ThresholdLibrary() { Unload(); }

  void Load() {
    threads_at_load_ = ThreadCount();
    Open();
    Bind(set_table, "LorvethThresholdTest_SetTable");
    Bind(set_reply, "LorvethThresholdTest_SetReply");
    Bind(set_store_status, "LorvethThresholdTest_SetStoreStatus");
    Bind(frame_count, "LorvethThresholdTest_FrameCount");
    Bind(frame, "LorvethThresholdTest_Frame");
    Bind(frame_data, "LorvethThresholdTest_FrameData");
    Bind(raise_table_changed, "LorvethThresholdTest_RaiseTableChanged");
    Bind(raise_threshold_event, "LorvethThresholdTest_RaiseThresholdEvent");
    Bind(capture_trace, "LorvethThresholdTest_CaptureTrace");
    Bind(trace_line, "LorvethThresholdTest_TraceLine");
    Bind(last_set_result, "LorvethThresholdTest_LastSetResult");
    Bind(mib_entry_count, "LorvethThresholdTest_MibEntryCount");
    Bind(mib_root, "LorvethThresholdTest_MibRoot");
  }

  // SnmpExtensionInit, then waits until the agent reports "started" (false
  // when it does not within the tests' patience).
  bool Start() {
    if (!Init()) return false;
    return test_support::WaitFor([&] { return Status() == "started"; });
  }

  // Closes the agent and unloads the library once the threads it started have
  // ended: a thread reports its end slightly before it leaves the library's
  // code, and unmapping that code under it would crash it.
  void Unload() {
    if (!IsOpen()) return;
    capture_trace(0);
    close();
    test_support::WaitFor([&] { return ThreadCount() <= threads_at_load_; });
    Close();
  }

  std::string Status() const { return test_support::ReadRegistryString(kStatusKey, name_.c_str()); }
  std::string VolatileValue(const char* value) const {
    return test_support::ReadRegistryString(
        "SOFTWARE\\Quorvath\\" + name_ + "\\Parameters\\VolatileParameters", value);
  }

  Oid Root() const { return ParseOid(mib_root()); }
  // root.<relative>
  Oid At(const std::string& relative) const {
    return ParseOid(std::string(mib_root()) + "." + relative);
  }

  // GET of one instance: the value text, or "noSuchName" when the MIB has none.
  std::string Get(const Oid& name) {
    VarBinds vbs;
    vbs.Add(name);
    AsnInteger32 status = 0, index = 0;
    query(SNMP_PDU_GET, vbs.Get(), &status, &index);
    if (status != 0) return "error " + std::to_string(status);
    return ValueText(vbs[0].value);
  }

  // GET-NEXT from the root until the answer leaves it.
  std::vector<WalkEntry> Walk() {
    const Oid root = Root();
    std::vector<WalkEntry> entries;
    for (Oid at = root;;) {
      VarBinds vbs;
      vbs.Add(at);
      AsnInteger32 status = 0, index = 0;
      if (!query(SNMP_PDU_GETNEXT, vbs.Get(), &status, &index) || status != 0) break;
      const Oid next = NameOf(vbs[0]);
      if (next <= at || next.size() < root.size() ||
          !std::equal(root.begin(), root.end(), next.begin())) {
        break;
      }
      entries.push_back({next, ValueText(vbs[0].value)});
      at = next;
    }
    return entries;
  }

  struct FrameInfo {
    unsigned oc = 0, oe = 0, oid = 0, cabid = 0, stat = 0;
    std::vector<unsigned char> data;
  };
  // The commands since `from`, only those with the operation code `oc` if given.
  std::vector<FrameInfo> Frames(size_t from = 0, int oc = -1) {
    std::vector<FrameInfo> frames;
    for (size_t i = from; i < frame_count(); ++i) {
      unsigned f[5] = {};
      frame(i, f);
      if (oc >= 0 && f[0] != static_cast<unsigned>(oc)) continue;
      FrameInfo info{f[0], f[1], f[2],
                     f[3], f[4], std::vector<unsigned char>(frame_data(i, nullptr, 0))};
      if (!info.data.empty()) frame_data(i, info.data.data(), info.data.size());
      frames.push_back(std::move(info));
    }
    return frames;
  }
  std::vector<FrameInfo> FramesOf(unsigned oc, size_t from = 0) {
    return Frames(from, static_cast<int>(oc));
  }

  struct TraceLine {
    unsigned level;
    std::string text;
  };
  std::vector<TraceLine> TraceLines() {
    std::vector<TraceLine> lines;
    for (size_t i = 0;; ++i) {
      unsigned level = 0;
      const size_t size = trace_line(i, &level, nullptr, 0);
      if (size == 0) break;
      std::string text(size, '\0');
      trace_line(i, &level, text.data(), size);
      text.resize(size - 1);
      lines.push_back({level, std::move(text)});
    }
    return lines;
  }
  // The level of the first captured line equal to text; 0 when none is.
  unsigned TraceLevel(const std::string& text) {
    for (const TraceLine& line : TraceLines()) {
      if (line.text == text) return line.level;
    }
    return 0;
  }

  std::string LastSetResult() {
    std::string text(last_set_result(nullptr, 0), '\0');
    last_set_result(text.data(), text.size());
    text.resize(text.size() - 1);
    return text;
  }

  void SetReply(unsigned oc, const std::string& name, const std::vector<unsigned char>& data,
                unsigned char status = 0, unsigned number = 0) {
    set_reply(oc, name.c_str(), number, status, data.data(), data.size());
  }

  void (*set_table)(unsigned, const char*) = nullptr;
  void (*set_reply)(unsigned, const char*, unsigned, unsigned char, const unsigned char*,
                    size_t) = nullptr;
  void (*set_store_status)(unsigned char) = nullptr;
  size_t (*frame_count)() = nullptr;
  int (*frame)(size_t, unsigned*) = nullptr;
  size_t (*frame_data)(size_t, unsigned char*, size_t) = nullptr;
  long (*raise_table_changed)(unsigned) = nullptr;
  long (*raise_threshold_event)(const char*) = nullptr;
  void (*capture_trace)(int) = nullptr;
  size_t (*trace_line)(size_t, unsigned*, char*, size_t) = nullptr;
  size_t (*last_set_result)(char*, size_t) = nullptr;
  size_t (*mib_entry_count)() = nullptr;
  const char* (*mib_root)() = nullptr;

 private:
  static size_t ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
  }

  test_support::PrivateRegistry registry_;
  std::string name_;
  size_t threads_at_load_ = 0;
};

}  // namespace threshold_test
