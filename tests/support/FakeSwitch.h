// An in-process switch under the switch's class id: any subset of its members, answers from a
// script or a handler, every frame recorded, cancellable calls, events to advised sinks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/com/Com.h"

namespace test_support {

class FakeSwitch {
 public:
  // Which members GetIDsOfNames knows.
  enum Members : unsigned {
    kCmdRequestMember = 1u << 0,
    kVCRequestExMember = 1u << 1,
    kVCRequestMember = 1u << 2,
    kClientNameMember = 1u << 3,
    // SyncRequest, DefaultTimeout, ServerCabinetNumber, ServerControlVersion.
    kLookedUpOnlyMembers = 1u << 4,
    kAllMembers = 0x1F,
  };

  // Dispatch ids the fake gives out; deliberately not the lookup order.
  static constexpr DISPID kIdSyncRequest = 201;
  static constexpr DISPID kIdDefaultTimeout = 202;
  static constexpr DISPID kIdVCRequest = 203;
  static constexpr DISPID kIdServerCabinetNumber = 204;
  static constexpr DISPID kIdServerControlVersion = 205;
  static constexpr DISPID kIdVCRequestEx = 206;
  static constexpr DISPID kIdClientName = 207;
  static constexpr DISPID kIdCmdRequest = 208;

  struct Frame {
    DISPID method = 0;
    DWORD oc = 0, oe = 0, oid = 0, cabid = 0, stat = 0;
    WORD mid_low = 0, mid_high = 0;
    BYTE message = 0;         // the message byte of VCRequestEx
    size_t header_bytes = 0;  // length of the header string (CmdRequest)
    std::vector<BYTE> data;
    WORD timeout = 0;
    DWORD thread_id = 0;
  };

  struct Answer {
    BYTE stat = 0;
    std::vector<BYTE> data{};
    DWORD delay_ms = 0;                  // cancellable wait before answering
    bool block_until_cancelled = false;  // wait for a cancel (bounded, see .cpp)
    HRESULT hr = S_OK;                   // a failure is returned without answering
    int message = -1;                    // new message byte (VCRequestEx), -1 keeps it
    int header_bytes = -1;               // bytes of the returned header (CmdRequest)

    static Answer Status(BYTE stat, std::vector<BYTE> data = {}) {
      return {.stat = stat, .data = std::move(data)};
    }
    static Answer Text(BYTE stat, const std::string& text) {
      return Status(stat, std::vector<BYTE>(text.begin(), text.end()));
    }
    static Answer Failure(HRESULT hr) { return {.hr = hr}; }
    static Answer Blocking() { return {.block_until_cancelled = true}; }
  };
  using Handler = std::function<Answer(const Frame&)>;

  explicit FakeSwitch(unsigned members = kAllMembers);
  ~FakeSwitch();
  FakeSwitch(const FakeSwitch&) = delete;
  FakeSwitch& operator=(const FakeSwitch&) = delete;

  // Scripted answers go first, in order; then the handler; else status 0 and no data.
  void QueueAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(answer));
  }
  void AnswerBusy(int times);
  void SetHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }

  // Failure of creation (the factory returns it) and of the connection point
  // container query (E_NOINTERFACE: no events; other codes are unexpected).
  void SetCreationResult(HRESULT hr) { creation_result_ = hr; }
  void SetContainerQueryResult(HRESULT hr);

  std::vector<Frame> Frames() const { return Locked(frames_); }
  void ClearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
  }
  std::string ClientName() const { return Locked(client_name_); }
  int ClientNameCalls() const { return Locked(client_name_calls_); }
  int CreateCount() const { return create_count_.load(); }
  int AdviseCount() const;
  size_t SinkCount() const;
  // References held by others (0 when every client let go).
  ULONG ExternalReferences() const;

  // Waits until a command is inside a delayed or blocking answer.
  bool WaitForCallInProgress(DWORD milliseconds);

  // Events to every advised sink; the last sink's Invoke result (S_FALSE without a sink).
  HRESULT RaiseFieldsEvent(WORD oc, WORD oe, WORD oid, WORD cabid, BYTE stat,
                           const std::vector<BYTE>& data);
  HRESULT RaiseHeaderEvent(const std::vector<BYTE>& header, const std::vector<BYTE>& data);

  // A 52-byte header image: "$SIP", format 2, length 48, the fields given.
  static std::vector<BYTE> HeaderImage(DWORD oc, DWORD oe, DWORD oid, DWORD cabid, DWORD stat,
                                       DWORD len);

  class Object;

 private:
  friend class Object;
  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }
  Answer NextAnswer(const Frame& frame);
  HRESULT Answered(Answer& answer);

  std::unique_ptr<Object> object_;
  unsigned members_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Answer> script_;
  Handler handler_;
  std::vector<Frame> frames_;
  std::string client_name_;
  int client_name_calls_ = 0;
  std::atomic<int> create_count_{0};
  std::atomic<HRESULT> creation_result_{S_OK};
  int calls_waiting_ = 0;
};

}  // namespace test_support
