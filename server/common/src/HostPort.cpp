#include "tavsrv/HostPort.h"

namespace tavsrv {

std::optional<HostPort> parseHostPort(const std::string& text, bool allowZero) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    return std::nullopt;
  const std::string portText = text.substr(colon + 1);
  if (portText.size() > 5)
    return std::nullopt;
  int port = 0;
  for (char c : portText) {
    if (c < '0' || c > '9')
      return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535 || (port == 0 && !allowZero))
    return std::nullopt;
  return HostPort{text.substr(0, colon), port};
}

}  // namespace tavsrv
