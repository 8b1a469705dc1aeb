// The message format of the COM remoting over a stream socket: framing,
// and the encoding of names, variants and argument lists.  docs/com-remoting.md
// describes it byte by byte.  Every decoder checks each length against what was
// received before using it and fails (false) on anything it cannot read; it
// never reads past its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/Com.h"

namespace platform::detail::wire {

inline constexpr uint32_t kMagic = 0x4D4F434C;  // "LCOM" in the byte order of the wire
inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;
// Large enough for a configuration table of a few megabytes in one argument,
// small enough that a peer cannot make the other side allocate without bound.
inline constexpr uint32_t kMaxBody = 16u << 20;
// An argument list longer than this is refused: no method of this system has
// more than eight arguments, and each decoded argument costs memory.
inline constexpr uint32_t kMaxArguments = 64;
inline constexpr uint32_t kMaxNames = 64;

enum class MessageType : uint8_t {
  kCreate = 1,
  kQueryInterface = 2,
  kGetIDsOfNames = 3,
  kInvoke = 4,
  kFindConnectionPoint = 5,
  kAdvise = 6,
  kUnadvise = 7,
  kCancel = 8,
  kReply = 0x80,
  kEvent = 0x90,
  kRefused = 0xF0,
};

// Flags of kAdvise.
inline constexpr uint32_t kAdviseAgain = 0x1;  // the sink was advised before a reconnect

struct Header {
  MessageType type = MessageType::kReply;
  uint32_t call_id = 0;
  uint32_t length = 0;
};

enum class HeaderStatus { kOk, kBadMagic, kBadVersion, kBadType, kTooLong };
HeaderStatus DecodeHeader(const uint8_t* bytes, Header* header);
const char* HeaderStatusText(HeaderStatus status);
bool IsKnownType(uint8_t type);

// Little-endian writer of a message: the header is filled in by Finish.
class Writer {
 public:
  Writer(MessageType type, uint32_t call_id);
  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value);
  void U32(uint32_t value);
  void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
  void Guid(const GUID& guid);
  void Raw(const void* data, size_t size);
  // A byte string: its byte length and bytes; a null string is 0xFFFFFFFF.
  void String(BSTR text);
  void Text(const OLECHAR* text);
  // DISP_E_BADVARTYPE for a type the wire does not carry.
  HRESULT Variant(const VARIANT& value);
  // E_INVALIDARG for more than kMaxArguments arguments or inconsistent counts.
  HRESULT Params(const DISPPARAMS* params);
  // The whole message, or empty when the body exceeds kMaxBody.
  std::vector<uint8_t> Finish();

 private:
  std::vector<uint8_t> bytes_;
};

// Reads a body; once a read fails every later read fails too.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool U8(uint8_t* value);
  bool U16(uint16_t* value);
  bool U32(uint32_t* value);
  bool I32(int32_t* value);
  bool Guid(GUID* guid);
  // A byte string into *text (nullptr for the null string); the caller frees it.
  bool String(BSTR* text);
  bool Text(std::u16string* text);
  // Value types only: by-reference forms come back as the referenced value
  // with *by_reference set.
  bool Variant(VARIANT* value, bool* by_reference);
  bool AtEnd() const { return ok_ && position_ == size_; }
  bool Ok() const { return ok_; }

 private:
  bool Take(void* out, size_t count);
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  bool ok_ = true;
};

// An argument list decoded from the wire that owns its strings and the
// storage its by-reference arguments point at.
class DecodedParams {
 public:
  DecodedParams() = default;
  ~DecodedParams();
  DecodedParams(const DecodedParams&) = delete;
  DecodedParams& operator=(const DecodedParams&) = delete;

  bool Decode(Reader& reader);
  DISPPARAMS* Params() { return &params_; }
  // Writes the current values of the by-reference arguments (index, value).
  void EncodeOutputs(Writer& writer) const;

 private:
  std::vector<VARIANTARG> args_;
  std::vector<VARIANT> storage_;  // the referenced values, one per argument
  std::vector<DISPID> named_;
  DISPPARAMS params_{nullptr, nullptr, 0, 0};
};

// Request bodies as the server reads them.
struct CreateRequest {
  CLSID clsid;
  IID iid;
};
bool DecodeCreate(Reader& reader, CreateRequest* request);

struct NamesRequest {
  IID iid;
  LCID locale = 0;
  std::vector<std::u16string> names;
};
bool DecodeNames(Reader& reader, NamesRequest* request);

struct InvokeRequest {
  DISPID id = 0;
  IID iid;
  LCID locale = 0;
  WORD flags = 0;
  uint8_t options = 0;  // kWantResult | kWantException | kWantArgError
  DecodedParams params;
};
inline constexpr uint8_t kWantResult = 0x1;
inline constexpr uint8_t kWantException = 0x2;
inline constexpr uint8_t kWantArgError = 0x4;
bool DecodeInvoke(Reader& reader, InvokeRequest* request);

struct AdviseRequest {
  IID iid;
  uint32_t sink_id = 0;
  uint32_t flags = 0;
};
bool DecodeAdvise(Reader& reader, AdviseRequest* request);

// An event as the client reads it.
struct EventMessage {
  uint32_t sink_id = 0;
  DISPID id = 0;
  LCID locale = 0;
  WORD flags = 0;
  DecodedParams params;
};
bool DecodeEvent(Reader& reader, EventMessage* event);

// The reply to an Invoke as the client reads it; it owns what it holds.
struct InvokeReply {
  HRESULT hr = S_OK;
  uint32_t arg_error = 0;
  bool has_result = false;
  VARIANT result{};
  bool has_exception = false;
  EXCEPINFO exception{};
  struct Output {
    uint32_t index;
    VARIANT value;
  };
  std::vector<Output> outputs;

  InvokeReply();
  ~InvokeReply();
  InvokeReply(const InvokeReply&) = delete;
  InvokeReply& operator=(const InvokeReply&) = delete;
};
bool DecodeInvokeReply(Reader& reader, InvokeReply* reply);
void EncodeException(Writer& writer, const EXCEPINFO& exception);

// Copies a reply's by-reference outputs into the caller's arguments.  False
// (and nothing changed) when an output names an argument that is not
// by-reference or has another type.
bool ApplyOutputs(InvokeReply& reply, DISPPARAMS* params);

}  // namespace platform::detail::wire
