// Trap alerting: event-log entries and administrator alerts for traps.
#include "frame/TrapAlert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/eventlog/EventLog.h"
#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"
#include "platform/system/Threads.h"
#include "platform/system/Unicode.h"
#include "trace/FileDebug.h"

const Trap2MsgRow Trap2MsgTable[] = {
    {0, 0x40002710}, {1, 0xC0002711}, {2, 0x40002712}, {3, 0x40002713}, {4, 0xC0002714},
    {7, 0xC0002717}, {8, 0x40002718}, {9, 0x40002719}, {10, 0x4000271A}, {11, 0x4000271B},
    {12, 0x4000271C}, {13, 0x4000271D}, {14, 0x4000271E}, {15, 0x4000271F}, {16, 0x40002720},
    {17, 0x40002721}, {18, 0x40002722}, {19, 0x40002723}, {20, 0x40002724}, {21, 0x40002725},
    {22, 0x40002726}, {23, 0xC0002727}, {25, 0x40002729}, {27, 0x4000272B}, {28, 0x4000272C},
    {29, 0x4000272D}, {32, 0x40002730}, {33, 0x40002731}, {34, 0xC0002732}, {37, 0x40002735},
    {38, 0x40002736}, {39, 0x40002737}, {40, 0x40002738}, {41, 0x40002739}, {42, 0x4000273A},
    {43, 0x4000273B}, {44, 0x4000273C}, {46, 0x4000273E}, {47, 0x4000273F}, {48, 0x40002740},
    {49, 0x40002741}, {50, 0x40002742}, {51, 0x40002743}, {128, 0x40002790}, {129, 0x40002791},
    {130, 0x40002792}, {131, 0x40002793}, {132, 0x40002794}, {133, 0x40002795}, {200, 0x400027D8},
    {201, 0x400027D9}, {202, 0x400027DA}, {203, 0x400027DB}, {204, 0x400027DC}, {205, 0xC00027DD},
    {206, 0xC00027DE}, {207, 0xC00027DF}, {208, 0x400027E0}, {209, 0x400027E1}, {210, 0x400027E2},
    {211, 0x400027E3}, {212, 0xC00027E4}, {213, 0xC00027E5}, {214, 0xC00027E6}, {215, 0xC00027E7},
    {216, 0x400027E8}, {217, 0xC00027E9}, {218, 0x400027EA}, {219, 0xC00027EB}, {220, 0xC00027EC},
    {221, 0xC00027ED}, {222, 0x400027EE}, {223, 0x400027EF}, {224, 0x400027F0}, {225, 0x400027F1},
    {226, 0xC00027F2}, {227, 0xC00027F3}, {228, 0xC00027F4}, {229, 0x400027F5}, {230, 0x400027F6},
    {231, 0x400027F7}, {232, 0xC00027F8}, {233, 0x400027F9}, {234, 0x400027FA}, {235, 0x400027FB},
    {236, 0x400027FC}, {237, 0xC00027FD}, {238, 0x800027FE}, {239, 0x400027FF}, {240, 0x40002800},
    {250, 0x4000280A}, {251, 0x8000280B}, {252, 0x8000280C}, {253, 0x8000280D}, {254, 0x8000280E},
    {255, 0xC000280F}, {256, 0xC0002810}, {257, 0xC0002811}, {258, 0xC0002812}, {260, 0xC0002814},
    {261, 0x80002815}, {262, 0x80002816}, {270, 0xC000281E}, {271, 0x4000281F}, {275, 0x40002823},
    {276, 0xC0002824}, {277, 0x40002825}, {300, 0x4000283C}, {301, 0x4000283D}, {302, 0x4000283E},
    {303, 0x4000283F}, {304, 0x40002840}, {305, 0x40002841}, {310, 0x40002846}, {311, 0x40002847},
    {312, 0x40002848}, {313, 0x40002849}, {320, 0x40002850}, {321, 0x40002851}, {322, 0x40002852},
    {323, 0x40002853}, {324, 0x40002854}, {325, 0x40002855}, {330, 0x4000285A}, {331, 0x4000285B},
    {332, 0x4000285C}, {333, 0x4000285D}, {334, 0x4000285E}, {600, 0x40002968}, {601, 0xC0002969},
    {602, 0x4000296A}, {603, 0xC000296B}, {604, 0xC000296C}, {606, 0xC000296E}, {607, 0x4000296F},
    {608, 0x80002970}, {609, 0xC0002971}, {610, 0x80002972}, {611, 0x40002973}, {612, 0xC0002974},
    {613, 0x40002975}, {614, 0x40002976}, {615, 0xC0002977}, {616, 0x80002978}, {617, 0x40002979},
    {618, 0x4000297A}, {620, 0x4000297C}, {621, 0x4000297D}, {622, 0xC000297E}, {623, 0x4000297F},
    {624, 0x40002980}, {625, 0x40002981}, {626, 0xC0002982}, {627, 0x40002983}, {628, 0xC0002984},
    {629, 0x40002985}, {630, 0xC0002986}, {631, 0x40002987}, {632, 0xC0002988}, {633, 0xC0002989},
    {634, 0xC000298A}, {635, 0x4000298B}, {636, 0x4000298C}, {637, 0x4000298D}, {638, 0xC000298E},
    {639, 0x4000298F}, {640, 0xC0002990}, {641, 0x40002991}, {642, 0xC0002992}, {643, 0x40002993},
    {644, 0xC0002994}, {645, 0x40002995}, {646, 0x40002996}, {647, 0x40002997}, {648, 0xC0002998},
    {649, 0xC0002999}, {650, 0x4000299A}, {651, 0xC000299B}, {652, 0xC000299C}, {653, 0x4000299D},
    {654, 0x4000299E}, {655, 0x4000299F}, {656, 0x400029A0}, {657, 0x400029A1}, {658, 0x400029A2},
    {659, 0x400029A3}, {660, 0x400029A4}, {661, 0x400029A5}, {662, 0x400029A6}, {663, 0x400029A7},
    {664, 0xC00029A8}, {665, 0x400029A9}, {666, 0xC00029AA}, {667, 0x800029AB}, {668, 0xC00029AC},
    {669, 0xC00029AD}, {670, 0xC00029AE}, {671, 0x800029AF}, {672, 0x800029B0}, {673, 0xC00029B1},
    {674, 0xC00029B2}, {675, 0xC00029B3}, {676, 0xC00029B4}, {677, 0xC00029B5}, {678, 0xC00029B6},
    {679, 0xC00029B7}, {700, 0x400029CC}, {701, 0x400029CD}, {702, 0x400029CE}, {703, 0x400029CF},
    {704, 0x400029D0}, {705, 0x400029D1}, {706, 0x400029D2}, {707, 0x400029D3}, {708, 0x400029D4},
    {709, 0x400029D5}, {710, 0x400029D6}, {711, 0x400029D7}, {712, 0x400029D8}, {747, 0x400029FB},
    {748, 0x400029FC}, {749, 0x400029FD}, {750, 0xC00029FE}, {751, 0x400029FF}, {801, 0x40002A31},
    {810, 0xC0002A3A}, {811, 0x40002A3B}, {812, 0xC0002A3C}, {830, 0x40002A4E}, {831, 0x40002A4F},
    {832, 0xC0002A50}, {840, 0x40002A58}, {841, 0x40002A59}, {850, 0x40002A62}, {851, 0x40002A63},
    {852, 0xC0002A64}, {853, 0x40002A65}, {860, 0x40002A6C}, {861, 0x40002A6D}, {862, 0xC0002A6E},
    {863, 0x40002A6F}, {895, 0x40002A8F}, {896, 0x40002A90}, {897, 0x40002A91}, {910, 0x40002A9E},
    {911, 0x40002A9F}, {912, 0xC0002AA0}, {913, 0x40002AA1}, {920, 0x40002AA8}, {921, 0x40002AA9},
    {922, 0xC0002AAA}, {923, 0x40002AAB}, {924, 0x40002AAC}, {925, 0x40002AAD}, {926, 0x40002AAE},
    {927, 0x40002AAF}, {928, 0x40002AB0}, {929, 0x40002AB1}, {930, 0x40002AB2}, {931, 0x40002AB3},
    {932, 0xC0002AB4}, {933, 0x40002AB5}, {934, 0x40002AB6}, {935, 0xC0002AB7}, {936, 0x40002AB8},
    {937, 0x40002AB9}, {938, 0xC0002ABA}, {939, 0x40002ABB}, {940, 0xC0002ABC}, {941, 0xC0002ABD},
    {942, 0xC0002ABE}, {1000, 0x40002AF8}, {1001, 0x40002AF9}, {1002, 0x40002AFA},
    {1020, 0x40002B0C}, {1021, 0x40002B0D}, {1022, 0x40002B0E}, {1100, 0x40002B5C},
    {2000, 0x40002EE0}, {2001, 0x80002EE1}, {2002, 0x40002EE2}, {2003, 0x80002EE3},
    {2004, 0xC0002EE4}, {2005, 0xC0002EE5}, {2006, 0xC0002EE6}, {2010, 0x40002EEA},
    {2011, 0x40002EEB}, {2012, 0x40002EEC}, {2013, 0xC0002EED}, {2014, 0xC0002EEE},
    {2015, 0xC0002EEF}, {2020, 0x40002EF4}, {2021, 0xC0002EF5}, {2022, 0xC0002EF6},
    {2023, 0x40002EF7}, {2024, 0xC0002EF8}, {2030, 0x40002EFE}, {2031, 0x40002EFF},
    {2032, 0x40002F00}, {2033, 0xC0002F01}, {2034, 0xC0002F02}, {2035, 0xC0002F03},
    {2036, 0x80002F04}, {2040, 0xC0002F08}, {2041, 0xC0002F09}, {2042, 0xC0002F0A},
    {2043, 0x40002F0B}, {2050, 0x40002F12}, {2051, 0xC0002F13}, {2052, 0xC0002F14},
    {2053, 0xC0002F15}, {2054, 0xC0002F16}, {2060, 0x40002F1C}, {2061, 0xC0002F1D},
    {2062, 0x40002F1E}, {2063, 0xC0002F1F}, {2064, 0x40002F20}, {2065, 0xC0002F21},
    {2066, 0x40002F22}, {2067, 0xC0002F23}, {2068, 0xC0002F24}, {2069, 0xC0002F25},
    {2070, 0xC0002F26}, {2071, 0x80002F27}, {2072, 0x80002F28}, {2073, 0xC0002F29},
    {2074, 0xC0002F2A}, {2080, 0x40002F30}, {2081, 0xC0002F31}, {2090, 0x40002F3A},
    {2091, 0x40002F3B}, {2092, 0x40002F3C}, {2093, 0x40002F3D}, {2094, 0x40002F3E},
    {2095, 0xC0002F3F}, {2100, 0x80002F44}, {2101, 0x80002F45}, {2102, 0xC0002F46},
    {2110, 0xC0002F4E}, {2111, 0x40002F4F}, {2112, 0xC0002F50}, {2113, 0xC0002F51},
    {2200, 0xC0002FA8}, {2201, 0xC0002FA9}, {2202, 0x80002FAA}, {2203, 0x40002FAB},
    {2204, 0x40002FAC}, {-1, 0xFFFFFFFF},
};

