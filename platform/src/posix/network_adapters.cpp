#include "platform/network_adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>

namespace platform {

namespace {

std::string sysNet(const std::string& name) {
  return "/sys/class/net/" + name;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool startsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

void describe(NetworkAdapter& a) {
  const std::string dir = sysNet(a.name);
  char real[PATH_MAX];
  const bool resolved = ::realpath(dir.c_str(), real) != nullptr;
  const bool virtualDevice =
      resolved && std::string(real).find("/devices/virtual/") != std::string::npos;
  const std::string uevent = [&] {
    std::ifstream in(dir + "/uevent");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  const bool bluetooth =
      startsWith(a.name, "bnep") || uevent.find("DEVTYPE=bluetooth") != std::string::npos;
  const bool bridgeOrTunnel = exists(dir + "/bridge") || exists(dir + "/tun_flags") ||
                              uevent.find("DEVTYPE=bridge") != std::string::npos;
  bool virtualName = false;
  for (const char* prefix :
       {"docker", "veth", "br-", "virbr", "vmnet", "vboxnet", "tun", "tap", "lo"})
    virtualName = virtualName || startsWith(a.name, prefix);

  const bool wireless = exists(dir + "/wireless") || exists(dir + "/phy80211") ||
                        uevent.find("DEVTYPE=wlan") != std::string::npos;
  if (firstLine(dir + "/type") == "1")
    a.type = wireless ? NetworkAdapter::kWifi : NetworkAdapter::kEthernet;
  const std::string state = firstLine(dir + "/operstate");
  a.operStatus = state == "up" ? NetworkAdapter::kOperational : NetworkAdapter::kDown;

  if (bluetooth)
    a.description = "Bluetooth network adapter";
  else if (virtualDevice || bridgeOrTunnel || virtualName || a.loopback)
    a.description = "Virtual network adapter";
  else
    a.description = wireless ? "Wireless network adapter" : "Network adapter";
}

}  // namespace

std::vector<NetworkAdapter> networkAdapters() {
  std::vector<NetworkAdapter> adapters;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0)
    return adapters;
  std::map<std::string, std::size_t> byName;
  for (const ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name)
      continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
      continue;
    const std::string name = it->ifa_name;
    auto found = byName.find(name);
    if (found == byName.end()) {
      NetworkAdapter a;
      a.name = name;
      a.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
      found = byName.emplace(name, adapters.size()).first;
      adapters.push_back(a);
    }
    adapters[found->second].ipv4.push_back(text);
  }
  ::freeifaddrs(list);
  for (NetworkAdapter& a : adapters)
    describe(a);
  return adapters;
}

}  // namespace platform
