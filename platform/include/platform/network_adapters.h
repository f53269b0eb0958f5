// The machine's network adapters with their IPv4 addresses, described the way
// the phone link chooses the addresses it shows: what kind of adapter, whether
// it is up, whether it is a virtual or Bluetooth one.
//
// Linux: getifaddrs for the addresses, /sys/class/net for the rest (type 1 is
// Ethernet, or Wi-Fi when the adapter has wireless extensions; operstate "up";
// adapters under /sys/devices/virtual, bridges, and docker/veth/tun/tap/virbr
// names are described as virtual, bnep/Bluetooth devices as Bluetooth).
// Windows: GetAdaptersInfo and GetIfEntry.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct NetworkAdapter {
  enum Type { kOther = 0, kEthernet = 6, kWifi = 71 };
  // Operational states as Windows numbers them: 4 connected, 5 operational.
  enum Status { kDown = 2, kConnected = 4, kOperational = 5 };

  std::string name;         // "eth0", "wlan0"; the adapter's name on Windows
  std::string description;  // contains "Virtual" or "Bluetooth" for such adapters
  int type = kOther;
  int operStatus = kDown;
  bool loopback = false;
  std::vector<std::string> ipv4;  // dotted quads
};

// Every adapter with at least one IPv4 address; empty when they cannot be read.
std::vector<NetworkAdapter> networkAdapters();

}  // namespace platform
