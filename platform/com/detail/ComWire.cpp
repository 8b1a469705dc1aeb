// Encoding and decoding of remoting messages; see ComWire.h.
#include "platform/com/detail/ComWire.h"

#include <cstring>

namespace platform::detail::wire {

namespace {

constexpr uint32_t kNullString = 0xFFFFFFFFu;

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void StoreU32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

// The value types the wire carries; all but the empty and null types may also
// travel by reference.
bool IsCarriedType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
    case VT_ERROR:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_BSTR:
      return true;
    default:
      return false;
  }
}

// The referenced value of a by-reference variant, copied into a value variant
// (strings are not copied: the result borrows them).
bool Dereference(const VARIANT& in, VARIANT* out) {
  VariantInit(out);
  const VARTYPE base = in.vt & static_cast<VARTYPE>(~VT_BYREF);
  out->vt = base;
  if (in.byref == nullptr) return false;
  switch (base) {
    case VT_I2:
      out->iVal = *in.piVal;
      return true;
    case VT_I4:
      out->lVal = *in.plVal;
      return true;
    case VT_BOOL:
      out->boolVal = *static_cast<const VARIANT_BOOL*>(in.byref);
      return true;
    case VT_ERROR:
      out->scode = *static_cast<const SCODE*>(in.byref);
      return true;
    case VT_UI1:
      out->bVal = *in.pbVal;
      return true;
    case VT_UI2:
      out->uiVal = *static_cast<const USHORT*>(in.byref);
      return true;
    case VT_UI4:
      out->ulVal = *static_cast<const ULONG*>(in.byref);
      return true;
    case VT_BSTR:
      out->bstrVal = *in.pbstrVal;
      return true;
    default:
      return false;
  }
}

// Points a by-reference argument at the value held in `storage`.
void Refer(VARIANTARG* arg, VARIANT* storage) {
  VariantInit(arg);
  arg->vt = static_cast<VARTYPE>(storage->vt | VT_BYREF);
  switch (storage->vt) {
    case VT_I2:
      arg->piVal = &storage->iVal;
      break;
    case VT_I4:
      arg->plVal = &storage->lVal;
      break;
    case VT_UI1:
      arg->pbVal = &storage->bVal;
      break;
    case VT_BSTR:
      arg->pbstrVal = &storage->bstrVal;
      break;
    case VT_BOOL:
      arg->byref = &storage->boolVal;
      break;
    case VT_ERROR:
      arg->byref = &storage->scode;
      break;
    case VT_UI2:
      arg->byref = &storage->uiVal;
      break;
    default:
      arg->byref = &storage->ulVal;
      break;
  }
}

// Stores a value into what a by-reference argument points at; the value's
// string moves into the argument.
void StoreThrough(VARIANTARG* arg, VARIANT* value) {
  switch (value->vt) {
    case VT_I2:
      *arg->piVal = value->iVal;
      break;
    case VT_I4:
      *arg->plVal = value->lVal;
      break;
    case VT_UI1:
      *arg->pbVal = value->bVal;
      break;
    case VT_BOOL:
      *static_cast<VARIANT_BOOL*>(arg->byref) = value->boolVal;
      break;
    case VT_ERROR:
      *static_cast<SCODE*>(arg->byref) = value->scode;
      break;
    case VT_UI2:
      *static_cast<USHORT*>(arg->byref) = value->uiVal;
      break;
    case VT_UI4:
      *static_cast<ULONG*>(arg->byref) = value->ulVal;
      break;
    case VT_BSTR:
      SysFreeString(*arg->pbstrVal);
      *arg->pbstrVal = value->bstrVal;
      value->bstrVal = nullptr;
      break;
    default:
      break;
  }
  VariantInit(value);
}

}  // namespace

// ---------------------------------------------------------------------------
// Header

bool IsKnownType(uint8_t type) {
  switch (static_cast<MessageType>(type)) {
    case MessageType::kCreate:
    case MessageType::kQueryInterface:
    case MessageType::kGetIDsOfNames:
    case MessageType::kInvoke:
    case MessageType::kFindConnectionPoint:
    case MessageType::kAdvise:
    case MessageType::kUnadvise:
    case MessageType::kCancel:
    case MessageType::kReply:
    case MessageType::kEvent:
    case MessageType::kRefused:
      return true;
  }
  return false;
}

