// Which of the machine's addresses the pairing QR code offers the phone: the
// addresses of the Ethernet and Wi-Fi adapters that are up, leaving out
// virtual and Bluetooth adapters; when there are none, every IPv4 address but
// loopback and link-local (169.254/16) ones; when there is none of those
// either, loopback.
#pragma once

#include <QStringList>
#include <vector>

#include "platform/network_adapters.h"

namespace phone {

QStringList pairingAddresses(const std::vector<platform::NetworkAdapter>& adapters);

}  // namespace phone
