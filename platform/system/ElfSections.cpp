// ELF section reader over a file or a memory image.  The format is read field
// by field in little-endian order, so nothing depends on the host's layout or
// alignment.
#include "platform/system/ElfSections.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system/detail/Text.h"

namespace platform {

namespace {

using detail::Load16;
using detail::Load32;
using detail::Load64;

constexpr unsigned char kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr unsigned kClass32 = 1;
constexpr unsigned kClass64 = 2;
constexpr unsigned kDataLittleEndian = 1;
constexpr unsigned kCurrentVersion = 1;
constexpr uint32_t kSectionNoBits = 8;        // SHT_NOBITS: occupies no file space
constexpr uint32_t kExtendedIndex = 0xFFFF;   // SHN_XINDEX: real index in section 0

// Where the bytes come from: a file read with pread, or a memory image.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `length` bytes at `offset`; the caller has checked the range.
  virtual bool Read(uint64_t offset, size_t length, unsigned char* out) const = 0;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::span<const unsigned char> image) : image_(image) {}
  uint64_t Size() const override { return image_.size(); }
  bool Read(uint64_t offset, size_t length, unsigned char* out) const override {
    if (length != 0) std::memcpy(out, image_.data() + offset, length);
    return true;
  }

 private:
  std::span<const unsigned char> image_;
};

