// A small agent for the MIB tree tests: module name, member callbacks that
// record their calls, and a few behaviours the tests switch on.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "mibtree/SnmpMibTree.h"
#include "mibtree/SnmpVarbind.h"

class TestAgent : public CSnmpMibTree<TestAgent> {
 public:
  struct Call {
    std::string callback;
    std::string oid;
    DWORD mode;
    std::string value;
  };

  const char* GetAgentModuleName() { return "TestAgent"; }

  DWORD Record(const char* callback, SnmpVarBind* varbind, DWORD mode, DWORD status = 0) {
    calls.push_back(
        Call{callback, OidToString(&varbind->name), mode, VarbindValueText(&varbind->value)});
    return status;
  }

  // Answers with the counter as INTEGER and counts up.
  DWORD fGetCounter(SnmpVarBind* varbind, DWORD mode) {
    Record("get", varbind, mode);
    SetVarbindNumber(varbind, counter++, ASN_INTEGER);
    return 0;
  }
  DWORD fPreRead(SnmpVarBind* v, DWORD mode) { return Record("pre", v, mode); }
  DWORD fCheckSet(SnmpVarBind* v, DWORD mode) { return Record("check", v, mode, check_status); }
  DWORD fSet(SnmpVarBind* v, DWORD mode) { return Record("set", v, mode, set_status); }
  DWORD fThrow(SnmpVarBind* varbind, DWORD mode) {
    Record("throw", varbind, mode);
    throw std::runtime_error("callback failed");
  }
  DWORD fThrowInt(SnmpVarBind* varbind, DWORD mode) {
    Record("throw", varbind, mode);
    throw 42;
  }

  std::vector<Call> calls;
  DWORD counter = 100;
  DWORD check_status = 0;
  DWORD set_status = 0;
};

using MibCallback = TestAgent::MibCallback;
using Ids = std::vector<UINT>;

inline Ids IdsOf(const AsnObjectIdentifier& oid) { return Ids(oid.ids, oid.ids + oid.idLength); }

// A varbind built from dotted text, owned by the test.
inline VarBindOwner MakeVarbind(const char* oid_text) {
  VarBindOwner varbind;
  OidFromString(oid_text, &varbind->name);
  return varbind;
}
