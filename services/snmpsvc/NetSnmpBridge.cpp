// Net-SNMP's agent library serving extension agents.  This translation unit
// sees Net-SNMP's headers only; the agents are reached through AgentHost.h.
#include "services/snmpsvc/NetSnmpBridge.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/agent_callbacks.h>
// clang-format on

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/system/Paths.h"
#include "services/snmpsvc/NetSnmpConvert.h"

// MIB modules of libnetsnmpmibs and AgentX subagent calls of libnetsnmpagent
// without installed headers.
extern "C" {
extern netsnmp_session* main_session;
int agentx_register(netsnmp_session* session, oid start[], size_t startlen, int priority,
                    int range_subid, oid range_ubound, int timeout, u_char flags,
                    const char* context);
void init_system_mib(void);
void init_sysORTable(void);
void init_vacm_vars(void);
}

namespace snmpsvc {

namespace {

constexpr const char* kAppName = "snmpsvc";
// An AgentX subagent pings its master this often (seconds) and reconnects
// when the master has gone, e.g. after a restart of snmpd.
constexpr int kAgentxPingSeconds = 5;
// A duplicate registration after a reconnect means the master still holds
// the previous session; it is retried after this many seconds.
constexpr unsigned int kRegistrationRetrySeconds = 2;
constexpr unsigned int kMaxRegistrationRetrySeconds = 60;
// An agent that keeps answering GET-NEXT with NULL values is not followed
// further than this within one varbind.
constexpr int kMaxNullSkips = 1000;

const Oid kSysUpTime0 = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Oid kSnmpTrapOid0 = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const Oid kSnmpTrapEnterprise0 = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};

struct Region {
  ExtensionAgent* agent = nullptr;
  Oid root;
  std::string name;
  bool refused = false;  // refused by the AgentX master, to be registered again
};

int g_stop_pipe[2] = {-1, -1};
bool g_stop = false;

extern "C" void OnStopSignal(int) {
  const int saved_errno = errno;
  const char byte = 1;
  (void)!write(g_stop_pipe[1], &byte, 1);
  errno = saved_errno;
}

void OnStopReadable(int fd, void*) {
  char buffer[16];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  g_stop = true;
}

bool IsV1(const netsnmp_agent_request_info* reqinfo) {
  return reqinfo->asp != nullptr && reqinfo->asp->pdu != nullptr &&
         reqinfo->asp->pdu->version == SNMP_VERSION_1;
}

// Statuses outside the protocol's range become genErr.  SNMPv2 has no
// noSuchName, badValue or readOnly: an agent written for SNMPv1 answers a SET
// with them, so they are turned into their SNMPv2 counterparts (SNMPv1
// requests get the agent's code, and Net-SNMP maps SNMPv2 codes back for them).
int SetErrorFor(std::int32_t status, bool v1) {
  if (status <= 0 || status > SNMP_ERR_INCONSISTENTNAME) return SNMP_ERR_GENERR;
  if (v1) return status;
  switch (status) {
    case SNMP_ERR_NOSUCHNAME:
    case SNMP_ERR_READONLY:
      return SNMP_ERR_NOTWRITABLE;
    case SNMP_ERR_BADVALUE:
      return SNMP_ERR_WRONGVALUE;
    default:
      return status;
  }
}

// A GET or GET-NEXT failure other than noSuchName: tooBig stays, anything
// else is a general error of the agent.
int ReadErrorFor(std::int32_t status) {
  return status == SNMP_ERR_TOOBIG ? SNMP_ERR_TOOBIG : SNMP_ERR_GENERR;
}

netsnmp_request_info* RequestAt(const std::vector<netsnmp_request_info*>& requests,
                                std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > requests.size()) return requests.front();
  return requests[static_cast<std::size_t>(index - 1)];
}

std::optional<Oid> RequestName(const netsnmp_request_info* request) {
  return FromNetSnmpOid(request->requestvb->name, request->requestvb->name_length);
}

