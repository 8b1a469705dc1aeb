// The agent's MIB tree: an ordered store of object instances (scalars and table
// cells) with their values, access and callbacks, the operations that register
// and remove them, the GET / GET-NEXT / SET operations on single varbinds, and
// the list of MIB regions the agent announces.
//
// The agent class derives from the tree (class CSnmpAgent : public
// CSnmpMibTree<CSnmpAgent>, ...), so that callbacks are member functions of the
// agent, also of classes derived from it:
//
//   AddVarMibEntry("1.3.6.1.4.1.32473.2.47.1.2.2.0", "threshThresholdStatus", ASN_INTEGER,
//                  static_cast<MibCallback>(&CThresholdAgent::fGetThresholdStatus),
//                  nullptr, nullptr, nullptr, kMibReadOnly, 0);
//
// Thread safety: every operation holds the tree lock for its whole duration,
// callbacks included.  The lock is re-entrant, so a callback may use the tree
// again on the same thread.  TAgent must provide `const char* GetAgentModuleName()`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mibtree/SnmpVarbind.h"
#include "mibtree/detail/EntryStore.h"
#include "mibtree/detail/MibEntry.h"
#include "platform/Snmp.h"
#include "platform/SnmpOwners.h"
#include "platform/system/Threads.h"
#include "trace/FileDebug.h"

// Modes in which a callback is called.
constexpr DWORD kMibModeGet = 0;
constexpr DWORD kMibModeSet = 1;
constexpr DWORD kMibModeCheckSet = 2;
constexpr DWORD kMibModePreRead = 3;

// Access bytes: only read-write entries accept a SET.
constexpr BYTE kMibReadOnly = 0;
constexpr BYTE kMibReadWrite = 2;

// Number index of a table cell that has none (the key ends with the text index).
constexpr DWORD kNoNumberIndex = 0xFFFFFFFFu;

template <class TAgent>
class CSnmpMibTree {
 public:
  // Called on the agent with the varbind to fill or to check and the mode; returns
  // an SNMP error status.  An exception thrown by a callback becomes status 5.
  using MibCallback = DWORD (TAgent::*)(SnmpVarBind* varbind, DWORD mode);

  // What an entry holds besides its varbind (for inspection).
  struct MibEntryInfo {
    const char* object_name = "";
    BYTE access = kMibReadOnly;
    DWORD user_word = 0;
    MibCallback get = nullptr;
    MibCallback set = nullptr;
    MibCallback check_set = nullptr;
    MibCallback pre_read = nullptr;
  };

  CSnmpMibTree() { InitializeCriticalSection(&lock_); }
  ~CSnmpMibTree() {
    ClearMib();
    DeleteCriticalSection(&lock_);
  }
  CSnmpMibTree(const CSnmpMibTree&) = delete;
  CSnmpMibTree& operator=(const CSnmpMibTree&) = delete;

  // Registration.  Each operation creates the entry or updates the entry already
  // registered under the same OID, and writes one trace line.  The result is
  // false, and nothing changes, when the OID text does not parse.  A value that
  // does not suit its type is stored as NULL.

  // A constant scalar holding value (number types, or 0x40 for its four bytes).
  bool AddConstMibEntry(const char* oid_text, const char* object_name, DWORD value, BYTE asn_type,
                        BYTE access) {
    VarBindOwner value_holder;
    SetVarbindNumber(value_holder.Get(), value, asn_type);
    return AddConstScalar(oid_text, object_name, value_holder, access);
  }
  bool AddConstMibEntry(const char* oid_text, const char* object_name, int value, BYTE asn_type,
                        BYTE access) {
    return AddConstMibEntry(oid_text, object_name, static_cast<DWORD>(value), asn_type, access);
  }
  // A constant scalar holding the value text converted to asn_type.
  bool AddConstMibEntry(const char* oid_text, const char* object_name, const char* value_text,
                        BYTE asn_type, BYTE access) {
    VarBindOwner value_holder;
    SetVarbindText(value_holder.Get(), value_text, asn_type);
    return AddConstScalar(oid_text, object_name, value_holder, access);
  }

