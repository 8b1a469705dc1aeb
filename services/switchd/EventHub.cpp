// Event delivery to the advised clients.
#include "services/switchd/EventHub.h"

#include <algorithm>
#include <cstring>

#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"

namespace switchd {

namespace sp = switch_protocol;

EventFrame EventFrame::Change(DWORD table) {
  EventFrame frame;
  frame.oc = sp::kOcStoreConfiguration;
  frame.oe = table;
  frame.stat = cmd_status::kEventMessage;
  return frame;
}

EventFrame EventFrame::Setting(DWORD code, BYTE value) {
  EventFrame frame = Change(code);
  frame.data.push_back(value);
  return frame;
}

EventFrame EventFrame::Threshold(const std::string& document) {
  EventFrame frame;
  frame.oc = sp::kOcThresholdEvent;
  frame.stat = cmd_status::kEventMessage;
  frame.data.assign(document.begin(), document.end());
  frame.data.push_back(0);
  return frame;
}

HRESULT DeliverEvent(IDispatch* sink, EventForm form, const EventFrame& frame) {
  const char* bytes = reinterpret_cast<const char*>(frame.data.data());
  const UINT size = static_cast<UINT>(frame.data.size());
  HRESULT hr = S_OK;
  if (form == EventForm::kFields) {
    VARIANTARG args[6];
    for (VARIANTARG& arg : args) VariantInit(&arg);
    const DWORD fields[4] = {frame.oc, frame.oe, frame.oid, frame.cabid};
    for (int i = 0; i < 4; ++i) {
      args[5 - i].vt = VT_I2;
      args[5 - i].iVal = static_cast<SHORT>(fields[i] & 0xFFFF);
    }
    args[1].vt = VT_UI1;
    args[1].bVal = static_cast<BYTE>(frame.stat);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringByteLen(bytes, size);
    DISPPARAMS params{args, nullptr, 6, 0};
    hr = sink->Invoke(sp::kEventWithFields, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                      &params, nullptr, nullptr, nullptr);
    VariantClear(&args[0]);
  } else {
    CmdHeader header{};
    std::memcpy(header.Signature, "$SIP", 4);
    header.Format = kCmdFrameFormat;
    header.HeaderLength = kCmdHeaderLength;
    header.Len = size;
    header.OC = frame.oc;
    header.OE = frame.oe;
    header.OID = frame.oid;
    header.CABID = frame.cabid;
    header.Stat = frame.stat;
    char image[kCmdImageSize] = {};
    std::memcpy(image, &header, sizeof header);
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringByteLen(image, kCmdImageSize);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocStringByteLen(bytes, size);
    DISPPARAMS params{args, nullptr, 2, 0};
    hr = sink->Invoke(sp::kEventWithHeader, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                      &params, nullptr, nullptr, nullptr);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
  }
  return hr;
}

EventHub::EventHub() : thread_([this] { Run(); }) {}

EventHub::~EventHub() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

DWORD EventHub::Subscribe(IDispatch* sink, EventForm form, std::string client_name) {
  std::lock_guard lock(mutex_);
  const DWORD cookie = next_cookie_++;
  if (next_cookie_ == 0) next_cookie_ = 1;
  subscribers_.push_back({cookie, platform::ComPtr<IDispatch>(sink), form, std::move(client_name)});
  return cookie;
}

bool EventHub::Unsubscribe(DWORD cookie) {
  platform::ComPtr<IDispatch> released;  // released outside the lock
  std::deque<Delivery> dropped;
  std::unique_lock lock(mutex_);
  const auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                               [cookie](const Subscriber& s) { return s.cookie == cookie; });
  if (it == subscribers_.end()) return false;
  released = std::move(it->sink);
  subscribers_.erase(it);
  // Once unadvised, a sink is not called again and no reference to it is
  // kept: its owner may destroy it as soon as this returns.
  for (auto queued = queue_.begin(); queued != queue_.end();) {
    if (queued->cookie == cookie) {
      dropped.push_back(std::move(*queued));
      queued = queue_.erase(queued);
    } else {
      ++queued;
    }
  }
  if (std::this_thread::get_id() != thread_.get_id()) {
    changed_.wait(lock, [&] { return !busy_ || busy_cookie_ != cookie; });
  }
  lock.unlock();
  return true;
}

void EventHub::Enqueue(std::vector<Delivery> deliveries) {
  if (deliveries.empty()) return;
  {
    std::lock_guard lock(mutex_);
    for (Delivery& delivery : deliveries) queue_.push_back(std::move(delivery));
  }
  changed_.notify_all();
}

void EventHub::Broadcast(const EventFrame& frame) {
  std::vector<Delivery> deliveries;
  {
    std::lock_guard lock(mutex_);
    for (const Subscriber& s : subscribers_) {
      deliveries.push_back({s.cookie, s.sink, s.form, frame});
    }
  }
  Enqueue(std::move(deliveries));
}

bool EventHub::SendToSink(const IUnknown* sink, const std::vector<EventFrame>& frames) {
  std::vector<Delivery> deliveries;
  {
    std::lock_guard lock(mutex_);
    for (const Subscriber& s : subscribers_) {
      if (static_cast<const IUnknown*>(s.sink.Get()) != sink) continue;
      for (const EventFrame& frame : frames) deliveries.push_back({s.cookie, s.sink, s.form, frame});
    }
  }
  const bool found = !deliveries.empty() || frames.empty();
  Enqueue(std::move(deliveries));
  return found;
}

std::vector<ClientInfo> EventHub::Clients() const {
  std::vector<ClientInfo> clients;
  std::lock_guard lock(mutex_);
  for (const Subscriber& s : subscribers_) {
    clients.push_back({s.cookie, s.name, s.form, s.delivered, s.failed});
  }
  return clients;
}

void EventHub::Flush() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || stopping_; });
}

void EventHub::Count(DWORD cookie, bool ok) {
  std::lock_guard lock(mutex_);
  for (Subscriber& s : subscribers_) {
    if (s.cookie == cookie) ++(ok ? s.delivered : s.failed);
  }
}

void EventHub::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    Delivery delivery = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    busy_cookie_ = delivery.cookie;
    lock.unlock();
    const HRESULT hr = DeliverEvent(delivery.sink.Get(), delivery.form, delivery.frame);
    delivery.sink.Reset();
    Count(delivery.cookie, SUCCEEDED(hr));
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
  // Pending deliveries hold sink references; drop them outside the lock.
  std::deque<Delivery> dropped;
  dropped.swap(queue_);
  lock.unlock();
}

}  // namespace switchd