size_t Trap2MsgTableSize() {
  size_t count = 0;
  while (Trap2MsgTable[count].trap_number != -1) ++count;
  return count;
}

namespace {

char* CopyText(const char* bytes, size_t length) {
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, bytes, length);
  copy[length] = '\0';
  return copy;
}


}  // namespace

CTrapAlert::~CTrapAlert() {
  FreeParams();
  if (message_library_ != nullptr) FreeLibrary(message_library_);
}

void CTrapAlert::FreeParams() {
  for (size_t i = 0; i < kMaxParams; ++i) {
    std::free(params_[i]);
    params_[i] = nullptr;
  }
  param_count_ = 0;
}

bool CTrapAlert::LoadMessageDLL(const char* path) {
  TRACE(3, "\nCTrapAlert          : load message DLL \"%s\"", path);
  // Data only: nothing in the file is resolved or run.
  message_library_ = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (message_library_ == nullptr) {
    TRACE(1, "\n\nCTrapAlert          : ## ERROR! LoadMessageDLL(): could not load messages DLL %s (0x%08X)!\n",
          path, GetLastError());
    return false;
  }
  return true;
}

void CTrapAlert::SetTrapParams(const SnmpVarBindList* varbinds, DWORD trap_number) {
  TRACE(3, "\nCTrapAlert          : SetTrapParams(): set trap parameters for trap number %d",
        trap_number);
  FreeParams();
  trap_number_ = trap_number;

  message_id_ = kNoMessage;
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    if (static_cast<DWORD>(row->trap_number) == trap_number) {
      message_id_ = row->message_id;
      TRACE(3, "\nCTrapAlert          : Trap found in Trap2MsgTable, Msg Id = 0x%08X", message_id_);
      break;
    }
  }

  TRACE(3, "\nCTrapAlert          :  get trap parameters from trap varbind...");
  if (varbinds == nullptr) return;
  for (UINT i = 0; i < varbinds->len; ++i) {
    const AsnAny& value = varbinds->list[i].value;
    switch (value.asnType) {
      case ASN_INTEGER:
      case ASN_COUNTER32:
      case ASN_GAUGE32:
      case ASN_TIMETICKS: {
        TRACE(3, "\nCTrapAlert          :  add numeric parameter[%d], value=%d...", i,
              value.asnValue.number);
        if (param_count_ < kMaxParams) {
          char number[16];
          std::snprintf(number, sizeof number, "%u", value.asnValue.unsigned32);
          params_[param_count_++] = CopyText(number, std::strlen(number));
        }
        break;
      }
      case ASN_OCTETSTRING:
        TRACE(3, "\nCTrapAlert          :  add string parameter[%d]...", i);
        if (param_count_ < kMaxParams) {
          params_[param_count_++] =
              CopyText(reinterpret_cast<const char*>(value.asnValue.string.stream),
                       value.asnValue.string.stream != nullptr ? value.asnValue.string.length : 0);
        }
        break;
      default:
        break;
    }
  }
}