// False, with the request failed, when the answer does not fit Net-SNMP's varbind.
bool Answer(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* request,
            const VarBind& answer, bool set_name) {
  if ((set_name && !SetNetSnmpName(answer.name, request->requestvb)) ||
      !ToNetSnmpValue(answer.value, request->requestvb)) {
    netsnmp_set_request_error(reqinfo, request, SNMP_ERR_GENERR);
    return false;
  }
  return true;
}

// Whether the sub-identifiers from `from` on can be an instance index: one
// sub-identifier (a scalar's 0, a number), or a length-prefixed string, alone
// or followed by one number.
bool LooksLikeIndex(const Oid& name, std::size_t from) {
  if (from >= name.size()) return false;
  const std::size_t length = name.size() - from;
  return length == 1 || name[from] + 1 == length || name[from] + 2 == length;
}

// Whether the name is a missing instance of an object the agent serves: some
// prefix of it, followed by what can be an index, holds an instance of the
// same form.  The agent tells only that a name is missing; its objects are
// known only by their instances, and an index may span several
// sub-identifiers (a string's length and bytes).
bool IsMissingInstance(const Region& region, const Oid& name) {
  if (name.size() <= region.root.size() + 1) return false;
  for (std::size_t object = name.size() - 1; object > region.root.size(); --object) {
    if (!LooksLikeIndex(name, object)) continue;
    const Oid prefix(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(object));
    std::vector<VarBind> probe{VarBind{prefix, Value::Null()}};
    const QueryResult result = region.agent->Query(kPduGetNext, &probe);
    const Oid& found = probe.front().name;
    if (result.error_status == kNoError && OidStartsWith(found, prefix) &&
        LooksLikeIndex(found, object)) {
      return true;
    }
  }
  return false;
}

void AnswerMissing(const Region& region, netsnmp_agent_request_info* reqinfo,
                   netsnmp_request_info* request, const Oid& name) {
  netsnmp_set_request_error(
      reqinfo, request, IsMissingInstance(region, name) ? SNMP_NOSUCHINSTANCE : SNMP_NOSUCHOBJECT);
}

// GET: the region's varbinds go to the agent in one call.  An agent answers a
// list with an unknown name with noSuchName for the whole list (the SNMPv1
// rule); SNMPv2 answers every other varbind, so the agent is then asked once
// per varbind and only the unknown ones become noSuchObject/noSuchInstance.
// Net-SNMP turns those into noSuchName for SNMPv1 requests.  A NULL value
// cannot be returned through Net-SNMP (it marks an unanswered varbind) and
// reads as noSuchInstance.
void HandleGet(const Region& region, netsnmp_agent_request_info* reqinfo,
               const std::vector<netsnmp_request_info*>& requests) {
  std::vector<netsnmp_request_info*> asked;
  std::vector<VarBind> list;
  for (netsnmp_request_info* request : requests) {
    auto name = RequestName(request);
    if (!name) {
      netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
      continue;
    }
    asked.push_back(request);
    list.push_back(VarBind{std::move(*name), Value::Null()});
  }
  if (asked.empty()) return;
  const std::vector<VarBind> names = list;
  const QueryResult result = region.agent->Query(kPduGet, &list);
  if (result.error_status == kNoError && result.ok) {
    for (std::size_t i = 0; i < asked.size(); ++i) Answer(reqinfo, asked[i], list[i], false);
    return;
  }
  if (result.error_status != kNoSuchName) {
    netsnmp_set_request_error(reqinfo, RequestAt(asked, result.error_index),
                              ReadErrorFor(result.error_status));
    return;
  }
  for (std::size_t i = 0; i < asked.size(); ++i) {
    std::vector<VarBind> one{names[i]};
    const QueryResult single = region.agent->Query(kPduGet, &one);
    if (single.error_status == kNoError && single.ok) {
      Answer(reqinfo, asked[i], one.front(), false);
    } else if (single.error_status == kNoSuchName || single.error_status == kNoError) {
      AnswerMissing(region, reqinfo, asked[i], names[i].name);
    } else {
      netsnmp_set_request_error(reqinfo, asked[i], ReadErrorFor(single.error_status));
    }
  }
}

enum class Step { kAnswered, kOutside, kFailed };

