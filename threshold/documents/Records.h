// The record kinds of the configuration tables: where each item lives, and a
// view per kind with a reader for every item and the named setter for every
// writable one.  A view borrows the RecordDocument it is built on.
//
//   RecordDocument doc("Rule", "cpu");
//   RuleRecord rule(doc);
//   if (!rule.SetOperator(code)) ...;       // invalid code: nothing written
//   rule.SetPollInterval(30);
//   int interval = rule.PollInterval();     // 30; 1 when Interval is missing
//
// Readers never fail: a missing item gives its default (see RecordDocument).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "threshold/documents/RecordDocument.h"

namespace records {

// Items, in the order of the tables' columns.

// Rule
inline constexpr RecordItem kRuleName{.record = "Rule", .attribute = "Name"};
inline constexpr RecordItem kRuleDescription{
    .record = "Rule", .child = "Description", .setter = "SetDescription"};
inline constexpr RecordItem kRuleUserComment{
    .record = "Rule", .child = "Comment", .setter = "SetUserComment"};
inline constexpr RecordItem kRuleHelpText{
    .record = "Rule", .child = "HelpText", .setter = "SetHelpText"};
inline constexpr RecordItem kRulePollInterval{.record = "Rule",
                                              .child = "Interval",
                                              .form = ItemForm::kNumber,
                                              .missing_value = 1,
                                              .setter = "SetPollInterval"};
inline constexpr RecordItem kRuleResourceName{
    .record = "Rule", .child = "Resource", .attribute = "Name", .setter = "SetResource"};
inline constexpr RecordItem kRuleInstMonitor{.record = "Rule",
                                             .child = "Instances",
                                             .attribute = "Monitor",
                                             .form = ItemForm::kKeyword,
                                             .enumeration = Enumeration::kInstanceMonitor,
                                             .setter = "SetInstMonitor"};
inline constexpr RecordItem kRuleInstIndexes{
    .record = "Rule", .child = "Instances", .grandchild = "Indexes", .setter = "SetInstIndexes"};
inline constexpr RecordItem kRuleInstPatterns{
    .record = "Rule", .child = "Instances", .grandchild = "Names", .setter = "SetInstNamePatterns"};
inline constexpr RecordItem kRuleTargetName{
    .record = "Rule", .child = "Target", .attribute = "Name", .setter = "SetTarget"};
inline constexpr RecordItem kRuleValueType{.record = "Rule",
                                           .child = "Threshold",
                                           .attribute = "Type",
                                           .form = ItemForm::kKeyword,
                                           .enumeration = Enumeration::kValueType,
                                           .setter = "SetValueType"};
inline constexpr RecordItem kRuleValuation{.record = "Rule",
                                           .child = "Threshold",
                                           .attribute = "Valuation",
                                           .form = ItemForm::kKeyword,
                                           .enumeration = Enumeration::kValuation,
                                           .setter = "SetRuleValuation"};
inline constexpr RecordItem kRuleWatchPeriod{.record = "Rule",
                                             .child = "WatchPeriod",
                                             .form = ItemForm::kNumber,
                                             .setter = "SetWatchPeriod"};
inline constexpr RecordItem kRuleOperator{.record = "Rule",
                                          .child = "Threshold",
                                          .attribute = "Operator",
                                          .form = ItemForm::kKeyword,
                                          .enumeration = Enumeration::kOperator,
                                          .setter = "SetOperator"};
inline constexpr RecordItem kRuleThresholdValue{.record = "Rule",
                                                .child = "Threshold",
                                                .attribute = "Value",
                                                .form = ItemForm::kNumber,
                                                .setter = "SetThresholdValue"};
inline constexpr RecordItem kRuleRangeMinValue{.record = "Rule",
                                               .child = "Threshold",
                                               .attribute = "RangeMin",
                                               .form = ItemForm::kNumber,
                                               .setter = "SetRangeMinValue"};
// An upper bound means nothing without a lower one.
inline constexpr RecordItem kRuleRangeMaxValue{.record = "Rule",
                                               .child = "Threshold",
                                               .attribute = "RangeMax",
                                               .form = ItemForm::kNumber,
                                               .only_with = "RangeMin",
                                               .setter = "SetRangeMaxValue"};
inline constexpr RecordItem kRuleOccurenceCount{.record = "Rule",
                                                .child = "OccurenceCount",
                                                .form = ItemForm::kNumber,
                                                .setter = "SetOccurenceCount"};
inline constexpr RecordItem kRuleEventName{
    .record = "Rule", .child = "Event", .attribute = "Name", .setter = "SetEvent"};
inline constexpr RecordItem kRuleEventControl{.record = "Rule",
                                              .child = "Event",
                                              .attribute = "Control",
                                              .form = ItemForm::kKeyword,
                                              .enumeration = Enumeration::kEventControl,
                                              .setter = "SetEventControl"};
inline constexpr RecordItem kRuleEventDelay{.record = "Rule",
                                            .child = "Event",
                                            .attribute = "Delay",
                                            .form = ItemForm::kNumber,
                                            .setter = "SetEventDelay"};
inline constexpr RecordItem kRuleEventAlternating{.record = "Rule",
                                                  .child = "Event",
                                                  .attribute = "Alternating",
                                                  .form = ItemForm::kKeyword,
                                                  .enumeration = Enumeration::kAlternating,
                                                  .setter = "SetEventAlternating"};
inline constexpr RecordItem kRuleAccess{
    .record = "Rule", .child = "Access", .form = ItemForm::kAccess};
inline constexpr RecordItem kRulePerfStatusSeverity{
    .record = "Rule",
    .child = "Performance",
    .grandchild = "Status",
    .form = ItemForm::kKeyword,
    .enumeration = Enumeration::kPerformanceSeverity,
    .setter = "SetPerformanceStatusSeverity"};

// RuleSet
inline constexpr RecordItem kRuleSetName{.record = "RuleSet", .attribute = "Name"};
inline constexpr RecordItem kRuleSetDescription{
    .record = "RuleSet", .child = "Description", .setter = "SetDescription"};
inline constexpr RecordItem kRuleSetStartTime{.record = "RuleSet",
                                              .child = "Schedule",
                                              .attribute = "Start",
                                              .form = ItemForm::kDailyTime,
                                              .setter = "SetStartTime"};
inline constexpr RecordItem kRuleSetStopTime{.record = "RuleSet",
                                             .child = "Schedule",
                                             .attribute = "Stop",
                                             .form = ItemForm::kDailyTime,
                                             .setter = "SetStopTime"};
inline constexpr RecordItem kRuleSetStatus{
    .record = "RuleSet", .child = "Status", .form = ItemForm::kStatus, .setter = "SetStatus"};
inline constexpr RecordItem kRuleSetAccess{
    .record = "RuleSet", .child = "Access", .form = ItemForm::kAccess};

// Event
inline constexpr RecordItem kEventName{.record = "Event", .attribute = "Name"};
inline constexpr RecordItem kEventType{.record = "Event",
                                       .child = "Type",
                                       .form = ItemForm::kKeyword,
                                       .enumeration = Enumeration::kEventType,
                                       .setter = "SetType"};
inline constexpr RecordItem kEventSeverity{.record = "Event",
                                           .child = "Severity",
                                           .form = ItemForm::kKeyword,
                                           .enumeration = Enumeration::kEventSeverity,
                                           .setter = "SetSeverity"};
inline constexpr RecordItem kEventAccess{
    .record = "Event", .child = "Access", .form = ItemForm::kAccess};

// Resource
inline constexpr RecordItem kResourceName{.record = "Resource", .attribute = "Name"};
inline constexpr RecordItem kResourceDescription{
    .record = "Resource", .child = "Description", .setter = "SetDescription"};
inline constexpr RecordItem kResourceHelpText{
    .record = "Resource", .child = "HelpText", .setter = "SetHelpText"};
inline constexpr RecordItem kResourceReqType{.record = "Resource",
                                             .child = "Request",
                                             .attribute = "Type",
                                             .form = ItemForm::kKeyword,
                                             .enumeration = Enumeration::kRequestType,
                                             .setter = "SetReqType"};
inline constexpr RecordItem kResourceReqString{
    .record = "Resource", .child = "Request", .setter = "SetReqString"};
inline constexpr RecordItem kResourceInstNameReq{
    .record = "Resource", .child = "InstNameReq", .setter = "SetInstNameReq"};
inline constexpr RecordItem kResourceAccess{
    .record = "Resource", .child = "Access", .form = ItemForm::kAccess};
inline constexpr RecordItem kResourceValueUnit{
    .record = "Resource", .child = "Unit", .setter = "SetUnitString"};
inline constexpr RecordItem kResourceContainerName{
    .record = "Resource", .child = "ContainerName", .setter = "SetContainerNameString"};
inline constexpr RecordItem kResourceGroupName{
    .record = "Resource", .child = "Group", .setter = "SetGroupName"};

// Target
inline constexpr RecordItem kTargetName{.record = "Target", .attribute = "Name"};
inline constexpr RecordItem kTargetAddress{.record = "Target", .setter = "SetAddress"};
inline constexpr RecordItem kTargetAccess{
    .record = "Target", .child = "Access", .form = ItemForm::kAccess};

// Report
inline constexpr RecordItem kReportName{.record = "Report", .attribute = "Name"};
inline constexpr RecordItem kReportDescription{
    .record = "Report", .child = "Description", .setter = "SetDescription"};
inline constexpr RecordItem kReportUserComment{
    .record = "Report", .child = "Comment", .setter = "SetUserComment"};
inline constexpr RecordItem kReportHelpText{
    .record = "Report", .child = "HelpText", .setter = "SetHelpText"};
inline constexpr RecordItem kReportPollInterval{.record = "Report",
                                                .child = "Interval",
                                                .form = ItemForm::kNumber,
                                                .missing_value = 1,
                                                .setter = "SetPollInterval"};
inline constexpr RecordItem kReportMaxEntries{.record = "Report",
                                              .child = "MaxEntries",
                                              .form = ItemForm::kNumber,
                                              .setter = "SetMaxEntries"};
inline constexpr RecordItem kReportResourceName{
    .record = "Report", .child = "Resource", .attribute = "Name", .setter = "SetResource"};
inline constexpr RecordItem kReportInstMonitor{.record = "Report",
                                               .child = "Instances",
                                               .attribute = "Monitor",
                                               .form = ItemForm::kKeyword,
                                               .enumeration = Enumeration::kInstanceMonitor,
                                               .setter = "SetInstMonitor"};
inline constexpr RecordItem kReportInstIndexes{
    .record = "Report", .child = "Instances", .grandchild = "Indexes", .setter = "SetInstIndexes"};
inline constexpr RecordItem kReportInstPatterns{.record = "Report",
                                                .child = "Instances",
                                                .grandchild = "Names",
                                                .setter = "SetInstNamePatterns"};
inline constexpr RecordItem kReportTargetName{
    .record = "Report", .child = "Target", .attribute = "Name", .setter = "SetTarget"};
inline constexpr RecordItem kReportAccess{
    .record = "Report", .child = "Access", .form = ItemForm::kAccess};

// ReportSet
inline constexpr RecordItem kReportSetName{.record = "ReportSet", .attribute = "Name"};
inline constexpr RecordItem kReportSetDescription{
    .record = "ReportSet", .child = "Description", .setter = "SetDescription"};
inline constexpr RecordItem kReportSetStartTime{.record = "ReportSet",
                                                .child = "StartTime",
                                                .form = ItemForm::kDailyTime,
                                                .setter = "SetStartTime"};
inline constexpr RecordItem kReportSetStopTime{.record = "ReportSet",
                                               .child = "StopTime",
                                               .form = ItemForm::kDailyTime,
                                               .setter = "SetStopTime"};
inline constexpr RecordItem kReportSetRecordingEnd{.record = "ReportSet",
                                                   .child = "RecordingEnd",
                                                   .form = ItemForm::kRecordingEnd,
                                                   .setter = "SetRecordingEndTime"};
inline constexpr RecordItem kReportSetStatus{
    .record = "ReportSet", .child = "Status", .form = ItemForm::kStatus, .setter = "SetStatus"};
inline constexpr RecordItem kReportSetAccess{
    .record = "ReportSet", .child = "Access", .form = ItemForm::kAccess};

// Threshold event
inline constexpr RecordItem kThresholdRuleName{
    .record = "Threshold", .child = "Rule", .attribute = "Name"};
inline constexpr RecordItem kThresholdRuleComment{
    .record = "Threshold", .child = "Rule", .grandchild = "Comment"};
inline constexpr RecordItem kThresholdValue{
    .record = "Threshold", .child = "Value", .form = ItemForm::kNumber};

// Every item above, in that order.
std::span<const RecordItem* const> AllItems();

// Base of the views: the borrowed document and the generic accessors.
class RecordView {
 public:
  explicit RecordView(RecordDocument& doc) : doc_(doc) {}
  RecordDocument& Document() const { return doc_; }