bool CTrapAlert::FilterSelects(BYTE filter) const {
  const DWORD severity = message_id_ >> 30;
  if (severity == 0) return false;
  return (filter & (1u << (severity - 1))) != 0;
}

bool CTrapAlert::Write2EventLog(BYTE filter, const char* computer_name) {
  TRACE(3, "\nCTrapAlert          : Write2EventLog() trap# %d", trap_number_);
  if (message_id_ == kNoMessage) {
    TRACE(1, "\nCTrapAlert          : ERROR! TrapMsgId not found!!");
    return false;
  }
  if (!FilterSelects(filter)) return false;
  TRACE(3, "\nCTrapAlert          : Logging trap to event log ...!");
  const char* server = computer_name != nullptr && *computer_name != '\0' ? computer_name : nullptr;
  HANDLE source = RegisterEventSourceA(server, "Korvell Agents");
  bool reported = false;
  if (source != nullptr) {
    WORD type = EVENTLOG_SUCCESS;
    switch (message_id_ >> 30) {
      case 3: type = EVENTLOG_ERROR_TYPE; break;
      case 2: type = EVENTLOG_WARNING_TYPE; break;
      case 1: type = EVENTLOG_INFORMATION_TYPE; break;
      default: break;
    }
    const char* strings[kMaxParams];
    for (DWORD i = 0; i < param_count_; ++i) strings[i] = params_[i];
    reported = ReportEventA(source, type, 0, message_id_, nullptr,
                            static_cast<WORD>(param_count_), 0, strings, nullptr) != FALSE;
    DeregisterEventSource(source);
  }
  if (!reported) {
    TRACE(1, "\nCTrapAlert:: ERROR: writing to event log failed, LastError=%d!!", GetLastError());
  }
  return reported;
}

