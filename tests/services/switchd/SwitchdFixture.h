// A data directory seeded with one writable ("w") and one read-only ("ro")
// record in every table, and helpers to read what the module keeps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "services/switchd/Service.h"
#include "services/switchd/ThresholdModule.h"
#include "support/ProcessHelpers.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/RecordDocument.h"

namespace switchd_test {

inline const char* const kSeedTables[][2] = {
    {"Resources.xml",
     "<Resources><Resource Name=\"w\"><Description>CPU load</Description>"
     "<Request Type=\"builtin\">cpu</Request></Resource>"
     "<Resource Name=\"ro\"><Access>read-only</Access></Resource></Resources>"},
    {"Targets.xml",
     "<Targets><Target Name=\"w\">127.0.0.1</Target>"
     "<Target Name=\"ro\"><Access>read-only</Access></Target></Targets>"},
    {"Events.xml",
     "<Events><Event Name=\"w\"><Type>snmp-trap</Type><Severity>minor</Severity></Event>"
     "<Event Name=\"ro\"><Type>snmp-trap</Type><Severity>major</Severity>"
     "<Access>read-only</Access></Event></Events>"},
    {"Rules.xml",
     "<Rules Modified=\"10/20/2006 8:56:53\"><Rule Name=\"w\"><Description>busy</Description>"
     "<Comment>watch it</Comment><Resource Name=\"w\"/><Target Name=\"w\"/>"
     "<Threshold Type=\"absolute\" Operator=\"greater\" Value=\"90\"/>"
     "<Event Name=\"w\" Control=\"single-shot\"/></Rule>"
     "<Rule Name=\"ro\"><Access>read-only</Access></Rule></Rules>"},
    {"RuleSets.xml",
     "<RuleSets><RuleSet Name=\"w\"><Description>all</Description><Rule Name=\"w\"/>"
     "<Status>enable</Status></RuleSet>"
     "<RuleSet Name=\"ro\"><Access>read-only</Access></RuleSet></RuleSets>"},
    {"Reports.xml",
     "<Reports><Report Name=\"w\"><Description>load</Description><Resource Name=\"w\"/>"
     "<Target Name=\"w\"/><MaxEntries>10</MaxEntries></Report>"
     "<Report Name=\"ro\"><Access>read-only</Access></Report></Reports>"},
    {"ReportSets.xml",
     "<ReportSets><ReportSet Name=\"w\"><Description>daily</Description><Report Name=\"w\"/>"
     "</ReportSet><ReportSet Name=\"ro\"><Access>read-only</Access></ReportSet></ReportSets>"},
};

using test_support::ReadFile;
using test_support::WriteFile;

class DataDirFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test_support::MakeTempDirectory("lorveth-switchd");
    data_dir_ = root_ + "/data";
    std::filesystem::create_directories(data_dir_);
    // The registry and the sockets of this test, never the machine's.
    setenv("LORVETH_STATE_DIR", (root_ + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  }
  void TearDown() override {
    service_.reset();
    std::filesystem::remove_all(root_);
  }

  // switchd in this process on the data directory, without socket and control channel.
  void StartService(switchd::ServiceOptions options = {}) {
    options.data_dir = data_dir_;
    options.serve_socket = false;
    options.serve_control = false;
    service_ = std::make_unique<switchd::Service>(options);
    std::string error;
    ASSERT_TRUE(service_->Start(&error)) << error;
  }

  void Seed() {
    for (const auto& table : kSeedTables) WriteFile(data_dir_ + "/" + table[0], table[1]);
  }
  std::string FileText(const std::string& file) const { return ReadFile(data_dir_ + "/" + file); }

  // The record of that name as the module serves it, loaded for reading;
  // false when the table has none.
  static bool StoredRecord(switchd::ThresholdModule& module, DWORD table, const std::string& tag,
                           const std::string& name, RecordDocument* record) {
    ConfigDocument doc(module.TableDocument(table));
    RecordDocument key(tag, name);
    if (!doc.FindMatchingRecord(key)) return false;
    record->LoadText(doc.ElementMarkup());
    return true;
  }

  static size_t Count(switchd::ThresholdModule& module, DWORD table, const std::string& tag) {
    ConfigDocument doc(module.TableDocument(table));
    RecordDocument record;
    size_t count = 0;
    for (bool more = doc.FindFirstRecord(tag, &record); more;
         more = doc.FindNextRecord(tag, &record)) {
      ++count;
    }
    return count;
  }

  std::string root_;
  std::string data_dir_;
  std::unique_ptr<switchd::Service> service_;
};

}  // namespace switchd_test
