// The machine registry (HKEY_LOCAL_MACHINE only) by its Windows names, kept in
// two SQLite files: persistent keys in $LORVETH_STATE_DIR/registry.db and
// volatile keys in $LORVETH_RUNTIME_DIR/registry-volatile.db, which a reboot
// empties.  Key paths are backslash-separated, compared without regard to ASCII
// case and stored as first written.  Several processes may read and write at
// once; every call is one transaction.  Results are Windows error codes.
//
//   HKEY key = nullptr;
//   if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug", 0, nullptr,
//                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
//                       nullptr) == ERROR_SUCCESS) {
//     DWORD level = 3;
//     RegSetValueExA(key, "FileDebugLevel", 0, REG_DWORD, (const BYTE*)&level, 4);
//     RegCloseKey(key);
//   }
//
// or with the RAII layer at the end of this header:
//
//   auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug");
//   const DWORD level = key ? key->QueryDword("FileDebugLevel").value_or(0) : 0;
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

typedef struct RegistryKeyHandle* HKEY;

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_OPTION_VOLATILE 0x1u

#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define DELETE 0x00010000u
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_ALL_ACCESS 0x000F003Fu

#define RRF_RT_REG_NONE 0x00000001u
#define RRF_RT_REG_SZ 0x00000002u
#define RRF_RT_REG_EXPAND_SZ 0x00000004u
#define RRF_RT_REG_BINARY 0x00000008u
#define RRF_RT_REG_DWORD 0x00000010u
#define RRF_RT_ANY 0x0000FFFFu
#define RRF_NOEXPAND 0x10000000u

// Key names are limited as on Windows: 255 characters per path component,
// 16,383 per value name.
constexpr DWORD kMaxRegistryKeyName = 255;
constexpr DWORD kMaxRegistryValueName = 16383;
// The registry holds settings, not documents; a larger value is refused with
// ERROR_INVALID_PARAMETER so that no call has to hold huge buffers.
constexpr DWORD kMaxRegistryValueSize = 16u << 20;

// Creates the key and any missing parents, or opens it if it exists
// (*disposition tells which).  With REG_OPTION_VOLATILE new keys go to the
// volatile store; a non-volatile key under a volatile one is refused with
// ERROR_CHILD_MUST_BE_VOLATILE and nothing is created.
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR key_class, DWORD options,
                     DWORD sam, void* security, HKEY* result, DWORD* disposition);
// Opens a key of either store; sub_key null or "" opens the key itself again.
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, DWORD sam, HKEY* result);
LONG RegCloseKey(HKEY key);

// Raw value bytes (strings as stored, with their terminator).  data null:
// *size receives the length.  Too small a buffer: ERROR_MORE_DATA, *size the
// length needed.  name null or "": the default value.
LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// Reads a value of the key or of its subkey sub_key, restricted to the types in
// flags (RRF_RT_*; ERROR_UNSUPPORTED_TYPE otherwise).  Strings come back
// terminated; REG_EXPAND_SZ is expanded and reported as REG_SZ unless
// RRF_NOEXPAND is given.
LONG RegGetValueA(HKEY key, LPCSTR sub_key, LPCSTR name, DWORD flags, DWORD* type, void* data,
                  DWORD* size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueA(HKEY key, LPCSTR name);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED if it has some).
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);
// Deletes sub_key and its whole subtree; sub_key null: the values and subkeys
// of the key itself, which stays.
LONG RegDeleteTreeA(HKEY key, LPCSTR sub_key);

// Enumeration by index (0, 1, ... until ERROR_NO_MORE_ITEMS).  Values come in
// the order they were first written, subkeys (of both stores) in
// case-insensitive name order.  *name_size is the buffer size in characters on
// entry and the name length without terminator on return; a name that does not
// fit gives ERROR_MORE_DATA.  last_write (optional) receives a FILETIME.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* name_size, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* data_size);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* name_size, DWORD* reserved,
                   LPSTR key_class, DWORD* class_size, void* last_write);

// Replaces %NAME% with the environment variable NAME (an unknown name stays as
// written; %SystemRoot% is "/" unless set).  Returns the characters needed
// including the terminator; dst is written only if that fits in size; 0 on
// failure.
DWORD ExpandEnvironmentStringsA(LPCSTR src, LPSTR dst, DWORD size);

namespace platform {

// A description of the last store failure (file and SQLite message) seen by
// this thread, for command-line tools that explain ERROR_BADDB to a person.
std::string LastRegistryStoreProblem();

// Closes this module's connection to the store; the next registry call opens
// it again.  A library that is unloaded calls it last, so that none of its
// descriptors stays open in the process after it.
void CloseRegistryStore();

// Owns an open HKEY.  Open and Create return no key on failure and report the
// Windows error through *error when given.
class RegistryKey {
 public:
  struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };

  static std::optional<RegistryKey> Open(HKEY parent, std::string_view sub_key,
                                         DWORD sam = KEY_READ, LONG* error = nullptr);
  static std::optional<RegistryKey> Create(HKEY parent, std::string_view sub_key,
                                           bool is_volatile = false, DWORD sam = KEY_ALL_ACCESS,
                                           LONG* error = nullptr);

  RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  HKEY Get() const { return key_; }

  // REG_SZ as stored, REG_EXPAND_SZ expanded; other types or a missing value: none.
  std::optional<std::string> QueryString(std::string_view name) const;
  std::optional<DWORD> QueryDword(std::string_view name) const;
  std::optional<Value> QueryValue(std::string_view name) const;

  LONG SetString(std::string_view name, std::string_view text, DWORD type = REG_SZ);
  LONG SetDword(std::string_view name, DWORD value);
  LONG SetBinary(std::string_view name, std::span<const BYTE> data);
  LONG DeleteValue(std::string_view name);

  std::vector<Value> EnumValues() const;
  std::vector<std::string> EnumSubKeys() const;

 private:
  explicit RegistryKey(HKEY key) : key_(key) {}
  HKEY key_ = nullptr;
};

}  // namespace platform
