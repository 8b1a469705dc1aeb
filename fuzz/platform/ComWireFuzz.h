// Splits fuzz input into a message header and its body, as the socket reader
// does, so that both remoting fuzz targets start from the same framing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/detail/ComWire.h"

namespace com_wire_fuzz {

// False when the header is refused (as the reader would refuse it); else the
// body is what follows the header, cut to the announced length.
inline bool Frame(const uint8_t* data, size_t size, platform::detail::wire::Header* header,
                  const uint8_t** body, size_t* body_size) {
  namespace wire = platform::detail::wire;
  if (size < wire::kHeaderSize) return false;
  if (wire::DecodeHeader(data, header) != wire::HeaderStatus::kOk) return false;
  *body = data + wire::kHeaderSize;
  *body_size = size - wire::kHeaderSize;
  if (*body_size > header->length) *body_size = header->length;
  return true;
}

}  // namespace com_wire_fuzz
