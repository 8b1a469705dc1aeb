// Switch settings in the registry.
#include "services/switchd/Settings.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/registry/Registry.h"

namespace switchd {

namespace {

constexpr SettingInfo kSettings[kSettingCount] = {
    {0x3800, "Trap2EventLog"},   {0x3801, "TrapToAdminAlert"},  {0x3810, "SetAllowed"},
    {0x3811, "ShutdownIsAllowed"}, {0x3812, "DoAccountCheck"},
};

}  // namespace

std::span<const SettingInfo> Settings() { return kSettings; }

std::optional<size_t> SettingIndex(DWORD code) {
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (kSettings[i].code == code) return i;
  }
  return std::nullopt;
}

const SettingInfo* FindSetting(std::string_view name) {
  if (name.empty()) return nullptr;
  const std::string text(name);
  char* end = nullptr;
  errno = 0;
  const unsigned long code = std::strtoul(text.c_str(), &end, 0);
  if (errno == 0 && *end == '\0') {
    const auto index = code <= 0xFFFFFFFFul ? SettingIndex(static_cast<DWORD>(code)) : std::nullopt;
    return index ? &kSettings[*index] : nullptr;
  }
  for (const SettingInfo& setting : kSettings) {
    if (strcasecmp(text.c_str(), std::string(setting.name).c_str()) == 0) return &setting;
  }
  return nullptr;
}

SettingValues ReadSettings() {
  SettingValues values{};
  const auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, kSettingsKey);
  if (!key) return values;
  for (size_t i = 0; i < kSettingCount; ++i) {
    values[i] = static_cast<BYTE>(key->QueryDword(kSettings[i].name).value_or(0) & 0xFF);
  }
  return values;
}

LONG WriteSetting(const SettingInfo& setting, DWORD value) {
  LONG error = ERROR_SUCCESS;
  auto key = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, kSettingsKey, false,
                                           KEY_ALL_ACCESS, &error);
  if (!key) return error;
  return key->SetDword(setting.name, value);
}

}  // namespace switchd
