#include "platform/network_adapters.h"

#include <iphlpapi.h>
#include <windows.h>
#include <winsock2.h>

#include <cstring>
#include <vector>

namespace platform {

std::vector<NetworkAdapter> networkAdapters() {
  std::vector<NetworkAdapter> adapters;
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
    return adapters;
  std::vector<unsigned char> buffer(size);
  auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (GetAdaptersInfo(info, &size) != NO_ERROR)
    return adapters;
  for (const IP_ADAPTER_INFO* it = info; it; it = it->Next) {
    NetworkAdapter a;
    a.name = it->AdapterName;
    a.description = it->Description;
    a.type = it->Type == MIB_IF_TYPE_ETHERNET ? NetworkAdapter::kEthernet
             : it->Type == IF_TYPE_IEEE80211  ? NetworkAdapter::kWifi
                                              : NetworkAdapter::kOther;
    a.loopback = it->Type == MIB_IF_TYPE_LOOPBACK;
    MIB_IFROW row;
    std::memset(&row, 0, sizeof row);
    row.dwIndex = it->Index;
    if (GetIfEntry(&row) == NO_ERROR)
      a.operStatus = int(row.dwOperStatus);
    for (const IP_ADDR_STRING* ip = &it->IpAddressList; ip; ip = ip->Next)
      if (ip->IpAddress.String[0] && std::strcmp(ip->IpAddress.String, "0.0.0.0") != 0)
        a.ipv4.push_back(ip->IpAddress.String);
    if (!a.ipv4.empty())
      adapters.push_back(a);
  }
  return adapters;
}

}  // namespace platform