 protected:
  std::string Text(const RecordItem& item) const { return doc_.ItemText(item); }
  int Number(const RecordItem& item) const { return static_cast<int>(doc_.ItemValue(item)); }
  bool Flag(const RecordItem& item) const { return doc_.ItemValue(item) != 0; }
  bool Write(const RecordItem& item, std::string_view text) { return doc_.SetItemText(item, text); }
  bool Write(const RecordItem& item, int64_t value) { return doc_.SetItemValue(item, value); }

 private:
  RecordDocument& doc_;
};

// What rules and reports share: both watch a resource of a target.
struct MonitorItems {
  const RecordItem& name;
  const RecordItem& description;
  const RecordItem& user_comment;
  const RecordItem& help_text;
  const RecordItem& poll_interval;
  const RecordItem& resource;
  const RecordItem& target;
  const RecordItem& inst_monitor;
  const RecordItem& inst_indexes;
  const RecordItem& inst_patterns;
  const RecordItem& access;
};

class MonitorRecordView : public RecordView {
 public:
  MonitorRecordView(RecordDocument& doc, const MonitorItems& items)
      : RecordView(doc), items_(items) {}

  std::string Name() const { return Text(items_.name); }
  std::string Description() const { return Text(items_.description); }
  std::string UserComment() const { return Text(items_.user_comment); }
  std::string HelpText() const { return Text(items_.help_text); }
  int PollInterval() const { return Number(items_.poll_interval); }
  std::string ResourceName() const { return Text(items_.resource); }
  std::string TargetName() const { return Text(items_.target); }
  int InstMonitor() const { return Number(items_.inst_monitor); }
  std::string InstIndexes() const { return Text(items_.inst_indexes); }
  std::string InstNamePatterns() const { return Text(items_.inst_patterns); }
  bool ReadOnly() const { return Flag(items_.access); }

