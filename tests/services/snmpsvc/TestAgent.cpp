// The extension agent snmpsvc's tests load.  Under 1.3.6.1.4.1.55555.1: a
// table 1.1.1.<column>.<row> (rows 1..LORVETH_TEST_AGENT_ROWS, 3 by default) of INTEGER row, OCTET
// STRING <= 32*, OID*, IpAddress*, Counter32, Gauge32*, TimeTicks*, Opaque, unsigned32, Counter64,
// INTEGER -100..100* (* settable; setting column 11 queues a trap), a scalar 2.0 and a failing 3.0;
// a second region 1.3.6.1.4.1.55555.4.  With LORVETH_TEST_AGENT_MARKER set, Init and Close append a
// line to it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Snmp.h"
#include "platform/system/Threads.h"

#define TEST_AGENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Ids = std::vector<UINT>;

const Ids kRoot = {1, 3, 6, 1, 4, 1, 55555, 1};
const Ids kSecondRoot = {1, 3, 6, 1, 4, 1, 55555, 4};
const Ids kEnterprise = {1, 3, 6, 1, 4, 1, 55555, 9};
const Ids kFailingOid = {1, 3, 6, 1, 4, 1, 55555, 1, 3, 0};
constexpr UINT kMaxName = 32;
// Fixed so that receivers can check that the time stamp crosses unchanged.
constexpr AsnTimeticks kTrapTimeStamp = 123456;
constexpr AsnInteger32 kTrapSpecific = 2202;

struct Cell {
  BYTE type = ASN_NULL;
  bool writable = false;
  std::int32_t number = 0;
  std::uint64_t big = 0;
  std::string bytes = {};
  Ids oid = {};
};

using Bindings = std::vector<std::pair<Ids, Cell>>;

struct State {
  std::map<Ids, Cell> objects;
  std::deque<Bindings> traps;  // the bindings of each trap not yet taken
  HANDLE trap_event = nullptr;
  std::string marker;
  int next_region = 0;
};

State* g_state = nullptr;

Ids Concat(const Ids& prefix, std::initializer_list<UINT> tail) {
  Ids ids = prefix;
  ids.insert(ids.end(), tail);
  return ids;
}

Ids Column(UINT column, UINT row) { return Concat(kRoot, {1, 1, column, row}); }

bool StartsWith(const Ids& ids, const Ids& prefix) {
  return prefix.size() <= ids.size() && std::equal(prefix.begin(), prefix.end(), ids.begin());
}

Ids ToIds(const AsnObjectIdentifier& oid) {
  return oid.ids == nullptr ? Ids{} : Ids(oid.ids, oid.ids + oid.idLength);
}

void SetIds(AsnObjectIdentifier* oid, Ids ids) {
  SnmpUtilOidFree(oid);
  AsnObjectIdentifier view{static_cast<UINT>(ids.size()), ids.data()};
  SnmpUtilOidCpy(oid, &view);
}

void SetBytes(AsnOctetString* out, const std::string& bytes) {
  out->stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
  out->length = out->stream == nullptr ? 0 : static_cast<UINT>(bytes.size());
  out->dynamic = out->stream != nullptr;
  if (out->stream != nullptr) std::memcpy(out->stream, bytes.data(), bytes.size());
}

bool HasBytes(BYTE type) {
  return type == ASN_OCTETSTRING || type == ASN_IPADDRESS || type == ASN_OPAQUE;
}

void Fill(AsnAny* any, const Cell& cell) {
  SnmpUtilAsnAnyFree(any);
  any->asnType = cell.type;
  if (cell.type == ASN_INTEGER) {
    any->asnValue.number = cell.number;
  } else if (HasBytes(cell.type)) {
    SetBytes(&any->asnValue.string, cell.bytes);
  } else if (cell.type == ASN_OBJECTIDENTIFIER) {
    SetIds(&any->asnValue.object, cell.oid);
  } else if (cell.type == ASN_COUNTER64) {
    any->asnValue.counter64.QuadPart = cell.big;
  } else {  // the 32-bit unsigned types
    any->asnValue.unsigned32 = static_cast<AsnUnsigned32>(cell.big);
  }
}

