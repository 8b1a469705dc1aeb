// Registry roots, status values and data-file paths of an extension agent.
#include "frame/SysBase.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "frame/AgentStatus.h"
#include "platform/registry/Registry.h"
#include "trace/FileDebug.h"

namespace {

// Creates (or opens) a key with full access in the 64-bit view; a store that
// refuses the view flag with "access denied" is asked again without it.
HKEY CreateKey(const std::string& path, bool is_volatile) {
  const DWORD options = is_volatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (rc == ERROR_ACCESS_DENIED) {
    rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                         nullptr, &key, nullptr);
  }
  return rc == ERROR_SUCCESS ? key : nullptr;
}

bool WriteValue(const std::string& path, bool is_volatile, const char* name, DWORD type,
                const BYTE* data, DWORD size) {
  HKEY key = CreateKey(path, is_volatile);
  if (key == nullptr) return false;
  const LONG rc = RegSetValueExA(key, name, 0, type, data, size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool WriteString(const std::string& path, bool is_volatile, const char* name, const char* text) {
  return WriteValue(path, is_volatile, name, REG_SZ, reinterpret_cast<const BYTE*>(text),
                    static_cast<DWORD>(std::strlen(text) + 1));
}

bool WriteDword(const std::string& path, bool is_volatile, const char* name, DWORD value) {
  return WriteValue(path, is_volatile, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                    sizeof value);
}

std::string Join(const std::string& a, const char* b) { return a + "\\" + b; }

// Path fields hold at most MAX_PATH - 1 characters.
void CopyField(char (&field)[MAX_PATH], const std::string& value) {
  std::snprintf(field, sizeof field, "%s", value.c_str());
}

void StripOneTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
}

}  // namespace

std::optional<std::string> ReadRegistryValue(const std::string& key, const char* value) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &handle) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<char> data(1024);
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(data.size());
  LONG rc = RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size);
  if (rc == ERROR_MORE_DATA) {
    data.resize(size + 1);
    size = static_cast<DWORD>(data.size());
    rc = RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &size);
  }
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
  std::string text(data.data(), strnlen(data.data(), size));
  if (type == REG_EXPAND_SZ) {
    const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (needed > 0) {
      std::vector<char> expanded(needed + 1);
      ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed + 1);
      text = expanded.data();
    }
  }
  return text;
}

std::string ReadRegistryString(const std::string& key, const char* value) {
  return ReadRegistryValue(key, value).value_or(std::string());
}

CRegistryRootSet::CRegistryRootSet() {
  // Fallbacks stand in only for missing values: a value that is present but
  // empty is taken as it is.
  common_root_ =
      ReadRegistryValue(kCommonRootUuidKey, kCommonRootValue).value_or(kDefaultCommonRoot);
  if (common_root_.size() >= MAX_PATH) common_root_.resize(MAX_PATH - 1);
  files_key_ = Join(common_root_, "#Files");
  parameters_key_ = Join(common_root_, "#Parameters");
  setup_key_ = Join(common_root_, "#Setup");
  const std::optional<std::string> file_root = ReadRegistryValue(setup_key_, "FileRoot");
  file_root_ = file_root ? *file_root : ReadRegistryString(setup_key_, "AgentRoot");
  StripOneTrailingBackslash(file_root_);
  data_root_ = ReadRegistryString(setup_key_, "DataRoot");
  StripOneTrailingBackslash(data_root_);
}

std::string CRegistryRootSet::AgentKey(const char* module_name) const {
  return Join(common_root_, module_name != nullptr ? module_name : "");
}

void CSysBase::SetRoots(const std::string& common_root, const std::string& agent_root,
                        const std::string& data_root) {
  CopyField(common_root_, common_root);
  CopyField(agent_root_, agent_root);
  CopyField(data_root_, data_root);
}

bool CSysBase::SetAgentStatus(DWORD code) {
  return WriteString(Join(common_root_, "#Status"), true, StatusName(), AgentStatusText(code));
}

bool CSysBase::SetAgentStatusValue(DWORD value) {
  return WriteDword(Join(Join(agent_root_, "Parameters"), "VolatileParameters"), true,
                    "AgentStatus", value);
}

bool CSysBase::SetAgentLastError(const char* text) {
  return WriteString(Join(Join(agent_root_, "Parameters"), "VolatileParameters"), true,
                     "AgentLastError", text != nullptr ? text : "");
}

bool CSysBase::SetAgentPurpose(DWORD purpose) {
  return WriteDword(Join(agent_root_, "Parameters"), false, "AgentPurpose", purpose);
}

bool CSysBase::SetInvTableIndex(const char* text) {
  if (text == nullptr) return false;
  return WriteString(Join(agent_root_, "Parameters"), false, "InvTableIndex", text);
}

bool CSysBase::DeleteVolatileParameters() {
  const std::string key = Join(Join(agent_root_, "Parameters"), "VolatileParameters");
  return RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()) == ERROR_SUCCESS;
}

bool IsAbsoluteAgentPath(const char* path) {
  if (path[0] == '\\' || path[0] == '/') return true;
  return std::strlen(path) > 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
         path[1] == ':' && path[2] == '\\';
}

bool CSysBase::GetAgentRegFilePath(const char* value_name, char* buffer, DWORD size,
                                   const char* module_name) {
  const char* module = module_name != nullptr ? module_name : StatusName();
  if (module == nullptr || *module == '\0' || buffer == nullptr) return false;
  const std::string key = std::string(common_root_) + "\\" + module + "\\FILE";
  const std::optional<std::string> stored = ReadRegistryValue(key, value_name);
  if (!stored) return false;
  const std::string& value = *stored;
  TRACE(5, "\n%-20s: GetAgentRegFilePath(): registry value %s = %s", module, value_name,
        value.c_str());
  std::string path;
  if (IsAbsoluteAgentPath(value.c_str())) {
    TRACE(5, "\n    absolute INI file path...");
    if (value.size() >= size) return false;
    path = value;
  } else {
    TRACE(5, "\n    relative INI file path, add data root path %s...", data_root_);
    if (std::strlen(data_root_) + value.size() >= size) return false;
    path = std::string(data_root_) + "\\" + value;
    if (path.size() >= size) return false;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  TRACE(4, "\n%-20s: GetAgentRegFilePath(): return file path for %s = %s", module, value_name,
        buffer);
  return true;
}
