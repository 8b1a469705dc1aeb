// Building, reading and sending command frames.
#include "switch/CommandBuffer.h"

#include <cstring>

#include "platform/com/Com.h"
#include "switch/SwitchClient.h"

namespace {

struct FrameImage {
  CmdHeader header;
  BYTE word[4];
};
static_assert(sizeof(FrameImage) == kCmdImageSize);

void InitHeader(CmdHeader* header) {
  std::memcpy(header->Signature, "$SIP", 4);
  header->Format = kCmdFrameFormat;
  header->HeaderLength = kCmdHeaderLength;
}

void SetFields(CmdHeader* header, DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat) {
  header->OC = OC;
  header->OE = OE;
  header->OID = OID;
  header->CABID = CABID;
  header->Stat = Stat;
  header->MIDLow = 0;
  header->MIDHigh = 0;
}

BYTE* AllocateBlock(size_t size) { return static_cast<BYTE*>(std::calloc(1, size)); }

}  // namespace

CommandBuffer::CommandBuffer(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat,
                             const void* data, DWORD length) {
  BuildFrame(OC, OE, OID, CABID, Stat, data, length);
}

void CommandBuffer::BuildFrame(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat,
                               const void* data, DWORD length) {
  block_.reset();
  block_size_ = 0;
  if (data == nullptr) length = 0;
  const size_t size = sizeof(CmdHeader) + (length > 4 ? size_t{length} : size_t{4});
  block_.reset(AllocateBlock(size));
  if (!block_) return;
  block_size_ = size;
  CmdHeader* header = MutableHeader();
  InitHeader(header);
  SetFields(header, OC, OE, OID, CABID, Stat);
  header->Len = length;
  if (length != 0) std::memcpy(Data(), data, length);
}

bool CommandBuffer::EnsureFrame() {
  if (block_) return true;
  block_.reset(AllocateBlock(kCmdImageSize));
  if (!block_) return false;
  block_size_ = kCmdImageSize;
  InitHeader(MutableHeader());
  return true;
}

bool CommandBuffer::Reserve(size_t data_bytes) {
  const size_t needed = sizeof(CmdHeader) + (data_bytes > 4 ? data_bytes : 4);
  if (needed <= block_size_) return true;
  BYTE* bigger = AllocateBlock(needed);
  if (bigger == nullptr) return false;
  std::memcpy(bigger, block_.get(), block_size_);
  block_.reset(bigger);
  block_size_ = needed;
  return true;
}

bool CommandBuffer::SetHeaderFields(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat) {
  if (!EnsureFrame()) return false;
  CmdHeader* header = MutableHeader();
  SetFields(header, OC, OE, OID, CABID, Stat);
  header->Len = 0;
  return true;
}

bool CommandBuffer::SetFrameStatus(DWORD Stat) {
  if (!EnsureFrame()) return false;
  MutableHeader()->Stat = Stat;
  return true;
}

bool CommandBuffer::CopyHeaderIn(const void* image) {
  if (image == nullptr || !EnsureFrame()) return false;
  std::memcpy(block_.get(), image, kCmdImageSize);
  MutableHeader()->Len = 0;
  return true;
}

bool CommandBuffer::SetFrameData(const void* data, DWORD length, DWORD Stat) {
  if (!EnsureFrame()) return false;
  if (data == nullptr) length = 0;
  if (length > 4 && (length > Header()->Len || sizeof(CmdHeader) + length > block_size_)) {
    // A fresh block of exactly the needed size, carrying the header over.
    BYTE* bigger = AllocateBlock(sizeof(CmdHeader) + length);
    if (bigger == nullptr) return false;
    std::memcpy(bigger, block_.get(), sizeof(CmdHeader));
    block_.reset(bigger);
    block_size_ = sizeof(CmdHeader) + length;
  }
  if (length <= 4) std::memset(Data(), 0, 4);
  if (length != 0) std::memcpy(Data(), data, length);
  CmdHeader* header = MutableHeader();
  header->Len = length;
  header->Stat = Stat;
  return true;
}

