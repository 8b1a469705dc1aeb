// The fake threshold module: scripted replies by request, stored documents,
// events.
#include "support/FakeThresholdModule.h"

#include <cstring>

#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace test_support {

namespace sp = switch_protocol;

namespace {
// The text with its terminating NUL, as the module sends texts.
FakeSwitch::Answer TextWithNul(const std::string& text) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  return FakeSwitch::Answer::Status(0, std::move(data));
}
}  // namespace

FakeThresholdModule::FakeThresholdModule(unsigned members) : switch_(members) {
  switch_.SetHandler([this](const Frame& frame) { return Handle(frame); });
}

std::string FakeThresholdModule::NameOf(const Frame& frame) {
  if (frame.data.empty()) return {};
  const auto* bytes = reinterpret_cast<const char*>(frame.data.data());
  return std::string(bytes, strnlen(bytes, frame.data.size()));
}

FakeThresholdModule::Answer FakeThresholdModule::Bytes(std::vector<BYTE> data, BYTE status) {
  return Answer::Status(status, std::move(data));
}

FakeThresholdModule::Answer FakeThresholdModule::Word(DWORD value, BYTE status) {
  std::vector<BYTE> data(4);
  std::memcpy(data.data(), &value, 4);
  return Answer::Status(status, std::move(data));
}

void FakeThresholdModule::SetTable(DWORD table_code, const std::string& xml) {
  SetNamedReply(sp::kOcReadConfiguration, "", TextWithNul(xml), table_code);
}

void FakeThresholdModule::SetNamedReply(DWORD oc, const std::string& name, Answer answer,
                                        DWORD number) {
  std::lock_guard lock(mutex_);
  replies_[Key{oc, name, number}] = std::move(answer);
}

void FakeThresholdModule::SetThresholdStatus(BYTE status) {
  SetNamedReply(sp::kOcThresholdStatus, "", Bytes({status}));
}

void FakeThresholdModule::SetPerformanceStatus(BYTE status) {
  SetNamedReply(sp::kOcPerformanceStatus, "", Bytes({status}));
}

void FakeThresholdModule::SetRuleSetDocument(const std::string& set, const std::string& xml) {
  SetNamedReply(sp::kOcRuleSetDocument, set, TextWithNul(xml));
}

void FakeThresholdModule::SetStoreStatus(BYTE status) {
  std::lock_guard lock(mutex_);
  store_status_ = status;
}

std::vector<FakeThresholdModule::StoredDocument> FakeThresholdModule::StoredDocuments() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

FakeThresholdModule::Answer FakeThresholdModule::Handle(const Frame& frame) {
  std::lock_guard lock(mutex_);
  if (frame.oc == sp::kOcStoreConfiguration) {
    stored_.push_back(StoredDocument{frame.oe, NameOf(frame)});
    return Answer::Status(store_status_);
  }
  DWORD number = 0;
  if (frame.oc == sp::kOcReadConfiguration) {
    number = frame.oe;
  } else if (frame.oc == sp::kOcReportRecordValue) {
    // GET puts the whole record number - 1 in OID, GET-NEXT splits it into
    // OE (high half) and OID (low half); both read back the same way.
    number = ((frame.oe << 16) | frame.oid) + 1;
  }
  const auto found = replies_.find(Key{frame.oc, NameOf(frame), number});
  if (found == replies_.end()) return Answer::Status(cmd_status::kSuccess);
  return found->second;
}

HRESULT FakeThresholdModule::RaiseTableChanged(DWORD table_code) {
  return RaiseEvent(static_cast<WORD>(sp::kOcStoreConfiguration), static_cast<WORD>(table_code),
                    {});
}

HRESULT FakeThresholdModule::RaiseThresholdEvent(const std::string& xml) {
  return RaiseEvent(static_cast<WORD>(sp::kOcThresholdEvent), 0,
                    std::vector<BYTE>(xml.begin(), xml.end()));
}

HRESULT FakeThresholdModule::RaiseEvent(WORD oc, WORD oe, const std::vector<BYTE>& data) {
  return switch_.RaiseFieldsEvent(oc, oe, 0, 0, static_cast<BYTE>(cmd_status::kEventMessage), data);
}

}  // namespace test_support
