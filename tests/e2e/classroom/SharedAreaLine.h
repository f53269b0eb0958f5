// What a shared area shows, as one report line: "shared MODE FILE PAGE ROT
// DISP WxH DIGEST" (the share state, the picture drawn and its pixels). The
// member windows report it; tests compare a teacher's own area with it.
#pragma once

#include <QImage>
#include <QStringList>

#include "PixelDigest.h"
#include "SharedArea.h"

namespace testsupport {

inline QString sharedAreaLine(const SharedArea& area) {
  const SharedArea::State& st = area.state();
  const QImage picture = area.view()->picture().toImage();
  return QStringList{QStringLiteral("shared"),
                     QString::number(st.mode),
                     st.fileName.isEmpty() ? QStringLiteral("-") : st.fileName,
                     QString::number(st.page),
                     QString::number(st.rotation),
                     QString::number(st.displayMode),
                     QStringLiteral("%1x%2").arg(picture.width()).arg(picture.height()),
                     pixelDigest(picture)}
      .join(QLatin1Char(' '));
}

}  // namespace testsupport
