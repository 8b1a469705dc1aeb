// Loading extension agents and calling their entry points.  This translation
// unit sees the Windows-ABI header only (Net-SNMP's ASN macros would clash).
#include "services/snmpsvc/AgentHost.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "platform/system/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/Snmp.h"
#include "platform/system/Threads.h"
#include "services/snmpsvc/AbiConvert.h"

namespace snmpsvc {

namespace {

// A region list or a trap queue that never ends would stall the service: an
// agent that keeps answering TRUE is cut off here.
constexpr int kMaxRegions = 4096;
constexpr int kMaxTrapsPerSignal = 100000;

// Holds the enterprise OID and binding list that SnmpExtensionTrap hands over,
// and frees them as the agent allocated them.
struct TrapBuffers {
  AsnObjectIdentifier enterprise{0, nullptr};
  SnmpVarBindList bindings{nullptr, 0};
  ~TrapBuffers() { Clear(); }
  void Clear() {
    SnmpUtilOidFree(&enterprise);
    SnmpUtilVarBindListFree(&bindings);
  }
};

}  // namespace

struct ExtensionAgent::EntryPoints {
  PFNSNMPEXTENSIONINIT init = nullptr;
  PFNSNMPEXTENSIONINITEX init_ex = nullptr;
  PFNSNMPEXTENSIONQUERY query = nullptr;
  PFNSNMPEXTENSIONTRAP trap = nullptr;
  PFNSNMPEXTENSIONCLOSE close = nullptr;
};

ExtensionAgent::ExtensionAgent(std::string path, std::unique_ptr<EntryPoints> entry)
    : path_(std::move(path)), entry_(std::move(entry)) {}

std::unique_ptr<ExtensionAgent> ExtensionAgent::Load(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "cannot load " + path;
    return nullptr;
  }
  auto entry = std::make_unique<EntryPoints>();
  entry->init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(dlsym(library, "SnmpExtensionInit"));
  entry->init_ex = reinterpret_cast<PFNSNMPEXTENSIONINITEX>(dlsym(library, "SnmpExtensionInitEx"));
  entry->query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(library, "SnmpExtensionQuery"));
  entry->trap = reinterpret_cast<PFNSNMPEXTENSIONTRAP>(dlsym(library, "SnmpExtensionTrap"));
  entry->close = reinterpret_cast<PFNSNMPEXTENSIONCLOSE>(dlsym(library, "SnmpExtensionClose"));
  if (entry->init == nullptr || entry->query == nullptr) {
    *error = path + ": SnmpExtensionInit or SnmpExtensionQuery not exported";
    dlclose(library);
    return nullptr;
  }
  // The library stays mapped for the life of the process: an agent may leave
  // threads or atexit handlers behind, and the service ends soon after Close.
  return std::unique_ptr<ExtensionAgent>(new ExtensionAgent(path, std::move(entry)));
}

ExtensionAgent::~ExtensionAgent() { Close(); }

bool ExtensionAgent::Init(std::uint32_t uptime_reference, std::string* error) {
  HANDLE trap_event = nullptr;
  AsnObjectIdentifier region{0, nullptr};
  const BOOL ok = entry_->init(uptime_reference, &trap_event, &region);
  initialized_ = true;
  if (!ok) {
    SnmpUtilOidFree(&region);
    *error = path_ + ": SnmpExtensionInit failed";
    return false;
  }
  trap_event_ = trap_event;
  Oid oid;
  if (FromAbi(region, &oid) && !oid.empty()) regions_.push_back(oid);
  SnmpUtilOidFree(&region);
  if (entry_->init_ex != nullptr) {
    for (int i = 0; i < kMaxRegions; ++i) {
      AsnObjectIdentifier next{0, nullptr};
      const BOOL more = entry_->init_ex(&next);
      if (more && FromAbi(next, &oid) && !oid.empty()) regions_.push_back(oid);
      SnmpUtilOidFree(&next);
      if (!more) break;
    }
  }
  if (regions_.empty()) {
    *error = path_ + ": the agent supplied no MIB region";
    return false;
  }
  return true;
}

