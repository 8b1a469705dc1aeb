// The switch automation object as its clients see it: an IDispatch with the
// request methods and properties below, and a connection point for the event
// interface DIID_LorvethSwitchEvents.  Every client (every creation) gets an
// object of its own; all of them share one threshold module and one event hub.
//
// Members and their dispatch ids (stable; clients may also look them up):
//   1 CmdRequest(header: BSTR in/out, data: BSTR in/out, timeout: I2)
//   2 VCRequestEx(OC, OE, OID, CABID: I2, data: BSTR in/out, status: UI1 in/out,
//                 timeout: I2, message: UI1 in/out)
//   3 VCRequest(as VCRequestEx without the message byte)
//   4 ClientName (property, BSTR): the client's name, shown by switchctl
//   5 SyncRequest, 6 DefaultTimeout, 7 ServerCabinetNumber,
//   8 ServerControlVersion (property get, I4)
//   9 EventForm (property, I4): 3 or 4, the event dispatch id in which an
//     advise made afterwards receives events (default 4, the header image)
//
//   auto object = SwitchObject::Create(module, hub);   // one reference
//   platform::RegisterInProcessClass(CLSID_LorvethSwitch, SwitchObject::Factory(module, hub));
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/com/Com.h"
#include "platform/WinTypes.h"
#include "services/switchd/EventHub.h"
#include "services/switchd/ThresholdModule.h"

namespace switchd {

namespace dispid {
inline constexpr DISPID kCmdRequest = 1;
inline constexpr DISPID kVCRequestEx = 2;
inline constexpr DISPID kVCRequest = 3;
inline constexpr DISPID kClientName = 4;
inline constexpr DISPID kSyncRequest = 5;
inline constexpr DISPID kDefaultTimeout = 6;
inline constexpr DISPID kServerCabinetNumber = 7;
inline constexpr DISPID kServerControlVersion = 8;
inline constexpr DISPID kEventForm = 9;
}  // namespace dispid

// Values of the look-up-only members.
inline constexpr LONG kDefaultTimeoutSeconds = 30;
inline constexpr LONG kServerCabinetNumber = 0;
inline constexpr LONG kServerControlVersion = 0x0400;
inline constexpr EventForm kDefaultEventForm = EventForm::kHeader;

class SwitchObject final : public IDispatch,
                           public IConnectionPointContainer,
                           public IConnectionPoint {
 public:
  // A new object holding one reference for the caller.
  static SwitchObject* Create(std::shared_ptr<ThresholdModule> module,
                              std::shared_ptr<EventHub> hub);
  // A class factory that makes a new object for every creation.
  static platform::ClassFactory Factory(std::shared_ptr<ThresholdModule> module,
                                        std::shared_ptr<EventHub> hub);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

  std::string ClientNameText() const;

 private:
  SwitchObject(std::shared_ptr<ThresholdModule> module, std::shared_ptr<EventHub> hub);
  ~SwitchObject();

  HRESULT CmdRequest(DISPPARAMS* params);
  HRESULT VCRequest(DISPPARAMS* params, bool extended);
  HRESULT ClientNameProperty(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT EventFormProperty(WORD flags, DISPPARAMS* params, VARIANT* result);
  ModuleReply Answer(const ModuleRequest& request);

  std::shared_ptr<ThresholdModule> module_;
  std::shared_ptr<EventHub> hub_;
  std::atomic<ULONG> references_{0};
  mutable std::mutex mutex_;
  std::string client_name_;
  EventForm form_ = kDefaultEventForm;
  std::set<DWORD> cookies_;
};

}  // namespace switchd