  bool SetDescription(std::string_view text) { return Write(items_.description, text); }
  bool SetHelpText(std::string_view text) { return Write(items_.help_text, text); }
  bool SetUserComment(std::string_view text) { return Write(items_.user_comment, text); }
  bool SetPollInterval(int value) { return Write(items_.poll_interval, value); }
  bool SetResource(std::string_view name) { return Write(items_.resource, name); }
  bool SetTarget(std::string_view name) { return Write(items_.target, name); }
  bool SetInstMonitor(int code) { return Write(items_.inst_monitor, code); }
  bool SetInstIndexes(std::string_view text) { return Write(items_.inst_indexes, text); }
  bool SetInstNamePatterns(std::string_view text) { return Write(items_.inst_patterns, text); }

 private:
  const MonitorItems& items_;
};

inline constexpr MonitorItems kRuleMonitorItems{
    kRuleName,         kRuleDescription,  kRuleUserComment, kRuleHelpText,
    kRulePollInterval, kRuleResourceName, kRuleTargetName,  kRuleInstMonitor,
    kRuleInstIndexes,  kRuleInstPatterns, kRuleAccess};

class RuleRecord : public MonitorRecordView {
 public:
  static constexpr std::string_view kTag = "Rule";
  explicit RuleRecord(RecordDocument& doc) : MonitorRecordView(doc, kRuleMonitorItems) {}