HeaderStatus DecodeHeader(const uint8_t* bytes, Header* header) {
  if (LoadU32(bytes) != kMagic) return HeaderStatus::kBadMagic;
  if (bytes[4] != kVersion) return HeaderStatus::kBadVersion;
  if (!IsKnownType(bytes[5])) return HeaderStatus::kBadType;
  const uint32_t length = LoadU32(bytes + 12);
  if (length > kMaxBody) return HeaderStatus::kTooLong;
  header->type = static_cast<MessageType>(bytes[5]);
  header->call_id = LoadU32(bytes + 8);
  header->length = length;
  return HeaderStatus::kOk;
}

const char* HeaderStatusText(HeaderStatus status) {
  switch (status) {
    case HeaderStatus::kOk:
      return "ok";
    case HeaderStatus::kBadMagic:
      return "not a message of this protocol";
    case HeaderStatus::kBadVersion:
      return "unsupported protocol version";
    case HeaderStatus::kBadType:
      return "unknown message type";
    case HeaderStatus::kTooLong:
      return "message longer than the limit";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Writer

Writer::Writer(MessageType type, uint32_t call_id) : bytes_(kHeaderSize, 0) {
  StoreU32(bytes_.data(), kMagic);
  bytes_[4] = kVersion;
  bytes_[5] = static_cast<uint8_t>(type);
  StoreU32(bytes_.data() + 8, call_id);
}

void Writer::U16(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
}

void Writer::U32(uint32_t value) {
  uint8_t buffer[4];
  StoreU32(buffer, value);
  bytes_.insert(bytes_.end(), buffer, buffer + 4);
}

void Writer::Guid(const GUID& guid) {
  U32(guid.Data1);
  U16(guid.Data2);
  U16(guid.Data3);
  Raw(guid.Data4, sizeof guid.Data4);
}

void Writer::Raw(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), bytes, bytes + size);
}

void Writer::String(BSTR text) {
  if (text == nullptr) {
    U32(kNullString);
    return;
  }
  const UINT length = SysStringByteLen(text);
  U32(length);
  Raw(text, length);
}

void Writer::Text(const OLECHAR* text) {
  size_t length = 0;
  while (text != nullptr && text[length] != 0) ++length;
  U32(static_cast<uint32_t>(length));
  for (size_t i = 0; i < length; ++i) U16(static_cast<uint16_t>(text[i]));
}

