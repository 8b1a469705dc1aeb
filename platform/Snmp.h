/* SNMP types and utility functions of the extension-agent interface.
 *
 * This header is the ABI between an SNMP service and any extension agent: the
 * structures keep the Windows layouts, and all memory they point to comes from
 * SnmpUtilMemAlloc (malloc-compatible), so that either side may free what the
 * other allocated.  Usable from C.
 *
 *   AsnObjectIdentifier oid = {0, NULL};
 *   SnmpUtilOidCpy(&oid, &source);   // deep copy
 *   SnmpUtilOidFree(&oid);           // leaves {0, NULL}
 */
#ifndef LORVETH_PLATFORM_SNMP_H
#define LORVETH_PLATFORM_SNMP_H

#include <stddef.h>

#include "platform/WinTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t AsnInteger32;
typedef uint32_t AsnUnsigned32;
typedef uint32_t AsnCounter32;
typedef uint32_t AsnGauge32;
typedef uint32_t AsnTimeticks;

typedef struct {
  uint64_t QuadPart;
} AsnCounter64;

typedef struct {
  BYTE* stream;
  UINT length;
  BOOL dynamic; /* TRUE: stream was allocated with SnmpUtilMemAlloc and is freed with it */
} AsnOctetString;

typedef struct {
  UINT idLength;
  UINT* ids;
} AsnObjectIdentifier;

typedef AsnOctetString AsnBits;
typedef AsnOctetString AsnSequence;
typedef AsnOctetString AsnIPAddress;
typedef AsnOctetString AsnNetworkAddress;
typedef AsnOctetString AsnDisplayString;
typedef AsnOctetString AsnOpaque;
typedef AsnObjectIdentifier AsnObjectName;

typedef struct {
  BYTE asnType;
  union {
    AsnInteger32 number;
    AsnUnsigned32 unsigned32;
    AsnCounter64 counter64;
    AsnOctetString string;
    AsnBits bits;
    AsnObjectIdentifier object;
    AsnSequence sequence;
    AsnIPAddress address;
    AsnCounter32 counter;
    AsnGauge32 gauge;
    AsnTimeticks ticks;
    AsnOpaque arbitrary;
  } asnValue;
} AsnAny;

typedef AsnAny AsnObjectSyntax;

typedef struct {
  AsnObjectName name;
  AsnObjectSyntax value;
} SnmpVarBind;

typedef struct {
  SnmpVarBind* list;
  UINT len;
} SnmpVarBindList;

/* ASN.1 type tags */
#define ASN_INTEGER 0x02
#define ASN_INTEGER32 ASN_INTEGER
#define ASN_BITS 0x03
#define ASN_OCTETSTRING 0x04
#define ASN_NULL 0x05
#define ASN_OBJECTIDENTIFIER 0x06
#define ASN_SEQUENCE 0x30
#define ASN_IPADDRESS 0x40
#define ASN_COUNTER32 0x41
#define ASN_GAUGE32 0x42
#define ASN_TIMETICKS 0x43
#define ASN_OPAQUE 0x44
#define ASN_COUNTER64 0x46
#define ASN_UNSIGNED32 0x47

/* Request types */
#define SNMP_PDU_GET 0xA0
#define SNMP_PDU_GETNEXT 0xA1
#define SNMP_PDU_RESPONSE 0xA2
#define SNMP_PDU_SET 0xA3
#define SNMP_PDU_V1TRAP 0xA4
#define SNMP_PDU_GETBULK 0xA5

/* Error status codes */
#define SNMP_ERRORSTATUS_NOERROR 0
#define SNMP_ERRORSTATUS_TOOBIG 1
#define SNMP_ERRORSTATUS_NOSUCHNAME 2
#define SNMP_ERRORSTATUS_BADVALUE 3
#define SNMP_ERRORSTATUS_READONLY 4
#define SNMP_ERRORSTATUS_GENERR 5
#define SNMP_ERRORSTATUS_NOACCESS 6
#define SNMP_ERRORSTATUS_WRONGTYPE 7
#define SNMP_ERRORSTATUS_WRONGLENGTH 8
#define SNMP_ERRORSTATUS_WRONGENCODING 9
#define SNMP_ERRORSTATUS_WRONGVALUE 10
#define SNMP_ERRORSTATUS_NOCREATION 11
#define SNMP_ERRORSTATUS_INCONSISTENTVALUE 12
#define SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE 13
#define SNMP_ERRORSTATUS_COMMITFAILED 14
#define SNMP_ERRORSTATUS_UNDOFAILED 15
#define SNMP_ERRORSTATUS_AUTHORIZATIONERROR 16
#define SNMP_ERRORSTATUS_NOTWRITABLE 17
#define SNMP_ERRORSTATUS_INCONSISTENTNAME 18

