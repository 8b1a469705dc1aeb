// An in-process threshold module for tests, built on FakeSwitch: it answers
// the commands the agent sends to the module from XML table fixtures and
// scripted values, records the configuration documents it is asked to store,
// and raises change and threshold events.
//
//   test_support::FakeThresholdModule module;      // registers the fake switch
//   module.SetTable(0x311, "<Rules><Rule Name=\"cpu\"/></Rules>");
//   module.SetNamedReply(0x2207, "cpu", Answer::Text(0, "42"));  // current value
//   ... the agent attaches and loads ...
//   module.RaiseTableChanged(0x311);                // the agent reloads the rules
//
// Replies are looked up by (operation code, name, number): the name is the
// request's data up to its first NUL (the rule, report or set name; "" for
// requests without data) and the number is the table or setting code of 0xE001
// requests and the record number of 0x2213 requests (0 otherwise).  A request
// nobody scripted is answered with status 0 and no data.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/WinTypes.h"
#include "support/FakeSwitch.h"

namespace test_support {

class FakeThresholdModule {
 public:
  using Answer = FakeSwitch::Answer;
  using Frame = FakeSwitch::Frame;

  // One store request (OC 0xE002) as received.
  struct StoredDocument {
    DWORD table_code = 0;
    std::string text;  // the data without its terminating NUL
  };

  explicit FakeThresholdModule(unsigned members = FakeSwitch::kAllMembers);
  FakeThresholdModule(const FakeThresholdModule&) = delete;
  FakeThresholdModule& operator=(const FakeThresholdModule&) = delete;

  FakeSwitch& Switch() { return switch_; }

  // The answer to the table request (0xE001) of a table code: status 0 and the text.
  void SetTable(DWORD table_code, const std::string& xml);

  // The answer to requests of `oc` carrying `name` (and `number`, see above).
  void SetNamedReply(DWORD oc, const std::string& name, Answer answer, DWORD number = 0);

  // Convenience forms of SetNamedReply.
  void SetThresholdStatus(BYTE status);                                     // 0x2200, one byte
  void SetPerformanceStatus(BYTE status);                                   // 0x2220, one byte
  void SetRuleSetDocument(const std::string& set, const std::string& xml);  // 0x2202

  // Status byte of every later store request (0xE002); 0 accepts.
  void SetStoreStatus(BYTE status);
  std::vector<StoredDocument> StoredDocuments() const;

  // Every command received, oldest first.
  std::vector<Frame> Frames() const { return switch_.Frames(); }

  // Events: a changed table (0xE002 + table code), a threshold event (0x2201
  // with the document), or any frame.  Delivered on the calling thread; the
  // result is the sink's.
  HRESULT RaiseTableChanged(DWORD table_code);
  HRESULT RaiseThresholdEvent(const std::string& xml);
  HRESULT RaiseEvent(WORD oc, WORD oe, const std::vector<BYTE>& data);

  // Answer helpers.
  static Answer Bytes(std::vector<BYTE> data, BYTE status = 0);
  static Answer Word(DWORD value, BYTE status = 0);

  // The name a request carries: its data up to the first NUL.
  static std::string NameOf(const Frame& frame);

 private:
  using Key = std::tuple<DWORD, std::string, DWORD>;
  Answer Handle(const Frame& frame);

  FakeSwitch switch_;
  mutable std::mutex mutex_;
  std::map<Key, Answer> replies_;
  BYTE store_status_ = 0;
  std::vector<StoredDocument> stored_;
};

}  // namespace test_support
