// Reading and writing the items of one record.
#include "threshold/documents/RecordDocument.h"

#include <climits>

#include "threshold/documents/Formats.h"
#include "threshold/documents/detail/PositionGuard.h"
#include "trace/FileDebug.h"

using records::ItemForm;
using records::detail::PositionGuard;

namespace {

constexpr std::string_view kNameAttribute = "Name";

}  // namespace

RecordDocument::RecordDocument(std::string_view tag, std::string_view name) {
  AppendElement(tag);
  if (!name.empty()) SetAttribute(kNameAttribute, name);
  ResetPosition();
}

std::string RecordDocument::RecordTag() {
  PositionGuard guard(*this);
  return NextElement() ? TagName() : std::string();
}

uint32_t RecordDocument::ItemElement(const Item& item) const {
  const uint32_t root = ChildNamed(0, item.record);
  if (root == 0 || item.child.empty()) return root;
  return ItemElementFrom(ChildNamed(root, item.child), item);
}

uint32_t RecordDocument::ItemElementFrom(uint32_t child, const Item& item) const {
  uint32_t e = child;
  if (e != 0 && !item.grandchild.empty()) e = ChildNamed(e, item.grandchild);
  // A raw value is empty exactly when its decoded text is.
  if (e != 0 && !item.only_with.empty() && RawAttribute(e, item.only_with).empty()) return 0;
  return e;
}

bool RecordDocument::AppendItem(uint32_t element, const Item& item, std::string* out) const {
  if (element == 0) return false;
  if (item.attribute.empty()) {
    AppendText(element, out);
  } else {
    AppendAttribute(element, item.attribute, out);
  }
  return true;
}

std::string RecordDocument::ItemText(const Item& item) {
  std::string text;
  ItemText(item, &text);
  return text;
}

void RecordDocument::ItemText(const Item& item, std::string* text) {
  SavePosition();  // what a PositionGuard leaves behind, for a caller's RestorePosition()
  text->clear();
  AppendItem(ItemElement(item), item, text);
}

int64_t RecordDocument::ItemValue(const Item& item) {
  SavePosition();
  std::string text;  // most value texts fit the string's own buffer
  const bool present = AppendItem(ItemElement(item), item, &text);
  return ValueOf(item, present, text);
}

int64_t RecordDocument::ColumnValue(const Item& item) { return ColumnOf(item, ItemValue(item)); }

int64_t RecordDocument::ValueOf(const Item& item, bool present, std::string_view text) {
  switch (item.form) {
    case ItemForm::kText:
      return 0;
    case ItemForm::kNumber:
      return present ? records::ParseDecimal(text) : item.missing_value;
    case ItemForm::kKeyword:
      return records::KeywordCode(item.enumeration, text);
    case ItemForm::kDailyTime:
      return records::ParseDailyTime(text);
    case ItemForm::kRecordingEnd:
      return records::ParseRecordingEnd(text);
    case ItemForm::kStatus:
      return text == "disable" ? 0 : 1;
    case ItemForm::kAccess:
      return text == "read-only" ? 1 : 0;
  }
  return 0;
}

int64_t RecordDocument::ColumnOf(const Item& item, int64_t value) {
  switch (item.form) {
    case ItemForm::kKeyword:
      return records::MibEnumValue(static_cast<int>(value));
    case ItemForm::kStatus:
      return value != 0 ? 1 : 2;  // RowStatus active / notInService
    case ItemForm::kAccess:
      return value != 0 ? 5 : 2;  // StorageType readOnly / volatile
    default:
      return value;
  }
}

uint32_t RecordDocument::Reader::ItemElement(const Item& item) {
  if (!listed_ || item.record != record_tag_) {
    listed_ = true;
    record_tag_ = item.record;
    root_ = record_.ChildNamed(0, item.record);
    children_.clear();
    if (root_ != 0) {
      record_.ForEachChild(root_, [this](uint32_t c, std::string_view tag) {
        children_.push_back({tag, c});
      });
    }
  }
  if (root_ == 0 || item.child.empty()) return root_;
  for (const Child& child : children_) {
    if (child.tag == item.child) return record_.ItemElementFrom(child.index, item);
  }
  return 0;
}

void RecordDocument::Reader::ItemText(const Item& item, std::string* text) {
  text->clear();
  record_.AppendItem(ItemElement(item), item, text);
}

int64_t RecordDocument::Reader::ColumnValue(const Item& item) {
  std::string text;
  const bool present = record_.AppendItem(ItemElement(item), item, &text);
  return ColumnOf(item, ValueOf(item, present, text));
}