bool CTrapAlert::RaiseAdminAlert(BYTE filter) {
  if (message_id_ == kNoMessage || !FilterSelects(filter)) return false;
  TRACE(3, "\nCTrapAlert          : Create net alert for trap ...");
  if (message_library_ == nullptr) return false;
  char text[1000];
  const char* arguments[kMaxParams + 1] = {};
  for (DWORD i = 0; i < param_count_; ++i) arguments[i] = params_[i];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, message_library_,
                     message_id_, 0, text, sizeof text, platform::ArgumentArray(arguments));
  if (length == 0) return false;

  // The variable part: the administrator-alert header, then the UTF-16 text
  // with its terminator, in a zero-filled buffer of 2 * length + 14 bytes.
  const std::u16string wide = platform::Utf8ToUtf16(text);
  std::vector<BYTE> buffer(2 * std::strlen(text) + 14, 0);
  ADMIN_OTHER_INFO header{};
  header.alrtad_errcode = 0xFFFFFFFF;
  header.alrtad_numstrings = 1;
  std::memcpy(buffer.data(), &header, sizeof header);
  const size_t room = buffer.size() - sizeof header;
  std::memcpy(buffer.data() + sizeof header, wide.c_str(),
              std::min(room, (wide.size() + 1) * sizeof(char16_t)));
  return NetAlertRaiseEx(u"ADMIN", buffer.data(), static_cast<DWORD>(buffer.size()),
                         u"Server Control") == NERR_Success;
}
