// One named string of a file's version resource, such as "FileDescription" or
// "ProductVersion", read through the platform's version-information functions.
// Failures are not errors for the caller: the value is "" and LastError() holds
// the platform's code.
//
//   FileVersionInfo info;
//   const char* version = info.QueryString(module_path, "FileVersion", 0, 0);
#pragma once

#include <memory>

#include "platform/WinTypes.h"

class FileVersionInfo {
 public:
  FileVersionInfo() = default;
  ~FileVersionInfo();
  FileVersionInfo(const FileVersionInfo&) = delete;
  FileVersionInfo& operator=(const FileVersionInfo&) = delete;

  // The value of string `key` for the given translation; language 0 takes the
  // first translation that the file lists (code page is then ignored).  The
  // text stays valid until the next query or the object's end.
  const char* QueryString(LPCSTR file, LPCSTR key, WORD language, WORD codepage);

  // Size of the file's version block, 0 on failure (traced at level 1).
  DWORD ReadBlockSize(LPCSTR file);
  // Reads the version block into `block` of `size` bytes.
  BOOL ReadBlock(LPCSTR file, LPVOID block, DWORD size);
  // Picks the translation from a block: the first one when *language is 0,
  // else the first one with that language.  False when the list is missing,
  // empty or lacks the language.
  BOOL FindTranslation(const void* block, WORD* language, WORD* codepage);

  // The platform's error code of the last query, 0 after success.
  DWORD LastError() const { return last_error_; }
  // Length that the version functions reported for the last value (0 for "").
  UINT ValueLength() const { return value_length_; }

 private:
  void ReleaseBlock();

  std::unique_ptr<BYTE[]> block_;
  DWORD block_size_ = 0;
  const char* value_ = "";
  UINT value_length_ = 0;
  DWORD last_error_ = 0;
};