void Populate(State* state, UINT rows) {
  for (UINT row = 1; row <= rows; ++row) {
    const auto put = [&](UINT column, Cell cell) { state->objects[Column(column, row)] = cell; };
    const char low = static_cast<char>(row & 0xFF);
    put(1, {.type = ASN_INTEGER, .number = static_cast<std::int32_t>(row)});
    put(2, {.type = ASN_OCTETSTRING, .writable = true, .bytes = "row " + std::to_string(row)});
    put(3, {.type = ASN_OBJECTIDENTIFIER, .writable = true, .oid = Concat(kRoot, {7, row})});
    put(4,
        {.type = ASN_IPADDRESS, .writable = true, .bytes = std::string{'\x0a', '\0', '\0', low}});
    put(5, {.type = ASN_COUNTER32, .big = 4294967295u - row});
    put(6, {.type = ASN_GAUGE32, .writable = true, .big = 1000u * row});
    put(7, {.type = ASN_TIMETICKS, .writable = true, .big = 360000u + row});
    put(8, {.type = ASN_OPAQUE,
            .bytes = std::string{'\x04', '\x02', 'o', static_cast<char>('0' + row % 10)}});
    put(9, {.type = ASN_UNSIGNED32, .big = 7u * row});
    put(10, {.type = ASN_COUNTER64, .big = (std::uint64_t{1} << 40) + row});
    put(11, {.type = ASN_INTEGER, .writable = true, .number = -static_cast<std::int32_t>(row)});
  }
  state->objects[Concat(kRoot, {2, 0})] = {.type = ASN_OCTETSTRING, .bytes = "test agent"};
  state->objects[Concat(kSecondRoot, {1, 0})] = {.type = ASN_OCTETSTRING, .bytes = "second region"};
}

void Mark(const std::string& line) {
  if (g_state != nullptr && !g_state->marker.empty()) {
    std::ofstream(g_state->marker, std::ios::app) << line;
  }
}

const Ids* RegionOf(const Ids& name) {
  if (StartsWith(name, kRoot)) return &kRoot;
  if (StartsWith(name, kSecondRoot)) return &kSecondRoot;
  return nullptr;
}

