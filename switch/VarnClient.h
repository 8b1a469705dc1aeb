// The agent's switch client: picks up the service settings that arrive as
// events and hands every event frame to the agent.
//
//   SwitchPermissionFlags flags;               // owned by the agent
//   CVarnClient client(&agent, &flags);        // agent implements IVarnReplyTarget
//   client.SetDefaultClientName(module_name);
#pragma once

#include <atomic>

#include "platform/WinTypes.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchClient.h"

// Receives every frame that the switch sends on its own initiative.  Called on
// the switch's delivery thread; the buffer is valid only during the call.
class IVarnReplyTarget {
 public:
  virtual void VarnReply(CommandBuffer& buffer) = 0;

 protected:
  ~IVarnReplyTarget() = default;
};

// The five one-byte settings of the server-control service.  Written by the
// event sink and the start-up reads, read by trap processing without a lock.
struct SwitchPermissionFlags {
  std::atomic<BYTE> ShutdownIsAllowed{0};
  std::atomic<BYTE> SetAllowed{0};
  std::atomic<BYTE> DoAccountCheck{0};
  std::atomic<BYTE> Trap2EventLog{0};
  std::atomic<BYTE> TrapToAdminAlert{0};
};

class CVarnClient : public CSwitchClient {
 public:
  // Either may be null: settings are then not kept, frames not passed on.
  explicit CVarnClient(IVarnReplyTarget* target = nullptr, SwitchPermissionFlags* flags = nullptr)
      : target_(target), flags_(flags) {}

  void SetReplyTarget(IVarnReplyTarget* target) { target_ = target; }
  void SetPermissionFlags(SwitchPermissionFlags* flags) { flags_ = flags; }

  void Reply(CommandBuffer& buffer) override;

 private:
  IVarnReplyTarget* target_;
  SwitchPermissionFlags* flags_;
};