class FileSource final : public Source {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t length, unsigned char* out) const override {
    size_t done = 0;
    while (done < length) {
      const ssize_t got = pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

// Owns a descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// True if [offset, offset + length) lies inside a file of `size` bytes.
bool InRange(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

struct SectionHeader {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

// The fields of the file header and section table that the reader needs.
struct Layout {
  bool is64 = false;
  uint64_t table_offset = 0;
  uint32_t entry_size = 0;
  uint64_t count = 0;
  uint32_t names_index = 0;
  std::vector<unsigned char> table;  // the whole section header table

  size_t MinEntrySize() const { return is64 ? 64 : 40; }

  SectionHeader Entry(uint64_t index) const {
    const unsigned char* p = table.data() + index * entry_size;
    SectionHeader header;
    header.name = Load32(p);
    header.type = Load32(p + 4);
    if (is64) {
      header.offset = Load64(p + 24);
      header.size = Load64(p + 32);
      header.link = Load32(p + 40);
    } else {
      header.offset = Load32(p + 16);
      header.size = Load32(p + 20);
      header.link = Load32(p + 24);
    }
    return header;
  }
};

ElfResult ReadLayout(const Source& source, Layout& layout) {
  const uint64_t file_size = source.Size();
  unsigned char header[64] = {};
  if (file_size < sizeof kElfMagic) return ElfResult::kNotElf;
  if (!source.Read(0, sizeof kElfMagic, header)) return ElfResult::kReadFailed;
  if (std::memcmp(header, kElfMagic, sizeof kElfMagic) != 0) return ElfResult::kNotElf;
  if (file_size < 16) return ElfResult::kMalformed;
  if (!source.Read(0, 16, header)) return ElfResult::kReadFailed;
  if (header[4] != kClass32 && header[4] != kClass64) return ElfResult::kUnsupported;
  if (header[5] != kDataLittleEndian || header[6] != kCurrentVersion) {
    return ElfResult::kUnsupported;
  }
  layout.is64 = header[4] == kClass64;
  const size_t header_size = layout.is64 ? 64 : 52;
  if (file_size < header_size) return ElfResult::kMalformed;
  if (!source.Read(0, header_size, header)) return ElfResult::kReadFailed;

  uint32_t count16 = 0;
  if (layout.is64) {
    layout.table_offset = Load64(header + 40);
    layout.entry_size = Load16(header + 58);
    count16 = Load16(header + 60);
    layout.names_index = Load16(header + 62);
  } else {
    layout.table_offset = Load32(header + 32);
    layout.entry_size = Load16(header + 46);
    count16 = Load16(header + 48);
    layout.names_index = Load16(header + 50);
  }
  if (layout.table_offset == 0) {
    layout.count = 0;
    return ElfResult::kOk;
  }
  if (layout.entry_size < layout.MinEntrySize()) return ElfResult::kMalformed;

  // Section 0 carries the real count and name-table index when they do not fit
  // the 16-bit header fields.
  unsigned char first[64] = {};
  if (!InRange(layout.table_offset, layout.MinEntrySize(), file_size)) {
    return ElfResult::kMalformed;
  }
  if (!source.Read(layout.table_offset, layout.MinEntrySize(), first)) {
    return ElfResult::kReadFailed;
  }
  layout.count = count16;
  if (count16 == 0) layout.count = layout.is64 ? Load64(first + 32) : Load32(first + 20);
  if (layout.names_index == kExtendedIndex) {
    layout.names_index = layout.is64 ? Load32(first + 40) : Load32(first + 24);
  }
  if (layout.count == 0) return ElfResult::kMalformed;
  // The table must lie inside the file; this also bounds the allocation below.
  if (layout.count > file_size / layout.entry_size ||
      !InRange(layout.table_offset, layout.count * layout.entry_size, file_size)) {
    return ElfResult::kMalformed;
  }
  if (layout.names_index >= layout.count) return ElfResult::kMalformed;
  layout.table.resize(static_cast<size_t>(layout.count * layout.entry_size));
  if (!source.Read(layout.table_offset, layout.table.size(), layout.table.data())) {
    return ElfResult::kReadFailed;
  }
  return ElfResult::kOk;
}

ElfResult FindSection(const Source& source, std::string_view name,
                      std::vector<unsigned char>& bytes) {
  bytes.clear();
  Layout layout;
  if (const ElfResult result = ReadLayout(source, layout); result != ElfResult::kOk) {
    return result;
  }
  if (layout.count == 0) return ElfResult::kSectionNotFound;

  const uint64_t file_size = source.Size();
  const SectionHeader names = layout.Entry(layout.names_index);
  if (names.type == kSectionNoBits || !InRange(names.offset, names.size, file_size)) {
    return ElfResult::kMalformed;
  }
  std::vector<unsigned char> strings(static_cast<size_t>(names.size));
  if (!source.Read(names.offset, strings.size(), strings.data())) return ElfResult::kReadFailed;

  for (uint64_t index = 0; index < layout.count; ++index) {
    const SectionHeader section = layout.Entry(index);
    if (section.name >= strings.size()) return ElfResult::kMalformed;
    const auto* begin = reinterpret_cast<const char*>(strings.data()) + section.name;
    const size_t room = strings.size() - section.name;
    const void* end = std::memchr(begin, '\0', room);
    if (end == nullptr) return ElfResult::kMalformed;
    const std::string_view section_name(begin, static_cast<size_t>(
                                                   static_cast<const char*>(end) - begin));
    if (section_name != name) continue;
    if (section.type == kSectionNoBits) return ElfResult::kOk;
    if (!InRange(section.offset, section.size, file_size)) return ElfResult::kMalformed;
    bytes.resize(static_cast<size_t>(section.size));
    if (!source.Read(section.offset, bytes.size(), bytes.data())) {
      bytes.clear();
      return ElfResult::kReadFailed;
    }
    return ElfResult::kOk;
  }
  return ElfResult::kSectionNotFound;
}

ElfResult OpenFile(const std::string& path, int& fd, uint64_t& size) {
  fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ElfResult::kFileNotFound;
    if (errno == EACCES || errno == EPERM) return ElfResult::kAccessDenied;
    return ElfResult::kReadFailed;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    fd = -1;
    return ElfResult::kReadFailed;
  }
  size = static_cast<uint64_t>(info.st_size);
  return ElfResult::kOk;
}

}  // namespace

const char* ElfResultName(ElfResult result) {
  switch (result) {
    case ElfResult::kOk: return "ok";
    case ElfResult::kFileNotFound: return "file not found";
    case ElfResult::kAccessDenied: return "access denied";
    case ElfResult::kReadFailed: return "read failed";
    case ElfResult::kNotElf: return "not an ELF file";
    case ElfResult::kUnsupported: return "unsupported ELF variant";
    case ElfResult::kMalformed: return "malformed ELF file";
    case ElfResult::kSectionNotFound: return "section not found";
  }
  return "unknown";
}

DWORD ElfResultError(ElfResult result) {
  switch (result) {
    case ElfResult::kOk: return ERROR_SUCCESS;
    case ElfResult::kFileNotFound: return ERROR_FILE_NOT_FOUND;
    case ElfResult::kAccessDenied: return ERROR_ACCESS_DENIED;
    case ElfResult::kReadFailed: return ERROR_READ_FAULT;
    case ElfResult::kNotElf:
    case ElfResult::kUnsupported:
    case ElfResult::kMalformed: return ERROR_BAD_FORMAT;
    case ElfResult::kSectionNotFound: return ERROR_RESOURCE_TYPE_NOT_FOUND;
  }
  return ERROR_INVALID_PARAMETER;
}

ElfResult ReadElfSection(const std::string& path, std::string_view name,
                         std::vector<unsigned char>& bytes) {
  bytes.clear();
  int fd = -1;
  uint64_t size = 0;
  if (const ElfResult result = OpenFile(path, fd, size); result != ElfResult::kOk) return result;
  const FileDescriptor owner(fd);
  return FindSection(FileSource(owner.Get(), size), name, bytes);
}

ElfResult ReadElfSection(std::span<const unsigned char> image, std::string_view name,
                         std::vector<unsigned char>& bytes) {
  return FindSection(MemorySource(image), name, bytes);
}

ElfResult CheckElfFile(const std::string& path) {
  int fd = -1;
  uint64_t size = 0;
  if (const ElfResult result = OpenFile(path, fd, size); result != ElfResult::kOk) return result;
  const FileDescriptor owner(fd);
  Layout layout;
  return ReadLayout(FileSource(owner.Get(), size), layout);
}

}  // namespace platform
