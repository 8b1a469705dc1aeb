// The HTTP endpoint that serves switchd's metrics at GET /metrics, and its
// settings: values under HKLM\SOFTWARE\Quorvath\Switch\Metrics, read at start.
// The endpoint is off unless Enabled is 1, and listens on the loopback
// address unless the administrator names another.
//
//   MetricsServer server;
//   if (!server.Start(ReadMetricsSettings(), [&] { return RenderMetrics(...); }, &error)) ...
//   ... server.Port() ...
//   server.Stop();
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/WinTypes.h"

struct MHD_Daemon;

namespace switchd {

inline constexpr const char* kMetricsKey = "SOFTWARE\\Quorvath\\Switch\\Metrics";

struct MetricsSettings {
  bool enabled = false;               // Enabled (REG_DWORD): 1 serves the metrics
  std::string address = "127.0.0.1";  // Address (REG_SZ): an IPv4 or IPv6 address
  DWORD port = 9273;                  // Port (REG_DWORD); 0 takes any free port
  // MaxConnections (REG_DWORD): connections served at once, half of them from
  // one client address; more wait until one ends.
  DWORD max_connections = 16;

  bool operator==(const MetricsSettings&) const = default;
};

MetricsSettings ReadMetricsSettings();

class MetricsServer {
 public:
  // Gives the text of one scrape; called on the server's thread.
  using Render = std::function<std::string()>;

  MetricsServer() = default;
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens as the settings say; false with the reason when the address is
  // not one or cannot be bound.
  bool Start(const MetricsSettings& settings, Render render, std::string* error);
  void Stop();
  bool Running() const { return daemon_ != nullptr; }
  // The port listened on (the one chosen when the settings gave 0).
  uint16_t Port() const { return port_; }

 private:
  Render render_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};

}  // namespace switchd
