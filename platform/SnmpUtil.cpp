// The SnmpUtil functions of the extension-agent interface, on the C heap.
#include <cstdlib>
#include <cstring>

#include "platform/Snmp.h"

namespace {

bool IsDynamicValueType(BYTE type) {
  switch (type) {
    case ASN_OCTETSTRING:
    case ASN_BITS:
    case ASN_SEQUENCE:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

LPVOID SnmpUtilMemAlloc(UINT nBytes) {
  // Zero-filled as the Windows allocator is; a zero-byte request still gives a
  // distinct block so that callers can tell it from a failure.
  return std::calloc(nBytes == 0 ? 1 : nBytes, 1);
}

LPVOID SnmpUtilMemReAlloc(LPVOID pMem, UINT nBytes) {
  return std::realloc(pMem, nBytes == 0 ? 1 : nBytes);
}

void SnmpUtilMemFree(LPVOID pMem) { std::free(pMem); }

INT SnmpUtilOidCpy(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc) {
  if (pOidDst == nullptr) return SNMPAPI_ERROR;
  pOidDst->idLength = 0;
  pOidDst->ids = nullptr;
  if (pOidSrc == nullptr || pOidSrc->idLength == 0 || pOidSrc->ids == nullptr) {
    return SNMPAPI_NOERROR;
  }
  const size_t bytes = size_t{pOidSrc->idLength} * sizeof(UINT);
  if (bytes > UINT32_MAX) return SNMPAPI_ERROR;
  auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes)));
  if (ids == nullptr) return SNMPAPI_ERROR;
  std::memcpy(ids, pOidSrc->ids, bytes);
  pOidDst->ids = ids;
  pOidDst->idLength = pOidSrc->idLength;
  return SNMPAPI_NOERROR;
}

INT SnmpUtilOidAppend(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc) {
  if (pOidDst == nullptr) return SNMPAPI_ERROR;
  if (pOidSrc == nullptr || pOidSrc->idLength == 0 || pOidSrc->ids == nullptr) {
    return SNMPAPI_NOERROR;
  }
  const uint64_t total = uint64_t{pOidDst->idLength} + pOidSrc->idLength;
  if (total * sizeof(UINT) > UINT32_MAX) return SNMPAPI_ERROR;
  auto* ids = static_cast<UINT*>(
      SnmpUtilMemReAlloc(pOidDst->ids, static_cast<UINT>(total * sizeof(UINT))));
  if (ids == nullptr) return SNMPAPI_ERROR;
  std::memcpy(ids + pOidDst->idLength, pOidSrc->ids, size_t{pOidSrc->idLength} * sizeof(UINT));
  pOidDst->ids = ids;
  pOidDst->idLength = static_cast<UINT>(total);
  return SNMPAPI_NOERROR;
}

INT SnmpUtilOidNCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2, UINT nSubIds) {
  if (pOid1 == nullptr || pOid2 == nullptr) return 0;
  UINT len = nSubIds;
  if (pOid1->idLength < len) len = pOid1->idLength;
  if (pOid2->idLength < len) len = pOid2->idLength;
  for (UINT i = 0; i < len; ++i) {
    if (pOid1->ids[i] != pOid2->ids[i]) return pOid1->ids[i] < pOid2->ids[i] ? -1 : 1;
  }
  // All compared sub-identifiers are equal.  If n of them were compared the
  // OIDs agree over n; otherwise one ended first and the shorter sorts first.
  if (len == nSubIds) return 0;
  if (pOid1->idLength < pOid2->idLength) return -1;
  if (pOid1->idLength > pOid2->idLength) return 1;
  return 0;
}

INT SnmpUtilOidCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2) {
  if (pOid1 == nullptr || pOid2 == nullptr) return 0;
  const UINT longer = pOid1->idLength > pOid2->idLength ? pOid1->idLength : pOid2->idLength;
  return SnmpUtilOidNCmp(pOid1, pOid2, longer);
}

void SnmpUtilOidFree(AsnObjectIdentifier* pOid) {
  if (pOid == nullptr) return;
  SnmpUtilMemFree(pOid->ids);
  pOid->ids = nullptr;
  pOid->idLength = 0;
}

INT SnmpUtilOctetsCpy(AsnOctetString* pOctetsDst, AsnOctetString* pOctetsSrc) {
  if (pOctetsDst == nullptr) return SNMPAPI_ERROR;
  pOctetsDst->stream = nullptr;
  pOctetsDst->length = 0;
  pOctetsDst->dynamic = FALSE;
  if (pOctetsSrc == nullptr || pOctetsSrc->length == 0 || pOctetsSrc->stream == nullptr) {
    return SNMPAPI_NOERROR;
  }
  auto* bytes = static_cast<BYTE*>(SnmpUtilMemAlloc(pOctetsSrc->length));
  if (bytes == nullptr) return SNMPAPI_ERROR;
  std::memcpy(bytes, pOctetsSrc->stream, pOctetsSrc->length);
  pOctetsDst->stream = bytes;
  pOctetsDst->length = pOctetsSrc->length;
  pOctetsDst->dynamic = TRUE;
  return SNMPAPI_NOERROR;
}

