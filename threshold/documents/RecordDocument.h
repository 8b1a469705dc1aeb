// One configuration record (a Rule, a RuleSet, ... or a threshold event) held
// in a markup document of its own, and the items it carries.  A RecordItem
// names where an item lives (record/child/grandchild, an attribute or the
// element's text) and how its text is read and written; the record views of
// Records.h give every item its reader and its named setter.
//
//   RecordDocument record("Rule", "cpu");           // <Rule Name="cpu"/>
//   record.SetItemValue(records::kRuleOperator, 4);  // <Threshold Operator="greater"/>
//   int mib = record.ColumnValue(records::kRuleOperator);  // 5
//
// Every operation saves the caller's navigation position, works from the
// reset position and restores the caller's position before it returns (the
// readers never move it).  A record is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "markup/MarkupDocument.h"
#include "threshold/documents/Keywords.h"

namespace records {

enum class ItemForm {
  kText,          // any text
  kNumber,        // signed decimal text
  kKeyword,       // a keyword of `enumeration`
  kDailyTime,     // "hours:minutes", read as minutes of the day
  kRecordingEnd,  // "month/day/year", read as seconds since 1970
  kStatus,        // "enable" / "disable"
  kAccess,        // "read-only" marks a record that may not be changed
};

struct RecordItem {
  std::string_view record{};      // the record's root tag
  std::string_view child{};       // first child of that tag; empty: the root itself
  std::string_view grandchild{};  // first grandchild of that tag under the child; empty: none
  std::string_view attribute{};   // an attribute of that element; empty: its text
  ItemForm form = ItemForm::kText;
  Enumeration enumeration = Enumeration::kRequestType;  // kKeyword only
  int missing_value = 0;         // kNumber: the value when the element is missing
  std::string_view only_with{};  // read only when this attribute of the same element is non-empty
  std::string_view setter{};     // the writer's name; empty when the item has none
};

}  // namespace records

class RecordDocument : public MarkupDocument {
 public:
  using Item = records::RecordItem;

  // An empty document; fill it with LoadText (a record copied out of a table).
  RecordDocument() = default;
  // A record holding only its root element; with a non-empty name, the root
  // carries it as its "Name" attribute.
  explicit RecordDocument(std::string_view tag, std::string_view name = {});

  // The tag of the root element, "" if there is none.
  std::string RecordTag();

  // The item's text: "" when its element or attribute is missing.
  std::string ItemText(const Item& item);
  // The same into *text, whose storage a caller reading many items reuses.
  void ItemText(const Item& item, std::string* text);
  // The item's value as the record means it: numbers (with the element's
  // missing value), keyword codes (with the read fallback, or kNoCode),
  // minutes of the day (-1 when missing), recording end seconds (0 when
  // missing), 1/0 for enabled/disabled and for read-only/writable.  0 for text.
  int64_t ItemValue(const Item& item);
  // The value as a MIB column shows it: keyword codes + 1 (0 for kNoCode),
  // row status 1 enabled / 2 disabled, storage type 5 read-only / 2 volatile;
  // other forms as ItemValue.
  int64_t ColumnValue(const Item& item);

  // Reads many items of one record and finds each child of the record's root
  // once rather than once per item, as a table load does for every column of
  // a row.  Gives what ItemText and ColumnValue give, but saves no position.
  // It borrows the record, which must not change while the reader is in use.
  class Reader {
   public:
    explicit Reader(const RecordDocument& record) : record_(record) {}
    void ItemText(const Item& item, std::string* text);
    int64_t ColumnValue(const Item& item);

   private:
    uint32_t ItemElement(const Item& item);

    struct Child {
      std::string_view tag;
      uint32_t index;
    };
    const RecordDocument& record_;
    bool listed_ = false;
    std::string_view record_tag_;  // the root tag whose children children_ lists
    uint32_t root_ = 0;
    std::vector<Child> children_;
  };

  // Writes the item's text: an element text is replaced, an attribute set or
  // replaced, a missing child or grandchild created as the last child of its
  // parent.  False (nothing changed) without the root, or when the element
  // to hold a text already has child elements.
  bool SetItemText(const Item& item, std::string_view text);
  // Writes a value in the item's form: numbers as decimal text; keyword codes
  // (an invalid code writes nothing, or the enumeration's fixed text, and
  // fails); minutes of the day 0..1440 as "%02d:%02d" (fails outside);
  // recording end seconds as the UTC date (fails for 0); status non-zero
  // "enable", zero "disable".  Text and access items have no value to write.
  bool SetItemValue(const Item& item, int64_t value);

  // Members of a set: children of `member_tag` under the `set_tag` root.
  // The name of member k (from 0), empty optional when there is no such member.
  std::optional<std::string> MemberName(std::string_view set_tag, std::string_view member_tag,
                                        int k);
  std::vector<std::string> MemberNames(std::string_view set_tag, std::string_view member_tag);
  // Appends <member_tag Name="name"/> as the last child unless a member of
  // that name exists; true when one was added.
  bool AddMember(std::string_view set_tag, std::string_view member_tag, std::string_view name);
  // Removes the first member of that name; true when one was removed.
  bool RemoveMember(std::string_view set_tag, std::string_view member_tag, std::string_view name);

  // The markup of the first `child_tag` child of the `root_tag` root, "" if none.
  std::string ChildMarkup(std::string_view root_tag, std::string_view child_tag);

  // True when the record says nothing besides its name: a root without
  // attributes other than "Name", without child elements and without text
  // other than blanks.  The threshold module removes the stored record of
  // that name when it is sent such a record.
  bool CarriesOnlyName();
  // When the item's element is missing, writes the value that reading it
  // gives (its default), so that the record states it; what a reader gets
  // stays the same.  True when the item is present afterwards (never for
  // items without a value to write, such as texts or a missing daily time).
  bool MakeItemExplicit(const Item& item);

 private:
  // The element that holds the item's text; 0 when it is missing (or lacks
  // its only_with attribute).  A missing attribute of a present element
  // reads as "".
  uint32_t ItemElement(const Item& item) const;
  // The same from the root's first child named item.child (0: none).
  uint32_t ItemElementFrom(uint32_t child, const Item& item) const;
  // Appends the text of the item held by `element`; false, with nothing
  // appended, when element is 0.
  bool AppendItem(uint32_t element, const Item& item, std::string* out) const;
  static int64_t ValueOf(const Item& item, bool present, std::string_view text);
  static int64_t ColumnOf(const Item& item, int64_t value);
  bool WriteRaw(const Item& item, std::string_view text);
};