  // A scalar served by callbacks; its stored value is asn_type with zero data.
  bool AddVarMibEntry(const char* oid_text, const char* object_name, BYTE asn_type,
                      MibCallback get, MibCallback set, MibCallback check_set,
                      MibCallback pre_read, BYTE access, DWORD user_word) {
    OidOwner key;
    if (!ParseKey(oid_text, object_name, key)) return false;
    VarBindOwner value_holder;
    value_holder->value.asnType = asn_type;
    CriticalSectionLock lock(lock_);
    const Entry* entry = StoreEntry(key, value_holder, object_name,
                                    CallbackSet{get, set, check_set, pre_read}, access, user_word);
    if (entry == nullptr) return false;
    TRACE(1, "\n## Var MIB entry:     %-30s - %s", entry->object_name, EntryText(*entry));
    return true;
  }

  // A read-only table cell under column_oid_text, indexed by text_index and, unless
  // it is kNoNumberIndex, by number_index.
  bool AddConstTableEntry(const char* column_oid_text, const char* object_name,
                          const char* value_text, BYTE asn_type, const char* text_index,
                          DWORD number_index) {
    VarBindOwner value_holder;
    SetVarbindText(value_holder.Get(), value_text, asn_type);
    return AddConstCell(column_oid_text, object_name, value_holder, text_index, number_index);
  }
  bool AddConstTableEntry(const char* column_oid_text, const char* object_name, DWORD value,
                          BYTE asn_type, const char* text_index, DWORD number_index) {
    VarBindOwner value_holder;
    SetVarbindNumber(value_holder.Get(), value, asn_type);
    return AddConstCell(column_oid_text, object_name, value_holder, text_index, number_index);
  }
  bool AddConstTableEntry(const char* column_oid_text, const char* object_name, int value,
                          BYTE asn_type, const char* text_index, DWORD number_index) {
    return AddConstTableEntry(column_oid_text, object_name, static_cast<DWORD>(value), asn_type,
                              text_index, number_index);
  }

  // A table cell served by callbacks, indexed by text_index.  Re-registering it
  // keeps the value stored in it (by a SET, for example).
  bool AddVarTableEntry(const char* column_oid_text, const char* object_name, MibCallback get,
                        MibCallback set, MibCallback check_set, MibCallback pre_read, BYTE access,
                        const char* text_index) {
    CriticalSectionLock lock(lock_);
    Column* column = nullptr;
    if (!CellKey(column_oid_text, object_name, text_index, kNoNumberIndex, &column)) return false;
    const mibtree::detail::KeySpan key{cell_key_.data(), cell_key_.size()};
    if (!KeyFits(key, object_name)) return false;
    uint16_t callbacks = 0;
    if (!FindCallbackSet(CallbackSet{get, set, check_set, pre_read}, &callbacks)) return false;
    const Entry& entry = FindOrInsertCell(*column, key);
    entry.callbacks = callbacks;
    entry.access = access;
    entry.user_word = 0;
    if (object_name != nullptr) entry.object_name = column->Name(names_, object_name);
    TRACE(1, "\n## Var table entry:   %-30s - Oid=%s", entry.object_name, KeyText(entry.Key()));
    return true;
  }

  // Removes every entry.
  void ClearMib() {
    CriticalSectionLock lock(lock_);
    ForgetPositions();
    store_.Clear();
  }

  // Removes every entry whose OID begins with the prefix; true if any was removed.
  bool RemoveMibSubtree(const char* prefix_text) {
    OidOwner prefix;
    if (!OidFromString(prefix_text, prefix.Get())) return false;
    const mibtree::detail::OidKey encoded(*prefix.Get());
    CriticalSectionLock lock(lock_);
    // The subtree is the run of entries that starts at the first one not below
    // the prefix: every entry that begins with the prefix sorts there or later,
    // every entry after the run sorts after the whole subtree.
    const Position first = store_.LowerBound(encoded.Span());
    Position last = first;
    while (!store_.IsEnd(last) &&
           mibtree::detail::KeyStartsWith(store_.At(last).Key(), encoded.Span())) {
      last = store_.Next(last);
    }
    if (first == last) return false;
    ForgetPositions();
    store_.Erase(first, last);
    return true;
  }

  // Replaces varbind (name and value) by a copy of the first entry after its name;
  // no callbacks run.  Past the last entry the varbind stays as it is and the
  // result is false.
  bool GetNextMibEntry(SnmpVarBind* varbind) {
    if (varbind == nullptr) return false;
    const mibtree::detail::OidKey key(varbind->name);
    CriticalSectionLock lock(lock_);
    const Position next = store_.UpperBound(key.Span());
    if (store_.IsEnd(next)) return false;
    VarBindOwner copy;
    if (!CopyEntry(store_.At(next), copy)) return false;
    SnmpUtilVarBindFree(varbind);
    *varbind = copy.Release();
    return true;
  }

