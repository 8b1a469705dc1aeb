// Events of the threshold module: a changed configuration table is removed
// from the MIB and loaded again; a threshold event becomes a trap.
#include <ctime>
#include <string>

#include "platform/SnmpOwners.h"
#include "switch/SwitchProtocol.h"
#include "threshold/ThresholdAgent.h"
#include "threshold/documents/Formats.h"
#include "threshold/documents/Keywords.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;

namespace {

struct TableRefresh {
  DWORD table_code;
  const char* trace;
  const char* subtrees[2];  // removed in this order; nullptr ends the list
  bool (CThresholdAgent::*loader)();
};

// The report index and value-record placeholders are only re-registered: rows
// of reports that no longer exist stay until the agent restarts.
constexpr TableRefresh kTableRefreshes[] = {
    {sp::kTableRuleSets,
     "\nLORVETH_AGENT       :  Updating Rulesets due to VARN Reply",
     {LORVETH_MIB_OID("1.3.3"), LORVETH_MIB_OID("1.3.4")},
     &CThresholdAgent::InitializeRulesetTables},
    {sp::kTableRules,
     "\nLORVETH_AGENT       :  Updating Rules due to VARN Reply",
     {LORVETH_MIB_OID("1.3.1"), nullptr},
     &CThresholdAgent::InitializeRuleTable},
    {sp::kTableResources,
     "\nLORVETH_AGENT       :  Updating Resources due to VARN Reply",
     {LORVETH_MIB_OID("1.5.1"), nullptr},
     &CThresholdAgent::InitializeResourceTable},
    {sp::kTableTargets,
     "\nLORVETH_AGENT       :  Updating Targets due to VARN Reply",
     {LORVETH_MIB_OID("1.5.3"), nullptr},
     &CThresholdAgent::InitializeTargetTable},
    {sp::kTableEvents,
     "\nLORVETH_AGENT       :  Updating Events due to VARN Reply",
     {LORVETH_MIB_OID("1.3.6"), nullptr},
     &CThresholdAgent::InitializeEventTable},
    {sp::kTableReportSets,
     "\nLORVETH_AGENT       : Updating ReportSet Map due to VARN Reply",
     {LORVETH_MIB_OID("1.4.3"), LORVETH_MIB_OID("1.4.5")},
     &CThresholdAgent::InitializeReportsetTable},
    {sp::kTableReports,
     "\nLORVETH_AGENT       : Updating Report Map due to VARN Reply",
     {LORVETH_MIB_OID("1.4.1"), nullptr},
     &CThresholdAgent::InitializeReportTable},
};

// Specific trap numbers: the first for "critical", then one per severity
// keyword in code order ("major", "minor", "informational").
constexpr DWORD kFirstTrapNumber = 2200;

constexpr const char kServerNameOid[] = LORVETH_MIB_OID("2.1.1.0");
constexpr const char kTimeOid[] = LORVETH_MIB_OID("2.1.2.0");
constexpr const char kRuleNameOid[] = LORVETH_MIB_OID("2.1.3.0");
constexpr const char kValueOid[] = LORVETH_MIB_OID("2.1.4.0");
constexpr const char kCommentOid[] = LORVETH_MIB_OID("2.1.5.0");
constexpr UINT kTrapBindings = 5;

bool SetTextBinding(SnmpVarBind* binding, const char* oid, const std::string& text) {
  return OidFromString(oid, &binding->name) &&
         SetVarbindText(binding, text.c_str(), ASN_OCTETSTRING);
}

}  // namespace

void CThresholdAgent::VarnReply(CommandBuffer* reply) {
  TRACE(5, "\nLORVETH_AGENT       :  VarnReply(): Start ...");
  const CmdHeader* header = reply != nullptr ? reply->Header() : nullptr;
  const DWORD oc = header != nullptr ? header->OC : 0;
  if (oc == sp::kOcThresholdEvent) {
    TRACE(4, "\nVarnReply() - CM_ThresholdEvent, fire threshold change trap");
    SendThresholdTrap(reply);
    TRACE(4, "\nVarnReply() - Threshold change trap sent");
  } else if (oc == sp::kOcStoreConfiguration) {
    for (const TableRefresh& refresh : kTableRefreshes) {
      if (refresh.table_code != header->OE) continue;
      TRACE(2, "%s", refresh.trace);
      // Requests see the table either before or after the reload, never half
      // loaded: request processing holds the same lock.
      CriticalSectionLock lock(RequestLock());
      for (const char* subtree : refresh.subtrees) {
        if (subtree != nullptr) RemoveMibSubtree(subtree);
      }
      (this->*refresh.loader)();
      break;
    }
  }
  TRACE(5, "\nLORVETH_AGENT       :  VarnReply(): ... End");
}

void CThresholdAgent::SendThresholdTrap(CommandBuffer* reply) {
  TRACE(2, "\nLORVETH_AGENT       : ## Threshold event - convert to SNMP trap");
  RecordDocument threshold_document;
  threshold_document.LoadText(reply != nullptr ? reply->DataText() : "");
  const records::ThresholdRecord threshold(threshold_document);
  RecordDocument event_document;
  threshold.CopyEvent(&event_document);
  const records::EventRecord event(event_document);

  const std::string type = event.TypeText();
  if (type != "snmp-trap") {
    TRACE(
        2,
        "\nLORVETH_AGENT       : SendThresholdTrap(): Event type (%s) not \"snmp-trap\" - event ignored",
        type.c_str());
    return;
  }
  const int severity = event.Severity();
  if (severity == records::kNoCode) {
    TRACE(
        1,
        "\nLORVETH_AGENT       : ## ERROR in SendThresholdTrap()! Event severity not available in event data!");
    return;
  }
  const DWORD trap_number = kFirstTrapNumber + static_cast<DWORD>(severity);

  // A threshold document without a Value element reports the value 0.
  const std::string value = records::FormatDecimal(threshold.Value());
  const auto now = static_cast<DWORD>(std::time(nullptr));

  SnmpVarBindList bindings{
      static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(kTrapBindings * sizeof(SnmpVarBind))),
      kTrapBindings};
  if (bindings.list == nullptr) return;
  SnmpVarBind* binding = bindings.list;
  const bool built = SetTextBinding(&binding[0], kServerNameOid, ComputerName()) &&
                     OidFromString(kTimeOid, &binding[1].name) &&
                     SetVarbindNumber(&binding[1], now, ASN_INTEGER) &&
                     SetTextBinding(&binding[2], kRuleNameOid, threshold.RuleName()) &&
                     SetTextBinding(&binding[3], kValueOid, value) &&
                     SetTextBinding(&binding[4], kCommentOid, threshold.RuleComment());
  if (built) {
    TRACE(2, "\nLORVETH_AGENT       : send trap #%d, enterprise %s...", trap_number,
          kTrapEnterprise);
    CreateTrap(kTrapEnterprise, trap_number, &bindings);
  }
  SnmpUtilVarBindListFree(&bindings);
}
