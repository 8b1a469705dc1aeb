// Socket plumbing shared by both ends of the COM remoting: whole-message reads
// and writes with the framing checks, and the error report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/detail/ComWire.h"

namespace platform::detail {

enum class ReadStatus { kOk, kClosed, kMalformed };

// Reads one message; kClosed at end of stream or on a read error, kMalformed
// (with the reason) when the header fails its checks or the stream ends
// inside a message.
ReadStatus ReadMessage(int fd, wire::Header* header, std::vector<uint8_t>* body,
                       std::string* reason);
// Writes all of it; false when the peer is gone or stopped reading for longer
// than the socket's send time-out.
bool WriteMessage(int fd, const std::vector<uint8_t>& message);
// Send and receive time-outs of a socket, in milliseconds (0: none).
void SetSendTimeout(int fd, uint32_t milliseconds);

void ReportRemotingError(const std::string& message);

}  // namespace platform::detail