  // Regions: the root OIDs the agent answers for, in the order added.
  bool AddMibRegion(const char* oid_text, const char* description = nullptr) {
    const char* module_name = static_cast<TAgent*>(this)->GetAgentModuleName();
    Region region;
    if (!OidFromString(oid_text, &region.varbind->name)) {
      TRACE(1, "\n%-20s: ## MIB region rejected, OID text does not parse: \"%s\"", module_name,
            oid_text != nullptr ? oid_text : "");
      return false;
    }
    region.description = description != nullptr ? description : "";
    if (!SetVarbindText(region.varbind.Get(), region.description.c_str(), ASN_OCTETSTRING)) {
      return false;
    }
    {
      CriticalSectionLock lock(lock_);
      regions_.push_back(std::move(region));
    }
    if (description != nullptr) {
      TRACE(1, "\n%-20s:  add MIB region: %s - %s", module_name, oid_text, description);
    } else {
      TRACE(1, "\n%-20s:  add MIB region: %s", module_name, oid_text);
    }
    return true;
  }
  size_t GetMibRegionCount() const {
    CriticalSectionLock lock(lock_);
    return regions_.size();
  }
  // Region index as a varbind: name = root OID, value = description; nullptr past
  // the end.  Regions are never removed before the tree is destroyed.
  const SnmpVarBind* GetMibRegion(size_t index) const {
    CriticalSectionLock lock(lock_);
    return index < regions_.size() ? regions_[index].varbind.Get() : nullptr;
  }
  const AsnObjectIdentifier* GetMibRegionOid(size_t index) const {
    const SnmpVarBind* region = GetMibRegion(index);
    return region != nullptr ? &region->name : nullptr;
  }
  const char* GetMibRegionDescription(size_t index) const {
    CriticalSectionLock lock(lock_);
    return index < regions_.size() ? regions_[index].description.c_str() : nullptr;
  }

  // GET (0xA0) or GET-NEXT (0xA1) of one varbind.  Status 2 and false when no
  // entry answers (the varbind is left alone).  Otherwise the varbind becomes the
  // entry's (name and value, as the pre-read and get callbacks leave them), the
  // status is the callbacks' result and the result is true.  object_name (may be
  // null) receives the entry's name, valid as long as the tree.
  bool MibGetVarbind(SnmpVarBind* varbind, BYTE request_type, AsnInteger32* error_status,
                     const char** object_name) {
    SetStatus(error_status, SNMP_ERRORSTATUS_NOSUCHNAME);
    if (varbind == nullptr) return false;
    const mibtree::detail::OidKey key(varbind->name);
    CriticalSectionLock lock(lock_);
    Position at = store_.End();
    if (request_type == SNMP_PDU_GET) {
      at = store_.Find(key.Span());
    } else if (request_type == SNMP_PDU_GETNEXT) {
      at = NextAfter(key.Span());
    }
    if (store_.IsEnd(at)) return false;
    last_answer_ = at;
    last_answer_generation_ = store_.Generation();
    const Entry* found = &store_.At(at);

    // Callbacks work on a copy of the entry and may change the tree meanwhile;
    // nothing below touches the entry again.
    VarBindOwner working;
    if (!CopyEntry(*found, working)) {
      SetStatus(error_status, SNMP_ERRORSTATUS_GENERR);
      return false;
    }
    const CallbackSet callbacks = callback_sets_[found->callbacks];
    if (object_name != nullptr) *object_name = found->object_name;
    DWORD status = SNMP_ERRORSTATUS_NOERROR;
    if (callbacks.pre_read != nullptr) {
      status = Call(callbacks.pre_read, working.Get(), kMibModePreRead);
    }
    if (status == SNMP_ERRORSTATUS_NOERROR && callbacks.get != nullptr) {
      status = Call(callbacks.get, working.Get(), kMibModeGet);
    }
    SetStatus(error_status, status);
    SnmpUtilVarBindFree(varbind);
    *varbind = working.Release();
    return true;
  }

