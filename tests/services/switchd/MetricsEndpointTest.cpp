// switchd's metrics endpoint, enabled in the registry: a scrape that the
// format's own parser accepts, and only a GET of it served.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SwitchdFixture.h"
#include "platform/registry/Registry.h"
#include "services/switchd/Service.h"
#include "support/ProcessHelpers.h"
#include "support/WaitFor.h"

namespace switchd_test {
namespace {

// Prints "name rule value" for every sample the parser finds.
constexpr const char* kScrape =
    "import sys, urllib.request\n"
    "from prometheus_client.parser import text_string_to_metric_families\n"
    "text = urllib.request.urlopen(sys.argv[1], timeout=5).read().decode()\n"
    "for family in text_string_to_metric_families(text):\n"
    "    for s in family.samples:\n"
    "        print(s.name, s.labels.get('rule', '-'), s.value)\n";

// Sends a request on the loopback port; the status line of the answer.
std::string StatusLine(uint16_t port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0) {
    char buffer[4096];
    for (ssize_t got; answer.find("\r\n") == std::string::npos &&
                      (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<size_t>(got));
    }
  }
  close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

class MetricsEndpointTest : public DataDirFixture {};

// A scrape shows the fired rule; nothing but a GET of the metrics is served.
TEST_F(MetricsEndpointTest, ScrapeShowsTheFiredRuleAndOnlyAGetIsServed) {
  WriteFile(root_ + "/marker", "present\n");
  WriteFile(data_dir_ + "/Resources.xml",
            R"(<Resources><Resource Name="marker"><Request Type="builtin">file.exists:)" + root_ +
                "/marker</Request></Resource></Resources>");
  WriteFile(data_dir_ + "/Events.xml",
            R"(<Events><Event Name="minor"><Type>snmp-trap</Type></Event></Events>)");
  WriteFile(data_dir_ + "/Rules.xml",
            R"(<Rules><Rule Name="marker-present"><Interval>1</Interval><Resource Name="marker"/>)"
            R"(<Threshold Operator="equal" Value="1"/><Event Name="minor" Control="single-shot"/>)"
            "</Rule></Rules>");
  WriteFile(
      data_dir_ + "/RuleSets.xml",
      R"(<RuleSets><RuleSet Name="watch"><Rule Name="marker-present"/></RuleSet></RuleSets>)");
  StartService();
  EXPECT_FALSE(service_->Metrics().Running());  // off unless enabled
  service_.reset();
  auto key = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, switchd::kMetricsKey);
  ASSERT_TRUE(key);
  key->SetDword("Enabled", 1);
  key->SetDword("Port", 0);
  StartService();
  ASSERT_TRUE(service_->Metrics().Running());
  const std::string big(32 * 1024, 'a');
  // clang-format off
  const struct {
    std::string request;
    std::string status;
  } kCases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 200 OK"},
      {"POST /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
      {"GET / HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 413 Content Too Large"},
      {"GET /metrics HTTP/1.1\r\nHost: t\r\nX-Big: " + big + "\r\n\r\n", "HTTP/1.1 431 Request Header Fields Too Large"},
  };
  // clang-format on
  for (const auto& c : kCases) {
    EXPECT_EQ(StatusLine(service_->Metrics().Port(), c.request), c.status)
        << c.request.substr(0, 40);
  }
  // The parsed samples; "failed: ..." when the scrape or the parser failed.
  const std::string url =
      "http://127.0.0.1:" + std::to_string(service_->Metrics().Port()) + "/metrics";
  std::string scrape;
  const bool violated = test_support::WaitFor(
      [&] {
        const test_support::CommandResult result =
            test_support::RunCommand({"/usr/bin/python3", "-c", kScrape, url}, {"no_proxy=*"});
        scrape = result.exit_code == 0 ? result.output : "failed: " + result.output;
        return scrape.starts_with("failed") ||
               scrape.find("switchd_rule_violated marker-present 1.0") != std::string::npos;
      },
      test_support::kPatience);
  ASSERT_TRUE(violated && !scrape.starts_with("failed")) << scrape;
  const char* const kSamples[] = {
      "switchd_rule_events_total marker-present 1.0",
      "switchd_rule_violations_total marker-present 1.0",
      "switchd_rule_value marker-present 1.0",
      "switchd_poll_delay_seconds_count - ",
      "switchd_store_refusals_total - 0.0",
  };
  for (const char* sample : kSamples) EXPECT_NE(scrape.find(sample), std::string::npos) << sample;
}

}  // namespace
}  // namespace switchd_test
