// The metrics endpoint on libmicrohttpd: one polling thread serves every
// client without blocking on any of them.
#include "services/switchd/MetricsServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "platform/registry/Registry.h"

namespace switchd {

namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
// A scrape is one short GET: 16 KiB holds its request line and headers many
// times over; a request beyond that is refused before it is read further.
constexpr size_t kRequestMemory = 16 * 1024;
// A client that sends nothing for this long is dropped.
constexpr unsigned kIdleSeconds = 10;

MHD_Result Answer(MHD_Connection* connection, unsigned status, const std::string& body,
                  const char* content_type, bool head = false) {
  MHD_Response* response =
      head ? MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT)
           : MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                             MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  }
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// Every request is answered once its headers are in, before any body: a
// scrape has none, and a body is never read.
MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*upload_data*/,
                  size_t* /*upload_data_size*/, void** /*request*/) {
  const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
  const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  constexpr const char* kText = "text/plain; charset=utf-8";
  if (!get && !head) return Answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET only\n", kText);
  const char* length =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  const bool body = (length != nullptr && std::strcmp(length, "0") != 0) ||
                    MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
  if (body) return Answer(connection, MHD_HTTP_CONTENT_TOO_LARGE, "no body expected\n", kText);
  if (std::strcmp(url, "/metrics") != 0) {
    return Answer(connection, MHD_HTTP_NOT_FOUND, "metrics are at /metrics\n", kText);
  }
  const auto& render = *static_cast<const MetricsServer::Render*>(cls);
  return Answer(connection, MHD_HTTP_OK, render(), kContentType, head);
}

}  // namespace

MetricsSettings ReadMetricsSettings() {
  MetricsSettings settings;
  const auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, kMetricsKey);
  if (!key) return settings;
  if (auto enabled = key->QueryDword("Enabled")) settings.enabled = *enabled == 1;
  if (auto address = key->QueryString("Address"); address && !address->empty()) {
    settings.address = *address;
  }
  if (auto port = key->QueryDword("Port"); port && *port <= 65535) settings.port = *port;
  if (auto most = key->QueryDword("MaxConnections"); most && *most > 0) {
    settings.max_connections = *most;
  }
  return settings;
}

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const MetricsSettings& settings, Render render, std::string* error) {
  Stop();
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  const sockaddr* address = nullptr;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  const auto port = static_cast<uint16_t>(settings.port);
  if (inet_pton(AF_INET, settings.address.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    address = reinterpret_cast<const sockaddr*>(&v4);
  } else if (inet_pton(AF_INET6, settings.address.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    address = reinterpret_cast<const sockaddr*>(&v6);
    flags |= MHD_USE_IPv6;
  } else {
    *error = "the metrics address \"" + settings.address + "\" is not an IPv4 or IPv6 address";
    return false;
  }
  render_ = std::move(render);
  // One client address cannot take every connection (on the loopback, the
  // local scraper and anything else on the machine share one address).
  const unsigned per_address = std::max(1u, static_cast<unsigned>(settings.max_connections) / 2);
  daemon_ = MHD_start_daemon(
      flags, port, nullptr, nullptr, &Handle, &render_, MHD_OPTION_SOCK_ADDR, address,
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(settings.max_connections),
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, per_address, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kRequestMemory, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *error = "cannot serve the metrics on " + settings.address + " port " +
             std::to_string(settings.port) + " (the address is not this machine's or in use)";
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr && info->port != 0 ? info->port : port;
  return true;
}

void MetricsServer::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  port_ = 0;
}

}  // namespace switchd
