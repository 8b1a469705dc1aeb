// Settings events and the hand-over of event frames to the agent.
#include "switch/VarnClient.h"

#include "switch/SwitchProtocol.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;

void CVarnClient::Reply(CommandBuffer& buffer) {
  const CmdHeader* header = buffer.Header();
  SwitchPermissionFlags unkept;
  SwitchPermissionFlags* flags = flags_ != nullptr ? flags_ : &unkept;
  if (header != nullptr && header->OC == sp::kOcStoreConfiguration) {
    // The filters need a good status and exactly one byte; the three
    // permissions only look at the length.
    const bool one_byte = buffer.DataLength() == 1;
    switch (header->OE) {
      case sp::kSettingTrap2EventLog:
        if (buffer.HasReplyData(1, false)) {
          flags->Trap2EventLog = buffer.DataByte(0);
          TRACE(3, "\nCVarnClient::Reply  : Trap2EventLog filter changed to %d",
                static_cast<int>(buffer.DataByte(0)));
        }
        break;
      case sp::kSettingTrapToAdminAlert:
        if (buffer.HasReplyData(1, false)) {
          flags->TrapToAdminAlert = buffer.DataByte(0);
          TRACE(3, "\nCVarnClient::Reply  : TrapToAdminAlert filter changed to %d",
                static_cast<int>(buffer.DataByte(0)));
        }
        break;
      case sp::kSettingSetAllowed:
        if (one_byte) {
          flags->SetAllowed = buffer.DataByte(0);
          TRACE(2, "\nCVarnClient::Reply  : # MIB write %s! #",
                buffer.DataByte(0) != 0 ? "enabled" : "disabled");
        }
        break;
      case sp::kSettingShutdownIsAllowed:
        if (one_byte) {
          flags->ShutdownIsAllowed = buffer.DataByte(0);
          TRACE(2, "\nCVarnClient::Reply  : # MIB shutdown %s! #",
                buffer.DataByte(0) != 0 ? "enabled" : "disabled");
        }
        break;
      case sp::kSettingDoAccountCheck:
        if (one_byte) {
          flags->DoAccountCheck = buffer.DataByte(0);
          TRACE(2, "\nCVarnClient::Reply  : # MIB account check %s! #",
                buffer.DataByte(0) != 0 ? "enabled" : "disabled");
        }
        break;
      default:
        break;
    }
  }
  if (target_ != nullptr) target_->VarnReply(buffer);
}
