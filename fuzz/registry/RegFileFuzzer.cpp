// Feeds arbitrary bytes to the .reg reader.  Whatever it accepts must be
// written out as text that it accepts again, with the same sections and values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/reg/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  regtool::RegDocument document;
  if (!regtool::ParseRegText(bytes, &document).ok) return 0;
  const std::string text = regtool::WriteRegText(document);
  regtool::RegDocument again;
  if (!regtool::ParseRegText(text, &again).ok) std::abort();
  if (again.sections.size() != document.sections.size()) std::abort();
  for (size_t i = 0; i < document.sections.size(); ++i) {
    if (again.sections[i].key != document.sections[i].key ||
        again.sections[i].values.size() != document.sections[i].values.size()) {
      std::abort();
    }
  }
  return 0;
}
