// The command frame exchanged with the server-control service, and the buffer
// through which the agent builds a request and reads its reply.
//
// A frame is a 48-byte header (CmdHeader) followed by `Len` data bytes, all in
// one zeroed block of at least 52 bytes: data of up to four bytes lives in the
// data word right behind the header.
//
//   CommandBuffer request;
//   request.SetHeaderFields(0xE001, 0x3811, 0, 0xFFFFFFFF, 0x16);
//   if (request.SendRequest(client, 0, 0, 0) == 0 && request.HasReplyData(1, false)) {
//     BYTE value = request.DataByte(0);
//   }
#pragma once

#include <bit>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "platform/WinTypes.h"

class CSwitchClient;

static_assert(std::endian::native == std::endian::little,
              "command frames are little-endian and are read in place");

struct CmdHeader {
  char Signature[4];  // "$SIP", no terminator
  WORD Format;        // 2 in every frame this agent builds
  WORD HeaderLength;  // 48; below 48 the header is rejected
  DWORD Len;          // data bytes behind the header
  DWORD OC;           // operation code
  DWORD OE;           // operation extension
  DWORD OID;          // object of the operation
  DWORD CABID;        // cabinet id; 0xFFFFFFFF in this agent's requests
  DWORD Stat;         // status; the code is the low byte
  DWORD Reserved1;
  WORD MIDLow;        // message id, low half
  WORD MIDHigh;       // message id, high half
  BYTE Reserved2[8];
};
static_assert(sizeof(CmdHeader) == 48, "the header is 48 bytes on the wire");

inline constexpr WORD kCmdHeaderLength = 48;
inline constexpr WORD kCmdFrameFormat = 2;
// Header plus the data word that every frame carries.
inline constexpr size_t kCmdImageSize = sizeof(CmdHeader) + 4;

// Status codes (low byte of Stat).
namespace cmd_status {
inline constexpr DWORD kSuccess = 0;
inline constexpr DWORD kUnsupportedCommand = 1;
inline constexpr DWORD kIllegalObject = 2;
inline constexpr DWORD kDeviceNotExisting = 3;
inline constexpr DWORD kInvalidSetValue = 4;
inline constexpr DWORD kDeviceBusy = 5;
inline constexpr DWORD kCommandFailed = 6;
inline constexpr DWORD kObjectReadOnly = 7;
inline constexpr DWORD kObjectWriteProtected = 8;
inline constexpr DWORD kInterfaceCorrupt = 9;
inline constexpr DWORD kSetStringTooLong = 10;
inline constexpr DWORD kWrongSetCount = 11;
inline constexpr DWORD kNoMoreReplies = 12;
inline constexpr DWORD kAccessViolation = 13;
inline constexpr DWORD kFrameAllocationError = 14;
inline constexpr DWORD kDeviceNotResponding = 15;
inline constexpr DWORD kChecksumError = 16;
inline constexpr DWORD kOutOfMemory = 17;
inline constexpr DWORD kIllegalArgumentCount = 18;
inline constexpr DWORD kNoData = 19;
inline constexpr DWORD kInvalidCabinet = 20;
inline constexpr DWORD kMoreRepliesFollowing = 21;
inline constexpr DWORD kRequestPending = 22;
inline constexpr DWORD kIncompleteHeader = 23;
inline constexpr DWORD kAccessDenied = 24;
inline constexpr DWORD kEventMessage = 255;
}  // namespace cmd_status

class CommandBuffer {
 public:
  CommandBuffer() = default;
  // BuildFrame in constructor form.
  CommandBuffer(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat, const void* data,
                DWORD length);
  CommandBuffer(const CommandBuffer&) = delete;
  CommandBuffer& operator=(const CommandBuffer&) = delete;

  // Replaces the frame by a new one of max(length + 48, 52) zeroed bytes with
  // the given fields and data.  Leaves no frame if the block cannot be had.
  void BuildFrame(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat, const void* data,
                  DWORD length);
  // Creates a 52-byte frame if there is none; sets the fields, MID 0, Len 0.
  bool SetHeaderFields(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat);
  bool SetFrameStatus(DWORD Stat);
  // Copies a kCmdImageSize-byte image (header and data word) in; Len becomes 0.
  bool CopyHeaderIn(const void* image);
  // Stores `length` data bytes (none when data is null) and the status.
  bool SetFrameData(const void* data, DWORD length, DWORD Stat);
  // The text with its terminator; null stores the empty text.
  bool SetFrameText(const char* text, DWORD Stat);

  // The whole Stat field, or 23 ("Incomplete command header") without a frame.
  DWORD FrameStatus() const;
  // Frame present and status 0, 12, 21 or 255.
  bool IsStatusOk() const;
  // Good status and: Len != 0 for expected 0, Len >= expected when at_least,
  // else Len == expected.
  bool HasReplyData(DWORD expected, bool at_least) const;

  // Readers never look past Len: a short frame gives 0, "" or nullptr.
  BYTE DataByte(DWORD index) const;
  DWORD DataWord(DWORD index) const;
  // The data as a terminated text; a missing terminator is appended (Len
  // grows by one).  "" without data; valid until the frame changes.
  const char* DataText();
  BYTE* DataAt(DWORD index);
  const BYTE* DataAt(DWORD index) const;

  // Carries the frame through the switch and returns FrameStatus(); status 6
  // when the transport failed.
  DWORD SendRequest(CSwitchClient& client, WORD timeout, DWORD retries, WORD retry_increment);

  static const char* StatusText(DWORD code);

  const CmdHeader* Header() const { return reinterpret_cast<const CmdHeader*>(block_.get()); }
  bool HasFrame() const { return block_ != nullptr; }
  DWORD DataLength() const { return HasFrame() ? Header()->Len : 0; }
  // Size of the block that holds the frame (0 without one).
  size_t BlockSize() const { return block_size_; }

 private:
  struct FreeDeleter {
    void operator()(BYTE* block) const { std::free(block); }
  };
  using Block = std::unique_ptr<BYTE, FreeDeleter>;

  CmdHeader* MutableHeader() { return reinterpret_cast<CmdHeader*>(block_.get()); }
  BYTE* Data() { return block_.get() + sizeof(CmdHeader); }
  const BYTE* Data() const { return block_.get() + sizeof(CmdHeader); }
  bool EnsureFrame();
  // Makes the block hold at least `data_bytes` data bytes, keeping the frame.
  bool Reserve(size_t data_bytes);

  Block block_;
  size_t block_size_ = 0;
};