// Follows the agent's GET-NEXT answer to `asked` past instances that cannot be
// sent: Net-SNMP cannot return a NULL value (it marks an unanswered varbind),
// and SNMPv1 cannot carry Counter64.  kOutside when the walk leaves the region
// (or the agent stops moving forward); kFailed with the agent's status.
Step FollowToSendable(const Region& region, const Oid& asked, bool v1, VarBind* answer,
                      std::int32_t* status) {
  for (int skip = 0; skip < kMaxNullSkips; ++skip) {
    const bool inside =
        OidStartsWith(answer->name, region.root) && CompareOid(answer->name, asked) > 0;
    if (!inside) return Step::kOutside;
    const bool unsendable = answer->value.type == ValueType::kNull ||
                            (v1 && answer->value.type == ValueType::kCounter64);
    if (!unsendable) return Step::kAnswered;
    std::vector<VarBind> again{VarBind{answer->name, Value::Null()}};
    const QueryResult next = region.agent->Query(kPduGetNext, &again);
    if (next.error_status != kNoError) {
      *status = next.error_status;
      return Step::kFailed;
    }
    if (CompareOid(again.front().name, answer->name) <= 0) return Step::kOutside;
    *answer = std::move(again.front());
  }
  return Step::kOutside;
}

// Where a GET-NEXT from the request's varbind starts: names before the region
// are asked from the region root.  Empty for a name with a sub-identifier the
// agent cannot hold, which ends the region.
std::optional<Oid> NextFrom(const Region& region, const netsnmp_request_info* request) {
  auto name = RequestName(request);
  if (name && CompareOid(*name, region.root) < 0) *name = region.root;
  return name;
}

// GET-NEXT: the region's varbinds go to the agent in one call.  An answer
// that is not inside the region after the asked name leaves the varbind
// unanswered, and Net-SNMP continues the walk in the following registration
// (the agent steps out of its region with root+1, for instance).
void HandleGetNext(const Region& region, netsnmp_agent_request_info* reqinfo,
                   const std::vector<netsnmp_request_info*>& requests) {
  std::vector<netsnmp_request_info*> asked;
  std::vector<VarBind> list;
  for (netsnmp_request_info* request : requests) {
    auto name = NextFrom(region, request);
    if (!name) continue;
    asked.push_back(request);
    list.push_back(VarBind{std::move(*name), Value::Null()});
  }
  if (asked.empty()) return;
  const std::vector<VarBind> names = list;
  const QueryResult result = region.agent->Query(kPduGetNext, &list);
  if (result.error_status != kNoError) {
    netsnmp_set_request_error(reqinfo, RequestAt(asked, result.error_index),
                              ReadErrorFor(result.error_status));
    return;
  }
  const bool v1 = IsV1(reqinfo);
  for (std::size_t i = 0; i < asked.size(); ++i) {
    std::int32_t status = kNoError;
    switch (FollowToSendable(region, names[i].name, v1, &list[i], &status)) {
      case Step::kAnswered:
        Answer(reqinfo, asked[i], list[i], true);
        break;
      case Step::kFailed:
        netsnmp_set_request_error(reqinfo, asked[i], ReadErrorFor(status));
        break;
      case Step::kOutside:
        break;
    }
  }
}

