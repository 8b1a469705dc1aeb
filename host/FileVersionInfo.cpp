// Reading strings from a file's version resource.
#include "host/FileVersionInfo.h"

#include <cstdio>
#include <new>

#include "platform/system/Threads.h"
#include "platform/system/Version.h"
#include "trace/FileDebug.h"

// Windows can hide a file from a 32-bit process on a 64-bit system through its
// file-system redirection, and the reads are then repeated with redirection
// switched off.  Linux redirects nothing, so a read that fails here has failed.

FileVersionInfo::~FileVersionInfo() { ReleaseBlock(); }

void FileVersionInfo::ReleaseBlock() {
  block_.reset();
  block_size_ = 0;
}

const char* FileVersionInfo::QueryString(LPCSTR file, LPCSTR key, WORD language, WORD codepage) {
  value_ = "";
  value_length_ = 0;
  ReleaseBlock();

  bool succeeded = false;
  const DWORD size = ReadBlockSize(file);
  if (size != 0) {
    block_.reset(new (std::nothrow) BYTE[size]);
    if (block_ == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (block_ != nullptr) {
    block_size_ = size;
    if (!ReadBlock(file, block_.get(), block_size_)) {
      TRACE(1, "\n                    : ERROR 0x%X! GetVersionInfo() FAILED!", GetLastError());
    } else if (!FindTranslation(block_.get(), &language, &codepage)) {
      TRACE(1, "\n                    : ERROR 0x%X! ContainsLanguageId() FAILED!", GetLastError());
    } else {
      char sub_block[64 + MAX_PATH];
      std::snprintf(sub_block, sizeof sub_block, "\\StringFileInfo\\%04X%04X\\%s", language,
                    codepage, key != nullptr ? key : "");
      LPVOID value = nullptr;
      UINT length = 0;
      if (VerQueryValueA(block_.get(), sub_block, &value, &length) && value != nullptr) {
        value_ = static_cast<const char*>(value);
        value_length_ = length;
        succeeded = true;
      }
    }
  }
  last_error_ = succeeded ? 0 : GetLastError();
  return value_;
}

DWORD FileVersionInfo::ReadBlockSize(LPCSTR file) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &handle);
  if (size == 0) {
    TRACE(1, "\n                    : ERROR 0x%X! GetFileVersionInfoSize() (\"%s\") FAILED!",
          GetLastError(), file != nullptr ? file : "");
  }
  return size;
}

BOOL FileVersionInfo::ReadBlock(LPCSTR file, LPVOID block, DWORD size) {
  return GetFileVersionInfoA(file, 0, size, block);
}

BOOL FileVersionInfo::FindTranslation(const void* block, WORD* language, WORD* codepage) {
  LPVOID list = nullptr;
  UINT length = 0;
  if (block == nullptr || language == nullptr || codepage == nullptr ||
      !VerQueryValueA(block, "\\VarFileInfo\\Translation", &list, &length) || list == nullptr) {
    return FALSE;
  }
  // Each entry: the language in the low word, the code page in the high word.
  const auto* entries = static_cast<const DWORD*>(list);
  for (UINT i = 0; i < length / sizeof(DWORD); ++i) {
    const auto entry_language = static_cast<WORD>(entries[i] & 0xFFFF);
    if (*language == 0 || *language == entry_language) {
      *language = entry_language;
      *codepage = static_cast<WORD>(entries[i] >> 16);
      return TRUE;
    }
  }
  SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
  return FALSE;
}
