// A store command with an arbitrary document: never crashes, and whatever the
// module accepted or refused, every table file on disk stays a well-formed
// document of its table and equal to what the module serves.
//
// Input: the first byte picks the table (0..6 in table-code order, anything
// else a code no table has), the rest is the document.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "services/switchd/Tables.h"
#include "services/switchd/ThresholdModule.h"
#include "threshold/documents/ConfigDocument.h"

namespace {

const char* const kSeeds[][2] = {
    {"Resources.xml", "<Resources><Resource Name=\"w\"><Description>d</Description></Resource>"
                      "<Resource Name=\"ro\"><Access>read-only</Access></Resource></Resources>"},
    {"Targets.xml", "<Targets><Target Name=\"w\">127.0.0.1</Target></Targets>"},
    {"Events.xml", "<Events><Event Name=\"w\"><Type>snmp-trap</Type></Event></Events>"},
    {"Rules.xml", "<Rules><Rule Name=\"w\"><Resource Name=\"w\"/><Event Name=\"w\"/></Rule>"
                  "<Rule Name=\"ro\"><Access>read-only</Access></Rule></Rules>"},
    {"RuleSets.xml", "<RuleSets><RuleSet Name=\"w\"><Rule Name=\"w\"/></RuleSet></RuleSets>"},
    {"Reports.xml", "<Reports><Report Name=\"w\"><MaxEntries>3</MaxEntries></Report></Reports>"},
    {"ReportSets.xml", "<ReportSets><ReportSet Name=\"w\"><Report Name=\"w\"/></ReportSet>"
                       "</ReportSets>"},
};

// Tables grow with every accepted create; they start again from the seeds
// this often so that each input works on small tables.
constexpr int kResetEvery = 64;

std::string ReadFile(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct State {
  std::string dir;
  std::unique_ptr<switchd::ThresholdModule> module;
  int runs = 0;

  State() {
    const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/lorveth-store-fuzz-XXXXXX";
    dir = mkdtemp(pattern.data());
    Reset();
  }
  ~State() { std::filesystem::remove_all(dir); }

  void Reset() {
    for (const auto& seed : kSeeds) std::ofstream(dir + "/" + seed[0], std::ios::binary) << seed[1];
    module = std::make_unique<switchd::ThresholdModule>(dir);
    std::string error;
    if (!module->Load(&error)) {
      std::fprintf(stderr, "seed tables do not load: %s\n", error.c_str());
      abort();
    }
  }
};

State& TheState() {
  static State state;
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  State& state = TheState();
  if (++state.runs % kResetEvery == 0) state.Reset();

  const auto tables = switchd::Tables();
  const DWORD code = data[0] < tables.size() ? tables[data[0]].code : 0x300u + data[0];
  const std::string document(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string reason;
  state.module->Store(code, document, &reason);

  for (const switchd::TableInfo& table : tables) {
    bool exists = false;
    const std::string text = ReadFile(state.dir + "/" + std::string(table.file), &exists);
    if (!exists) abort();  // every seeded table keeps its file
    if (text != state.module->TableDocument(table.code)) abort();
    ConfigDocument doc(text);
    if (!doc.CheckWellFormed()) abort();
    doc.ResetPosition();
    doc.NextElement();
    if (doc.TagName() != table.collection) abort();
  }
  return 0;
}