  int WatchPeriod() const { return Number(kRuleWatchPeriod); }
  int OccurenceCount() const { return Number(kRuleOccurenceCount); }
  int ValueType() const { return Number(kRuleValueType); }
  int Valuation() const { return Number(kRuleValuation); }
  int Operator() const { return Number(kRuleOperator); }
  int ThresholdValue() const { return Number(kRuleThresholdValue); }
  int RangeMinValue() const { return Number(kRuleRangeMinValue); }
  int RangeMaxValue() const { return Number(kRuleRangeMaxValue); }
  std::string EventName() const { return Text(kRuleEventName); }
  int EventControl() const { return Number(kRuleEventControl); }
  int EventDelay() const { return Number(kRuleEventDelay); }
  int EventAlternating() const { return Number(kRuleEventAlternating); }
  int PerformanceStatusSeverity() const { return Number(kRulePerfStatusSeverity); }

  bool SetWatchPeriod(int value) { return Write(kRuleWatchPeriod, value); }
  bool SetOccurenceCount(int value) { return Write(kRuleOccurenceCount, value); }
  bool SetEvent(std::string_view name) { return Write(kRuleEventName, name); }
  bool SetValueType(int code) { return Write(kRuleValueType, code); }
  bool SetRuleValuation(int code) { return Write(kRuleValuation, code); }
  bool SetOperator(int code) { return Write(kRuleOperator, code); }
  bool SetThresholdValue(int value) { return Write(kRuleThresholdValue, value); }
  bool SetRangeMinValue(int value) { return Write(kRuleRangeMinValue, value); }
  bool SetRangeMaxValue(int value) { return Write(kRuleRangeMaxValue, value); }
  bool SetEventControl(int code) { return Write(kRuleEventControl, code); }
  bool SetEventDelay(int value) { return Write(kRuleEventDelay, value); }
  bool SetEventAlternating(int code) { return Write(kRuleEventAlternating, code); }
  bool SetPerformanceStatusSeverity(int code) { return Write(kRulePerfStatusSeverity, code); }
};

// A set record: its members are the children of the member tag, by "Name".
class SetRecordView : public RecordView {
 public:
  SetRecordView(RecordDocument& doc, std::string_view set_tag, std::string_view member_tag)
      : RecordView(doc), set_tag_(set_tag), member_tag_(member_tag) {}

