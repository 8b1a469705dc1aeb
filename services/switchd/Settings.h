// The five switch settings that the agent reads once and then follows through
// events: where they live in the registry and how they are read and written.
//
// Each is a REG_DWORD under HKLM\SOFTWARE\Quorvath\Switch\Settings named as in
// the list below; a missing value (or key) reads as 0, and only the low byte
// travels to the agent.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "platform/WinTypes.h"

namespace switchd {

inline constexpr const char* kSettingsKey = "SOFTWARE\\Quorvath\\Switch\\Settings";

struct SettingInfo {
  DWORD code;             // the OE of its read request and of its change event
  std::string_view name;  // the registry value
};

inline constexpr size_t kSettingCount = 5;
using SettingValues = std::array<BYTE, kSettingCount>;

// In code order: 0x3800, 0x3801, 0x3810, 0x3811, 0x3812.
std::span<const SettingInfo> Settings();
// The place of a code in Settings(), or none.
std::optional<size_t> SettingIndex(DWORD code);
// By value name (case-insensitive) or code ("0x3800"); nullptr when unknown.
const SettingInfo* FindSetting(std::string_view name);

// Current values from the registry.
SettingValues ReadSettings();
// Writes one value; a Windows error code.
LONG WriteSetting(const SettingInfo& setting, DWORD value);

}  // namespace switchd
