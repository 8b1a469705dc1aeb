// The values that this agent and the server-control service agree on: the
// switch's class and event interface ids, the names and dispatch ids of its
// members, and the operation, table and setting codes carried in command
// frames.  The service stand-in uses the same header.
#pragma once

#include "platform/com/Com.h"
#include "platform/WinTypes.h"

namespace switch_protocol {

// The switch automation object and the dispatch interface of its events.
inline constexpr CLSID CLSID_LorvethSwitch = {
    0x6C1E3A52, 0x8F47, 0x4D2B, {0x9A, 0x31, 0x5E, 0x27, 0xC4, 0x0B, 0x71, 0xD8}};
inline constexpr IID DIID_LorvethSwitchEvents = {
    0x6C1E3A53, 0x8F47, 0x4D2B, {0x9A, 0x31, 0x5E, 0x27, 0xC4, 0x0B, 0x71, 0xD8}};

// Members of the switch, in the order in which the client looks them up.
// SyncRequest, DefaultTimeout, ServerCabinetNumber and ServerControlVersion
// are looked up but never called.
inline constexpr int kMethodCount = 8;
inline constexpr const char16_t* kMethodNames[kMethodCount] = {
    u"SyncRequest",          u"DefaultTimeout", u"VCRequest",  u"ServerCabinetNumber",
    u"ServerControlVersion", u"VCRequestEx",    u"ClientName", u"CmdRequest"};
enum MethodIndex : int {
  kSyncRequest = 0,
  kDefaultTimeout = 1,
  kVCRequest = 2,
  kServerCabinetNumber = 3,
  kServerControlVersion = 4,
  kVCRequestEx = 5,
  kClientName = 6,
  kCmdRequest = 7,
};

// Dispatch ids of the event interface.  1 and 2 exist but carry nothing the
// agent uses; 3 carries the header fields one by one, 4 a raw header image.
inline constexpr DISPID kEventDispatchFirst = 1;
inline constexpr DISPID kEventDispatchSecond = 2;
inline constexpr DISPID kEventWithFields = 3;
inline constexpr DISPID kEventWithHeader = 4;

// Header values of requests.
inline constexpr DWORD kAgentCabinet = 0xFFFFFFFF;
inline constexpr DWORD kStatNoData = 0x13;          // frames built whole
inline constexpr DWORD kStatRequestPending = 0x16;  // frames set up field by field

// Operation codes.
inline constexpr DWORD kOcThresholdStatus = 0x2200;
inline constexpr DWORD kOcThresholdEvent = 0x2201;  // CM_ThresholdEvent, sent by the service
inline constexpr DWORD kOcRuleSetDocument = 0x2202;
inline constexpr DWORD kOcRuleCurrentValue = 0x2207;
inline constexpr DWORD kOcRuleSetStatus = 0x2208;
inline constexpr DWORD kOcReportSetStatus = 0x2210;
inline constexpr DWORD kOcReportSetDocument = 0x2211;
inline constexpr DWORD kOcReportRecordValue = 0x2213;
inline constexpr DWORD kOcReportCurrentValue = 0x2214;
inline constexpr DWORD kOcReportHighestRecord = 0x2215;
inline constexpr DWORD kOcReportOldestRecord = 0x2216;
inline constexpr DWORD kOcPerformanceStatus = 0x2220;
inline constexpr DWORD kOcReadConfiguration = 0xE001;  // a table or a setting, by OE
inline constexpr DWORD kOcStoreConfiguration = 0xE002;  // store request; change and setting events

// Table codes (OE of kOcReadConfiguration / kOcStoreConfiguration).
inline constexpr DWORD kTableRuleSets = 0x310;
inline constexpr DWORD kTableRules = 0x311;
inline constexpr DWORD kTableResources = 0x312;
inline constexpr DWORD kTableTargets = 0x313;
inline constexpr DWORD kTableEvents = 0x314;
inline constexpr DWORD kTableReportSets = 0x320;
inline constexpr DWORD kTableReports = 0x321;

// Setting codes (OE), each a one-byte value.
inline constexpr DWORD kSettingTrap2EventLog = 0x3800;
inline constexpr DWORD kSettingTrapToAdminAlert = 0x3801;
inline constexpr DWORD kSettingSetAllowed = 0x3810;
inline constexpr DWORD kSettingShutdownIsAllowed = 0x3811;
inline constexpr DWORD kSettingDoAccountCheck = 0x3812;

}  // namespace switch_protocol
