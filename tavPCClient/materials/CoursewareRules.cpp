#include "CoursewareRules.h"

#include <QRegularExpression>

namespace courseware {

QString editRefusal(const QString& name, const QString& summary, const QString& price,
                    int* priceOut) {
  if (name.trimmed().isEmpty())
    return QStringLiteral("课件名不能为空！");
  if (name.size() > kMaxNameLength)
    return QStringLiteral("课件名称过长！");
  if (summary.size() > kMaxSummaryLength)
    return QStringLiteral("课件要点过长！");
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
  if (!digits.match(price.trimmed()).hasMatch())
    return QStringLiteral("输入0及以上的整数(0豆直接观看)");
  if (priceOut)
    *priceOut = price.trimmed().toInt();
  return QString();
}

QString descriptionTag(quint32 roomId, quint32 userId, const QString& name, int price,
                       const QString& description, const QString& grade) {
  auto plain = [](QString text) { return text.replace(QLatin1Char(','), QStringLiteral("，")); };
  // One pass: a "%4" typed into a name stays text.
  return QStringLiteral("roomId=%1,globalId=%2,coursewareName=%3,price=%4,description=%5,grade=%6")
      .arg(QString::number(roomId), QString::number(userId), plain(name), QString::number(price),
           plain(description), plain(grade));
}

QString itemToolTip(const QString& name, const QString& summary, int price,
                    const QString& uploader, const QString& grade) {
  return QStringLiteral("课件：%1  概要：%2  价格：%3星豆  上传者：%4  年级：%5")
      .arg(name, summary, QString::number(price), uploader, grade);
}

}  // namespace courseware
