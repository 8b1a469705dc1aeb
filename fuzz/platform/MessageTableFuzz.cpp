// Message table lookup and message expansion over arbitrary text: the input is
// the table; every message it yields is expanded with five text arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/eventlog/Messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view table(reinterpret_cast<const char*>(data), size);
  static const char* const kTexts[] = {"srv1", "12:00", "cpu", "97", "a comment"};
  uintptr_t arguments[5];
  for (size_t i = 0; i < 5; ++i) arguments[i] = reinterpret_cast<uintptr_t>(kTexts[i]);
  std::string out;
  // Ids from the first bytes and the agent's own trap messages.
  DWORD first = 0;
  for (size_t i = 0; i < size && i < 4; ++i) first = first << 8 | data[i];
  for (const DWORD id : {first, 0xC0002FA8u, 0x80002FAAu, 0x40002FABu, 100u}) {
    if (const auto text = platform::FindMessage(table, id)) {
      platform::ExpandMessage(*text, nullptr, 0, true, out);
    }
  }
  // Inserts beyond the fifth are refused rather than read.
  platform::ExpandMessage(table, arguments, 5, false, out);
  platform::ExpandMessage(table, nullptr, 0, true, out);
  return 0;
}