  // Check pass of a SET: false (status 2) for an unregistered OID; otherwise
  // true with status 4 for a read-only entry, else the check-set callback's status.
  bool MibCheckSetVarbind(SnmpVarBind* varbind, AsnInteger32* error_status,
                          const char** object_name) {
    SetStatus(error_status, SNMP_ERRORSTATUS_NOSUCHNAME);
    if (varbind == nullptr) return false;
    const mibtree::detail::OidKey key(varbind->name);
    CriticalSectionLock lock(lock_);
    const Entry* found = FindEntry(key.Span());
    if (found == nullptr) return false;
    SetStatus(error_status, SNMP_ERRORSTATUS_NOERROR);
    if (object_name != nullptr) *object_name = found->object_name;
    if (found->access != kMibReadWrite) {
      SetStatus(error_status, SNMP_ERRORSTATUS_READONLY);
    } else if (const MibCallback check = callback_sets_[found->callbacks].check_set;
               check != nullptr) {
      SetStatus(error_status, Call(check, varbind, kMibModeCheckSet));
    }
    return true;
  }

  // Apply pass of a SET: as the check pass with the set callback; when it
  // succeeds (or there is none) the entry stores the varbind's value.
  bool MibSetVarbind(SnmpVarBind* varbind, AsnInteger32* error_status) {
    SetStatus(error_status, SNMP_ERRORSTATUS_NOSUCHNAME);
    if (varbind == nullptr) return false;
    const mibtree::detail::OidKey key(varbind->name);
    CriticalSectionLock lock(lock_);
    const Entry* found = FindEntry(key.Span());
    if (found == nullptr) return false;
    if (found->access != kMibReadWrite) {
      SetStatus(error_status, SNMP_ERRORSTATUS_READONLY);
      return true;
    }
    DWORD status = SNMP_ERRORSTATUS_NOERROR;
    if (const MibCallback set = callback_sets_[found->callbacks].set; set != nullptr) {
      status = Call(set, varbind, kMibModeSet);
    }
    if (status == SNMP_ERRORSTATUS_NOERROR) {
      // The callback may have changed the tree (and the varbind): look the
      // entry up again by the key taken before.
      if (const Entry* entry = FindEntry(key.Span()); entry != nullptr) {
        AsnAny copy;
        if (SnmpUtilAsnAnyCpy(&copy, &varbind->value)) {
          entry->SetValue(copy);
        } else {
          status = SNMP_ERRORSTATUS_GENERR;
        }
      }
    }
    SetStatus(error_status, status);
    return true;
  }

  size_t GetMibEntryCount() const {
    CriticalSectionLock lock(lock_);
    return store_.Size();
  }

  // Everything but the value of the entry registered under oid; false if none.
  bool GetMibEntryInfo(const AsnObjectIdentifier* oid, MibEntryInfo* info) const {
    if (oid == nullptr || info == nullptr) return false;
    const mibtree::detail::OidKey key(*oid);
    CriticalSectionLock lock(lock_);
    const Entry* found = FindEntry(key.Span());
    if (found == nullptr) return false;
    const CallbackSet& callbacks = callback_sets_[found->callbacks];
    *info = MibEntryInfo{found->object_name, found->access,    found->user_word,
                         callbacks.get,      callbacks.set,    callbacks.check_set,
                         callbacks.pre_read};
    return true;
  }

 private:
  struct CallbackSet {
    MibCallback get = nullptr;
    MibCallback set = nullptr;
    MibCallback check_set = nullptr;
    MibCallback pre_read = nullptr;
    bool operator==(const CallbackSet&) const = default;
  };

  struct Region {
    VarBindOwner varbind;
    std::string description;
  };

  using Entry = mibtree::detail::MibEntry;
  using Position = mibtree::detail::EntryStore::Position;

  // The first entry after key.  A walk asks for the entry after the one it was
  // answered last, which then takes no search.
  Position NextAfter(mibtree::detail::KeySpan key) const {
    if (last_answer_generation_ == store_.Generation() && store_.Holds(last_answer_) &&
        mibtree::detail::CompareKeys(store_.At(last_answer_).Key(), key) == 0) {
      return store_.Next(last_answer_);
    }
    return store_.UpperBound(key);
  }

  const Entry* FindEntry(mibtree::detail::KeySpan key) const {
    const Position at = store_.Find(key);
    return store_.IsEnd(at) ? nullptr : &store_.At(at);
  }

  static void SetStatus(AsnInteger32* error_status, DWORD status) {
    if (error_status != nullptr) *error_status = static_cast<AsnInteger32>(status);
  }

  DWORD Call(MibCallback callback, SnmpVarBind* varbind, DWORD mode) {
    try {
      return (static_cast<TAgent*>(this)->*callback)(varbind, mode);
    } catch (...) {
      return SNMP_ERRORSTATUS_GENERR;
    }
  }

