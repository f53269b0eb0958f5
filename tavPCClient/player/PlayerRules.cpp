#include "PlayerRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace player {

QString choosePlayUrl(const QString& filePathJson) {
  const QJsonObject root = QJsonDocument::fromJson(filePathJson.toUtf8()).object();
  const QJsonArray renditions = root.value(QStringLiteral("PlayInfoList"))
                                    .toObject()
                                    .value(QStringLiteral("PlayInfo"))
                                    .toArray();
  QString chosen;
  bool haveLd = false;
  for (const QJsonValue& value : renditions) {
    const QJsonObject r = value.toObject();
    if (r.value(QStringLiteral("Format")).toString() != QLatin1String("mp4"))
      continue;
    const QString definition = r.value(QStringLiteral("Definition")).toString();
    const QString url = r.value(QStringLiteral("PlayURL")).toString();
    if (definition == QLatin1String("OD")) {
      chosen = url;
      break;
    }
    if (definition == QLatin1String("LD")) {
      chosen = url;
      haveLd = true;
    } else if (definition == QLatin1String("FD") && !haveLd) {
      chosen = url;
    }
  }
  const QUrl url(chosen, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
    return QString();
  return chosen;
}

QString formatPlayTime(int seconds) {
  seconds = qMax(seconds, 0);
  const QChar zero(QLatin1Char('0'));
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600, 2, 10, zero)
      .arg(seconds / 60 % 60, 2, 10, zero)
      .arg(seconds % 60, 2, 10, zero);
}

QString cacheFileName(const QString& folder, const QString& coursewareName) {
  static const QString kForbidden = QStringLiteral("/\\:*?\"<>|");
  QString name = coursewareName;
  for (QChar& c : name)
    if (c.unicode() < 0x20 || c.unicode() == 0x7f || kForbidden.contains(c))
      c = QLatin1Char('_');
  for (QChar& c : name) {
    if (c != QLatin1Char('.'))
      break;
    c = QLatin1Char('_');
  }
  if (name.trimmed().isEmpty())
    name = QStringLiteral("_");
  return folder + name + QStringLiteral(".mp4");
}

int seekPercent(int x, int width, int minimum, int maximum) {
  if (maximum <= 0 || width <= 0)
    return -1;
  x = qBound(0, x, width);
  const double value = minimum + double(x) / width * (maximum - minimum);
  return int(value) * 100 / maximum;
}

}  // namespace player
