// Reads the bytes of one named section of an ELF file, the container in which
// this system keeps data that Windows keeps in resources (version blocks and
// message tables).  Every offset and size read from the file is checked against
// the file's size, so a truncated or corrupted file gives an error, never a
// crash or an out-of-range read.
//
//   std::vector<unsigned char> bytes;
//   if (platform::ReadElfSection("/usr/lib/x.so", ".lorveth_version", bytes) ==
//       platform::ElfResult::kOk) { ... }
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace platform {

enum class ElfResult {
  kOk,
  kFileNotFound,      // the file does not exist
  kAccessDenied,      // the file exists but cannot be read
  kReadFailed,        // an I/O error while reading
  kNotElf,            // no ELF identification
  kUnsupported,       // big-endian, unknown class or version
  kMalformed,         // a header, table or name lies outside the file or is inconsistent
  kSectionNotFound,   // a well-formed file without that section
};

// Short English name of a result, for messages and test output.
const char* ElfResultName(ElfResult result);

// The Windows error code of a failed read: ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_READ_FAULT, ERROR_BAD_FORMAT (not a well-formed ELF
// file) or ERROR_RESOURCE_TYPE_NOT_FOUND (no such section); 0 for kOk.
DWORD ElfResultError(ElfResult result);

// Reads the contents of the first section named `name` from the ELF file at
// `path` into `bytes` (replaced).  A section without file contents (SHT_NOBITS)
// reads as empty.  On any error `bytes` is left empty.
ElfResult ReadElfSection(const std::string& path, std::string_view name,
                         std::vector<unsigned char>& bytes);

// The same over an image held in memory (the whole file).
ElfResult ReadElfSection(std::span<const unsigned char> image, std::string_view name,
                         std::vector<unsigned char>& bytes);

// Checks that `path` is a readable, well-formed ELF file (header and section
// table); the sections themselves are not read.
ElfResult CheckElfFile(const std::string& path);

}  // namespace platform
