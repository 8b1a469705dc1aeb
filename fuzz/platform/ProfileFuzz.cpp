// The initialization-file parser over arbitrary text.  The first two lines name
// the section and key to look up; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/system/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto next_line = [&input]() {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return line;
  };
  const std::string_view section = next_line();
  const std::string_view key = next_line();
  platform::FindProfileValue(input, section, key);
  platform::FindProfileValue(input, "TrapTable", "2201");
  return 0;
}
