#include "GiftRules.h"

namespace gifts {

const QStringList& countEntries() {
  static const QStringList entries{
      QStringLiteral("1个   一点心意"),  QStringLiteral("10个   完美学"),
      QStringLiteral("17个   一起学"),    QStringLiteral("66个   轻松学"),
      QStringLiteral("178个  一起学习吧"),
  };
  return entries;
}

int countOf(const QString& text) {
  static const int numbers[] = {1, 10, 17, 66, 178};
  const int entry = countEntries().indexOf(text);
  if (entry >= 0)
    return numbers[entry];
  bool ok = false;
  const int count = text.trimmed().toInt(&ok, 10);
  return ok && count > 0 ? count : 0;
}

QString priceText(double money) { return QString::number(money, 'g', 6); }

QString chatLine(const QString& sender, const QString& target, const QString& gift, int count) {
  return QStringLiteral("“%1”送给“%2”礼物“%3”%4个").arg(sender, target, gift).arg(count);
}

QString effectStyle(int count) {
  if (count <= 65)
    return QStringLiteral("font:16px;background-color: rgba(0, 150, 255, 225);border-radius:6px");
  if (count > 177)
    return QStringLiteral("font:16px;background-color: rgba(255, 0, 51, 225);border-radius:6px");
  return QStringLiteral("font:16px;background-color: rgba(188, 0, 195, 225);border-radius:6px");
}

}  // namespace gifts