void SnmpUtilOctetsFree(AsnOctetString* pOctets) {
  if (pOctets == nullptr) return;
  if (pOctets->dynamic) SnmpUtilMemFree(pOctets->stream);
  pOctets->stream = nullptr;
  pOctets->length = 0;
  pOctets->dynamic = FALSE;
}

INT SnmpUtilAsnAnyCpy(AsnAny* pAnyDst, AsnAny* pAnySrc) {
  if (pAnyDst == nullptr) return SNMPAPI_ERROR;
  std::memset(pAnyDst, 0, sizeof(*pAnyDst));
  pAnyDst->asnType = ASN_NULL;
  if (pAnySrc == nullptr) return SNMPAPI_NOERROR;
  if (pAnySrc->asnType == ASN_OBJECTIDENTIFIER) {
    pAnyDst->asnType = ASN_OBJECTIDENTIFIER;
    return SnmpUtilOidCpy(&pAnyDst->asnValue.object, &pAnySrc->asnValue.object);
  }
  if (IsDynamicValueType(pAnySrc->asnType)) {
    pAnyDst->asnType = pAnySrc->asnType;
    return SnmpUtilOctetsCpy(&pAnyDst->asnValue.string, &pAnySrc->asnValue.string);
  }
  *pAnyDst = *pAnySrc;
  return SNMPAPI_NOERROR;
}

void SnmpUtilAsnAnyFree(AsnAny* pAny) {
  if (pAny == nullptr) return;
  if (pAny->asnType == ASN_OBJECTIDENTIFIER) {
    SnmpUtilOidFree(&pAny->asnValue.object);
  } else if (IsDynamicValueType(pAny->asnType)) {
    SnmpUtilOctetsFree(&pAny->asnValue.string);
  }
  std::memset(&pAny->asnValue, 0, sizeof(pAny->asnValue));
  pAny->asnType = ASN_NULL;
}

INT SnmpUtilVarBindCpy(SnmpVarBind* pVbDst, SnmpVarBind* pVbSrc) {
  if (pVbDst == nullptr) return SNMPAPI_ERROR;
  std::memset(pVbDst, 0, sizeof(*pVbDst));
  pVbDst->value.asnType = ASN_NULL;
  if (pVbSrc == nullptr) return SNMPAPI_NOERROR;
  if (!SnmpUtilOidCpy(&pVbDst->name, &pVbSrc->name)) return SNMPAPI_ERROR;
  if (!SnmpUtilAsnAnyCpy(&pVbDst->value, &pVbSrc->value)) {
    SnmpUtilOidFree(&pVbDst->name);
    return SNMPAPI_ERROR;
  }
  return SNMPAPI_NOERROR;
}

void SnmpUtilVarBindFree(SnmpVarBind* pVb) {
  if (pVb == nullptr) return;
  SnmpUtilOidFree(&pVb->name);
  SnmpUtilAsnAnyFree(&pVb->value);
}

INT SnmpUtilVarBindListCpy(SnmpVarBindList* pVblDst, SnmpVarBindList* pVblSrc) {
  if (pVblDst == nullptr) return SNMPAPI_ERROR;
  pVblDst->list = nullptr;
  pVblDst->len = 0;
  if (pVblSrc == nullptr || pVblSrc->len == 0 || pVblSrc->list == nullptr) {
    return SNMPAPI_NOERROR;
  }
  const uint64_t bytes = uint64_t{pVblSrc->len} * sizeof(SnmpVarBind);
  if (bytes > UINT32_MAX) return SNMPAPI_ERROR;
  auto* list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes)));
  if (list == nullptr) return SNMPAPI_ERROR;
  for (UINT i = 0; i < pVblSrc->len; ++i) {
    if (!SnmpUtilVarBindCpy(&list[i], &pVblSrc->list[i])) {
      for (UINT j = 0; j < i; ++j) SnmpUtilVarBindFree(&list[j]);
      SnmpUtilMemFree(list);
      return SNMPAPI_ERROR;
    }
  }
  pVblDst->list = list;
  pVblDst->len = pVblSrc->len;
  return SNMPAPI_NOERROR;
}

void SnmpUtilVarBindListFree(SnmpVarBindList* pVbl) {
  if (pVbl == nullptr) return;
  if (pVbl->list != nullptr) {
    for (UINT i = 0; i < pVbl->len; ++i) SnmpUtilVarBindFree(&pVbl->list[i]);
    SnmpUtilMemFree(pVbl->list);
  }
  pVbl->list = nullptr;
  pVbl->len = 0;
}

}  // extern "C"
