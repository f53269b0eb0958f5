#include "VWShapeDigest.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QStringList>

#include "VWBaseShape.h"
#include "VWEraser.h"
#include "VWLines.h"

namespace vw {

namespace {

QString exact(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }
QString sixDigits(double v) { return QString::number(v, 'g', 6); }

void appendPoints(QStringList& parts, const QVector<QPointF>& points) {
  for (const QPointF& p : points)
    parts << exact(p.x()) + ',' + exact(p.y());
}

}  // namespace

QString VWShapeDigest::canonicalText(const ShapeList& shapes) {
  QString text;
  for (const auto& shape : shapes) {
    if (!shape)
      continue;
    const VWShapeProperty& s = shape->property();
    QStringList parts;
    parts << QString::number(s.shapeType)
          << QStringLiteral("%1,%2,%3,%4").arg(s.red).arg(s.green).arg(s.blue).arg(s.alpha)
          << QString::number(s.width);
    if (auto lines = dynamic_cast<const VWLines*>(shape.get())) {
      appendPoints(parts, lines->points());
    } else if (auto eraser = dynamic_cast<const VWEraser*>(shape.get())) {
      appendPoints(parts, eraser->points());
    } else {
      for (const QPointF& p : {shape->startPoint(), shape->endPoint()})
        parts << sixDigits(p.x()) + ',' + sixDigits(p.y());
    }
    text += parts.join(' ') + '\n';
  }
  return text;
}

QByteArray VWShapeDigest::digest(const ShapeList& shapes) {
  return QCryptographicHash::hash(canonicalText(shapes).toUtf8(), QCryptographicHash::Sha256)
      .toHex();
}

}  // namespace vw
