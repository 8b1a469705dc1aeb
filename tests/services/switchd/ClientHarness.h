// The agent's real switch client, recording every event frame it receives
// and the dispatch id that carried it, so that tests can wait for events.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "support/WaitFor.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"

namespace switchd_test {

using test_support::kPatience;

struct ReceivedFrame {
  DISPID dispid;
  DWORD oc, oe, oid, stat;
  std::string data;
};

class RecordingClient : public CVarnClient, private IVarnReplyTarget {
 public:
  RecordingClient() : CVarnClient(nullptr, &flags_) { SetReplyTarget(this); }

  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override {
    {
      std::lock_guard lock(mutex_);
      last_dispid_ = id;
    }
    return CVarnClient::Invoke(id, iid, locale, flags, params, result, exception, arg_error);
  }

  // Chooses the event form of the next advise (3 fields, 4 header image).
  HRESULT ChooseEventForm(LONG form) {
    VARIANTARG value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = form;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return InvokeEx(kEventFormId, DISPATCH_PROPERTYPUT, &params, nullptr);
  }
  // The switch's documented dispatch id of EventForm.
  static constexpr DISPID kEventFormId = 9;

  bool WaitForFrames(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
  }
  std::vector<ReceivedFrame> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

  SwitchPermissionFlags flags_;

 private:
  void VarnReply(CommandBuffer& buffer) override {
    const CmdHeader* header = buffer.Header();
    std::lock_guard lock(mutex_);
    ReceivedFrame frame{last_dispid_, header->OC, header->OE, header->OID, header->Stat, {}};
    if (buffer.DataAt(0) != nullptr) {
      frame.data.assign(reinterpret_cast<const char*>(buffer.DataAt(0)), buffer.DataLength());
    }
    frames_.push_back(std::move(frame));
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  DISPID last_dispid_ = 0;
  std::vector<ReceivedFrame> frames_;
};

// A client attached to the switch found through the registry, with events on
// in the form asked for (0 keeps the default).
inline std::unique_ptr<RecordingClient> AttachedClient(LONG form = 0) {
  auto client = std::make_unique<RecordingClient>();
  client->SetDefaultClientName("test-client");
  EXPECT_TRUE(client->Attach(nullptr));
  if (form != 0) {
    EXPECT_EQ(client->ChooseEventForm(form), S_OK);
  }
  EXPECT_TRUE(client->EnableEvents(TRUE));
  return client;
}

// Sends one request the way the agent does and returns the reply frame.
inline std::unique_ptr<CommandBuffer> SendAsAgent(CSwitchClient& client, DWORD oc, DWORD oe,
                                                  const char* name, DWORD oid = 0) {
  auto request = std::make_unique<CommandBuffer>();
  if (name == nullptr) {
    request->SetHeaderFields(oc, oe, oid, switch_protocol::kAgentCabinet,
                             switch_protocol::kStatRequestPending);
  } else {
    request->BuildFrame(oc, oe, oid, switch_protocol::kAgentCabinet, switch_protocol::kStatNoData,
                        name, static_cast<DWORD>(std::char_traits<char>::length(name) + 1));
  }
  request->SendRequest(client, 0, 0, 0);
  return request;
}

inline std::string ReplyText(const CommandBuffer& reply) {
  if (reply.DataLength() == 0) return {};
  return std::string(reinterpret_cast<const char*>(reply.DataAt(0)), reply.DataLength());
}

}  // namespace switchd_test
