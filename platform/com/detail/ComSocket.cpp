// Socket plumbing of the COM remoting; see ComSocket.h.
#include "platform/com/detail/ComSocket.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
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

MessageReader::Fill MessageReader::FillTo(size_t size, bool wait) {
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
    const ssize_t got =
        ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, wait ? 0 : MSG_DONTWAIT);
    if (got == 0) return Fill::kEnd;
    if (got < 0) {
      if (errno == EINTR) continue;
      if (!wait && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fill::kLater;
      return Fill::kEnd;
    }
    end_ += static_cast<size_t>(got);
  }
  return Fill::kDone;
}

bool MessageReader::HasMessage() const {
  if (end_ - start_ < wire::kHeaderSize) return false;
  wire::Header header;
  if (wire::DecodeHeader(buffer_.data() + start_, &header) != wire::HeaderStatus::kOk) return true;
  return end_ - start_ >= wire::kHeaderSize + header.length;
}

ReadStatus MessageReader::Next(wire::Header* header, std::vector<uint8_t>* body,
                               std::string* reason, bool wait) {
  switch (FillTo(wire::kHeaderSize, wait)) {
    case Fill::kEnd:
      return ReadStatus::kClosed;
    case Fill::kLater:
      return ReadStatus::kIncomplete;
    case Fill::kDone:
      break;
  }
  const wire::HeaderStatus status = wire::DecodeHeader(buffer_.data() + start_, header);
  if (status != wire::HeaderStatus::kOk) {
    *reason = wire::HeaderStatusText(status);
    return ReadStatus::kMalformed;
  }
  // The header stays buffered until its body is complete.
  switch (FillTo(wire::kHeaderSize + header->length, wait)) {
    case Fill::kEnd:
      *reason = "stream ended inside a message";
      return ReadStatus::kMalformed;
    case Fill::kLater:
      return ReadStatus::kIncomplete;
    case Fill::kDone:
      break;
  }
  start_ += wire::kHeaderSize;
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

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
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
