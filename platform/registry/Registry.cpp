// Windows registry functions over the SQLite store: handles, access rights,
// path rules, buffer-size conventions and environment expansion.
#include "platform/registry/Registry.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/registry/detail/RegistryStore.h"

extern char** environ;

using platform::detail::FoldCase;
using platform::detail::KeyRow;
using platform::detail::RunInStore;
using platform::detail::Session;
using platform::detail::StoreKind;
using platform::detail::ValueRow;

struct RegistryKeyHandle {
  StoreKind store = StoreKind::kPersistent;
  int64_t id = 0;
  std::string path_key;
  DWORD access = 0;
};

namespace {

constexpr DWORD kViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

class HandleTable {
 public:
  HKEY Add(const RegistryKeyHandle& handle) {
    auto owned = std::make_unique<RegistryKeyHandle>(handle);
    HKEY key = owned.get();
    const std::lock_guard<std::mutex> lock(mutex_);
    handles_.emplace(key, std::move(owned));
    return key;
  }
  // A copy, since another thread may close the handle meanwhile.
  bool Find(HKEY key, RegistryKeyHandle* handle) {
    if (key == HKEY_LOCAL_MACHINE) {
      *handle = RegistryKeyHandle{StoreKind::kPersistent, 0, "", KEY_ALL_ACCESS};
      return true;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(key);
    if (it == handles_.end()) return false;
    *handle = *it->second;
    return true;
  }
  bool Remove(HKEY key) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return handles_.erase(key) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HKEY, std::unique_ptr<RegistryKeyHandle>> handles_;
};

HandleTable& Handles() {
  // Never destroyed: handles may be closed by other static destructors.
  static HandleTable* table = new HandleTable;
  return *table;
}

// Splits a relative key path into its components.  Empty components (a
// leading or doubled "\") and over-long names are refused; one trailing "\" is
// tolerated.
LONG SplitPath(LPCSTR sub_key, std::vector<std::string>* parts) {
  parts->clear();
  if (sub_key == nullptr || *sub_key == '\0') return ERROR_SUCCESS;
  std::string_view rest(sub_key);
  if (rest.back() == '\\') rest.remove_suffix(1);
  while (true) {
    const size_t slash = rest.find('\\');
    const std::string_view part = rest.substr(0, slash);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxRegistryKeyName) return ERROR_INVALID_PARAMETER;
    parts->emplace_back(part);
    if (slash == std::string_view::npos) return ERROR_SUCCESS;
    rest.remove_prefix(slash + 1);
  }
}

std::string Join(const std::string& base, const std::string& part) {
  return base.empty() ? part : base + "\\" + part;
}

// Resolves the key a handle names, with the access the operation needs.
LONG Resolve(Session& session, const RegistryKeyHandle& handle, DWORD needed, KeyRow* row) {
  if ((handle.access & needed) != needed) return ERROR_ACCESS_DENIED;
  return session.KeyById(handle.store, handle.id, handle.path_key, row);
}

LONG ResolveSub(Session& session, const RegistryKeyHandle& handle, LPCSTR sub_key, KeyRow* row) {
  KeyRow base;
  if (const LONG result = Resolve(session, handle, 0, &base); result != ERROR_SUCCESS) {
    return result;
  }
  std::vector<std::string> parts;
  if (const LONG result = SplitPath(sub_key, &parts); result != ERROR_SUCCESS) return result;
  if (parts.empty()) {
    *row = base;
    return ERROR_SUCCESS;
  }
  std::string path_key = base.path_key;
  for (const std::string& part : parts) path_key = Join(path_key, FoldCase(part));
  return session.FindKey(path_key, row);
}

// Runs op(session, key) on the key a handle names, in one transaction.
template <typename Op>
LONG OnKey(const RegistryKeyHandle& handle, bool write, DWORD needed, Op op) {
  return RunInStore(write, [&](Session& session) {
    KeyRow row;
    if (const LONG r = Resolve(session, handle, needed, &row); r != ERROR_SUCCESS) return r;
    return op(session, row);
  });
}

HKEY NewHandle(const KeyRow& row, DWORD sam) {
  return Handles().Add(RegistryKeyHandle{row.store, row.id, row.path_key, sam & ~kViewFlags});
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

DWORD TypeFlag(DWORD type) {
  switch (type) {
    case REG_NONE:
      return RRF_RT_REG_NONE;
    case REG_SZ:
      return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
      return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
      return RRF_RT_REG_BINARY;
    case REG_DWORD:
      return RRF_RT_REG_DWORD;
    default:
      return 0;
  }
}

// The stored text of a string value, without its terminator(s).
std::string StoredText(const std::vector<BYTE>& data) {
  std::string text(data.begin(), data.end());
  const size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return text;
}

std::string ExpandText(const std::string& text) {
  const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::string expanded(needed, '\0');
  ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed);
  expanded.resize(needed - 1);
  return expanded;
}

// Copies bytes into a caller's buffer with the Windows size rules.
LONG CopyOut(const std::vector<BYTE>& bytes, BYTE* data, DWORD* size) {
  const DWORD needed = static_cast<DWORD>(bytes.size());
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD available = *size;
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (available < needed) return ERROR_MORE_DATA;
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  return ERROR_SUCCESS;
}

// Copies a name into a character buffer (sizes in characters, terminator
// included on entry, excluded on return).
LONG CopyName(const std::string& text, LPSTR buffer, DWORD* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  if (buffer == nullptr) return *size == 0 ? ERROR_MORE_DATA : ERROR_INVALID_PARAMETER;
  if (*size <= text.size()) return ERROR_MORE_DATA;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *size = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

std::string_view ValueName(LPCSTR name) { return name != nullptr ? name : ""; }

bool Find(HKEY key, RegistryKeyHandle* handle) {
  return key != nullptr && Handles().Find(key, handle);
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD /*reserved*/, LPSTR key_class, DWORD options,
                     DWORD sam, void* /*security*/, HKEY* result, DWORD* disposition) {
  if (result == nullptr || sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if ((options & ~REG_OPTION_VOLATILE) != 0) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (const LONG split = SplitPath(sub_key, &parts); split != ERROR_SUCCESS) return split;
  const bool want_volatile = (options & REG_OPTION_VOLATILE) != 0;
  const std::string_view cls = key_class != nullptr ? key_class : "";
  KeyRow row;
  bool created = false;
  const LONG status = RunInStore(true, [&](Session& session) {
    if (const LONG r = Resolve(session, handle, 0, &row); r != ERROR_SUCCESS) return r;
    for (const std::string& part : parts) {
      const std::string path = Join(row.path, part);
      KeyRow next;
      const LONG found = session.FindKey(FoldCase(path), &next);
      if (found == ERROR_FILE_NOT_FOUND) {
        // A key is created through its parent, whose handle needs the right.
        if (!created && (handle.access & KEY_CREATE_SUB_KEY) == 0) return LONG{ERROR_ACCESS_DENIED};
        const bool last = &part == &parts.back();
        const bool parent_volatile = row.id != 0 && row.store == StoreKind::kVolatile;
        if (parent_volatile && !want_volatile) return LONG{ERROR_CHILD_MUST_BE_VOLATILE};
        // Missing keys on the way are created persistent unless they sit below
        // a volatile key: a volatile leaf must not make its parents vanish at
        // reboot, nor keep persistent siblings from being created beside it.
        const bool make_volatile = parent_volatile || (last && want_volatile);
        const std::string_view this_class = last ? cls : std::string_view();
        const LONG inserted = session.InsertKey(
            make_volatile ? StoreKind::kVolatile : StoreKind::kPersistent, path, this_class, &next);
        if (inserted != ERROR_SUCCESS) return inserted;
        created = true;
      } else if (found != ERROR_SUCCESS) {
        return found;
      }
      row = next;
    }
    return LONG{ERROR_SUCCESS};
  });
  if (status != ERROR_SUCCESS) return status;
  *result = NewHandle(row, sam);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD /*options*/, DWORD sam, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  KeyRow row;
  const LONG status = RunInStore(
      false, [&](Session& session) { return ResolveSub(session, handle, sub_key, &row); });
  if (status != ERROR_SUCCESS) return status;
  *result = NewHandle(row, sam);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return key != nullptr && Handles().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  ValueRow value;
  const LONG status =
      OnKey(handle, false, KEY_QUERY_VALUE, [&](Session& session, const KeyRow& row) {
        return session.GetValue(row, ValueName(name), &value);
      });
  if (status != ERROR_SUCCESS) return status;
  if (type != nullptr) *type = value.type;
  return CopyOut(value.data, data, size);
}

LONG RegGetValueA(HKEY key, LPCSTR sub_key, LPCSTR name, DWORD flags, DWORD* type, void* data,
                  DWORD* size) {
  const DWORD wanted = flags & RRF_RT_ANY;
  if (wanted == 0) return ERROR_INVALID_PARAMETER;
  // Asking for expandable strings alone would always return REG_SZ.
  if (wanted == RRF_RT_REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  ValueRow value;
  const LONG status = RunInStore(false, [&](Session& session) {
    KeyRow row;
    LONG r = sub_key != nullptr && *sub_key != '\0'
                 ? ResolveSub(session, handle, sub_key, &row)
                 : Resolve(session, handle, KEY_QUERY_VALUE, &row);
    if (r != ERROR_SUCCESS) return r;
    return session.GetValue(row, ValueName(name), &value);
  });
  if (status != ERROR_SUCCESS) return status;
  DWORD reported = value.type;
  std::vector<BYTE> bytes = std::move(value.data);
  if (IsStringType(value.type)) {
    std::string text = StoredText(bytes);
    if (value.type == REG_EXPAND_SZ && (flags & RRF_NOEXPAND) == 0) {
      text = ExpandText(text);
      reported = REG_SZ;
    }
    bytes.assign(text.begin(), text.end());
    bytes.push_back(0);
  }
  if ((TypeFlag(reported) & wanted) == 0) return ERROR_UNSUPPORTED_TYPE;
  if (reported == REG_DWORD && bytes.size() != sizeof(DWORD)) return ERROR_DATATYPE_MISMATCH;
  if (type != nullptr) *type = reported;
  return CopyOut(bytes, static_cast<BYTE*>(data), size);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
  if ((data == nullptr && size != 0) || size > kMaxRegistryValueSize) {
    return ERROR_INVALID_PARAMETER;
  }
  if (ValueName(name).size() > kMaxRegistryValueName) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  // The root of the hive holds keys only.
  if (handle.id == 0) return ERROR_ACCESS_DENIED;
  return OnKey(handle, true, KEY_SET_VALUE, [&](Session& session, const KeyRow& row) {
    return session.SetValue(row, ValueName(name), type, data, size);
  });
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  return OnKey(handle, true, KEY_SET_VALUE, [&](Session& session, const KeyRow& row) {
    return session.DeleteValue(row, ValueName(name));
  });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
  if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  return RunInStore(true, [&](Session& session) {
    KeyRow row;
    if (const LONG r = ResolveSub(session, handle, sub_key, &row); r != ERROR_SUCCESS) return r;
    if (row.id == 0) return LONG{ERROR_ACCESS_DENIED};
    int64_t children = 0;
    if (const LONG r = session.CountSubKeys(row.path_key, &children); r != ERROR_SUCCESS) return r;
    if (children != 0) return LONG{ERROR_ACCESS_DENIED};
    return session.DeleteTree(row, true);
  });
}

LONG RegDeleteTreeA(HKEY key, LPCSTR sub_key) {
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  return RunInStore(true, [&](Session& session) {
    KeyRow row;
    LONG r = sub_key == nullptr
                 ? Resolve(session, handle, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &row)
                 : ResolveSub(session, handle, sub_key, &row);
    if (r != ERROR_SUCCESS) return r;
    // Emptying the whole hive is never what a caller means.
    if (row.id == 0) return LONG{ERROR_ACCESS_DENIED};
    return session.DeleteTree(row, sub_key != nullptr);
  });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* name_size, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* data_size) {
  if (reserved != nullptr || name == nullptr || name_size == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (data != nullptr && data_size == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.id == 0) return ERROR_NO_MORE_ITEMS;
  ValueRow value;
  const LONG status = OnKey(
      handle, false, KEY_QUERY_VALUE,
      [&](Session& session, const KeyRow& row) { return session.ValueAt(row, index, &value); });
  if (status != ERROR_SUCCESS) return status;
  if (const LONG r = CopyName(value.name, name, name_size); r != ERROR_SUCCESS) return r;
  if (type != nullptr) *type = value.type;
  return CopyOut(value.data, data, data_size);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* name_size, DWORD* reserved,
                   LPSTR key_class, DWORD* class_size, void* last_write) {
  if (reserved != nullptr || name == nullptr || name_size == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (key_class != nullptr && class_size == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryKeyHandle handle;
  if (!Find(key, &handle)) return ERROR_INVALID_HANDLE;
  KeyRow child;
  const LONG status =
      OnKey(handle, false, KEY_ENUMERATE_SUB_KEYS, [&](Session& session, const KeyRow& row) {
        return session.SubKeyAt(row.path_key, index, &child);
      });
  if (status != ERROR_SUCCESS) return status;
  const size_t slash = child.path.rfind('\\');
  const std::string leaf = slash == std::string::npos ? child.path : child.path.substr(slash + 1);
  if (const LONG r = CopyName(leaf, name, name_size); r != ERROR_SUCCESS) return r;
  if (key_class != nullptr) {
    if (const LONG r = CopyName(child.key_class, key_class, class_size); r != ERROR_SUCCESS) {
      return r;
    }
  }
  if (last_write != nullptr) std::memcpy(last_write, &child.last_write, sizeof child.last_write);
  return ERROR_SUCCESS;
}

DWORD ExpandEnvironmentStringsA(LPCSTR src, LPSTR dst, DWORD size) {
  if (src == nullptr) return 0;
  std::string out;
  const std::string_view text(src);
  size_t i = 0;
  while (i < text.size()) {
    const size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string_view::npos;
    if (close == std::string_view::npos) {
      out += text[i++];
      continue;
    }
    const std::string name(text.substr(i + 1, close - i - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value == nullptr && !name.empty()) {
      // Windows compares variable names without regard to case.
      const std::string folded = FoldCase(name);
      for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view candidate(*entry);
        const size_t equals = candidate.find('=');
        if (equals != std::string_view::npos && FoldCase(candidate.substr(0, equals)) == folded) {
          value = *entry + equals + 1;
          break;
        }
      }
      if (value == nullptr && folded == "systemroot") value = "/";
    }
    if (value != nullptr) {
      out += value;
      i = close + 1;
    } else {
      // Unknown or empty: the text stays, and the closing "%" may open the next.
      out.append(text.substr(i, close - i));
      i = close;
    }
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (dst != nullptr && size >= needed) std::memcpy(dst, out.c_str(), needed);
  return needed;
}

namespace platform {

std::string LastRegistryStoreProblem() { return detail::StoreProblem(); }

void CloseRegistryStore() { detail::CloseStore(); }

std::optional<RegistryKey> RegistryKey::Open(HKEY parent, std::string_view sub_key, DWORD sam,
                                             LONG* error) {
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExA(parent, std::string(sub_key).c_str(), 0, sam, &key);
  if (error != nullptr) *error = result;
  if (result != ERROR_SUCCESS) return std::nullopt;
  return RegistryKey(key);
}

std::optional<RegistryKey> RegistryKey::Create(HKEY parent, std::string_view sub_key,
                                               bool is_volatile, DWORD sam, LONG* error) {
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExA(parent, std::string(sub_key).c_str(), 0, nullptr,
                                      is_volatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                      sam, nullptr, &key, nullptr);
  if (error != nullptr) *error = result;
  if (result != ERROR_SUCCESS) return std::nullopt;
  return RegistryKey(key);
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

RegistryKey::~RegistryKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

std::optional<RegistryKey::Value> RegistryKey::QueryValue(std::string_view name) const {
  const std::string value_name(name);
  // Another process may make the value longer between the size query and the read.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key_, value_name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<BYTE> data(size);
    const LONG result = RegQueryValueExA(key_, value_name.c_str(), nullptr, &type,
                                         data.empty() ? nullptr : data.data(), &size);
    if (result == ERROR_SUCCESS) {
      data.resize(size);
      return Value{value_name, type, std::move(data)};
    }
    if (result != ERROR_MORE_DATA) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> RegistryKey::QueryString(std::string_view name) const {
  std::optional<Value> value = QueryValue(name);
  if (!value || !IsStringType(value->type)) return std::nullopt;
  std::string text = StoredText(value->data);
  return value->type == REG_EXPAND_SZ ? ExpandText(text) : text;
}

std::optional<DWORD> RegistryKey::QueryDword(std::string_view name) const {
  std::optional<Value> value = QueryValue(name);
  if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
    return std::nullopt;
  }
  DWORD number = 0;
  std::memcpy(&number, value->data.data(), sizeof number);
  return number;
}

LONG RegistryKey::SetString(std::string_view name, std::string_view text, DWORD type) {
  const std::string stored(text);  // with its terminator, as Windows stores strings
  return RegSetValueExA(key_, std::string(name).c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(stored.c_str()),
                        static_cast<DWORD>(stored.size() + 1));
}

LONG RegistryKey::SetDword(std::string_view name, DWORD value) {
  return RegSetValueExA(key_, std::string(name).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG RegistryKey::SetBinary(std::string_view name, std::span<const BYTE> data) {
  return RegSetValueExA(key_, std::string(name).c_str(), 0, REG_BINARY, data.data(),
                        static_cast<DWORD>(data.size()));
}

LONG RegistryKey::DeleteValue(std::string_view name) {
  return RegDeleteValueA(key_, std::string(name).c_str());
}

std::vector<RegistryKey::Value> RegistryKey::EnumValues() const {
  std::vector<Value> values;
  std::vector<char> name(kMaxRegistryValueName + 1);
  for (DWORD index = 0;; ++index) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegEnumValueA(key_, index, name.data(), &name_size, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::optional<Value> value = QueryValue(std::string_view(name.data(), name_size));
    if (value) values.push_back(std::move(*value));
  }
  return values;
}

std::vector<std::string> RegistryKey::EnumSubKeys() const {
  std::vector<std::string> names;
  char name[kMaxRegistryKeyName + 1];
  for (DWORD index = 0;; ++index) {
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key_, index, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, name_size);
  }
  return names;
}

}  // namespace platform
