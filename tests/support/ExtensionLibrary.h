// An extension-agent library loaded with dlopen as the SNMP service loads it, with the varbind
// lists and registry reads its tests share. Free of any test framework, for benchmarks too.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Snmp.h"
#include "platform/registry/Registry.h"
#include "platform/system/Threads.h"

namespace test_support {

using Oid = std::vector<UINT>;

// A varbind list owned by the caller, freed through the SNMP allocator.
class VarBinds {
 public:
  VarBinds() = default;
  ~VarBinds() { SnmpUtilVarBindListFree(&list_); }
  VarBinds(const VarBinds&) = delete;
  VarBinds& operator=(const VarBinds&) = delete;

  SnmpVarBind& Add(const Oid& name) {
    list_.list = static_cast<SnmpVarBind*>(
        SnmpUtilMemReAlloc(list_.list, (list_.len + 1) * sizeof(SnmpVarBind)));
    SnmpVarBind& vb = list_.list[list_.len++];
    std::memset(&vb, 0, sizeof vb);
    AsnObjectIdentifier view{static_cast<UINT>(name.size()), const_cast<UINT*>(name.data())};
    SnmpUtilOidCpy(&vb.name, &view);
    vb.value.asnType = ASN_NULL;
    return vb;
  }
  SnmpVarBind& AddInteger(const Oid& name, AsnInteger32 value) {
    SnmpVarBind& vb = Add(name);
    vb.value.asnType = ASN_INTEGER;
    vb.value.asnValue.number = value;
    return vb;
  }
  SnmpVarBind& AddText(const Oid& name, const std::string& text) {
    SnmpVarBind& vb = Add(name);
    auto* bytes = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(text.size())));
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    vb.value.asnType = ASN_OCTETSTRING;
    vb.value.asnValue.string = AsnOctetString{bytes, static_cast<UINT>(text.size()), TRUE};
    return vb;
  }
  SnmpVarBindList* Get() { return &list_; }
  SnmpVarBind& operator[](size_t i) { return list_.list[i]; }
  size_t size() const { return list_.len; }

 private:
  SnmpVarBindList list_{nullptr, 0};
};

inline Oid NameOf(const SnmpVarBind& vb) {
  return Oid(vb.name.ids, vb.name.ids + vb.name.idLength);
}

// A registry value of HKEY_LOCAL_MACHINE as text, "<missing>" when absent.
inline std::string ReadRegistryString(const std::string& key, const char* value) {
  char buffer[512] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_ANY, &type, buffer, &size) !=
      ERROR_SUCCESS) {
    return "<missing>";
  }
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(buffer));
  return buffer;
}

class ExtensionLibrary {
 public:
  explicit ExtensionLibrary(std::string path) : path_(std::move(path)) {}
  ~ExtensionLibrary() { Close(); }
  ExtensionLibrary(const ExtensionLibrary&) = delete;
  ExtensionLibrary& operator=(const ExtensionLibrary&) = delete;

  // Loads the library and binds the entry points; throws when it cannot.
  void Open() {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    Bind(init, "SnmpExtensionInit");
    Bind(init_ex, "SnmpExtensionInitEx");
    Bind(query, "SnmpExtensionQuery");
    Bind(trap, "SnmpExtensionTrap");
    Bind(close, "SnmpExtensionClose");
  }
  template <class F>
  void Bind(F& function, const char* symbol) {
    function = reinterpret_cast<F>(dlsym(handle_, symbol));
    if (function == nullptr) throw std::runtime_error(std::string("missing export ") + symbol);
  }
  bool Init() { return init(GetTickCount() / 10, &trap_event, &region) != FALSE; }
  bool IsOpen() const { return handle_ != nullptr; }
  void Close() {
    if (handle_ == nullptr) return;
    dlclose(handle_);
    handle_ = nullptr;
    SnmpUtilOidFree(&region);
  }

  PFNSNMPEXTENSIONINIT init = nullptr;
  PFNSNMPEXTENSIONINITEX init_ex = nullptr;
  PFNSNMPEXTENSIONQUERY query = nullptr;
  PFNSNMPEXTENSIONTRAP trap = nullptr;
  PFNSNMPEXTENSIONCLOSE close = nullptr;
  HANDLE trap_event = nullptr;
  AsnObjectIdentifier region{0, nullptr};

 private:
  std::string path_;
  void* handle_ = nullptr;
};

}  // namespace test_support
