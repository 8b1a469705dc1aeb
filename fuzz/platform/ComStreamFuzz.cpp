// Fuzz target: a byte stream as either end of the remoting reads it from its
// socket, split into messages by the buffering reader.  Every message it
// returns must be exactly the bytes that follow the one before.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/detail/ComSocket.h"

namespace detail = platform::detail;
namespace wire = platform::detail::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
  // The writer sends in uneven pieces, so messages straddle reads.
  std::thread writer([&] {
    size_t done = 0, piece = 1;
    while (done < size) {
      const size_t length = std::min(piece, size - done);
      const ssize_t sent = ::send(ends[1], data + done, length, MSG_NOSIGNAL);
      if (sent <= 0) break;
      done += static_cast<size_t>(sent);
      piece = piece * 7 % 4093 + 1;
    }
    ::shutdown(ends[1], SHUT_WR);
  });
  detail::MessageReader reader(ends[0]);
  size_t offset = 0;
  wire::Header header;
  std::vector<uint8_t> body;
  std::string reason;
  while (reader.Next(&header, &body, &reason) == detail::ReadStatus::kOk) {
    if (offset + wire::kHeaderSize + body.size() > size ||
        std::memcmp(data + offset + wire::kHeaderSize, body.data(), body.size()) != 0) {
      std::abort();
    }
    offset += wire::kHeaderSize + body.size();
  }
  ::shutdown(ends[0], SHUT_RD);
  writer.join();
  ::close(ends[0]);
  ::close(ends[1]);
  return 0;
}
