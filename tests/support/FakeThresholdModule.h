// A threshold module on FakeSwitch: scripted replies, change and threshold events. A reply is
// looked up by (operation code, name, number): the name is the request's data up to its first
// NUL, the number the table code of 0xE001 and the record number of 0x2213 requests, else 0.
// Unscripted requests get status 0, no data.
#pragma once

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/WinTypes.h"
#include "support/FakeSwitch.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace test_support {

class FakeThresholdModule {
 public:
  using Answer = FakeSwitch::Answer;
  using Frame = FakeSwitch::Frame;

  explicit FakeThresholdModule(unsigned members = FakeSwitch::kAllMembers) : switch_(members) {
    switch_.SetHandler([this](const Frame& frame) { return Handle(frame); });
  }
  FakeThresholdModule(const FakeThresholdModule&) = delete;
  FakeThresholdModule& operator=(const FakeThresholdModule&) = delete;

  std::vector<Frame> Frames() const { return switch_.Frames(); }

  void SetNamedReply(DWORD oc, const std::string& name, Answer answer, DWORD number = 0) {
    std::lock_guard lock(mutex_);
    replies_[Key{oc, name, number}] = std::move(answer);
  }
  void SetTable(DWORD table_code, const std::string& xml) {
    SetNamedReply(switch_protocol::kOcReadConfiguration, "", TextWithNul(xml), table_code);
  }
  void SetThresholdStatus(BYTE status) {
    SetNamedReply(switch_protocol::kOcThresholdStatus, "", Bytes({status}));
  }
  void SetPerformanceStatus(BYTE status) {
    SetNamedReply(switch_protocol::kOcPerformanceStatus, "", Bytes({status}));
  }
  // The status of every later store request (0xE002); 0 accepts.
  void SetStoreStatus(BYTE status) {
    std::lock_guard lock(mutex_);
    store_status_ = status;
  }

  // Events, delivered on the calling thread; the result is the sink's.
  HRESULT RaiseTableChanged(DWORD table_code) {
    return RaiseEvent(static_cast<WORD>(switch_protocol::kOcStoreConfiguration),
                      static_cast<WORD>(table_code), {});
  }
  HRESULT RaiseThresholdEvent(const std::string& xml) {
    return RaiseEvent(static_cast<WORD>(switch_protocol::kOcThresholdEvent), 0,
                      std::vector<BYTE>(xml.begin(), xml.end()));
  }
  HRESULT RaiseEvent(WORD oc, WORD oe, const std::vector<BYTE>& data) {
    return switch_.RaiseFieldsEvent(oc, oe, 0, 0, static_cast<BYTE>(cmd_status::kEventMessage),
                                    data);
  }

  static Answer Bytes(std::vector<BYTE> data, BYTE status = 0) {
    return Answer::Status(status, std::move(data));
  }
  static Answer Word(DWORD value, BYTE status = 0) {
    std::vector<BYTE> data(4);
    std::memcpy(data.data(), &value, 4);
    return Answer::Status(status, std::move(data));
  }
  static std::string NameOf(const Frame& frame) {
    const auto* bytes = reinterpret_cast<const char*>(frame.data.data());
    return frame.data.empty() ? std::string()
                              : std::string(bytes, strnlen(bytes, frame.data.size()));
  }

 private:
  using Key = std::tuple<DWORD, std::string, DWORD>;

  static Answer TextWithNul(const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return Answer::Status(0, std::move(data));
  }

  Answer Handle(const Frame& frame) {
    namespace sp = switch_protocol;
    std::lock_guard lock(mutex_);
    if (frame.oc == sp::kOcStoreConfiguration) return Answer::Status(store_status_);
    DWORD number = 0;
    if (frame.oc == sp::kOcReadConfiguration) {
      number = frame.oe;
    } else if (frame.oc == sp::kOcReportRecordValue) {
      // GET puts the record number - 1 in OID, GET-NEXT splits it into OE (high) and OID (low).
      number = ((frame.oe << 16) | frame.oid) + 1;
    }
    const auto found = replies_.find(Key{frame.oc, NameOf(frame), number});
    return found == replies_.end() ? Answer::Status(cmd_status::kSuccess) : found->second;
  }

  FakeSwitch switch_;
  mutable std::mutex mutex_;
  std::map<Key, Answer> replies_;
  BYTE store_status_ = 0;
};

}  // namespace test_support