  // Member k (from 0); empty optional past the last member.
  std::optional<std::string> MemberName(int k) const {
    return Document().MemberName(set_tag_, member_tag_, k);
  }
  std::vector<std::string> MemberNames() const {
    return Document().MemberNames(set_tag_, member_tag_);
  }
  // Appends the member unless one of that name exists; true when added.
  bool AddMember(std::string_view name) {
    return Document().AddMember(set_tag_, member_tag_, name);
  }
  // Removes the first member of that name; true when one was removed.
  bool RemoveMember(std::string_view name) {
    return Document().RemoveMember(set_tag_, member_tag_, name);
  }

 private:
  std::string_view set_tag_;
  std::string_view member_tag_;
};

class RuleSetRecord : public SetRecordView {
 public:
  static constexpr std::string_view kTag = "RuleSet";
  static constexpr std::string_view kMemberTag = "Rule";
  explicit RuleSetRecord(RecordDocument& doc) : SetRecordView(doc, kTag, kMemberTag) {}

  std::string Name() const { return Text(kRuleSetName); }
  std::string Description() const { return Text(kRuleSetDescription); }
  int StartTime() const { return Number(kRuleSetStartTime); }
  int StopTime() const { return Number(kRuleSetStopTime); }
  bool Enabled() const { return Flag(kRuleSetStatus); }
  bool ReadOnly() const { return Flag(kRuleSetAccess); }

  bool SetDescription(std::string_view text) { return Write(kRuleSetDescription, text); }
  bool SetStartTime(int minutes) { return Write(kRuleSetStartTime, minutes); }
  bool SetStopTime(int minutes) { return Write(kRuleSetStopTime, minutes); }
  bool SetStatus(bool enabled) { return Write(kRuleSetStatus, int64_t{enabled}); }
};

class EventRecord : public RecordView {
 public:
  static constexpr std::string_view kTag = "Event";
  using RecordView::RecordView;

  std::string Name() const { return Text(kEventName); }
  int Type() const { return Number(kEventType); }          // kNoCode unless "snmp-trap"
  int Severity() const { return Number(kEventSeverity); }  // kNoCode for an unknown text
  std::string TypeText() const { return Text(kEventType); }
  std::string SeverityText() const { return Text(kEventSeverity); }
  bool ReadOnly() const { return Flag(kEventAccess); }

  bool SetType(int code) { return Write(kEventType, code); }
  bool SetSeverity(int code) { return Write(kEventSeverity, code); }
};

class ResourceRecord : public RecordView {
 public:
  static constexpr std::string_view kTag = "Resource";
  using RecordView::RecordView;