// Expects the reset position.
bool RecordDocument::WriteRaw(const Item& item, std::string_view text) {
  if (!NextElement(item.record)) return false;
  if (item.child.empty()) {
    return item.attribute.empty() ? SetElementText(text) : SetAttribute(item.attribute, text);
  }
  std::string_view leaf = item.child;
  if (!item.grandchild.empty()) {
    if (!NextChildElement(item.child) && !AppendChildElement(item.child)) return false;
    EnterElement();
    leaf = item.grandchild;
  }
  // The leaf's parent is now the current element, with no current child, so
  // a new leaf goes in as its last child.
  if (NextChildElement(leaf)) {
    return item.attribute.empty() ? SetChildElementText(text)
                                  : SetChildAttribute(item.attribute, text);
  }
  if (item.attribute.empty()) return AppendChildElement(leaf, text);
  return AppendChildElement(leaf) && SetChildAttribute(item.attribute, text);
}

bool RecordDocument::SetItemText(const Item& item, std::string_view text) {
  PositionGuard guard(*this);
  return WriteRaw(item, text);
}

bool RecordDocument::SetItemValue(const Item& item, int64_t value) {
  switch (item.form) {
    case ItemForm::kText:
    case ItemForm::kAccess:
      return false;
    case ItemForm::kNumber:
      if (value < INT_MIN || value > INT_MAX) return false;
      return SetItemText(item, records::FormatDecimal(static_cast<int>(value)));
    case ItemForm::kKeyword: {
      const int code = value < INT_MIN || value > INT_MAX ? -1 : static_cast<int>(value);
      if (const auto keyword = records::CodeKeyword(item.enumeration, code)) {
        return SetItemText(item, *keyword);
      }
      if (const auto fixed = records::Info(item.enumeration).written_when_invalid) {
        SetItemText(item, *fixed);
      }
      return false;
    }
    case ItemForm::kDailyTime: {
      if (value < 0 || value > 1440) return false;
      const auto text = records::FormatDailyTime(static_cast<int>(value));
      return text && SetItemText(item, *text);
    }
    case ItemForm::kRecordingEnd: {
      const auto date = records::FormatRecordingEnd(value);
      if (!date) return false;
      TRACE(3, "\n GMT:   %s", records::FormatUtcDateTime(value).c_str());
      return SetItemText(item, *date);
    }
    case ItemForm::kStatus:
      return SetItemText(item, value != 0 ? "enable" : "disable");
  }
  return false;
}

std::optional<std::string> RecordDocument::MemberName(std::string_view set_tag,
                                                      std::string_view member_tag, int k) {
  if (k < 0) return std::nullopt;
  PositionGuard guard(*this);
  if (!NextElement(set_tag)) return std::nullopt;
  for (int i = 0; i <= k; ++i) {
    if (!NextChildElement(member_tag)) return std::nullopt;
  }
  return ChildElementAttribute(kNameAttribute);
}

std::vector<std::string> RecordDocument::MemberNames(std::string_view set_tag,
                                                     std::string_view member_tag) {
  std::vector<std::string> names;
  PositionGuard guard(*this);
  if (!NextElement(set_tag)) return names;
  while (NextChildElement(member_tag)) names.push_back(ChildElementAttribute(kNameAttribute));
  return names;
}

bool RecordDocument::AddMember(std::string_view set_tag, std::string_view member_tag,
                               std::string_view name) {
  PositionGuard guard(*this);
  if (!NextElement(set_tag)) return false;
  while (NextChildElement(member_tag)) {
    if (ChildElementAttribute(kNameAttribute) == name) return false;
  }
  // Start over on the set element so that the new member goes in last.
  ResetPosition();
  NextElement(set_tag);
  return AppendChildElement(member_tag) && SetChildAttribute(kNameAttribute, name);
}

bool RecordDocument::RemoveMember(std::string_view set_tag, std::string_view member_tag,
                                  std::string_view name) {
  PositionGuard guard(*this);
  if (!NextElement(set_tag)) return false;
  while (NextChildElement(member_tag)) {
    if (ChildElementAttribute(kNameAttribute) == name) return RemoveChildElement();
  }
  return false;
}

std::string RecordDocument::ChildMarkup(std::string_view root_tag, std::string_view child_tag) {
  PositionGuard guard(*this);
  if (!NextElement(root_tag) || !NextChildElement(child_tag)) return {};
  return ChildElementMarkup();
}

bool RecordDocument::CarriesOnlyName() {
  PositionGuard guard(*this);
  if (!NextElement()) return false;
  for (int n = 0;; ++n) {
    const std::string attribute = AttributeName(n);
    if (attribute.empty()) break;
    if (attribute != kNameAttribute) return false;
  }
  if (NextChildElement()) return false;
  return ElementText().find_first_not_of(" \t\r\n") == std::string::npos;
}

bool RecordDocument::MakeItemExplicit(const Item& item) {
  SavePosition();
  if (ItemElement(item) != 0) return true;
  return SetItemValue(item, ItemValue(item));
}
