// Owners for OIDs and varbinds whose memory comes from the SNMP allocator: they
// free through SnmpUtilOidFree / SnmpUtilVarBindFree when they go out of scope.
//
//   OidOwner oid;
//   if (OidFromString("1.3.6.1", oid.Get())) Use(oid.Get());
//   AsnObjectIdentifier handed_over = oid.Release();   // the caller frees it now
#pragma once

#include <cstring>

#include "platform/Snmp.h"

class OidOwner {
 public:
  OidOwner() = default;
  // Adopts the sub-identifiers of oid.
  explicit OidOwner(AsnObjectIdentifier oid) : oid_(oid) {}
  ~OidOwner() { SnmpUtilOidFree(&oid_); }
  OidOwner(OidOwner&& other) noexcept : oid_(other.Release()) {}
  OidOwner& operator=(OidOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  OidOwner(const OidOwner&) = delete;
  OidOwner& operator=(const OidOwner&) = delete;

  AsnObjectIdentifier* Get() { return &oid_; }
  const AsnObjectIdentifier* Get() const { return &oid_; }
  AsnObjectIdentifier* operator->() { return &oid_; }
  const AsnObjectIdentifier* operator->() const { return &oid_; }

  // Gives up ownership; the owner is empty afterwards.
  AsnObjectIdentifier Release() {
    const AsnObjectIdentifier oid = oid_;
    oid_ = AsnObjectIdentifier{0, nullptr};
    return oid;
  }
  void Reset(AsnObjectIdentifier oid = AsnObjectIdentifier{0, nullptr}) {
    SnmpUtilOidFree(&oid_);
    oid_ = oid;
  }

 private:
  AsnObjectIdentifier oid_{0, nullptr};
};

class VarBindOwner {
 public:
  VarBindOwner() { Clear(varbind_); }
  // Adopts the name and value of varbind.
  explicit VarBindOwner(const SnmpVarBind& varbind) : varbind_(varbind) {}
  ~VarBindOwner() { SnmpUtilVarBindFree(&varbind_); }
  VarBindOwner(VarBindOwner&& other) noexcept : varbind_(other.Release()) {}
  VarBindOwner& operator=(VarBindOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  VarBindOwner(const VarBindOwner&) = delete;
  VarBindOwner& operator=(const VarBindOwner&) = delete;

  SnmpVarBind* Get() { return &varbind_; }
  const SnmpVarBind* Get() const { return &varbind_; }
  SnmpVarBind* operator->() { return &varbind_; }
  const SnmpVarBind* operator->() const { return &varbind_; }

  // Gives up ownership; the owner holds an empty name and a NULL value afterwards.
  SnmpVarBind Release() {
    const SnmpVarBind varbind = varbind_;
    Clear(varbind_);
    return varbind;
  }
  void Reset() {
    SnmpUtilVarBindFree(&varbind_);
    Clear(varbind_);
  }
  void Reset(const SnmpVarBind& varbind) {
    SnmpUtilVarBindFree(&varbind_);
    varbind_ = varbind;
  }

 private:
  static void Clear(SnmpVarBind& varbind) {
    std::memset(&varbind, 0, sizeof varbind);
    varbind.value.asnType = ASN_NULL;
  }

  SnmpVarBind varbind_;
};
