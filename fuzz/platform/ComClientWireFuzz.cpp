// Fuzz target: a message as the remoting client receives it from a server:
// the framing check, then an event or the reply to a call, whose by-reference
// outputs are applied to a call's own arguments of every carried form.
#include <cstddef>
#include <cstdint>

#include "ComWireFuzz.h"

namespace wire = platform::detail::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wire::Header header;
  const uint8_t* body = nullptr;
  size_t body_size = 0;
  if (!com_wire_fuzz::Frame(data, size, &header, &body, &body_size)) return 0;
  wire::Reader reader(body, body_size);
  if (header.type == wire::MessageType::kEvent) {
    wire::EventMessage event;
    wire::DecodeEvent(reader, &event);
    return 0;
  }
  if (header.type != wire::MessageType::kReply) return 0;

  // The arguments of the call this reply answers.
  BSTR text = SysAllocStringByteLen("abc", 3);
  SHORT i2 = 1;
  LONG i4 = 2;
  BYTE ui1 = 3;
  VARIANTARG args[5];
  for (VARIANTARG& arg : args) VariantInit(&arg);
  args[0].vt = VT_BSTR | VT_BYREF;
  args[0].pbstrVal = &text;
  args[1].vt = VT_I2 | VT_BYREF;
  args[1].piVal = &i2;
  args[2].vt = VT_I4 | VT_BYREF;
  args[2].plVal = &i4;
  args[3].vt = VT_UI1 | VT_BYREF;
  args[3].pbVal = &ui1;
  args[4].vt = VT_I2;
  DISPPARAMS params{args, nullptr, 5, 0};
  wire::InvokeReply reply;
  if (wire::DecodeInvokeReply(reader, &reply)) wire::ApplyOutputs(reply, &params);
  SysFreeString(text);
  return 0;
}