int ExtensionAgent::TrapDescriptor() const {
  return trap_event_ != nullptr && entry_->trap != nullptr ? GetEventDescriptor(trap_event_) : -1;
}

QueryResult ExtensionAgent::Query(std::uint8_t pdu_type, std::vector<VarBind>* varbinds) {
  QueryResult result;
  ScopedVarBindList list;
  if (!ToAbi(*varbinds, list.get())) {
    result.error_status = kGenErr;
    result.error_index = 1;
    return result;
  }
  AsnInteger32 status = 0;
  AsnInteger32 index = 0;
  result.ok = entry_->query(pdu_type, list.get(), &status, &index) != FALSE;
  result.error_status = status;
  result.error_index = index;
  // The agent answers in place; a list of another length is not an answer.
  if (list.get()->len != varbinds->size()) {
    result.error_status = kGenErr;
    result.error_index = 1;
    return result;
  }
  for (UINT i = 0; i < list.get()->len; ++i) {
    VarBind answer;
    if (!FromAbi(list.get()->list[i], &answer)) {
      result.error_status = kGenErr;
      result.error_index = static_cast<std::int32_t>(i + 1);
      return result;
    }
    (*varbinds)[i] = std::move(answer);
  }
  return result;
}

std::vector<Trap> ExtensionAgent::TakeTraps(std::size_t* dropped) {
  std::vector<Trap> traps;
  if (trap_event_ == nullptr || entry_->trap == nullptr) return traps;
  WaitForSingleObject(trap_event_, 0);
  TrapBuffers buffers;
  for (int i = 0; i < kMaxTrapsPerSignal; ++i) {
    AsnInteger32 generic = 0;
    AsnInteger32 specific = 0;
    AsnTimeticks time_stamp = 0;
    const BOOL more =
        entry_->trap(&buffers.enterprise, &generic, &specific, &time_stamp, &buffers.bindings);
    if (!more) break;
    Trap trap;
    trap.generic = generic;
    trap.specific = specific;
    trap.time_stamp = time_stamp;
    bool converted = FromAbi(buffers.enterprise, &trap.enterprise);
    for (UINT b = 0; converted && b < buffers.bindings.len; ++b) {
      VarBind binding;
      converted = buffers.bindings.list != nullptr && FromAbi(buffers.bindings.list[b], &binding);
      trap.bindings.push_back(std::move(binding));
    }
    buffers.Clear();
    if (converted) {
      traps.push_back(std::move(trap));
    } else if (dropped != nullptr) {
      ++*dropped;
    }
  }
  return traps;
}

void ExtensionAgent::Close() {
  if (!initialized_ || closed_) return;
  closed_ = true;
  if (entry_->close != nullptr) entry_->close();
}

std::uint32_t CurrentUptimeReference() { return GetTickCount() / 10; }

std::vector<std::string> FindRegisteredAgents() {
  // Where an administrator registers extension agents: each value of the
  // ExtensionAgents key names (in its data) a key whose "Pathname" value is the
  // agent library, so agents installed for the Windows SNMP service's layout
  // are found without a second list.  Values are taken in their order; a value that leads nowhere
  // is skipped with a message.
  std::vector<std::string> paths;
  const auto list = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, kExtensionAgentsKey);
  if (!list) return paths;
  for (const platform::RegistryKey::Value& value : list->EnumValues()) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
    const std::string key_path(reinterpret_cast<const char*>(value.data.data()),
                               strnlen(reinterpret_cast<const char*>(value.data.data()),
                                       value.data.size()));
    const auto agent_key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, key_path);
    const std::optional<std::string> pathname =
        agent_key ? agent_key->QueryString("Pathname") : std::nullopt;
    if (!pathname || pathname->empty()) {
      std::fprintf(stderr, "snmpsvc: extension agent \"%s\" names key \"%s\" without a Pathname\n",
                   value.name.c_str(), key_path.c_str());
      continue;
    }
    paths.push_back(platform::ToNativePath(*pathname));
  }
  return paths;
}

}  // namespace snmpsvc