// GETBULK: each repeated varbind walks on through the region within this one
// call, filling its repetitions as the GET-NEXT passes of Net-SNMP would, one
// per pass.  A repetition that leaves the region stays unanswered and Net-SNMP
// continues it in the following registration.  The walk also stops, for
// Net-SNMP to settle in its next pass, at an answer beyond this registration's
// part of the tree (a registration nested in the region) or outside the
// request's view (Net-SNMP retries the name then, as it does for GET-NEXT).
void HandleGetBulk(const Region& region, netsnmp_agent_request_info* reqinfo,
                   const std::vector<netsnmp_request_info*>& requests) {
  netsnmp_pdu* pdu = reqinfo->asp != nullptr ? reqinfo->asp->pdu : nullptr;
  // One list for every question of the walk: each repetition asks one name.
  std::vector<VarBind> list(1);
  for (netsnmp_request_info* request : requests) {
    for (;;) {
      auto name = NextFrom(region, request);
      if (!name) break;
      list.front().name = *name;
      list.front().value = Value::Null();
      const QueryResult result = region.agent->Query(kPduGetNext, &list);
      std::int32_t status = result.error_status;
      const Step step = status == kNoError
                            ? FollowToSendable(region, *name, false, &list.front(), &status)
                            : Step::kFailed;
      if (step == Step::kFailed) netsnmp_set_request_error(reqinfo, request, ReadErrorFor(status));
      if (step != Step::kAnswered || !Answer(reqinfo, request, list.front(), true)) break;
      netsnmp_variable_list* answered = request->requestvb;
      if (pdu != nullptr &&
          in_a_view(answered->name, &answered->name_length, pdu, answered->type) != VACM_SUCCESS) {
        snmp_set_var_typed_value(answered, ASN_PRIV_RETRY, nullptr, 0);
        request->inclusive = 0;
        break;
      }
      if (request->range_end_len != 0 &&
          snmp_oid_compare(answered->name, answered->name_length, request->range_end,
                           request->range_end_len) >= 0) {
        break;
      }
      if (request->repeat <= 0 || answered->next_variable == nullptr) break;
      // The next repetition starts from this answer.
      --request->repeat;
      netsnmp_variable_list* next = answered->next_variable;
      snmp_set_var_objid(next, answered->name, answered->name_length);
      snmp_set_var_typed_value(next, ASN_NULL, nullptr, 0);
      request->requestvb = next;
      if (request->inclusive == 2) request->inclusive = 0;
    }
  }
}

bool CollectSetList(netsnmp_agent_request_info* reqinfo,
                    const std::vector<netsnmp_request_info*>& requests,
                    std::vector<VarBind>* list) {
  for (netsnmp_request_info* request : requests) {
    VarBind vb;
    auto name = RequestName(request);
    if (!name) {
      netsnmp_set_request_error(reqinfo, request, SNMP_ERR_NOTWRITABLE);
      return false;
    }
    vb.name = std::move(*name);
    if (!FromNetSnmpValue(*request->requestvb, &vb.value)) {
      netsnmp_set_request_error(reqinfo, request, SNMP_ERR_WRONGTYPE);
      return false;
    }
    list->push_back(std::move(vb));
  }
  return true;
}

// SET: the agent's one call both checks and applies, so it runs once, in
// the action phase; the reserve phases only check that every varbind can
// reach the agent.  The agent cannot undo, so a failure in another region of
// the same request leaves this region's change in place.
void HandleSet(const Region& region, netsnmp_agent_request_info* reqinfo,
               const std::vector<netsnmp_request_info*>& requests) {
  std::vector<VarBind> list;
  if (!CollectSetList(reqinfo, requests, &list)) return;
  if (reqinfo->mode != MODE_SET_ACTION) return;
  const QueryResult result = region.agent->Query(kPduSet, &list);
  if (result.error_status != kNoError) {
    netsnmp_set_request_error(reqinfo, RequestAt(requests, result.error_index),
                              SetErrorFor(result.error_status, IsV1(reqinfo)));
  } else if (!result.ok) {
    netsnmp_set_request_error(reqinfo, RequestAt(requests, result.error_index), SNMP_ERR_GENERR);
  }
}

int RegionHandler(netsnmp_mib_handler* handler, netsnmp_handler_registration*,
                  netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
  const auto* region = static_cast<const Region*>(handler->myvoid);
  std::vector<netsnmp_request_info*> list;
  for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
    if (!request->processed) list.push_back(request);
  }
  if (list.empty()) return SNMP_ERR_NOERROR;
  switch (reqinfo->mode) {
    case MODE_GET:
      HandleGet(*region, reqinfo, list);
      break;
    case MODE_GETNEXT:
      HandleGetNext(*region, reqinfo, list);
      break;
    case MODE_GETBULK:
      HandleGetBulk(*region, reqinfo, list);
      break;
    case MODE_SET_RESERVE1:
    case MODE_SET_ACTION:
      HandleSet(*region, reqinfo, list);
      break;
    default:
      break;
  }
  return SNMP_ERR_NOERROR;
}