/* Generic trap types */
#define SNMP_GENERICTRAP_COLDSTART 0
#define SNMP_GENERICTRAP_WARMSTART 1
#define SNMP_GENERICTRAP_LINKDOWN 2
#define SNMP_GENERICTRAP_LINKUP 3
#define SNMP_GENERICTRAP_AUTHFAILURE 4
#define SNMP_GENERICTRAP_EGPNEIGHLOSS 5
#define SNMP_GENERICTRAP_ENTERSPECIFIC 6

/* Results of the SnmpUtil functions */
#define SNMPAPI_NOERROR TRUE
#define SNMPAPI_ERROR FALSE

/* The five entry points that an extension agent exports. */
typedef BOOL (*PFNSNMPEXTENSIONINIT)(DWORD dwUpTimeReference, HANDLE* phSubagentTrapEvent,
                                     AsnObjectIdentifier* pFirstSupportedRegion);
typedef BOOL (*PFNSNMPEXTENSIONINITEX)(AsnObjectIdentifier* pNextSupportedRegion);
typedef BOOL (*PFNSNMPEXTENSIONQUERY)(BYTE bPduType, SnmpVarBindList* pVarBindList,
                                      AsnInteger32* pErrorStatus, AsnInteger32* pErrorIndex);
typedef BOOL (*PFNSNMPEXTENSIONTRAP)(AsnObjectIdentifier* pEnterprise, AsnInteger32* pGenericTrap,
                                     AsnInteger32* pSpecificTrap, AsnTimeticks* pTimeStamp,
                                     SnmpVarBindList* pVarBindList);
typedef void (*PFNSNMPEXTENSIONCLOSE)(void);

/* Memory: zero-filled allocation; all three accept and return NULL safely. */
LPVOID SnmpUtilMemAlloc(UINT nBytes);
LPVOID SnmpUtilMemReAlloc(LPVOID pMem, UINT nBytes);
void SnmpUtilMemFree(LPVOID pMem);

/* OIDs.  Cmp orders sub-identifier by sub-identifier as unsigned numbers, the
 * shorter of two OIDs that share a prefix first; NCmp compares at most n
 * sub-identifiers. */
INT SnmpUtilOidCpy(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc);
INT SnmpUtilOidAppend(AsnObjectIdentifier* pOidDst, AsnObjectIdentifier* pOidSrc);
INT SnmpUtilOidCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2);
INT SnmpUtilOidNCmp(AsnObjectIdentifier* pOid1, AsnObjectIdentifier* pOid2, UINT nSubIds);
void SnmpUtilOidFree(AsnObjectIdentifier* pOid);

/* Octet strings and values.  Copies are deep and dynamic. */
INT SnmpUtilOctetsCpy(AsnOctetString* pOctetsDst, AsnOctetString* pOctetsSrc);
void SnmpUtilOctetsFree(AsnOctetString* pOctets);
INT SnmpUtilAsnAnyCpy(AsnAny* pAnyDst, AsnAny* pAnySrc);
void SnmpUtilAsnAnyFree(AsnAny* pAny);

/* Varbinds and lists: deep copies; frees leave an empty name and a NULL value
 * (lists: no entries). */
INT SnmpUtilVarBindCpy(SnmpVarBind* pVbDst, SnmpVarBind* pVbSrc);
void SnmpUtilVarBindFree(SnmpVarBind* pVb);
INT SnmpUtilVarBindListCpy(SnmpVarBindList* pVblDst, SnmpVarBindList* pVblSrc);
void SnmpUtilVarBindListFree(SnmpVarBindList* pVbl);

#ifdef __cplusplus
}
#endif

#endif /* LORVETH_PLATFORM_SNMP_H */