AsnInteger32 CheckSet(const SnmpVarBind& vb) {
  const Ids name = ToIds(vb.name);
  const auto it = g_state->objects.find(name);
  if (it == g_state->objects.end()) {
    const bool column = StartsWith(name, Concat(kRoot, {1, 1})) && name.size() == kRoot.size() + 4;
    return column ? SNMP_ERRORSTATUS_NOCREATION : SNMP_ERRORSTATUS_NOSUCHNAME;
  }
  const Cell& cell = it->second;
  if (!cell.writable) return SNMP_ERRORSTATUS_READONLY;
  if (vb.value.asnType != cell.type) return SNMP_ERRORSTATUS_WRONGTYPE;
  if (cell.type == ASN_OCTETSTRING && vb.value.asnValue.string.length > kMaxName) {
    return SNMP_ERRORSTATUS_WRONGLENGTH;
  }
  if (name[kRoot.size() + 2] == 11 &&
      (vb.value.asnValue.number < -100 || vb.value.asnValue.number > 100)) {
    return SNMP_ERRORSTATUS_WRONGVALUE;
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

void Apply(const SnmpVarBind& vb) {
  const Ids name = ToIds(vb.name);
  Cell& cell = g_state->objects[name];
  const AsnAny& v = vb.value;
  if (cell.type == ASN_INTEGER) {
    cell.number = v.asnValue.number;
  } else if (HasBytes(cell.type)) {
    cell.bytes.assign(reinterpret_cast<const char*>(v.asnValue.string.stream),
                      v.asnValue.string.length);
  } else if (cell.type == ASN_OBJECTIDENTIFIER) {
    cell.oid = ToIds(v.asnValue.object);
  } else {
    cell.big = v.asnValue.unsigned32;
  }
  if (name[kRoot.size() + 2] == 11) {
    const UINT row = name.back();
    Bindings& trap = g_state->traps.emplace_back();
    for (UINT column : {2u, 11u, 4u}) {
      trap.emplace_back(Column(column, row), g_state->objects[Column(column, row)]);
    }
    SetEvent(g_state->trap_event);
  }
}

}  // namespace

TEST_AGENT_EXPORT BOOL SnmpExtensionInit(DWORD uptime_reference, HANDLE* trap_event,
                                         AsnObjectIdentifier* first_region) {
  delete g_state;
  g_state = new State;
  const char* rows = std::getenv("LORVETH_TEST_AGENT_ROWS");
  Populate(g_state, rows != nullptr ? static_cast<UINT>(std::strtoul(rows, nullptr, 10)) : 3);
  if (const char* marker = std::getenv("LORVETH_TEST_AGENT_MARKER")) g_state->marker = marker;
  g_state->trap_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  *trap_event = g_state->trap_event;
  *first_region = {};
  SetIds(first_region, kRoot);
  g_state->next_region = 1;
  Mark("init " + std::to_string(uptime_reference) + "\n");
  return TRUE;
}

TEST_AGENT_EXPORT BOOL SnmpExtensionInitEx(AsnObjectIdentifier* next_region) {
  *next_region = {};
  if (g_state == nullptr || g_state->next_region != 1) return FALSE;
  ++g_state->next_region;
  SetIds(next_region, kSecondRoot);
  return TRUE;
}

TEST_AGENT_EXPORT BOOL SnmpExtensionQuery(BYTE request_type, SnmpVarBindList* list,
                                          AsnInteger32* error_status, AsnInteger32* error_index) {
  *error_status = SNMP_ERRORSTATUS_NOERROR;
  *error_index = 0;
  if (g_state == nullptr) return FALSE;
  BOOL found = FALSE;
  for (UINT i = 0; i < list->len && *error_status == 0; ++i) {
    SnmpVarBind& vb = list->list[i];
    const Ids name = ToIds(vb.name);
    if (request_type == SNMP_PDU_GET) {
      const auto it = g_state->objects.find(name);
      if (name == kFailingOid) {
        *error_status = SNMP_ERRORSTATUS_GENERR;
      } else if (it == g_state->objects.end()) {
        *error_status = SNMP_ERRORSTATUS_NOSUCHNAME;
      } else {
        Fill(&vb.value, it->second);
        found = TRUE;
      }
    } else if (request_type == SNMP_PDU_GETNEXT) {
      found = TRUE;
      const Ids* region = RegionOf(name);
      const auto it = g_state->objects.upper_bound(name);
      if (it != g_state->objects.end() && (region == nullptr || StartsWith(it->first, *region))) {
        SetIds(&vb.name, it->first);
        Fill(&vb.value, it->second);
      } else if (region != nullptr) {
        // Past the end of a region: answer the region root with its last
        // sub-identifier increased, as the agents this service hosts do.
        Ids beyond = *region;
        ++beyond.back();
        SetIds(&vb.name, beyond);
      }
    } else if (request_type == SNMP_PDU_SET) {
      *error_status = CheckSet(vb);
      found = TRUE;
    } else {
      return FALSE;
    }
    if (*error_status != 0) *error_index = static_cast<AsnInteger32>(i + 1);
  }
  if (request_type == SNMP_PDU_SET && *error_status == 0) {
    for (UINT i = 0; i < list->len; ++i) Apply(list->list[i]);
  }
  if (!found) *error_index = 1;
  return found;
}

TEST_AGENT_EXPORT BOOL SnmpExtensionTrap(AsnObjectIdentifier* enterprise, AsnInteger32* generic,
                                         AsnInteger32* specific, AsnTimeticks* time_stamp,
                                         SnmpVarBindList* bindings) {
  *enterprise = {};
  *bindings = {};
  if (g_state == nullptr || g_state->traps.empty()) return FALSE;
  const Bindings trap = std::move(g_state->traps.front());
  g_state->traps.pop_front();
  SetIds(enterprise, kEnterprise);
  *generic = SNMP_GENERICTRAP_ENTERSPECIFIC;
  *specific = kTrapSpecific;
  *time_stamp = kTrapTimeStamp;
  bindings->list = static_cast<SnmpVarBind*>(
      SnmpUtilMemAlloc(static_cast<UINT>(trap.size() * sizeof(SnmpVarBind))));
  for (const auto& [name, cell] : trap) {
    SnmpVarBind& vb = bindings->list[bindings->len++];
    vb.value.asnType = ASN_NULL;
    SetIds(&vb.name, name);
    Fill(&vb.value, cell);
  }
  return TRUE;
}

TEST_AGENT_EXPORT void SnmpExtensionClose() {
  Mark("close\n");
  if (g_state != nullptr) CloseHandle(g_state->trap_event);
  delete g_state;
  g_state = nullptr;
}