bool AppendVar(netsnmp_variable_list** list, const VarBind& vb) {
  const std::vector<oid> name = ToNetSnmpOid(vb.name);
  if (name.empty() || name.size() > MAX_OID_LEN) return false;
  netsnmp_variable_list* var =
      snmp_varlist_add_variable(list, name.data(), name.size(), ASN_NULL, nullptr, 0);
  return var != nullptr && ToNetSnmpValue(vb.value, var);
}

// Enterprise-specific traps go out as SNMPv2 notifications built here, so that
// sysUpTime.0 carries the trap's own time stamp; Net-SNMP derives the SNMPv1
// trap (enterprise, specific number, time stamp, agent address) from them for
// SNMPv1 sinks.  Generic traps 0 to 5 go out as such.
void SendTrap(const Trap& trap) {
  if (trap.enterprise.empty() || trap.enterprise.size() + 2 > MAX_OID_LEN) {
    snmp_log(LOG_WARNING, "snmpsvc: trap with an unusable enterprise OID dropped\n");
    return;
  }
  const std::vector<oid> enterprise = ToNetSnmpOid(trap.enterprise);
  netsnmp_variable_list* vars = nullptr;
  bool ok = true;
  if (trap.generic == SNMP_TRAP_ENTERPRISESPECIFIC) {
    Oid trap_oid = trap.enterprise;
    trap_oid.push_back(0);
    trap_oid.push_back(static_cast<std::uint32_t>(trap.specific));
    ok = AppendVar(&vars, VarBind{kSysUpTime0, Value::Unsigned(ValueType::kTimeTicks,
                                                               trap.time_stamp)}) &&
         AppendVar(&vars, VarBind{kSnmpTrapOid0, Value::ObjectId(trap_oid)});
    for (const VarBind& binding : trap.bindings) ok = ok && AppendVar(&vars, binding);
    ok = ok && AppendVar(&vars, VarBind{kSnmpTrapEnterprise0, Value::ObjectId(trap.enterprise)});
    if (ok) netsnmp_send_traps(-1, 0, enterprise.data(), enterprise.size(), vars, nullptr, 0);
  } else if (trap.generic >= 0 && trap.generic < SNMP_TRAP_ENTERPRISESPECIFIC) {
    for (const VarBind& binding : trap.bindings) ok = ok && AppendVar(&vars, binding);
    if (ok) {
      netsnmp_send_traps(trap.generic, 0, enterprise.data(), enterprise.size(), vars, nullptr, 0);
    }
  } else {
    ok = false;
  }
  if (!ok) snmp_log(LOG_WARNING, "snmpsvc: trap that cannot be encoded dropped\n");
  snmp_free_varbind(vars);
}

void OnTrapReadable(int, void* data) {
  auto* agent = static_cast<ExtensionAgent*>(data);
  std::size_t dropped = 0;
  for (const Trap& trap : agent->TakeTraps(&dropped)) SendTrap(trap);
  if (dropped != 0) {
    snmp_log(LOG_WARNING, "snmpsvc: %zu trap(s) of %s could not be converted\n", dropped,
             agent->path().c_str());
  }
}

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += ',';
    joined += part;
  }
  return joined;
}

bool RegisterRegion(Region* region) {
  const std::vector<oid> root = ToNetSnmpOid(region->root);
  netsnmp_handler_registration* registration = netsnmp_create_handler_registration(
      region->name.c_str(), RegionHandler, root.data(), root.size(),
      HANDLER_CAN_RWRITE | HANDLER_CAN_GETBULK);
  if (registration == nullptr) return false;
  registration->handler->myvoid = region;
  const int rc = netsnmp_register_handler(registration);
  if (rc != MIB_REGISTERED_OK) {
    snmp_log(LOG_ERR, "snmpsvc: region %s of %s not registered (error %d)\n",
             OidToString(region->root).c_str(), region->agent->path().c_str(), rc);
    return false;
  }
  return true;
}