  std::string Name() const { return Text(kResourceName); }
  std::string Description() const { return Text(kResourceDescription); }
  std::string HelpText() const { return Text(kResourceHelpText); }
  int ReqType() const { return Number(kResourceReqType); }
  std::string ReqString() const { return Text(kResourceReqString); }
  std::string InstNameReq() const { return Text(kResourceInstNameReq); }
  std::string Unit() const { return Text(kResourceValueUnit); }
  std::string ContainerName() const { return Text(kResourceContainerName); }
  std::string GroupName() const { return Text(kResourceGroupName); }
  bool ReadOnly() const { return Flag(kResourceAccess); }

  bool SetDescription(std::string_view text) { return Write(kResourceDescription, text); }
  bool SetHelpText(std::string_view text) { return Write(kResourceHelpText, text); }
  bool SetReqType(int code) { return Write(kResourceReqType, code); }
  bool SetReqString(std::string_view text) { return Write(kResourceReqString, text); }
  bool SetUnitString(std::string_view text) { return Write(kResourceValueUnit, text); }
  bool SetContainerNameString(std::string_view text) { return Write(kResourceContainerName, text); }
  bool SetGroupName(std::string_view text) { return Write(kResourceGroupName, text); }
  bool SetInstNameReq(std::string_view text) { return Write(kResourceInstNameReq, text); }
};

class TargetRecord : public RecordView {
 public:
  static constexpr std::string_view kTag = "Target";
  using RecordView::RecordView;

  std::string Name() const { return Text(kTargetName); }
  std::string Address() const { return Text(kTargetAddress); }
  bool ReadOnly() const { return Flag(kTargetAccess); }

  bool SetAddress(std::string_view text) { return Write(kTargetAddress, text); }
};

inline constexpr MonitorItems kReportMonitorItems{
    kReportName,         kReportDescription,  kReportUserComment, kReportHelpText,
    kReportPollInterval, kReportResourceName, kReportTargetName,  kReportInstMonitor,
    kReportInstIndexes,  kReportInstPatterns, kReportAccess};

class ReportRecord : public MonitorRecordView {
 public:
  static constexpr std::string_view kTag = "Report";
  explicit ReportRecord(RecordDocument& doc) : MonitorRecordView(doc, kReportMonitorItems) {}

  int MaxEntries() const { return Number(kReportMaxEntries); }
  bool SetMaxEntries(int value) { return Write(kReportMaxEntries, value); }
};

class ReportSetRecord : public SetRecordView {
 public:
  static constexpr std::string_view kTag = "ReportSet";
  static constexpr std::string_view kMemberTag = "Report";
  explicit ReportSetRecord(RecordDocument& doc) : SetRecordView(doc, kTag, kMemberTag) {}

  std::string Name() const { return Text(kReportSetName); }
  std::string Description() const { return Text(kReportSetDescription); }
  int StartTime() const { return Number(kReportSetStartTime); }
  int StopTime() const { return Number(kReportSetStopTime); }
  // Seconds since 1970 of 12:00:00 local time on the last day; 0 when missing.
  int64_t RecordingEnd() const { return Document().ItemValue(kReportSetRecordingEnd); }
  bool Enabled() const { return Flag(kReportSetStatus); }
  bool ReadOnly() const { return Flag(kReportSetAccess); }

  bool SetDescription(std::string_view text) { return Write(kReportSetDescription, text); }
  bool SetStartTime(int minutes) { return Write(kReportSetStartTime, minutes); }
  bool SetStopTime(int minutes) { return Write(kReportSetStopTime, minutes); }
  // Stores the UTC date of `seconds`; refuses 0.
  bool SetRecordingEndTime(int64_t seconds) { return Write(kReportSetRecordingEnd, seconds); }
  bool SetStatus(bool enabled) { return Write(kReportSetStatus, int64_t{enabled}); }
};

// The data of a threshold event: the rule that fired, its comment, the value
// and an Event record.
class ThresholdRecord : public RecordView {
 public:
  static constexpr std::string_view kTag = "Threshold";
  using RecordView::RecordView;

  std::string RuleName() const { return Text(kThresholdRuleName); }
  std::string RuleComment() const { return Text(kThresholdRuleComment); }
  int Value() const { return Number(kThresholdValue); }  // 0 when missing
  // Loads the first Event child into `event`; with none, `event` is emptied.
  void CopyEvent(RecordDocument* event) const {
    event->LoadText(Document().ChildMarkup(kTag, EventRecord::kTag));
  }
};

}  // namespace records
