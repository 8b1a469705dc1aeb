// Socket plumbing of the COM remoting; see ComSocket.h.
#include "platform/com/detail/ComSocket.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "platform/com/ComRemoting.h"

namespace platform {

namespace {

struct ErrorSinkHolder {
  std::mutex mutex;
  RemotingErrorSink sink;
};

ErrorSinkHolder& ErrorSink() {
  static auto* holder = new ErrorSinkHolder;  // used by threads until the process ends
  return *holder;
}

// 0: end of stream, -1: error, 1: all read.
int ReadExact(int fd, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, data + done, size - done);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<size_t>(got);
  }
  return 1;
}

}  // namespace

void SetRemotingErrorSink(RemotingErrorSink sink) {
  ErrorSinkHolder& holder = ErrorSink();
  std::lock_guard lock(holder.mutex);
  holder.sink = std::move(sink);
}

namespace detail {

void ReportRemotingError(const std::string& message) {
  RemotingErrorSink sink;
  {
    ErrorSinkHolder& holder = ErrorSink();
    std::lock_guard lock(holder.mutex);
    sink = holder.sink;
  }
  if (sink) {
    sink(message);
  } else {
    std::fprintf(stderr, "com remoting: %s\n", message.c_str());
  }
}

ReadStatus ReadMessage(int fd, wire::Header* header, std::vector<uint8_t>* body,
                       std::string* reason) {
  uint8_t bytes[wire::kHeaderSize];
  const int got = ReadExact(fd, bytes, sizeof bytes);
  if (got <= 0) return ReadStatus::kClosed;
  const wire::HeaderStatus status = wire::DecodeHeader(bytes, header);
  if (status != wire::HeaderStatus::kOk) {
    *reason = wire::HeaderStatusText(status);
    return ReadStatus::kMalformed;
  }
  body->resize(header->length);
  if (header->length != 0 && ReadExact(fd, body->data(), header->length) <= 0) {
    *reason = "stream ended inside a message";
    return ReadStatus::kMalformed;
  }
  return ReadStatus::kOk;
}

bool WriteMessage(int fd, const std::vector<uint8_t>& message) {
  size_t done = 0;
  while (done < message.size()) {
    const ssize_t sent = ::send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(sent);
  }
  return true;
}

void SetSendTimeout(int fd, uint32_t milliseconds) {
  timeval limit{};
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace detail
}  // namespace platform
