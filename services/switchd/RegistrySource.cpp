// Registry values read as resources, one store read per request.
#include "services/switchd/RegistrySource.h"

#include <strings.h>

#include <cstring>

#include "platform/registry/Registry.h"

namespace switchd {

namespace {

// Longer than any decimal number of 64 bits with blanks around it: a longer
// value is no number, and no read needs more.
constexpr DWORD kValueBuffer = 64;

bool HasPrefix(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

Reading Failed(std::string error) {
  Reading reading;
  reading.error = std::move(error);
  return reading;
}

Reading ReadValue(const std::string& key_path, const std::string& name) {
  Reading reading;
  reading.ok = true;
  LONG status = ERROR_SUCCESS;
  const auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, key_path, KEY_READ, &status);
  if (status == ERROR_FILE_NOT_FOUND) return reading;
  if (!key)
    return Failed("cannot open HKLM\\" + key_path + " (error " + std::to_string(status) + ")");
  BYTE data[kValueBuffer] = {};
  DWORD size = sizeof data;
  DWORD type = REG_NONE;
  status = RegQueryValueExA(key->Get(), name.c_str(), nullptr, &type, data, &size);
  if (status == ERROR_FILE_NOT_FOUND) return reading;
  const std::string what = "HKLM\\" + key_path + "\\" + name;
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
    return Failed("cannot read " + what + " (error " + std::to_string(status) + ")");
  }
  std::optional<int64_t> value;
  if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof number);
    value = number;
  } else if (status == ERROR_SUCCESS && type == REG_QWORD && size == sizeof(uint64_t)) {
    uint64_t number = 0;
    std::memcpy(&number, data, sizeof number);
    value = static_cast<int64_t>(number);
  } else if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    const std::string_view text(reinterpret_cast<const char*>(data),
                                strnlen(reinterpret_cast<const char*>(data), size));
    value = ParseDecimalValue(text);
  }
  if (!value) return Failed(what + " is not a number (a REG_DWORD, REG_QWORD or decimal REG_SZ)");
  reading.instances.push_back({1, name, *value});
  return reading;
}

}  // namespace

bool SplitRegistryRequest(std::string_view request, std::string* key, std::string* value,
                          std::string* reason) {
  request = TrimBlanks(request);
  for (const std::string_view root : {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}) {
    if (HasPrefix(request, root)) request.remove_prefix(root.size());
  }
  const size_t slash = request.rfind('\\');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == request.size()) {
    *reason = "a registry request is KEY\\VALUE, not \"" + std::string(request) + "\"";
    return false;
  }
  *key = std::string(request.substr(0, slash));
  *value = std::string(request.substr(slash + 1));
  return true;
}

bool RegistrySource::Validate(const ResourceQuery& query, std::string* reason) const {
  std::string key, value;
  return SplitRegistryRequest(query.request, &key, &value, reason);
}

void RegistrySource::Read(const ResourceQuery& query, std::function<void(Reading)> done) {
  std::string key, value, reason;
  if (!SplitRegistryRequest(query.request, &key, &value, &reason)) {
    done(Failed(reason));
    return;
  }
  done(ReadValue(key, value));
}

}  // namespace switchd
