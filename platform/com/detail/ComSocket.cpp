// Socket plumbing of the COM remoting; see ComSocket.h.
#include "platform/com/detail/ComSocket.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
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

bool MessageReader::Fill(size_t size) {
  // Room to read a typical burst of messages in one go.
  constexpr size_t kChunk = 64 * 1024;
  while (end_ - start_ < size) {
    if (start_ == end_) start_ = end_ = 0;
    if (buffer_.size() - start_ < size || buffer_.size() - end_ < 1) {
      // Keep what is unread at the front, with room for the whole of size.
      std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
                buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
      end_ -= start_;
      start_ = 0;
      if (buffer_.size() < std::max(size, kChunk)) buffer_.resize(std::max(size, kChunk));
    }
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    end_ += static_cast<size_t>(got);
  }
  return true;
}

ReadStatus MessageReader::Next(wire::Header* header, std::vector<uint8_t>* body,
                               std::string* reason) {
  if (!Fill(wire::kHeaderSize)) return ReadStatus::kClosed;
  const wire::HeaderStatus status = wire::DecodeHeader(buffer_.data() + start_, header);
  if (status != wire::HeaderStatus::kOk) {
    *reason = wire::HeaderStatusText(status);
    return ReadStatus::kMalformed;
  }
  start_ += wire::kHeaderSize;
  if (header->length != 0 && !Fill(header->length)) {
    *reason = "stream ended inside a message";
    return ReadStatus::kMalformed;
  }
  body->assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start_),
               buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + header->length));
  start_ += header->length;
  // A large message leaves a large buffer; give it back once it is drained.
  if (start_ == end_ && buffer_.size() > 1024 * 1024) {
    buffer_ = std::vector<uint8_t>();
    start_ = end_ = 0;
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
