// The ELF section reader over arbitrary images: never a crash, never a read
// outside the image, and a found version section is validated in turn.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/system/ElfSections.h"
#include "platform/system/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const unsigned char> image(data, size);
  std::vector<unsigned char> bytes;
  for (const char* name : {".lorveth_version", ".lorveth_messages", ".shstrtab", ""}) {
    if (platform::ReadElfSection(image, name, bytes) == platform::ElfResult::kOk) {
      if (bytes.size() > size) __builtin_trap();
      platform::ValidateVersionBlock(bytes.data(), bytes.size());
    } else if (!bytes.empty()) {
      __builtin_trap();
    }
  }
  return 0;
}
