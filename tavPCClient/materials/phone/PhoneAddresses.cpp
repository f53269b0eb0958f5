#include "PhoneAddresses.h"

namespace phone {

namespace {

bool chosenAdapter(const platform::NetworkAdapter& a) {
  const QString description = QString::fromStdString(a.description);
  if (description.contains(QLatin1String("Bluetooth")) ||
      description.contains(QLatin1String("Virtual")))
    return false;
  if (a.type != platform::NetworkAdapter::kEthernet && a.type != platform::NetworkAdapter::kWifi)
    return false;
  return a.operStatus == platform::NetworkAdapter::kConnected ||
         a.operStatus == platform::NetworkAdapter::kOperational;
}

void addOnce(QStringList& list, const std::string& address) {
  const QString text = QString::fromStdString(address);
  if (!text.isEmpty() && text != QLatin1String("0.0.0.0") && !list.contains(text))
    list << text;
}

}  // namespace

QStringList pairingAddresses(const std::vector<platform::NetworkAdapter>& adapters) {
  QStringList chosen;
  for (const auto& a : adapters)
    if (chosenAdapter(a))
      for (const auto& ip : a.ipv4)
        addOnce(chosen, ip);
  if (!chosen.isEmpty())
    return chosen;
  for (const auto& a : adapters)
    for (const auto& ip : a.ipv4)
      if (!a.loopback && ip.rfind("169.", 0) != 0 && ip.rfind("127.", 0) != 0)
        addOnce(chosen, ip);
  if (chosen.isEmpty())
    chosen << QStringLiteral("127.0.0.1");
  return chosen;
}

}  // namespace phone
