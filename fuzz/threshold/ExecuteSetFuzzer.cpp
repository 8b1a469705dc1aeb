// Fuzz target for SET requests: CThresholdAgent::ExecuteSET on varbind lists
// built from the input (OIDs under, around and cut short of the nine
// configuration tables, every value type, names of any length), with an
// in-process fake switch whose rows, set configurations and store replies
// the input also chooses.  Every OID and octet string is allocated to its
// exact length, so a read past one is caught by AddressSanitizer.
//
// Input layout: store reply status; fetch reply mode, status and text; then
// up to eight varbinds, each a target kind, column, name, optional member
// number, cut length and value (see BuildVarbind).
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/switch/FuzzInput.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/SnmpOwners.h"
#include "support/FakeSwitch.h"
#include "switch/SwitchProtocol.h"
#include "threshold/ThresholdAgent.h"
#include "trace/FileDebug.h"

// The frame's process attach refers to the library's factory; the fuzzer
// builds its agent itself.
CSnmpAgent* CreateAgentInstance() { return nullptr; }

namespace {

namespace sp = switch_protocol;
using test_support::FakeSwitch;

// What the fake module answers while one input runs.
struct Script {
  BYTE store_status = 0;
  bool fetch_has_data = false;
  BYTE fetch_status = 0;
  std::string fetch_text;
};
Script g_script;

const char* TableText(DWORD code) {
  switch (code) {
    case sp::kTableRules:
      return "<Rules><Rule Name=\"cpu\"/><Rule Name=\"a/b\"/></Rules>";
    case sp::kTableRuleSets:
      return "<RuleSets><RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Rule Name=\"disk\"/></RuleSet>"
             "</RuleSets>";
    case sp::kTableEvents:
      return "<Events><Event Name=\"ev\"/></Events>";
    case sp::kTableResources:
      return "<Resources><Resource Name=\"res\"/></Resources>";
    case sp::kTableTargets:
      return "<Targets><Target Name=\"tg\">1.2.3.4</Target></Targets>";
    case sp::kTableReports:
      return "<Reports><Report Name=\"rep\"/></Reports>";
    case sp::kTableReportSets:
      return "<ReportSets><ReportSet Name=\"ps\"><Report Name=\"rep\"/></ReportSet></ReportSets>";
    default:
      return "";
  }
}

FakeSwitch::Answer Handle(const FakeSwitch::Frame& frame) {
  if (frame.oc == sp::kOcReadConfiguration) {
    return FakeSwitch::Answer::Text(0, TableText(frame.oe) + std::string(1, '\0'));
  }
  if (frame.oc == sp::kOcRuleSetDocument || frame.oc == sp::kOcReportSetDocument) {
    if (!g_script.fetch_has_data) return FakeSwitch::Answer::Status(g_script.fetch_status);
    return FakeSwitch::Answer::Text(g_script.fetch_status, g_script.fetch_text);
  }
  if (frame.oc == sp::kOcStoreConfiguration)
    return FakeSwitch::Answer::Status(g_script.store_status);
  return FakeSwitch::Answer::Status(0);
}

struct Fixture {
  CThresholdAgent* agent = nullptr;
  FakeSwitch* fake = nullptr;
  std::vector<UINT> root;
};

// Created once and never destroyed: the end of an agent writes its status
// to the registry, which has no place in a fuzzing run.
Fixture& Setup() {
  static Fixture fixture = [] {
    Fixture f;
    // An active trace formats every line with the fuzzed names and values.
    GetTrace().SetCapture([](DWORD, const std::string&) {});
    f.fake = new FakeSwitch;
    f.fake->SetHandler(Handle);
    f.agent = new CThresholdAgent;
    f.agent->SwitchClient().Attach(nullptr);
    f.agent->InitializeRuleTable();
    f.agent->InitializeRulesetTables();
    f.agent->InitializeEventTable();
    f.agent->InitializeReportTable();
    f.agent->InitializeReportsetTable();
    f.agent->InitializeResourceTable();
    f.agent->InitializeTargetTable();
    OidOwner root;
    OidFromString(kMibRoot, root.Get());
    f.root.assign(root->ids, root->ids + root->idLength);
    return f;
  }();
  return fixture;
}

// Tables below the root, in the order ExecuteSET tests them, and their
// neighbours that belong to no configuration table.
constexpr UINT kPlaces[][3] = {
    {1, 3, 1}, {1, 3, 3}, {1, 3, 4}, {1, 3, 6}, {1, 5, 1}, {1, 5, 3}, {1, 4, 1}, {1, 4, 3},
    {1, 4, 5}, {1, 3, 2}, {1, 3, 5}, {1, 4, 7}, {1, 4, 8}, {1, 5, 2}, {1, 2, 4}, {1, 3, 0},
};

const char* const kNames[] = {"cpu", "rs", "ev", "res", "tg", "rep", "ps", "a/b", "", "new"};

int32_t Number(FuzzInput& in) {
  static constexpr int32_t kInteresting[] = {0, 1,  2,  3,    4,    5,       6,
                                             7, 12, -1, 1440, 1441, INT_MAX, INT_MIN};
  const BYTE choice = in.Byte();
  if (choice < std::size(kInteresting)) return kInteresting[choice];
  return static_cast<int32_t>(in.Dword());
}

BYTE* CopyOut(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return nullptr;
  auto* copy = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
  if (copy != nullptr) std::memcpy(copy, bytes.data(), bytes.size());
  return copy;
}

void BuildValue(FuzzInput& in, AsnAny& value, std::vector<std::vector<uint8_t>>& borrowed) {
  static constexpr BYTE kTypes[] = {ASN_INTEGER,          ASN_OCTETSTRING, ASN_COUNTER32,
                                    ASN_GAUGE32,          ASN_TIMETICKS,   ASN_NULL,
                                    ASN_OBJECTIDENTIFIER, ASN_IPADDRESS,   ASN_OPAQUE,
                                    ASN_COUNTER64,        ASN_UNSIGNED32,  ASN_BITS};
  const BYTE type = kTypes[in.Byte() % std::size(kTypes)];
  value.asnType = type;
  switch (type) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UNSIGNED32:
      value.asnValue.number = Number(in);
      break;
    case ASN_COUNTER64:
      value.asnValue.counter64.QuadPart = in.Dword();
      break;
    case ASN_OBJECTIDENTIFIER: {
      const size_t count = in.Byte() % 6;
      std::vector<uint8_t> raw = in.Bytes(count * 4);
      value.asnValue.object.idLength = static_cast<UINT>(raw.size() / 4);
      raw.resize(value.asnValue.object.idLength * 4);
      value.asnValue.object.ids = reinterpret_cast<UINT*>(CopyOut(raw));
      if (value.asnValue.object.ids == nullptr) value.asnValue.object.idLength = 0;
      break;
    }
    case ASN_NULL:
      break;
    default: {  // octets, owned or borrowed
      const BYTE mode = in.Byte();
      const std::vector<uint8_t> bytes = in.Bytes(mode & 0x3F);
      AsnOctetString& octets = value.asnValue.string;
      octets.length = static_cast<UINT>(bytes.size());
      if ((mode & 0x40) != 0 && !bytes.empty()) {
        borrowed.push_back(bytes);
        octets.stream = borrowed.back().data();
        octets.dynamic = FALSE;
      } else {
        octets.stream = CopyOut(bytes);
        octets.dynamic = TRUE;
        if (octets.stream == nullptr) octets.length = 0;
      }
      break;
    }
  }
}

