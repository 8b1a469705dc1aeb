// The MIB root of the threshold agent, 1.3.6.1.4.1.<enterprise>.2.47, and the
// OID texts derived from it.  The enterprise number is the build's
// LORVETH_ENTERPRISE_NUMBER, which the build reads from the MIB module
// (cmake/MibRoot.cmake); no code spells it.
//
//   AddConstMibEntry(LORVETH_MIB_OID("1.1.1.0"), "threshAgentId", text, ASN_OCTETSTRING, 0);
#pragma once

#ifndef LORVETH_ENTERPRISE_NUMBER
#error "LORVETH_ENTERPRISE_NUMBER must be defined by the build"
#endif

#define LORVETH_MIB_TEXT_(x) #x
#define LORVETH_MIB_TEXT(x) LORVETH_MIB_TEXT_(x)

// The root as a string literal, and an OID below it: LORVETH_MIB_OID("1.3.1").
#define LORVETH_MIB_ROOT "1.3.6.1.4.1." LORVETH_MIB_TEXT(LORVETH_ENTERPRISE_NUMBER) ".2.47"
#define LORVETH_MIB_OID(relative) LORVETH_MIB_ROOT "." relative

inline constexpr const char kMibRoot[] = LORVETH_MIB_ROOT;
// Sub-identifiers of the root: 1.3.6.1.4.1, the enterprise, 2, 47.
inline constexpr unsigned kMibRootLength = 9;
// The trap enterprise, root.2.
inline constexpr const char kTrapEnterprise[] = LORVETH_MIB_OID("2");
