// Socket plumbing shared by both ends of the COM remoting: whole-message reads
// and writes with the framing checks, and the error report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/detail/ComWire.h"

namespace platform::detail {

enum class ReadStatus { kOk, kClosed, kMalformed, kIncomplete };

// Reads the messages of one stream in order.  Each read takes whatever the
// socket holds, so a message usually costs one system call rather than one
// for its header and one for its body.
class MessageReader {
 public:
  explicit MessageReader(int fd) : fd_(fd) {}

  // The next message; kClosed at end of stream or on a read error (also
  // inside a header), kMalformed (with the reason) when the header fails its
  // checks or the stream ends inside a message's body.  Without `wait` it
  // reads only what the socket holds already, and answers kIncomplete when
  // that is not yet a whole message (which stays buffered for the next call).
  ReadStatus Next(wire::Header* header, std::vector<uint8_t>* body, std::string* reason,
                  bool wait = true);
  // Whether the next message (or a header that fails its checks) is buffered
  // whole: the socket may have nothing more to read while it is.
  bool HasMessage() const;

 private:
  enum class Fill { kDone, kEnd, kLater };
  // Until at least size bytes are buffered.
  Fill FillTo(size_t size, bool wait);

  int fd_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last buffered byte
};
// Milliseconds of the monotonic clock, for the time-outs of both ends.
uint64_t NowMs();
// Writes all of it; false when the peer is gone or stopped reading for longer
// than the socket's send time-out.
bool WriteMessage(int fd, const std::vector<uint8_t>& message);
// Send and receive time-outs of a socket, in milliseconds (0: none).
void SetSendTimeout(int fd, uint32_t milliseconds);

void ReportRemotingError(const std::string& message);

}  // namespace platform::detail
