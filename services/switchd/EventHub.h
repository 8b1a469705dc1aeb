// The clients advised at the switch's event connection point, and the thread
// that delivers events to them.
//
// Each advise records the form in which that client receives events:
//   EventForm::kFields - dispatch id 3: OC, OE, OID, CABID (16-bit each), Stat
//                        (byte) and the data (byte string);
//   EventForm::kHeader - dispatch id 4: the 52-byte header image and the data.
// Events are queued and delivered in order on the hub's own thread, so that a
// client that calls the switch from inside an event never waits on itself.
//
//   EventHub hub;
//   DWORD cookie = hub.Subscribe(sink, EventForm::kHeader, "agent");
//   hub.Broadcast(EventFrame::Change(0x311));
//   hub.Unsubscribe(cookie);
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/Com.h"
#include "platform/WinTypes.h"

namespace switchd {

enum class EventForm : int { kFields = 3, kHeader = 4 };

struct EventFrame {
  DWORD oc = 0;
  DWORD oe = 0;
  DWORD oid = 0;
  DWORD cabid = 0;
  DWORD stat = 0;
  std::vector<BYTE> data;

  // OC 0xE002 with the table code: the table changed.
  static EventFrame Change(DWORD table);
  // OC 0xE002 with the setting code and its one-byte value.
  static EventFrame Setting(DWORD code, BYTE value);
  // OC 0x2201 with a threshold event document (and its terminating NUL).
  static EventFrame Threshold(const std::string& document);
};

struct ClientInfo {
  DWORD cookie;
  std::string name;
  EventForm form;
  unsigned long delivered;
  unsigned long failed;
};

class EventHub {
 public:
  EventHub();
  ~EventHub();
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // Keeps a reference to the sink; the cookie is never 0.
  DWORD Subscribe(IDispatch* sink, EventForm form, std::string client_name);
  // Drops the sink's queued events and, unless called from inside an event,
  // waits for one being delivered to it: afterwards the hub neither calls the
  // sink nor holds a reference to it.
  bool Unsubscribe(DWORD cookie);

  // To every client advised now.
  void Broadcast(const EventFrame& frame);
  // To the client(s) advised with exactly this sink; false when none is.
  bool SendToSink(const IUnknown* sink, const std::vector<EventFrame>& frames);

  std::vector<ClientInfo> Clients() const;
  // Waits until every queued event was delivered.
  void Flush();

 private:
  struct Subscriber {
    DWORD cookie;
    platform::ComPtr<IDispatch> sink;
    EventForm form;
    std::string name;
    unsigned long delivered = 0;
    unsigned long failed = 0;
  };
  struct Delivery {
    DWORD cookie;
    platform::ComPtr<IDispatch> sink;
    EventForm form;
    EventFrame frame;
  };

  void Run();
  void Enqueue(std::vector<Delivery> deliveries);
  void Count(DWORD cookie, bool ok);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Subscriber> subscribers_;
  std::deque<Delivery> queue_;
  bool busy_ = false;
  DWORD busy_cookie_ = 0;  // whose event is being delivered while busy_
  bool stopping_ = false;
  DWORD next_cookie_ = 1;
  std::thread thread_;
};

// Delivers one event to a sink in the given form; the sink's result.
HRESULT DeliverEvent(IDispatch* sink, EventForm form, const EventFrame& frame);

}  // namespace switchd
