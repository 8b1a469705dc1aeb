// Fuzz target: a message as the remoting server receives it from a client,
// through the framing check and the decoder of its request type.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ComWireFuzz.h"

namespace wire = platform::detail::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wire::Header header;
  const uint8_t* body = nullptr;
  size_t body_size = 0;
  if (!com_wire_fuzz::Frame(data, size, &header, &body, &body_size)) return 0;
  wire::Reader reader(body, body_size);
  switch (header.type) {
    case wire::MessageType::kCreate: {
      wire::CreateRequest request;
      wire::DecodeCreate(reader, &request);
      break;
    }
    case wire::MessageType::kGetIDsOfNames: {
      wire::NamesRequest request;
      wire::DecodeNames(reader, &request);
      break;
    }
    case wire::MessageType::kInvoke: {
      wire::InvokeRequest request;
      if (wire::DecodeInvoke(reader, &request)) {
        // What the server sends back: the by-reference values, re-encoded.
        wire::Writer reply(wire::MessageType::kReply, header.call_id);
        request.params.EncodeOutputs(reply);
        reply.Finish();
      }
      break;
    }
    case wire::MessageType::kAdvise: {
      wire::AdviseRequest request;
      wire::DecodeAdvise(reader, &request);
      break;
    }
    case wire::MessageType::kQueryInterface:
    case wire::MessageType::kFindConnectionPoint: {
      GUID iid;
      if (reader.Guid(&iid)) reader.AtEnd();
      break;
    }
    default: {
      uint32_t value = 0;
      reader.U32(&value);
      break;
    }
  }
  return 0;
}
