// GET and GET-NEXT of the recorded report values, fetched from the threshold
// module one record at a time.  The MIB tree holds only one placeholder per
// report under reportValueRecordTable; a record instance is the placeholder's
// OID followed by the record number, counted from 1.
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

// Whether oid begins with the table's OID (the table's own OID included).
bool IsUnder(const AsnObjectIdentifier& oid, const char* table) {
  if (oid.ids == nullptr) return false;
  OidOwner prefix;
  if (!OidFromString(table, prefix.Get())) return false;
  if (oid.idLength < prefix->idLength) return false;
  AsnObjectIdentifier view = oid;
  return SnmpUtilOidNCmp(&view, prefix.Get(), prefix->idLength) == 0;
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

}  // namespace

int CThresholdAgent::ExecuteGET(BYTE request_type, SnmpVarBindList* varbinds,
                                AsnInteger32* /*error_status*/, AsnInteger32* /*error_index*/) {
  if (varbinds == nullptr || (varbinds->len != 0 && varbinds->list == nullptr)) return 0;
  int handled = 0;

  if (request_type == SNMP_PDU_GET) {
    for (UINT i = 0; i < varbinds->len; ++i) {
      SnmpVarBind* varbind = &varbinds->list[i];
      if (!IsUnder(varbind->name, kValueRecordTable)) continue;
      TRACE(3, "\nLORVETH_AGENT       : ExecuteGET(): Request for reportValueRecordTable");
      const std::string name = RowNameAt(varbind->name, kRecordNamePosition);
      TRACE(3, "\nLORVETH_AGENT       :  ExecuteGET(): index (%s) and create XML doc",
            name.c_str());
      const DWORD record =
          varbind->name.idLength != 0 ? varbind->name.ids[varbind->name.idLength - 1] : 0;
      std::string value;
      if (ReadRecord(SwitchClient(), name, record, false, &value) &&
          SetVarbindText(varbind, value.c_str(), ASN_OCTETSTRING)) {
        handled = 1;
        TRACE(3, "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\": %s",
              name.c_str(), value.c_str());
      } else {
        TRACE(3,
              "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\":  not "
              "available",
              name.c_str());
      }
    }
    return handled;
  }

  if (request_type != SNMP_PDU_GETNEXT) return 0;

  for (UINT i = 0; i < varbinds->len; ++i) {
    SnmpVarBind* varbind = &varbinds->list[i];
    TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID (%s)", OidToString(&varbind->name));
    OidOwner current;
    if (!CopyOid(current.Get(), &varbind->name)) continue;

    // A walk that leaves the last reportIndexTable row continues at the first
    // report's placeholder in the record table.
    if (IsUnder(*current.Get(), kReportIndexTable)) {
      TRACE(3,
            "\nLORVETH_AGENT       : GETNEXT(): OID %s is in Range \"reportValueRecordPropTable\"",
            OidToString(current.Get()));
      VarBindOwner next;
      if (CopyOid(&next->name, current.Get()) && GetNextMibEntry(next.Get()) &&
          IsUnder(next->name, kValueRecordTable)) {
        TRACE(
            5,
            "\nLORVETH_AGENT       : GETNEXT(): next OID (%s) is in the Range \"ValueRecordTable\"",
            OidToString(&next->name));
        if (!CopyOid(&varbind->name, &next->name) || !CopyOid(current.Get(), &next->name)) {
          continue;
        }
      }
    }

    if (!IsUnder(*current.Get(), kValueRecordTable)) continue;
    TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID is in Range reportValueRecordTable");

    for (;;) {
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): Search next Oid for (%s)",
            OidToString(current.Get()));
      DWORD record = 1;
      // Past the last possible record of a report there is none to ask for:
      // the answer would not follow the requested OID.
      bool exhausted = false;
      if (current->idLength <= kRecordNamePosition) {
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): OID specified without ReportName (%d !> %d)",
              static_cast<int>(current->idLength), static_cast<int>(kRecordNamePosition));
        VarBindOwner next;
        if (!CopyOid(&next->name, current.Get())) return 0;
        // Past the last entry there is nothing left for this table either.
        const bool found = GetNextMibEntry(next.Get());
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID found is (%s)",
              OidToString(&next->name));
        if (!found || !IsUnder(next->name, kValueRecordTable)) {
          TRACE(5,
                "\nLORVETH_AGENT       : GETNEXT(): next value out of range -> do not handle in "
                "ValueRecordTable");
          return 0;
        }
        if (!CopyOid(current.Get(), &next->name)) return 0;
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID %s ", OidToString(current.Get()));
        if (!AppendSubid(current.Get(), 1)) return 0;
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
          if (!AppendSubid(current.Get(), 1)) return 0;
          TRACE(5,
                "\nLORVETH_AGENT       : GETNEXT(): No index available, take %d as the first one",
                static_cast<int>(record));
        }
      }

      const std::string name = RowNameAt(*current.Get(), kRecordNamePosition);
      std::string value;
      bool found_record = false;
      if (!exhausted) {
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): fetch report value (%s)[%d] from VARN",
              name.c_str(), static_cast<int>(record));
        found_record = ReadRecord(SwitchClient(), name, record, true, &value);
      }
      if (found_record) {
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): VARN has data");
        current->ids[current->idLength - 1] = record;
        if (SetVarbindText(varbind, value.c_str(), ASN_OCTETSTRING) &&
            CopyOid(&varbind->name, current.Get())) {
          handled = 1;
        }
        TRACE(4, "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\":\n",
              name.c_str());
        TRACE(5, "\n %s", value.c_str());
        break;
      }

      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): VARN has no data -> get next value record");
      // current still ends in the record asked for (or the appended 1), so the
      // next entry is the following report's placeholder.
      VarBindOwner next;
      if (!CopyOid(&next->name, current.Get())) return 0;
      const bool found = GetNextMibEntry(next.Get());
      TRACE(5, "\nLORVETH_AGENT       : GETNEXT(): new OID found is (%s)",
            OidToString(&next->name));
      if (!found || !IsUnder(next->name, kValueRecordTable)) {
        TRACE(5, "\nLORVETH_AGENT       : GETNEXT():not within range of recordvalue. Bailing out");
        return 0;
      }
      if (!CopyOid(current.Get(), &next->name)) return 0;
      TRACE(5,
            "\nLORVETH_AGENT       : ReportReadRecord - current value of resource \"%s\" not "
            "available",
            name.c_str());
    }
  }
  return handled;
}
