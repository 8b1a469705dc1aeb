// File version information by its Windows names.  A file's version block is
// kept in the ELF section ".lorveth_version" (written at build time by
// lorveth_version_resource(); layout in docs/version-resource.md) and is read
// back from the file on disk:
//
//   DWORD ignored = 0;
//   const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
//   std::vector<unsigned char> block(size);
//   GetFileVersionInfoA(path, 0, size, block.data());
//   char* text = nullptr;
//   UINT length = 0;
//   VerQueryValueA(block.data(), "\\StringFileInfo\\040704B0\\FileVersion",
//                  reinterpret_cast<LPVOID*>(&text), &length);
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

// Size of the file's version block, 0 on failure with the last error:
// ERROR_FILE_NOT_FOUND (no such file), ERROR_ACCESS_DENIED, ERROR_BAD_FORMAT
// (not a well-formed ELF file), ERROR_RESOURCE_TYPE_NOT_FOUND (no version block),
// ERROR_INVALID_DATA (a damaged block).  *handle (optional) is set to 0.  A "\"
// in the path is taken as "/".
DWORD GetFileVersionInfoSizeA(LPCSTR file, DWORD* handle);

// Copies the version block into data.  Fails with ERROR_INSUFFICIENT_BUFFER and
// copies nothing when size is below the block's size (Windows would copy a cut
// block; a whole one is the only kind VerQueryValueA can read safely).
BOOL GetFileVersionInfoA(LPCSTR file, DWORD handle, DWORD size, LPVOID data);

// Finds a value in a block that GetFileVersionInfoA filled; *buffer points into
// the block.  Sub-blocks: "\" (VS_FIXEDFILEINFO, length in bytes),
// "\VarFileInfo\Translation" (array of DWORDs: language in the low word, code
// page in the high word; length in bytes) and "\StringFileInfo\llllcccc\Key"
// (text; length in characters including the terminator).  Names and hex digits
// are matched without regard to case.  On failure: FALSE with
// ERROR_RESOURCE_TYPE_NOT_FOUND (unknown sub-block), ERROR_RESOURCE_LANG_NOT_FOUND
// (no string table for that translation), ERROR_RESOURCE_NAME_NOT_FOUND (no such
// key) or ERROR_INVALID_DATA (not a valid block).
BOOL VerQueryValueA(const void* block, LPCSTR sub_block, LPVOID* buffer, UINT* length);

namespace platform {

// Size of the valid version block at the start of `data`, 0 when `data` does
// not begin with a complete, consistent block.
size_t ValidateVersionBlock(const unsigned char* data, size_t size);

}  // namespace platform
