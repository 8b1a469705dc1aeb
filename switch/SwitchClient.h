// The agent's COM client of the server-control service's switch object, and
// at the same time the sink of the switch's events.
//
// Attach creates the switch, parks its dispatch interface in the global
// interface table (so every thread can call it) and learns the dispatch ids of
// its methods; CmdRequest carries one command frame through the first request
// method the switch knows; EnableEvents advises this object at the switch's
// connection point, after which the switch's calls to Invoke become frames
// handed to Reply.
//
//   CSwitchClient client;
//   client.Attach(nullptr);
//   client.EnableCancelRequest(true);
//   client.EnableEvents(true);
//   ... CommandBuffer::SendRequest(client, ...) from any thread ...
//   client.CancelRequest(5);            // from the shutdown thread
//   client.EnableEvents(false);         // on the thread that enabled them
//   client.Detach();                    // on the thread that attached
#pragma once

#include <atomic>
#include <map>
#include <stdexcept>
#include <string>

#include "platform/com/Com.h"
#include "platform/system/Threads.h"
#include "platform/WinTypes.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

// A COM failure raised to the caller where the interface contract throws
// (only EnableEvents does, for a container query that fails unexpectedly).
class ComError : public std::runtime_error {
 public:
  explicit ComError(HRESULT hr) : std::runtime_error("COM call failed"), hr_(hr) {}
  HRESULT Result() const { return hr_; }

 private:
  HRESULT hr_;
};

// The switch's outgoing interface as this side implements it.
class CRSwitchOut : public IDispatch {
 protected:
  ~CRSwitchOut() = default;
};

class CSwitchClient : public CRSwitchOut {
 public:
  static constexpr size_t kMaxClientName = 255;
  static constexpr size_t kMaxServerName = MAX_PATH;

  CSwitchClient();
  virtual ~CSwitchClient();
  CSwitchClient(const CSwitchClient&) = delete;
  CSwitchClient& operator=(const CSwitchClient&) = delete;

  // IUnknown / IDispatch: the event sink.  Release never destroys the object;
  // its owner does.
  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

  // Hooks for derived clients.  OnIncomingFrame sees every event frame (the
  // kCmdImageSize-byte header image and the data string) before Reply gets it;
  // the buffer given to Reply is valid only during the call.  ReplyFields and
  // ReplyDone are extension points that the sink does not call.
  virtual void OnIncomingFrame(const BYTE* header_image, BSTR data);
  virtual void Reply(CommandBuffer& buffer);
  virtual void ReplyFields(DWORD OC, DWORD OE, DWORD OID, DWORD CABID, DWORD Stat,
                           const BYTE* data, DWORD length);
  virtual void ReplyDone(DWORD status);

  // True when attached (also when already attached).  serverName null or
  // empty keeps the stored name; an empty stored name means this machine.
  BOOL Attach(const WCHAR* serverName);
  BOOL EnableCancelRequest(BOOL enable);
  // True when the last HRESULT is not negative.  May throw ComError (see above).
  BOOL EnableEvents(BOOL enable);
  // Sends one frame.  header: the 48-byte header, updated in place with the
  // reply header; *data: in, the request data (Len bytes); out, the reply
  // byte string (free it with SysFreeString) or nullptr.  True when the last
  // COM call succeeded; the reply status is in header->Stat.
  BOOL CmdRequest(CmdHeader* header, BYTE** data, WORD timeout, DWORD retries,
                  WORD retryIncrement);
  HRESULT InvokeEx(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception = nullptr, UINT* arg_error = nullptr);
  // Stores the name (at most 255 characters) and, when attached and the
  // switch has the member, sends it.  True when stored and, if sent, sent.
  BOOL ClientName(const char* name);
  const char* GetClientName() const { return client_name_; }
  // The name Attach uses when none was set: the agent's module name.
  void SetDefaultClientName(const char* name);
  // Breaks a switch call in progress on another thread and refuses every
  // later call until cancellation is disabled.  True when the cancel call
  // succeeded.
  BOOL CancelRequest(DWORD timeoutSeconds);
  // Must run on the thread that attached; elsewhere the registration stays.
  void Detach();

  HRESULT m_LasthResult = S_OK;

  // State for tests and diagnostics.
  bool IsAttached() const { return table_cookie_ != 0; }
  bool EventsEnabled() const { return advise_cookie_ != 0; }
  bool IsCancelled() const { return cancelled_.load(); }
  DISPID DispatchId(int method) const { return dispatch_ids_[method]; }
  ULONG ReferenceCount() const { return references_.load(); }
  size_t ComThreadCount() const;
  // The one-shot flag that makes the next CmdRequest keep the header's MID.
  void KeepMessageIdOnce() { keep_message_id_ = true; }

 private:
  HRESULT CallRequestMethod(DISPID method, int index, CmdHeader* header, BYTE** data,
                            WORD timeout, DWORD retries, WORD retryIncrement);
  void TraceFrame(const char* direction, const CmdHeader* header) const;
  HRESULT DecodeEvent(DISPID id, DISPPARAMS* params, BYTE* image, BSTR* data) const;

  std::atomic<ULONG> references_{0};
  mutable CRITICAL_SECTION lock_;
  std::map<DWORD, HRESULT> com_threads_;
  platform::ComPtr<IConnectionPoint> connection_point_;

  bool com_library_loaded_ = false;
  platform::PFN_CoEnableCallCancellation co_enable_call_cancellation_ = nullptr;
  platform::PFN_CoDisableCallCancellation co_disable_call_cancellation_ = nullptr;
  platform::PFN_CoGetCancelObject co_get_cancel_object_ = nullptr;
  platform::PFN_CoCancelCall co_cancel_call_ = nullptr;

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> cancel_enabled_{false};
  std::atomic<DWORD> calling_thread_{0};
  DWORD event_thread_ = 0;
  DWORD advise_cookie_ = 0;
  bool keep_message_id_ = false;

  char client_name_[kMaxClientName + 1] = {};
  char default_client_name_[kMaxClientName + 1] = {};
  WCHAR server_name_[kMaxServerName + 1] = {};
  DISPID dispatch_ids_[switch_protocol::kMethodCount];

  platform::ComPtr<IGlobalInterfaceTable> interface_table_;
  std::atomic<DWORD> table_cookie_{0};
  DWORD attach_thread_ = 0;
};
