// The target address an snmp resource is configured with.
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

}  // namespace
}  // namespace switchd_test