// The varbind's name: the root, a place from kPlaces (or none), the entry 1,
// a column, a row name (a known one, or bytes of the input with a length that
// may promise more than follows), an optional member number, then cut to a
// length of the input's choice.
std::vector<UINT> BuildName(FuzzInput& in, const std::vector<UINT>& root) {
  std::vector<UINT> ids = root;
  const BYTE place = in.Byte();
  if (place < 2 * std::size(kPlaces)) {
    const UINT* relative = kPlaces[place % std::size(kPlaces)];
    ids.insert(ids.end(), relative, relative + 3);
  } else {
    const size_t extra = in.Byte() % 5;
    for (size_t i = 0; i < extra; ++i) ids.push_back(in.Byte());
  }
  const BYTE entry = in.Byte();
  ids.push_back(entry < 0xF0 ? 1 : entry);
  ids.push_back(in.Byte() % 30);

  const BYTE name_mode = in.Byte();
  if (name_mode < 0x80) {
    const std::string name = kNames[name_mode % std::size(kNames)];
    ids.push_back(static_cast<UINT>(name.size()));
    for (unsigned char c : name) ids.push_back(c);
  } else {
    const BYTE declared = in.Byte();
    ids.push_back((name_mode & 0x40) != 0 ? in.Dword() : declared);
    for (uint8_t b : in.Bytes(name_mode & 0x0F))
      ids.push_back(b | ((name_mode & 0x20) ? 0x100 : 0));
  }
  const BYTE member = in.Byte();
  if ((member & 0x80) != 0) ids.push_back(member & 0x03);
  if ((member & 0x40) != 0) ids.push_back(in.Dword());

  const BYTE cut = in.Byte();
  if ((cut & 0x80) != 0) ids.resize(std::min<size_t>(ids.size(), cut & 0x7F));
  return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fixture = Setup();
  FuzzInput in(data, size);

  g_script.store_status = in.Byte();
  const BYTE fetch = in.Byte();
  g_script.fetch_has_data = (fetch & 1) != 0;
  g_script.fetch_status = (fetch & 2) != 0 ? in.Byte() : 0;
  if ((fetch & 4) != 0) {
    g_script.fetch_text =
        "<RuleSet Name=\"rs\"><Rule Name=\"cpu\"/><Rule/><Rule Name=\"x\"/></RuleSet>";
  } else {
    const std::vector<uint8_t> text = in.Bytes(in.Byte());
    g_script.fetch_text.assign(text.begin(), text.end());
  }

  std::vector<std::vector<uint8_t>> borrowed;
  borrowed.reserve(8);  // octet strings that the list does not own stay put
  SnmpVarBindList list{nullptr, 0};
  const UINT count = in.Byte() % 9;
  if (count != 0) {
    list.list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(count * sizeof(SnmpVarBind)));
    if (list.list == nullptr) return 0;
    std::memset(list.list, 0, count * sizeof(SnmpVarBind));
    list.len = count;
  }
  for (UINT i = 0; i < count; ++i) {
    SnmpVarBind& varbind = list.list[i];
    const std::vector<UINT> name = BuildName(in, fixture.root);
    if (!name.empty()) {
      varbind.name.ids =
          static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(name.size() * sizeof(UINT))));
      if (varbind.name.ids != nullptr) {
        std::memcpy(varbind.name.ids, name.data(), name.size() * sizeof(UINT));
        varbind.name.idLength = static_cast<UINT>(name.size());
      }
    }
    BuildValue(in, varbind.value, borrowed);
  }

  AsnInteger32 status = 0;
  AsnInteger32 index = 0;
  const int handled = fixture.agent->ExecuteSET(&list, &status, &index);
  if (handled != 0 && handled != 1) __builtin_trap();
  if (status != 0 && (index < 1 || static_cast<UINT>(index) > (count == 0 ? 1 : count))) {
    __builtin_trap();
  }
  SnmpUtilVarBindListFree(&list);
  fixture.fake->ClearFrames();
  return 0;
}