  bool ParseKey(const char* oid_text, const char* object_name, OidOwner& key) {
    if (OidFromString(oid_text, key.Get())) return true;
    TRACE(1, "\n## MIB entry rejected, OID text does not parse: %-30s - \"%s\"",
          object_name != nullptr ? object_name : "", oid_text != nullptr ? oid_text : "");
    return false;
  }

  // Entries hold keys of up to 64 KiB, far beyond any OID an SNMP message carries.
  static bool KeyFits(mibtree::detail::KeySpan key, const char* object_name) {
    if (key.size <= Entry::kMaxKeyBytes) return true;
    TRACE(1, "\n## MIB entry rejected, OID too long: %-30s",
          object_name != nullptr ? object_name : "");
    return false;
  }

  // The entry as a varbind owned by copy (name decoded from the key).
  static bool CopyEntry(const Entry& entry, VarBindOwner& copy) {
    copy.Reset();
    AsnAny value = entry.Value();  // borrowed, not freed
    return mibtree::detail::DecodeOidKey(entry.Key(), &copy->name) &&
           SnmpUtilAsnAnyCpy(&copy->value, &value);
  }

  // The OID of a key as text, for trace lines.
  static const char* KeyText(mibtree::detail::KeySpan key) {
    OidOwner oid;
    mibtree::detail::DecodeOidKey(key, oid.Get());
    return OidToString(oid.Get());
  }

  // VarbindText of an entry, for trace lines.
  static const char* EntryText(const Entry& entry) {
    SnmpVarBind view;
    view.value = entry.Value();  // borrowed, not freed
    OidOwner name;
    mibtree::detail::DecodeOidKey(entry.Key(), name.Get());
    view.name = *name.Get();
    return VarbindText(&view);
  }

  // The index of set in the table of distinct callback sets, adding it if new.
  // The agent uses a handful of sets; the 16-bit index keeps entries small.
  bool FindCallbackSet(const CallbackSet& set, uint16_t* index) {
    for (size_t i = 0; i < callback_sets_.size(); ++i) {
      if (callback_sets_[i] == set) {
        *index = static_cast<uint16_t>(i);
        return true;
      }
    }
    if (callback_sets_.size() > UINT16_MAX) return false;
    *index = static_cast<uint16_t>(callback_sets_.size());
    callback_sets_.push_back(set);
    return true;
  }

  // The position of the entry under key, created if there is none.
  Position FindOrInsert(mibtree::detail::KeySpan key) {
    const Position at = store_.LowerBound(key);
    if (!store_.IsEnd(at) && mibtree::detail::CompareKeys(store_.At(at).Key(), key) == 0) {
      return at;
    }
    return store_.Insert(at, key);
  }

  // Registers a scalar or constant cell: value (taken over), callbacks, access
  // and user word replace what the entry held; the object name when given.
  const Entry* StoreEntry(const OidOwner& key, VarBindOwner& value, const char* object_name,
                          const CallbackSet& callbacks, BYTE access, DWORD user_word) {
    const mibtree::detail::OidKey encoded(*key.Get());
    if (!KeyFits(encoded.Span(), object_name)) return nullptr;
    uint16_t callback_index = 0;
    if (!FindCallbackSet(callbacks, &callback_index)) return nullptr;
    const Entry& entry = store_.At(FindOrInsert(encoded.Span()));
    entry.SetValue(value.Release().value);
    entry.callbacks = callback_index;
    entry.access = access;
    entry.user_word = user_word;
    if (object_name != nullptr) entry.object_name = names_.Intern(object_name);
    return &entry;
  }

  bool AddConstScalar(const char* oid_text, const char* object_name, VarBindOwner& value,
                      BYTE access) {
    OidOwner key;
    if (!ParseKey(oid_text, object_name, key)) return false;
    CriticalSectionLock lock(lock_);
    const Entry* entry = StoreEntry(key, value, object_name, CallbackSet{}, access, 0);
    if (entry == nullptr) return false;
    TRACE(1, "\n## Const MIB entry:   %-30s%s %s", entry->object_name,
          access == kMibReadWrite ? " (RW) -" : " -", EntryText(*entry));
    return true;
  }

