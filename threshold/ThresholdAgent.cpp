// Start-up of the threshold agent: identity and status scalars, the table
// loads in their fixed order, the resulting agent status, and the hand-over
// of each request to SET or GET processing.
#include "threshold/ThresholdAgent.h"

#include <ctime>
#include <memory>
#include <new>

#include "frame/Extension.h"
#include "platform/system/Version.h"
#include "switch/SwitchProtocol.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;

namespace {

constexpr const char kNoSetExecuted[] = "No SET executed";
constexpr const char kBuildStamp[] = "Build: " __DATE__ ", " __TIME__;

// A version resource whose product major version is this one predates the
// status rule for a failed start: such an agent reports itself running.
constexpr int kLegacyProductMajorVersion = 3;

struct IdentityScalar {
  const char* oid;
  const char* object_name;
  const char* version_key;  // nullptr: the build stamp
};

constexpr IdentityScalar kIdentityScalars[] = {
    {LORVETH_MIB_OID("1.1.1.0"), "threshAgentId", "FileDescription"},
    {LORVETH_MIB_OID("1.1.2.0"), "threshAgentCompany", "CompanyName"},
    {LORVETH_MIB_OID("1.1.3.0"), "threshAgentVersion", "FileVersion"},
    {LORVETH_MIB_OID("1.1.4.0"), "threshAgentBuild", nullptr},
};

struct StatusScalar {
  const char* oid;
  const char* object_name;
  CThresholdAgent::MibCallback get;
};

// In the order of registration.
const StatusScalar kStatusScalars[] = {
    {LORVETH_MIB_OID("1.2.1.0"), "threshConfigurationChanged",
     static_cast<CThresholdAgent::MibCallback>(&CThresholdAgent::fGetConfigChangedTime)},
    {LORVETH_MIB_OID("1.2.4.0"), "threshLastSetResultMessage",
     static_cast<CThresholdAgent::MibCallback>(&CThresholdAgent::fGetLastSetResultMsg)},
    {LORVETH_MIB_OID("1.2.2.0"), "threshThresholdStatus",
     static_cast<CThresholdAgent::MibCallback>(&CThresholdAgent::fGetThresholdStatus)},
    {LORVETH_MIB_OID("1.2.3.0"), "threshReportStatus",
     static_cast<CThresholdAgent::MibCallback>(&CThresholdAgent::fGetReportsetStatus)},
    {LORVETH_MIB_OID("1.2.5.0"), "threshPerformanceStatus",
     static_cast<CThresholdAgent::MibCallback>(&CThresholdAgent::fGetPerformanceStatus)},
};

bool ShuttingDown() { return Extension().shutdown.load() != 0; }

}  // namespace

CThresholdAgent::~CThresholdAgent() {
  TRACE(2, "~CThresholdAgent(): cleanup...");
  TRACE(4, "~CThresholdAgent(): cleanup done.");
}

void CThresholdAgent::InitializeMib() {
  TRACE(1, "\n\nLORVETH_AGENT       : Starting Threshold and Report Agent initialization...");
  InitializeAgentInfo();

  bool succeeded = InitializeAgentOptions();
  if (succeeded) {
    // The fixed order; the first failure stops the rest.
    succeeded = InitializeRuleTable() && InitializeRulesetTables() && InitializeEventTable() &&
                InitializeReportTable() && InitializeReportsetTable() &&
                InitializeResourceTable() && InitializeTargetTable();
  }

  if (succeeded) {
    SetAgentStatusValue(1);
    SetAgentLastError("");
  } else {
    TRACE(1, "\n\nLORVETH_AGENT       : ## ERROR! Initialization of one of the MIB tables failed!");
    SetAgentStatusValue(ProductMajorVersion() == kLegacyProductMajorVersion ? 1 : 4);
    SetAgentLastError("initialization failed");
  }

  if (ShuttingDown()) {
    TRACE(2, "\n\nLORVETH_AGENT       : ## Agent shutdown - initialization aborted!\n");
  } else {
    TRACE(1, "\n\nLORVETH_AGENT       : ## Initialization finished - agent status = %s\n",
          succeeded ? "OK" : "FAILED");
  }
}