bool CommandBuffer::SetFrameText(const char* text, DWORD Stat) {
  if (text == nullptr) text = "";
  return SetFrameData(text, static_cast<DWORD>(std::strlen(text) + 1), Stat);
}

DWORD CommandBuffer::FrameStatus() const {
  // The whole field: a transport that widens a signed status byte leaves
  // 0xFFFFFFFF, which is no good status.
  return HasFrame() ? Header()->Stat : cmd_status::kIncompleteHeader;
}

bool CommandBuffer::IsStatusOk() const {
  if (!HasFrame()) return false;
  const DWORD status = FrameStatus();
  return status == cmd_status::kSuccess || status == cmd_status::kNoMoreReplies ||
         status == cmd_status::kMoreRepliesFollowing || status == cmd_status::kEventMessage;
}

bool CommandBuffer::HasReplyData(DWORD expected, bool at_least) const {
  if (!IsStatusOk()) return false;
  const DWORD length = Header()->Len;
  if (expected == 0) return length != 0;
  return at_least ? length >= expected : length == expected;
}

BYTE CommandBuffer::DataByte(DWORD index) const {
  if (DataLength() < uint64_t{index} + 1) return 0;
  return Data()[index];
}

DWORD CommandBuffer::DataWord(DWORD index) const {
  const uint64_t offset = uint64_t{index} * 4;
  if (DataLength() < offset + 4) return 0;
  DWORD word;
  std::memcpy(&word, Data() + offset, sizeof word);
  return word;
}

const char* CommandBuffer::DataText() {
  const DWORD length = DataLength();
  if (length == 0) return "";
  if (Data()[length - 1] != 0) {
    if (length == 0xFFFFFFFF || !Reserve(size_t{length} + 1)) return "";
    Data()[length] = 0;
    MutableHeader()->Len = length + 1;
  }
  return reinterpret_cast<const char*>(Data());
}

BYTE* CommandBuffer::DataAt(DWORD index) {
  return DataLength() > index ? Data() + index : nullptr;
}

const BYTE* CommandBuffer::DataAt(DWORD index) const {
  return DataLength() > index ? Data() + index : nullptr;
}

DWORD CommandBuffer::SendRequest(CSwitchClient& client, WORD timeout, DWORD retries,
                                 WORD retry_increment) {
  if (!HasFrame()) {
    BYTE* none = nullptr;
    client.CmdRequest(nullptr, &none, timeout, retries, retry_increment);
    return FrameStatus();
  }
  FrameImage image;
  std::memcpy(&image, block_.get(), sizeof image);
  BYTE* const sent = DataAt(0);
  BYTE* data = sent;
  const bool ok = client.CmdRequest(&image.header, &data, timeout, retries, retry_increment);
  CopyHeaderIn(&image);
  if (!ok) SetFrameStatus(cmd_status::kCommandFailed);
  if (data != nullptr && data != sent) {
    // The reply arrived as a byte string that the transport gave us to free.
    auto* reply = reinterpret_cast<BSTR>(data);
    const DWORD length = image.header.Len < SysStringByteLen(reply) ? image.header.Len
                                                                    : SysStringByteLen(reply);
    SetFrameData(data, length, image.header.Stat);
    SysFreeString(reply);
  }
  return FrameStatus();
}

const char* CommandBuffer::StatusText(DWORD code) {
  static const char* const kTexts[] = {
      "Success",
      "Unsupported command",
      "Illegal object",
      "Device not existing",
      "Invalid SET value",
      "Device busy",
      "Command execution failed",
      "Object read-only",
      "Object write protected",
      "Command interface corrupt",
      "SET string too long",
      "Wrong SET count",
      "No more replies",
      "Access violation",
      "Frame allocation error",
      "Device not responding",
      "Checksum error",
      "Out of memory",
      "Illegal number of arguments",
      "No data",
      "Invalid cabinet number",
      "More replies following",
      "Request pending",
      "Incomplete command header",
      "Access denied",
  };
  if (code < sizeof kTexts / sizeof kTexts[0]) return kTexts[code];
  if (code == cmd_status::kEventMessage) return "Event message";
  return "???";
}
