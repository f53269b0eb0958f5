#include "EraserWidthBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>

#include "VWToolStyle.h"

namespace vw {

namespace {

constexpr int kButtonSize = 32;
constexpr int kIconSize = 22;

// A dot as wide as the eraser it stands for.
QIcon dotIcon(qreal diameter) {
  QPixmap pixmap(kIconSize * 2, kIconSize * 2);
  pixmap.setDevicePixelRatio(2);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0xe8, 0xea, 0xed), 1.2));
  p.setBrush(Qt::NoBrush);
  const qreal c = kIconSize / 2.0;
  p.drawEllipse(QPointF(c, c), diameter / 2, diameter / 2);
  return QIcon(pixmap);
}

}  // namespace

EraserWidthBar::EraserWidthBar(QWidget* parent) : QFrame(parent), widths_(new QButtonGroup(this)) {
  setObjectName(QStringLiteral("eraserWidthBar"));
  setStyleSheet(floatingBarStyle("eraserWidthBar"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(4);
  const struct {
    const char* name;
    const char* tip;
    qreal diameter;
  } buttons[] = {
      {"btnEraserWidth1", "细", 6},
      {"btnEraserWidth2", "中", 11},
      {"btnEraserWidth3", "粗", 16},
  };
  for (const auto& b : buttons) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setToolTip(QString::fromUtf8(b.tip));
    button->setIcon(dotIcon(b.diameter));
    button->setIconSize(QSize(kIconSize, kIconSize));
    button->setFixedSize(kButtonSize, kButtonSize);
    button->setCheckable(true);
    widths_->addButton(button);
    layout->addWidget(button);
  }
  widths_->buttons().at(1)->setChecked(true);
  adjustSize();
  hide();
}

}  // namespace vw
