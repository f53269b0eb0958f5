// Server addresses ("host:port") and the default port of each server role.
#pragma once

#include <optional>
#include <string>

namespace tavsrv {

struct HostPort {
  std::string host;
  int port = 0;
  std::string str() const { return host + ":" + std::to_string(port); }
  bool operator==(const HostPort& other) const { return host == other.host && port == other.port; }
};

// "host:port" with a port from 1 to 65535 (0 allowed when allowZero, meaning
// "any free port"); split at the last colon.
std::optional<HostPort> parseHostPort(const std::string& text, bool allowZero = false);

// Port table shared by all roles; --port-base N shifts every port by N - 27800.
constexpr int kDefaultPortBase = 27800;
enum class RolePort {
  Service = 0,
  Msg = 1,
  McuControl = 2,
  Convert = 3,
  Video = 4,
  McuMediaFirst = 10
};
inline int defaultPort(RolePort role, int base = kDefaultPortBase) {
  return base + static_cast<int>(role);
}
constexpr const char* kLoopback = "127.0.0.1";

}  // namespace tavsrv
