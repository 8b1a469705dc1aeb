// Feeds the event sink calls whose dispatch id, argument count, argument types
// and byte strings come from the input.  Whatever arrives, Invoke must answer
// with a result and the frame handed on must be readable within its length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzInput.h"
#include "platform/com/Com.h"
#include "switch/VarnClient.h"

namespace {

class ReadingAgent : public IVarnReplyTarget {
 public:
  virtual ~ReadingAgent() = default;
  void VarnReply(CommandBuffer& buffer) override {
    const DWORD length = buffer.DataLength();
    if (buffer.BlockSize() < sizeof(CmdHeader) + (length > 4 ? length : 4)) __builtin_trap();
    unsigned sum = 0;
    for (DWORD i = 0; i < length; ++i) sum += buffer.DataByte(i);
    for (DWORD i = 0; i <= length / 4; ++i) sum += buffer.DataWord(i);
    sum += static_cast<unsigned>(buffer.HasReplyData(1, false));
    const char* text = buffer.DataText();
    while (*text != 0) sum += static_cast<unsigned char>(*text++);
    sink_ = sum;
  }
  volatile unsigned sink_ = 0;
};

VARIANT MakeArgument(FuzzInput& input) {
  VARIANT v;
  VariantInit(&v);
  switch (input.Byte() % 6) {
    case 0:
      v.vt = VT_I2;
      v.iVal = static_cast<SHORT>(input.Word());
      break;
    case 1:
      v.vt = VT_UI1;
      v.bVal = input.Byte();
      break;
    case 2:
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(input.Dword());
      break;
    case 3: {
      v.vt = VT_BSTR;
      const std::vector<uint8_t> bytes = input.Bytes(input.Word() % 600);
      v.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<UINT>(bytes.size()));
      break;
    }
    case 4:
      v.vt = VT_BSTR;
      v.bstrVal = nullptr;
      break;
    default:
      v.vt = VT_EMPTY;
      break;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ReadingAgent agent;
  static SwitchPermissionFlags flags;
  static CVarnClient client(&agent, &flags);

  FuzzInput input(data, size);
  while (!input.Empty()) {
    const DISPID id = static_cast<DISPID>(input.Byte() % 7) - 1;  // -1 .. 5
    const uint8_t shape = input.Byte();
    const UINT count = shape % 9;
    std::vector<VARIANT> args;
    for (UINT i = 0; i < count; ++i) args.push_back(MakeArgument(input));
    DISPPARAMS params{args.data(), nullptr, count, 0};
    client.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                  (shape & 0x80) != 0 ? nullptr : &params, nullptr, nullptr, nullptr);
    for (VARIANT& v : args) VariantClear(&v);
  }
  return 0;
}