// An AgentX subagent registers its regions again whenever it (re)connects.
// If the master still holds the registrations of a previous session (or of
// another subagent) it refuses them as duplicates, and the library only logs
// that.  The registration callback tells which region is being registered and
// the log line that it was refused; such regions are registered again, with a
// growing delay, until the master takes them.  (Unregistering first is no
// way out: the master would drop another session's registration.)
struct AgentxRegistrations {
  std::vector<std::unique_ptr<Region>>* regions = nullptr;
  Region* registering = nullptr;  // the region the library is registering now
  bool retry_pending = false;
  unsigned int retry_delay = kRegistrationRetrySeconds;
};

void RetryRegistrations(unsigned int, void* client_arg);

// Runs inside the logging callback too: it must not log itself.
void ScheduleRetry(AgentxRegistrations* state) {
  if (state->retry_pending) return;
  state->retry_pending = true;
  snmp_alarm_register(state->retry_delay, 0, RetryRegistrations, state);
  state->retry_delay = std::min(state->retry_delay * 2, kMaxRegistrationRetrySeconds);
}

void RetryRegistrations(unsigned int, void* client_arg) {
  auto* state = static_cast<AgentxRegistrations*>(client_arg);
  state->retry_pending = false;
  state->registering = nullptr;
  // Without a session the next reconnect registers every region anyway.
  if (main_session == nullptr) return;
  bool refused = false;
  for (auto& region : *state->regions) {
    if (!region->refused) continue;
    std::vector<oid> root = ToNetSnmpOid(region->root);
    if (agentx_register(main_session, root.data(), root.size(), DEFAULT_MIB_PRIORITY, 0, 0, 0, 0,
                        "") != 0) {
      region->refused = false;
      snmp_log(LOG_INFO, "snmpsvc: region %s registered with the AgentX master\n",
               OidToString(region->root).c_str());
    } else {
      refused = true;
    }
  }
  if (refused) {
    ScheduleRetry(state);
  } else {
    state->retry_delay = kRegistrationRetrySeconds;
  }
}

int OnRegisterOid(int, int, void* server_arg, void* client_arg) {
  auto* state = static_cast<AgentxRegistrations*>(client_arg);
  const auto* parameters = static_cast<const register_parameters*>(server_arg);
  state->registering = nullptr;
  if (parameters == nullptr) return 0;
  const auto name = FromNetSnmpOid(parameters->name, parameters->namelen);
  for (auto& region : *state->regions) {
    if (name && *name == region->root) state->registering = region.get();
  }
  return 0;
}

int WatchLog(int, int, void* server_arg, void* client_arg) {
  auto* state = static_cast<AgentxRegistrations*>(client_arg);
  const auto* message = static_cast<const snmp_log_message*>(server_arg);
  if (message != nullptr && message->msg != nullptr && state->registering != nullptr &&
      std::strstr(message->msg, "registering pdu failed") != nullptr) {
    state->registering->refused = true;
    state->registering = nullptr;
    ScheduleRetry(state);
  }
  return 0;
}

bool PrepareDirectory(const std::string& path, mode_t mode) {
  if (path.empty()) return true;
  std::string partial;
  for (std::size_t pos = 0; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return chmod(path.c_str(), mode) == 0 || errno == EPERM;
}

void ConfigureLibrary(const ServiceOptions& options) {
  // Managers meet numeric OIDs only: no MIB files are read, so none can warn.
  setenv("MIBS", "", 1);
  setenv("MIBDIRS", "", 1);
  // The environment would take precedence over the directories set below.
  unsetenv("SNMPCONFPATH");
  unsetenv("SNMP_PERSISTENT_DIR");
  // No SMUX port: init_agent opens one unless the module is excluded.
  std::string no_smux = "-smux";
  add_to_init_list(no_smux.data());
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
  // Only snmpsvc's own directory is read, never /etc/snmp or ~/.snmp.
  netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_CONFIGURATION_DIR,
                        options.config_dir.c_str());
  netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR,
                        options.persistent_dir.c_str());
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_VERBOSE, 0);
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS,
                         1);
  if (!options.agentx_socket.empty()) {
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                          options.agentx_socket.c_str());
  } else {
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS,
                          Join(options.listen).c_str());
  }
}

}  // namespace