HRESULT Writer::Variant(const VARIANT& value) {
  const bool by_reference = (value.vt & VT_BYREF) != 0;
  const VARTYPE base = value.vt & static_cast<VARTYPE>(~VT_BYREF);
  if (!IsCarriedType(base) || (by_reference && (base == VT_EMPTY || base == VT_NULL))) {
    return DISP_E_BADVARTYPE;
  }
  VARIANT plain;
  if (by_reference) {
    if (!Dereference(value, &plain)) return E_POINTER;
  } else {
    plain = value;
  }
  U16(value.vt);
  switch (base) {
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
      U16(plain.uiVal);
      break;
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
      U32(plain.ulVal);
      break;
    case VT_UI1:
      U8(plain.bVal);
      break;
    case VT_BSTR:
      String(plain.bstrVal);
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT Writer::Params(const DISPPARAMS* params) {
  if (params == nullptr) {
    U32(0);
    U32(0);
    return S_OK;
  }
  if (params->cArgs > kMaxArguments || params->cNamedArgs > params->cArgs ||
      (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  U32(params->cArgs);
  U32(params->cNamedArgs);
  for (UINT i = 0; i < params->cNamedArgs; ++i) I32(params->rgdispidNamedArgs[i]);
  for (UINT i = 0; i < params->cArgs; ++i) {
    const HRESULT hr = Variant(params->rgvarg[i]);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

std::vector<uint8_t> Writer::Finish() {
  const size_t body = bytes_.size() - kHeaderSize;
  if (body > kMaxBody) return {};
  StoreU32(bytes_.data() + 12, static_cast<uint32_t>(body));
  return std::move(bytes_);
}

// ---------------------------------------------------------------------------
// Reader

bool Reader::Take(void* out, size_t count) {
  if (!ok_ || count > size_ - position_) {
    ok_ = false;
    return false;
  }
  std::memcpy(out, data_ + position_, count);
  position_ += count;
  return true;
}

bool Reader::U8(uint8_t* value) { return Take(value, 1); }

bool Reader::U16(uint16_t* value) {
  uint8_t bytes[2];
  if (!Take(bytes, 2)) return false;
  *value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  return true;
}

bool Reader::U32(uint32_t* value) {
  uint8_t bytes[4];
  if (!Take(bytes, 4)) return false;
  *value = LoadU32(bytes);
  return true;
}

bool Reader::I32(int32_t* value) {
  uint32_t raw = 0;
  if (!U32(&raw)) return false;
  *value = static_cast<int32_t>(raw);
  return true;
}

bool Reader::Guid(GUID* guid) {
  return U32(&guid->Data1) && U16(&guid->Data2) && U16(&guid->Data3) &&
         Take(guid->Data4, sizeof guid->Data4);
}

bool Reader::String(BSTR* text) {
  *text = nullptr;
  uint32_t length = 0;
  if (!U32(&length)) return false;
  if (length == kNullString) return true;
  if (length > size_ - position_) {
    ok_ = false;
    return false;
  }
  *text = SysAllocStringByteLen(reinterpret_cast<const char*>(data_ + position_), length);
  if (*text == nullptr) {
    ok_ = false;
    return false;
  }
  position_ += length;
  return true;
}

bool Reader::Text(std::u16string* text) {
  uint32_t length = 0;
  if (!U32(&length)) return false;
  if (length > (size_ - position_) / 2) {
    ok_ = false;
    return false;
  }
  text->resize(length);
  for (uint32_t i = 0; i < length; ++i) {
    uint16_t unit = 0;
    U16(&unit);
    (*text)[i] = static_cast<char16_t>(unit);
  }
  return ok_;
}

bool Reader::Variant(VARIANT* value, bool* by_reference) {
  VariantInit(value);
  uint16_t vt = 0;
  if (!U16(&vt)) return false;
  *by_reference = (vt & VT_BYREF) != 0;
  const VARTYPE base = vt & static_cast<VARTYPE>(~VT_BYREF);
  if (!IsCarriedType(base) || (*by_reference && (base == VT_EMPTY || base == VT_NULL))) {
    ok_ = false;
    return false;
  }
  bool read = true;
  switch (base) {
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
      read = U16(&value->uiVal);
      break;
    case VT_I4:
    case VT_ERROR:
    case VT_UI4:
      read = U32(&value->ulVal);
      break;
    case VT_UI1:
      read = U8(&value->bVal);
      break;
    case VT_BSTR:
      read = String(&value->bstrVal);
      break;
    default:
      break;
  }
  if (!read) return false;
  value->vt = base;
  return true;
}

// ---------------------------------------------------------------------------
// Argument lists

DecodedParams::~DecodedParams() {
  for (VARIANTARG& arg : args_) VariantClear(&arg);
  for (VARIANT& value : storage_) VariantClear(&value);
}

bool DecodedParams::Decode(Reader& reader) {
  uint32_t count = 0;
  uint32_t named = 0;
  if (!reader.U32(&count) || !reader.U32(&named)) return false;
  if (count > kMaxArguments || named > count) return false;
  named_.resize(named);
  for (DISPID& id : named_) {
    if (!reader.I32(&id)) return false;
  }
  // Sized once: the by-reference arguments point into storage_.
  args_.resize(count);
  storage_.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    VariantInit(&args_[i]);
    VariantInit(&storage_[i]);
  }
  for (uint32_t i = 0; i < count; ++i) {
    bool by_reference = false;
    if (!reader.Variant(&storage_[i], &by_reference)) return false;
    if (by_reference) {
      Refer(&args_[i], &storage_[i]);
    } else {
      args_[i] = storage_[i];
      VariantInit(&storage_[i]);
    }
  }
  params_.rgvarg = count != 0 ? args_.data() : nullptr;
  params_.rgdispidNamedArgs = named != 0 ? named_.data() : nullptr;
  params_.cArgs = count;
  params_.cNamedArgs = named;
  return true;
}

void DecodedParams::EncodeOutputs(Writer& writer) const {
  uint32_t count = 0;
  for (const VARIANTARG& arg : args_) {
    if ((arg.vt & VT_BYREF) != 0) ++count;
  }
  writer.U32(count);
  for (uint32_t i = 0; i < args_.size(); ++i) {
    if ((args_[i].vt & VT_BYREF) == 0) continue;
    writer.U32(i);
    writer.Variant(storage_[i]);
  }
}

// ---------------------------------------------------------------------------
// Bodies

bool DecodeCreate(Reader& reader, CreateRequest* request) {
  return reader.Guid(&request->clsid) && reader.Guid(&request->iid) && reader.AtEnd();
}

bool DecodeNames(Reader& reader, NamesRequest* request) {
  uint32_t count = 0;
  if (!reader.Guid(&request->iid) || !reader.U32(&request->locale) || !reader.U32(&count)) {
    return false;
  }
  if (count == 0 || count > kMaxNames) return false;
  request->names.resize(count);
  for (std::u16string& name : request->names) {
    if (!reader.Text(&name)) return false;
  }
  return reader.AtEnd();
}

bool DecodeInvoke(Reader& reader, InvokeRequest* request) {
  return reader.I32(&request->id) && reader.Guid(&request->iid) &&
         reader.U32(&request->locale) && reader.U16(&request->flags) &&
         reader.U8(&request->options) && request->params.Decode(reader) && reader.AtEnd();
}

bool DecodeAdvise(Reader& reader, AdviseRequest* request) {
  return reader.Guid(&request->iid) && reader.U32(&request->sink_id) &&
         reader.U32(&request->flags) && reader.AtEnd();
}

bool DecodeEvent(Reader& reader, EventMessage* event) {
  return reader.U32(&event->sink_id) && reader.I32(&event->id) && reader.U32(&event->locale) &&
         reader.U16(&event->flags) && event->params.Decode(reader) && reader.AtEnd();
}

InvokeReply::InvokeReply() {
  VariantInit(&result);
  std::memset(static_cast<void*>(&exception), 0, sizeof exception);
}

InvokeReply::~InvokeReply() {
  VariantClear(&result);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  for (Output& output : outputs) VariantClear(&output.value);
}

void EncodeException(Writer& writer, const EXCEPINFO& exception) {
  writer.U16(exception.wCode);
  writer.I32(exception.scode);
  writer.String(exception.bstrSource);
  writer.String(exception.bstrDescription);
  writer.String(exception.bstrHelpFile);
  writer.U32(exception.dwHelpContext);
}

bool DecodeInvokeReply(Reader& reader, InvokeReply* reply) {
  uint8_t has_result = 0;
  if (!reader.I32(&reply->hr) || !reader.U32(&reply->arg_error) || !reader.U8(&has_result) ||
      has_result > 1) {
    return false;
  }
  bool by_reference = false;
  if (has_result != 0) {
    reply->has_result = true;
    if (!reader.Variant(&reply->result, &by_reference) || by_reference) return false;
  }
  uint8_t has_exception = 0;
  if (!reader.U8(&has_exception) || has_exception > 1) return false;
  if (has_exception != 0) {
    reply->has_exception = true;
    EXCEPINFO& e = reply->exception;
    if (!reader.U16(&e.wCode) || !reader.I32(&e.scode) || !reader.String(&e.bstrSource) ||
        !reader.String(&e.bstrDescription) || !reader.String(&e.bstrHelpFile) ||
        !reader.U32(&e.dwHelpContext)) {
      return false;
    }
  }
  uint32_t count = 0;
  if (!reader.U32(&count) || count > kMaxArguments) return false;
  reply->outputs.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    InvokeReply::Output output{0, {}};
    VariantInit(&output.value);
    if (!reader.U32(&output.index)) return false;
    const bool read = reader.Variant(&output.value, &by_reference);
    reply->outputs.push_back(output);
    if (!read || by_reference) return false;
  }
  return reader.AtEnd();
}

bool ApplyOutputs(InvokeReply& reply, DISPPARAMS* params) {
  for (const InvokeReply::Output& output : reply.outputs) {
    if (params == nullptr || output.index >= params->cArgs) return false;
    const VARIANTARG& arg = params->rgvarg[output.index];
    if (arg.vt != (output.value.vt | VT_BYREF) || arg.byref == nullptr) return false;
  }
  for (InvokeReply::Output& output : reply.outputs) {
    StoreThrough(&params->rgvarg[output.index], &output.value);
  }
  return true;
}

}  // namespace platform::detail::wire
