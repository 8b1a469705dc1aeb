// Version block validation and lookup over arbitrary bytes: a block that
// validates must answer every query from inside itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/system/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t block_size = platform::ValidateVersionBlock(data, size);
  if (block_size == 0) return 0;
  // Blocks are read in place, so they live in aligned memory as
  // GetFileVersionInfoA's callers provide it.
  const std::unique_ptr<uint32_t[]> aligned(new uint32_t[(block_size + 3) / 4]);
  std::memcpy(aligned.get(), data, block_size);
  const auto* begin = reinterpret_cast<const unsigned char*>(aligned.get());
  auto check = [&](const char* sub_block) {
    LPVOID value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(aligned.get(), sub_block, &value, &length)) {
      const auto* found = static_cast<const unsigned char*>(value);
      if (found < begin || found + length > begin + block_size) __builtin_trap();
    }
  };
  check("\\");
  check("\\VarFileInfo\\Translation");
  LPVOID list = nullptr;
  UINT length = 0;
  if (VerQueryValueA(aligned.get(), "\\VarFileInfo\\Translation", &list, &length) && length >= 4) {
    DWORD entry = 0;
    std::memcpy(&entry, list, sizeof entry);
    char sub_block[64];
    for (const char* key : {"FileDescription", "CompanyName", "FileVersion", "ProductVersion"}) {
      std::snprintf(sub_block, sizeof sub_block, "\\StringFileInfo\\%04X%04X\\%s",
                    static_cast<unsigned>(entry & 0xFFFF), static_cast<unsigned>(entry >> 16), key);
      check(sub_block);
    }
  }
  return 0;
}