int RunService(const ServiceOptions& options, const std::vector<ExtensionAgent*>& agents) {
  const bool subagent = !options.agentx_socket.empty();
  if (options.foreground) {
    snmp_enable_stderrlog();
  } else {
    snmp_enable_syslog_ident(kAppName, LOG_DAEMON);
  }
  // The configuration directory is only read, and may lie on a read-only /etc:
  // it is made when missing, never changed.
  if ((!options.config_dir.empty() && !platform::MakeDirectories(options.config_dir)) ||
      !PrepareDirectory(options.persistent_dir, 0700)) {
    snmp_log(LOG_ERR, "snmpsvc: cannot create %s or %s\n", options.config_dir.c_str(),
             options.persistent_dir.c_str());
    return 1;
  }
  ConfigureLibrary(options);
  if (!options.foreground && netsnmp_daemonize(1, 0) != 0) return 1;

  if (pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGHUP, SIG_IGN);

  std::vector<std::unique_ptr<Region>> regions;
  AgentxRegistrations registrations;
  registrations.regions = &regions;
  if (init_agent(kAppName) != 0) {
    snmp_log(LOG_ERR, "snmpsvc: Net-SNMP agent initialization failed\n");
    return 1;
  }
  if (subagent) {
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                       kAgentxPingSeconds);
    // Registered before the AgentX module's own callback, so it runs first.
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_REGISTER_OID, OnRegisterOid,
                           &registrations);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, WatchLog,
                           &registrations);
    snmp_enable_calllog();
  } else {
    // The master agent answers the system group and parses the access
    // control lines (communities, users, views) itself.
    init_system_mib();
    init_sysORTable();
    init_vacm_vars();
  }

  std::vector<ExtensionAgent*> running;
  for (ExtensionAgent* agent : agents) {
    std::string error;
    if (!agent->Init(CurrentUptimeReference(), &error)) {
      snmp_log(LOG_ERR, "snmpsvc: %s\n", error.c_str());
      agent->Close();
      continue;
    }
    running.push_back(agent);
    for (const Oid& root : agent->regions()) {
      auto region = std::make_unique<Region>();
      region->agent = agent;
      region->root = root;
      region->name = "snmpsvc:" + OidToString(root);
      if (RegisterRegion(region.get())) regions.push_back(std::move(region));
    }
    const int fd = agent->TrapDescriptor();
    if (fd >= 0) {
      register_readfd(fd, OnTrapReadable, agent);
    } else {
      snmp_log(LOG_WARNING, "snmpsvc: %s has no trap event; its traps are not sent\n",
               agent->path().c_str());
    }
  }

  init_snmp(kAppName);
  if (!subagent && init_master_agent() != 0) {
    snmp_log(LOG_ERR, "snmpsvc: cannot listen on %s\n", Join(options.listen).c_str());
    for (ExtensionAgent* agent : running) agent->Close();
    snmp_shutdown(kAppName);
    return 1;
  }
  register_readfd(g_stop_pipe[0], OnStopReadable, nullptr);
  snmp_log(LOG_INFO, "snmpsvc: serving %zu region(s) of %zu agent(s)%s%s\n", regions.size(),
           running.size(), subagent ? " as AgentX subagent of " : " on ",
           subagent ? options.agentx_socket.c_str() : Join(options.listen).c_str());

  while (!g_stop) agent_check_and_process(1);

  snmp_log(LOG_INFO, "snmpsvc: stopping\n");
  unregister_readfd(g_stop_pipe[0]);
  for (ExtensionAgent* agent : running) {
    const int fd = agent->TrapDescriptor();
    if (fd >= 0) unregister_readfd(fd);
    agent->Close();
  }
  if (subagent) {
    // Net-SNMP frees the argument of every callback still registered when it
    // shuts down; ours lives on this stack.
    snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_REGISTER_OID, OnRegisterOid,
                             &registrations, 1);
    snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, WatchLog,
                             &registrations, 1);
  }
  snmp_shutdown(kAppName);
  close(g_stop_pipe[0]);
  close(g_stop_pipe[1]);
  return 0;
}

}  // namespace snmpsvc
