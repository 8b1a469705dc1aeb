// The texts an snmp resource is configured with: the target address and a
// numeric OID.
#include <gtest/gtest.h>

#include <string>

#include "services/switchd/SnmpSource.h"

namespace switchd_test {
namespace {

TEST(SnmpTargetTest, AddressesAreHostAndOptionalPort) {
  const struct {
    const char* text;
    const char* expected;  // "host port", or "" when refused
  } kCases[] = {
      {"192.0.2.7", "192.0.2.7 161"},
      {" 192.0.2.7:1161\n", "192.0.2.7 1161"},
      {"", "127.0.0.1 161"},
      {"agent.example.com", "agent.example.com 161"},
      {"agent-2:162", "agent-2 162"},
      {"[2001:db8::1]:1161", "2001:db8::1 1161"},
      {"[::1]", "::1 161"},
      {"::1", "::1 161"},
      {"host:", ""},
      {"host:0", ""},
      {"host:65536", ""},
      {"host:16x", ""},
      {"300.1.1.1", ""},
      {"-agent.example.com", ""},
      {"udp:host:161", ""},
      {"[::1]1161", ""},
      {"[::1]:", ""},
      {"[host]:161", ""},
      {"[::1", ""},
      {":161", ""},
  };
  for (const auto& row : kCases) {
    std::string reason;
    const auto address = switchd::ParseSnmpTarget(row.text, &reason);
    const std::string got =
        address ? address->host + " " + std::to_string(address->port) : std::string();
    EXPECT_EQ(got, row.expected) << '"' << row.text << '"';
    if (!address) {
      EXPECT_NE(reason.find("is not an address"), std::string::npos) << row.text;
    }
  }
}

TEST(SnmpTargetTest, NumericOidsAreDottedSubIdentifiers) {
  const struct {
    std::string text;
    size_t length;  // 0 when refused
  } kCases[] = {
      {"1.3.6.1.2.1.1.3.0", 9},
      {".1.3.6.1.4.1.4294967295", 7},
      {"1", 0},
      {"1.3.", 0},
      {"1.3.4294967296", 0},
      {"sysUpTime.0", 0},
  };
  std::string longest = "1";
  for (int i = 1; i < 128; ++i) longest += ".1";
  for (const auto& row : kCases) {
    const auto ids = switchd::ParseNumericOid(row.text);
    EXPECT_EQ(ids ? ids->size() : 0, row.length) << row.text;
  }
  EXPECT_EQ(switchd::ParseNumericOid(longest)->size(), 128u);
  EXPECT_FALSE(switchd::ParseNumericOid(longest + ".1"));
}

}  // namespace
}  // namespace switchd_test
