// OID texts and varbind values: parsing and formatting of dotted OIDs, the
// length-prefixed string index of table rows, value setters and readers, and the
// trace texts of values.
//
//   OidOwner key;
//   OidFromString("1.3.6.1.4.1.32473.2.47.1.3.1.1.1", key.Get());
//   AppendStringIndex(key.Get(), "cpu");            // ...1.1.3.99.112.117
//   TRACE(3, "\n%s", OidToString(key.Get()));
//
// All memory goes through the SNMP allocator, since varbinds cross to and from
// the SNMP service.  The text results of OidToString, VarbindValueText and
// VarbindText live in per-thread buffers that the next call on the same thread
// overwrites; they serve trace output.
#pragma once

#include "platform/Snmp.h"

// Parses OID text: decimal sub-identifiers separated by "."; leading blanks and
// one leading "." are skipped; a part in double quotes stands for its length
// followed by its character codes (an unterminated quote runs to the end).  An
// empty part is the sub-identifier 0.  Fewer than two sub-identifiers, any other
// character, or a number above 4294967295 fail.  oid must be empty or owned: its
// old sub-identifiers are freed.  On failure oid is empty and the result false.
bool OidFromString(const char* text, AsnObjectIdentifier* oid);

// OidToString writes at most this many sub-identifiers; the rest is cut.
constexpr UINT kOidTextMaxSubIds = 1024;

// The OID as "%d" sub-identifiers joined by "."; "" for an empty or absent OID.
// The text lives in a per-thread buffer that the next call overwrites.
const char* OidToString(const AsnObjectIdentifier* oid);

// Appends the length of text, then one sub-identifier per byte (0..255).
// Nothing for a null text, the single sub-identifier 0 for "".  False only when
// memory runs out (oid unchanged).
bool AppendStringIndex(AsnObjectIdentifier* oid, const char* text);

// Types 2, 0x41, 0x42, 0x43, 0x47 store the number; 0x40 stores its four bytes
// as an IpAddress.  Any other type leaves the value NULL and gives false.  The
// old value is freed first.
bool SetVarbindNumber(SnmpVarBind* varbind, DWORD value, BYTE asn_type);

// Null text counts as "".  Type 4: the bytes without terminator; numeric types:
// the leading decimal number of the text (low 32 bits); 6: the text as OID;
// 0x40: the first four sub-identifiers of the text read as OID.  On failure or
// for any other type the value is NULL and the result false.
bool SetVarbindText(SnmpVarBind* varbind, const char* text, BYTE asn_type);

// The OCTET STRING value as text.  Appends a terminating zero to a value whose
// last byte is not zero (the stored value grows by one byte).
const char* GetString(SnmpVarBind* varbind);

// The number of an INTEGER, Counter32, Gauge32 or TimeTicks value, else 0.
AsnInteger32 GetInteger(const SnmpVarBind* varbind);

// Frees what the value owns and makes it NULL.
void FreeVarbindValue(SnmpVarBind* varbind);

// Trace text of a value, e.g. "INTEGER: 5 (0x5)" or "STRING: \"abc\"".
const char* VarbindValueText(const AsnAny* value);

// "Oid=<dotted name>, Value=<VarbindValueText>".
const char* VarbindText(const SnmpVarBind* varbind);
