// GET and GET-NEXT of the recorded report values, fetched from the threshold
// module one record at a time.  The MIB tree holds only one placeholder per
// report under reportValueRecordTable; a record instance is the placeholder's
// OID followed by the record number, counted from 1.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/SnmpOwners.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "threshold/RowIndex.h"
#include "threshold/ThresholdAgent.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;

namespace {

// reportIndexTable and reportValueRecordTable.
constexpr const char kReportIndexTable[] = LORVETH_MIB_OID("1.4.7");
constexpr const char kValueRecordTable[] = LORVETH_MIB_OID("1.4.8");
// The row name of a record instance starts behind root.1.4.8.1.<column>.
constexpr UINT kRecordNamePosition = 14;

// A table's OID, parsed once: every GET and GET-NEXT asks whether its varbinds
// fall into one of these tables.
const AsnObjectIdentifier& TableOid(const char* table) {
  static const OidOwner report_index = [] {
    OidOwner oid;
    OidFromString(kReportIndexTable, oid.Get());
    return oid;
  }();
  static const OidOwner value_record = [] {
    OidOwner oid;
    OidFromString(kValueRecordTable, oid.Get());
    return oid;
  }();
  return *(table == kReportIndexTable ? report_index : value_record).Get();
}

// Whether oid begins with the table's OID (the table's own OID included).
bool IsUnder(const AsnObjectIdentifier& oid, const char* table) {
  if (oid.ids == nullptr) return false;
  const AsnObjectIdentifier& prefix = TableOid(table);
  if (prefix.ids == nullptr || oid.idLength < prefix.idLength) return false;
  return std::equal(prefix.ids, prefix.ids + prefix.idLength, oid.ids);
}

// Whether the OID holds a sub-identifier behind the length-prefixed name that
// starts at kRecordNamePosition.  The length is the OID's own, so it may be
// any 32-bit number.
bool HasRecordNumber(const AsnObjectIdentifier& oid) {
  const uint64_t name_length = oid.ids[kRecordNamePosition];
  return name_length + kRecordNamePosition + 1 < oid.idLength;
}

bool AppendSubid(AsnObjectIdentifier* oid, UINT subid) {
  AsnObjectIdentifier suffix{1, &subid};
  return SnmpUtilOidAppend(oid, &suffix) == SNMPAPI_NOERROR;
}

bool CopyOid(AsnObjectIdentifier* target, const AsnObjectIdentifier* source) {
  AsnObjectIdentifier copy{0, nullptr};
  if (!SnmpUtilOidCpy(&copy, const_cast<AsnObjectIdentifier*>(source))) return false;
  SnmpUtilOidFree(target);
  *target = copy;
  return true;
}

// One record of a report: the read command carries the report name and the
// record number minus one, whole in OID for a GET, split over OE (high half)
// and OID (low half) for a GET-NEXT.  The record exists when the module
// answers with a good status and data; its value is that data as text.
bool ReadRecord(CSwitchClient& client, const std::string& name, DWORD record, bool split,
                std::string* value) {
  const DWORD index = record - 1;
  const DWORD oe = split ? index >> 16 : 0;
  const DWORD oid = split ? index & 0xFFFF : index;
  CommandBuffer request;
  request.BuildFrame(sp::kOcReportRecordValue, oe, oid, sp::kAgentCabinet, sp::kStatNoData,
                     name.c_str(), static_cast<DWORD>(name.size() + 1));
  request.SendRequest(client, 0, 0, 0);
  if (!request.HasReplyData(0, false)) return false;
  value->assign(request.DataText());
  return true;
}

// GET of one varbind: true when it named a record that the module delivered.
bool GetRecord(CThresholdAgent& agent, SnmpVarBind* varbind) {
  if (!IsUnder(varbind->name, kValueRecordTable)) return false;
  TRACE(3, "\nLORVETH_AGENT       : ExecuteGET(): Request for reportValueRecordTable");
  const std::string name = RowNameAt(varbind->name, kRecordNamePosition);
  TRACE(3, "\nLORVETH_AGENT       :  ExecuteGET(): index (%s) and create XML doc", name.c_str());
  const DWORD record =
      varbind->name.idLength != 0 ? varbind->name.ids[varbind->name.idLength - 1] : 0;
  std::string value;
  if (ReadRecord(agent.SwitchClient(), name, record, false, &value) &&
      SetVarbindText(varbind, value.c_str(), ASN_OCTETSTRING)) {
    TRACE(3, "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\": %s",
          name.c_str(), value.c_str());
    return true;
  }
  TRACE(3,
        "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\":  not "
        "available",
        name.c_str());
  return false;
}

enum class NextOutcome {
  kAnswered,  // the varbind holds a record
  kPassed,    // not a record-table varbind; left to the MIB tree
  kGiveUp,    // no record follows: the MIB tree takes the whole request
};

// The registered entry after `oid` into *next; false past the last entry.
bool NextEntry(CThresholdAgent& agent, const AsnObjectIdentifier* oid, VarBindOwner* next) {
  return CopyOid(&(*next)->name, oid) && agent.GetNextMibEntry(next->Get());
}

// GET-NEXT of one varbind: the search over reports and records.
NextOutcome GetNextRecord(CThresholdAgent& agent, SnmpVarBind* varbind) {
  TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID (%s)", OidToString(&varbind->name));
  if (!IsUnder(varbind->name, kReportIndexTable) && !IsUnder(varbind->name, kValueRecordTable)) {
    return NextOutcome::kPassed;
  }
  OidOwner current;
  if (!CopyOid(current.Get(), &varbind->name)) return NextOutcome::kPassed;

  // A walk that leaves the last reportIndexTable row continues at the first
  // report's placeholder in the record table.
  if (IsUnder(*current.Get(), kReportIndexTable)) {
    TRACE(3, "\nLORVETH_AGENT       : GETNEXT(): OID %s is in Range \"reportValueRecordPropTable\"",
          OidToString(current.Get()));
    VarBindOwner next;
    if (NextEntry(agent, current.Get(), &next) && IsUnder(next->name, kValueRecordTable)) {
      TRACE(5,
            "\nLORVETH_AGENT       : GETNEXT(): next OID (%s) is in the Range \"ValueRecordTable\"",
            OidToString(&next->name));
      if (!CopyOid(&varbind->name, &next->name) || !CopyOid(current.Get(), &next->name)) {
        return NextOutcome::kPassed;
      }
    }
  }

  if (!IsUnder(*current.Get(), kValueRecordTable)) return NextOutcome::kPassed;
  TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID is in Range reportValueRecordTable");

  for (;;) {
    TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): Search next Oid for (%s)",
          OidToString(current.Get()));
    DWORD record = 1;
    // After record number 2^32 - 1 no record can follow in the same report.
    bool exhausted = false;
    if (current->idLength <= kRecordNamePosition) {
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID specified without ReportName (%d !> %d)",
            static_cast<int>(current->idLength), static_cast<int>(kRecordNamePosition));
      VarBindOwner next;
      // Past the last entry of the tree no placeholder follows either.
      const bool found = NextEntry(agent, current.Get(), &next);
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID found is (%s)",
            OidToString(found ? &next->name : current.Get()));
      if (!found || !IsUnder(next->name, kValueRecordTable)) {
        TRACE(5,
              "\nLORVETH_AGENT       : GETNEXT(): next value out of range -> do not handle in "
              "ValueRecordTable");
        return NextOutcome::kGiveUp;
      }
      if (!CopyOid(current.Get(), &next->name)) return NextOutcome::kGiveUp;
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID %s ", OidToString(current.Get()));
      if (!AppendSubid(current.Get(), 1)) return NextOutcome::kGiveUp;
    } else {
      TRACE(5,
            "\nLORVETH_AGENT       : GETNEXT(): OID specified WITH ReportName, Check for Index "
            "... ");
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): Request for reportValueRecordTable");
      if (HasRecordNumber(*current.Get())) {
        const DWORD last = current->ids[current->idLength - 1];
        exhausted = last == UINT32_MAX;
        record = last + 1;
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): Index available, take %d as next one",
              static_cast<int>(record));
      } else {
        if (!AppendSubid(current.Get(), 1)) return NextOutcome::kGiveUp;
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): No index available, take %d as the first one",
              static_cast<int>(record));
      }
    }

    const std::string name = RowNameAt(*current.Get(), kRecordNamePosition);
    std::string value;
    bool found_record = false;
    if (!exhausted) {
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): fetch report value (%s)[%d] from VARN",
            name.c_str(), static_cast<int>(record));
      found_record = ReadRecord(agent.SwitchClient(), name, record, true, &value);
    }
    if (found_record) {
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): VARN has data");
      current->ids[current->idLength - 1] = record;
      const bool answered = SetVarbindText(varbind, value.c_str(), ASN_OCTETSTRING) &&
                            CopyOid(&varbind->name, current.Get());
      TRACE(4, "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\":\n",
            name.c_str());
      TRACE(5, "\n %s", value.c_str());
      return answered ? NextOutcome::kAnswered : NextOutcome::kPassed;
    }

    TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): VARN has no data -> get next value record");
    // current still ends in the number it came with, or in the appended 1:
    // what follows it is the next report's placeholder.
    VarBindOwner next;
    const bool found = NextEntry(agent, current.Get(), &next);
    TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID found is (%s)",
          OidToString(found ? &next->name : current.Get()));
    if (!found || !IsUnder(next->name, kValueRecordTable)) {
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT():not within range of recordvalue. Bailing out");
      return NextOutcome::kGiveUp;
    }
    if (!CopyOid(current.Get(), &next->name)) return NextOutcome::kGiveUp;
    TRACE(5,
          "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\" not "
          "available",
          name.c_str());
  }
}

}  // namespace

int CThresholdAgent::ExecuteGET(BYTE request_type, SnmpVarBindList* varbinds,
                                AsnInteger32* /*error_status*/, AsnInteger32* /*error_index*/) {
  if (request_type != SNMP_PDU_GET && request_type != SNMP_PDU_GETNEXT) return 0;
  if (varbinds == nullptr || (varbinds->len != 0 && varbinds->list == nullptr)) return 0;
  int handled = 0;
  for (UINT i = 0; i < varbinds->len; ++i) {
    SnmpVarBind* varbind = &varbinds->list[i];
    if (request_type == SNMP_PDU_GET) {
      if (GetRecord(*this, varbind)) handled = 1;
      continue;
    }
    switch (GetNextRecord(*this, varbind)) {
      case NextOutcome::kAnswered:
        handled = 1;
        break;
      case NextOutcome::kPassed:
        break;
      case NextOutcome::kGiveUp:
        // Even after answered varbinds: the tree serves the request as it
        // now stands.
        return 0;
    }
  }
  return handled;
}
