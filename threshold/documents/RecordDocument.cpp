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

// The item's raw text; empty optional when its element is missing (a missing
// attribute of a present element reads as "").  Expects the reset position.
std::optional<std::string> RecordDocument::ReadRaw(const Item& item) {
  if (!NextElement(item.record)) return std::nullopt;
  if (item.child.empty()) {
    return item.attribute.empty() ? ElementText() : ElementAttribute(item.attribute);
  }
  if (!NextChildElement(item.child)) return std::nullopt;
  if (!item.grandchild.empty() && !(EnterElement() && NextChildElement(item.grandchild))) {
    return std::nullopt;
  }
  if (!item.only_with.empty() && ChildElementAttribute(item.only_with).empty()) {
    return std::nullopt;
  }
  return item.attribute.empty() ? ChildElementText() : ChildElementAttribute(item.attribute);
}

std::string RecordDocument::ItemText(const Item& item) {
  PositionGuard guard(*this);
  return ReadRaw(item).value_or(std::string());
}

int64_t RecordDocument::ItemValue(const Item& item) {
  std::optional<std::string> raw;
  {
    PositionGuard guard(*this);
    raw = ReadRaw(item);
  }
  const std::string_view text = raw ? std::string_view(*raw) : std::string_view();
  switch (item.form) {
    case ItemForm::kText:
      return 0;
    case ItemForm::kNumber:
      return raw ? records::ParseDecimal(text) : item.missing_value;
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

int64_t RecordDocument::ColumnValue(const Item& item) {
  const int64_t value = ItemValue(item);
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
  {
    PositionGuard guard(*this);
    if (ReadRaw(item)) return true;
  }
  return SetItemValue(item, ItemValue(item));
}