void CThresholdAgent::InitializeAgentInfo() {
  TRACE(2, "\n\n--- InitializeAgentInfo ---\n");
  FileVersionInfo& version = VersionInfo();
  for (const IdentityScalar& scalar : kIdentityScalars) {
    const char* text = scalar.version_key != nullptr
                           ? version.QueryString(ModulePath(), scalar.version_key, 0, 0)
                           : kBuildStamp;
    AddConstMibEntry(scalar.oid, scalar.object_name, text, ASN_OCTETSTRING, kMibReadOnly);
  }
  SetLastSetResultMessage(kNoSetExecuted);
}

bool CThresholdAgent::InitializeAgentOptions() {
  CommandBuffer probe;
  probe.BuildFrame(sp::kOcThresholdStatus, 0, 0, sp::kAgentCabinet, sp::kStatNoData, nullptr, 0);
  probe.SendRequest(SwitchClient(), 0, 0, 0);
  if (!probe.IsStatusOk()) {
    TRACE(1, "\n\n ## ERROR! No threshold status available - underlying module not available?!\n");
    SetAgentLastError("No reply from QM_VORLAS");
    return false;
  }
  TRACE(2, "\n\n--- InitializeAgentOptions ---\n");
  for (const StatusScalar& scalar : kStatusScalars) {
    AddVarMibEntry(scalar.oid, scalar.object_name, ASN_INTEGER, scalar.get, nullptr, nullptr,
                   nullptr, kMibReadOnly, 0);
  }
  return true;
}

int CThresholdAgent::ProductMajorVersion() {
  FileVersionInfo& version = VersionInfo();
  const DWORD size = version.ReadBlockSize(ModulePath());
  if (size == 0) return -1;
  const std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
  if (block == nullptr || !version.ReadBlock(ModulePath(), block.get(), size)) return -1;
  LPVOID fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.get(), "\\", &fixed, &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return -1;
  }
  return static_cast<int>(static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwProductVersionMS >> 16);
}

BOOL CThresholdAgent::OnPreSnmpQuery(BYTE request_type, SnmpVarBindList* varbinds,
                                     AsnInteger32* error_status, AsnInteger32* error_index) {
  if (request_type == SNMP_PDU_SET) {
    TRACE(
        4,
        "\nLORVETH_AGENT       : OnPreSnmpQuery() - SET request, check whether new object to be created...");
    return ExecuteSET(varbinds, error_status, error_index) == 0;
  }
  TRACE(4, "\nLORVETH_AGENT       : OnPreSnmpQuery() - GET request; check reportvalue");
  return ExecuteGET(request_type, varbinds, error_status, error_index) == 0;
}

std::string CThresholdAgent::LastSetResultMessage() const {
  std::lock_guard lock(message_lock_);
  return last_set_result_;
}

void CThresholdAgent::SetLastSetResultMessage(const char* text) {
  std::lock_guard lock(message_lock_);
  last_set_result_ = text != nullptr ? text : "";
}

DWORD CThresholdAgent::fGetConfigChangedTime(SnmpVarBind* varbind, DWORD /*mode*/) {
  const int64_t changed = LatestConfigChangeTime();
  SetVarbindNumber(varbind, static_cast<DWORD>(changed), ASN_INTEGER);
  if (GetTrace().IsActive()) {
    if (changed != 0) {
      const time_t seconds = static_cast<time_t>(changed);
      struct tm local {};
      char text[64] = "";
      if (localtime_r(&seconds, &local) != nullptr) {
        std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &local);
      }
      TRACE(3,
            "\nLORVETH_AGENT       : fGetConfigChangedTime - last configuration change time = %s",
            text);
    } else {
      TRACE(
          3,
          "\nLORVETH_AGENT       : fGetConfigChangedTime - no configuration change time available!");
    }
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::fGetLastSetResultMsg(SnmpVarBind* varbind, DWORD /*mode*/) {
  const std::string message = LastSetResultMessage();
  SetVarbindText(varbind, message.c_str(), ASN_OCTETSTRING);
  TRACE(3, "\nLORVETH_AGENT       : fGetLastSetResultMsg - last SET result message = \"%s\"",
        message.c_str());
  return SNMP_ERRORSTATUS_NOERROR;
}
