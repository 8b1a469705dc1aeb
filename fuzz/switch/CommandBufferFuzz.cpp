// Drives a command buffer through operations chosen by the input (building,
// storing data, copying headers in) and reads it back at arbitrary offsets.
// Readers must stay inside Len and the block must always hold the frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "switch/CommandBuffer.h"

namespace {

void CheckInvariants(const CommandBuffer& buffer) {
  if (!buffer.HasFrame()) {
    if (buffer.FrameStatus() != cmd_status::kIncompleteHeader) __builtin_trap();
    return;
  }
  const DWORD length = buffer.DataLength();
  if (buffer.BlockSize() < sizeof(CmdHeader) + (length > 4 ? length : 4)) __builtin_trap();
  const DWORD status = buffer.FrameStatus();
  if (buffer.IsStatusOk() && status != 0 && status != 12 && status != 21 && status != 255) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  CommandBuffer buffer;
  volatile unsigned sink = 0;
  while (!input.Empty()) {
    switch (input.Byte() % 12) {
      case 0: {
        const std::vector<uint8_t> bytes = input.Bytes(input.Word() % 300);
        buffer.BuildFrame(input.Dword(), input.Dword(), input.Dword(), input.Dword(),
                          input.Dword(), bytes.empty() ? nullptr : bytes.data(),
                          static_cast<DWORD>(bytes.size()));
        break;
      }
      case 1: {
        const std::vector<uint8_t> bytes = input.Bytes(input.Word() % 300);
        buffer.SetFrameData(bytes.empty() ? nullptr : bytes.data(),
                            static_cast<DWORD>(bytes.size()), input.Dword());
        break;
      }
      case 2: {
        std::vector<uint8_t> image = input.Bytes(kCmdImageSize);
        image.resize(kCmdImageSize, 0);
        buffer.CopyHeaderIn(image.data());
        break;
      }
      case 3: {
        const std::vector<uint8_t> bytes = input.Bytes(input.Byte());
        const std::string text(bytes.begin(), bytes.end());
        buffer.SetFrameText(input.Byte() == 0 ? nullptr : text.c_str(), input.Dword());
        break;
      }
      case 4:
        buffer.SetHeaderFields(input.Dword(), input.Dword(), input.Dword(), input.Dword(),
                               input.Dword());
        break;
      case 5:
        buffer.SetFrameStatus(input.Dword());
        break;
      case 6:
        sink = sink + buffer.DataByte(input.Dword() % 700);
        break;
      case 7:
        sink = sink + buffer.DataWord(input.Dword());
        break;
      case 8: {
        const char* text = buffer.DataText();
        while (*text != 0) sink = sink + static_cast<unsigned char>(*text++);
        break;
      }
      case 9: {
        const BYTE* at = buffer.DataAt(input.Dword() % 700);
        if (at != nullptr) sink = sink + *at;
        break;
      }
      case 10:
        sink = sink + static_cast<unsigned>(buffer.HasReplyData(input.Word(), input.Byte() & 1));
        break;
      default:
        sink = sink + static_cast<unsigned>(CommandBuffer::StatusText(input.Dword() % 300)[0]);
        break;
    }
    CheckInvariants(buffer);
  }
  return 0;
}