  bool AddConstCell(const char* column_oid_text, const char* object_name, VarBindOwner& value,
                    const char* text_index, DWORD number_index) {
    CriticalSectionLock lock(lock_);
    Column* column = nullptr;
    if (!CellKey(column_oid_text, object_name, text_index, number_index, &column)) return false;
    const mibtree::detail::KeySpan key{cell_key_.data(), cell_key_.size()};
    if (!KeyFits(key, object_name)) return false;
    const Entry& entry = FindOrInsertCell(*column, key);
    entry.SetValue(value.Release().value);
    entry.callbacks = 0;
    entry.access = kMibReadOnly;
    entry.user_word = 0;
    if (object_name != nullptr) entry.object_name = column->Name(names_, object_name);
    TRACE(1, "\n## Const table entry: %-30s - %s", entry.object_name, EntryText(entry));
    return true;
  }

  // A table column as cells are registered under it.  Loads register the same
  // few columns for row after row, so each column's OID text is parsed once;
  // rows mostly arrive in index order, so a column's next cell usually belongs
  // right behind the cell stored last (tail), which then costs no search.
  struct Column {
    std::vector<unsigned char> key;
    Position tail;
    bool has_tail = false;
    const char* name = "";  // interned object name registered last

    const char* Name(mibtree::detail::NameTable& names, const char* object_name) {
      if (std::strcmp(name, object_name) != 0) name = names.Intern(object_name);
      return name;
    }
  };

  // Puts the key of a cell into cell_key_: the column, the length-prefixed
  // text index (if any) and the number index (unless kNoNumberIndex).  False
  // (with the trace of an unparsable OID) when the column text does not parse.
  bool CellKey(const char* column_oid_text, const char* object_name, const char* text_index,
               DWORD number_index, Column** column) {
    const std::string_view text = column_oid_text != nullptr ? column_oid_text : "";
    auto found = columns_.find(text);
    if (found == columns_.end()) {
      OidOwner parsed;
      if (!ParseKey(column_oid_text, object_name, parsed)) return false;
      // Callers use a fixed set of columns; a flood of distinct ones only
      // costs the parse again.
      if (columns_.size() >= kMaxColumns) columns_.clear();
      found = columns_.emplace(std::string(text), Column{}).first;
      const mibtree::detail::OidKey encoded(*parsed.Get());
      const mibtree::detail::KeySpan key = encoded.Span();
      found->second.key.assign(key.data, key.data + key.size);
    }
    *column = &found->second;
    cell_key_.assign(found->second.key.begin(), found->second.key.end());
    if (text_index != nullptr) {
      const size_t length = std::strlen(text_index);
      mibtree::detail::AppendKeyId(static_cast<UINT>(length), &cell_key_);
      for (size_t i = 0; i < length; ++i) {
        mibtree::detail::AppendKeyId(static_cast<unsigned char>(text_index[i]), &cell_key_);
      }
    }
    if (number_index != kNoNumberIndex) mibtree::detail::AppendKeyId(number_index, &cell_key_);
    return true;
  }

  // The entry under key, created if there is none, with the column's tail as
  // the first guess of its place.  Other columns' cells may have moved the
  // tail since, so the guess counts only when key still falls right behind it.
  const Entry& FindOrInsertCell(Column& column, mibtree::detail::KeySpan key) {
    using mibtree::detail::CompareKeys;
    if (column.has_tail && store_.Holds(column.tail) &&
        CompareKeys(store_.At(column.tail).Key(), key) < 0) {
      const Position after = store_.Next(column.tail);
      if (store_.IsEnd(after) || CompareKeys(key, store_.At(after).Key()) < 0) {
        column.tail = store_.Insert(after, key);
        return store_.At(column.tail);
      }
    }
    column.tail = FindOrInsert(key);
    column.has_tail = true;
    return store_.At(column.tail);
  }

  // After any removal no remembered position may be used again.
  void ForgetPositions() {
    for (auto& [text, column] : columns_) column.has_tail = false;
  }

  mutable CRITICAL_SECTION lock_;
  mibtree::detail::EntryStore store_;
  // The entry the last GET or GET-NEXT answered with, valid while the store
  // is at the generation noted with it.
  Position last_answer_;
  uint64_t last_answer_generation_ = UINT64_MAX;
  static constexpr size_t kMaxColumns = 4096;
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_map<std::string, Column, TextHash, std::equal_to<>> columns_;
  std::vector<unsigned char> cell_key_;  // scratch of CellKey, under lock_
  std::vector<CallbackSet> callback_sets_{CallbackSet{}};
  mibtree::detail::NameTable names_;
  std::deque<Region> regions_;
};
