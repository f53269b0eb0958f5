#include "DrawingSettingsBar.h"

#include <QButtonGroup>
#include <QColor>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonObject>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>

#include "RoomMessageTypes.h"
#include "VWClassroomLink.h"
#include "VWPaintWidget.h"
#include "VWToolStyle.h"

namespace vw {

namespace {

constexpr int kButtonSize = 32;
constexpr int kIconSize = 22;

QPixmap canvasPixmap() {
  QPixmap pixmap(kIconSize * 2, kIconSize * 2);
  pixmap.setDevicePixelRatio(2);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A horizontal stroke as thick as the width it stands for.
QIcon widthIcon(qreal thickness) {
  QPixmap pixmap = canvasPixmap();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0xe8, 0xea, 0xed), thickness, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, kIconSize / 2.0), QPointF(kIconSize - 4, kIconSize / 2.0));
  return QIcon(pixmap);
}

QIcon colorIcon(const QColor& color) {
  QPixmap pixmap = canvasPixmap();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0xe8, 0xea, 0xed), 1.2));
  p.setBrush(color);
  p.drawEllipse(QRectF(4, 4, kIconSize - 8, kIconSize - 8));
  return QIcon(pixmap);
}

}  // namespace

DrawingSettingsBar::DrawingSettingsBar(VWPaintWidget* canvas, VWClassroomLink* classroom,
                                       QWidget* parent)
    : QFrame(parent),
      canvas_(canvas),
      classroom_(classroom),
      widths_(new QButtonGroup(this)),
      colors_(new QButtonGroup(this)) {
  setObjectName(QStringLiteral("drawingSettingsBar"));
  setStyleSheet(floatingBarStyle("drawingSettingsBar",
                                 "QFrame#settingsSeparator { background: #3c434c; }\n"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(4);

  const struct {
    const char* name;
    const char* tip;
    qreal thickness;
    void (DrawingSettingsBar::*slot)();
  } widthButtons[] = {
      {"btnLineWidth1", "细", 1.5, &DrawingSettingsBar::btnLineWidth1_clicked},
      {"btnLineWidth2", "中", 3, &DrawingSettingsBar::btnLineWidth2_clicked},
      {"btnLineWidth3", "粗", 6, &DrawingSettingsBar::btnLineWidth3_clicked},
  };
  for (const auto& w : widthButtons) {
    QAbstractButton* button =
        addButton(widths_, w.name, QString::fromUtf8(w.tip), widthIcon(w.thickness));
    connect(button, &QAbstractButton::clicked, this, w.slot);
  }
  middleWidth_ = widths_->buttons().at(1);

  auto* separator = new QFrame(this);
  separator->setObjectName(QStringLiteral("settingsSeparator"));
  separator->setFixedSize(1, kButtonSize - 8);
  layout->addWidget(separator);

  const struct {
    const char* name;
    const char* tip;
    QColor color;
    void (DrawingSettingsBar::*slot)();
  } colorButtons[] = {
      {"btnRed", "红色", QColor(255, 0, 0), &DrawingSettingsBar::btnRed_clicked},
      {"btnGreen", "绿色", QColor(0, 255, 0), &DrawingSettingsBar::btnGreen_clicked},
      {"btnBlue", "蓝色", QColor(0, 0, 255), &DrawingSettingsBar::btnBlue_clicked},
      {"btnYellow", "黄色", QColor(255, 255, 0), &DrawingSettingsBar::btnYellow_clicked},
  };
  for (const auto& c : colorButtons) {
    QAbstractButton* button =
        addButton(colors_, c.name, QString::fromUtf8(c.tip), colorIcon(c.color));
    connect(button, &QAbstractButton::clicked, this, c.slot);
  }
  red_ = colors_->buttons().at(0);

  showDefaults();
  adjustSize();
  hide();
}

QAbstractButton* DrawingSettingsBar::addButton(QButtonGroup* group, const char* name,
                                               const QString& tip, const QIcon& icon) {
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(tip);
  button->setIcon(icon);
  button->setIconSize(QSize(kIconSize, kIconSize));
  button->setFixedSize(kButtonSize, kButtonSize);
  button->setCheckable(true);
  button->setCursor(Qt::PointingHandCursor);
  group->addButton(button);
  layout()->addWidget(button);
  return button;
}

void DrawingSettingsBar::showDefaults() {
  middleWidth_->setChecked(true);
  red_->setChecked(true);
}

void DrawingSettingsBar::btnLineWidth1_clicked() {
  chooseWidth(1);
}
void DrawingSettingsBar::btnLineWidth2_clicked() {
  chooseWidth(2);
}
void DrawingSettingsBar::btnLineWidth3_clicked() {
  chooseWidth(5);
}

void DrawingSettingsBar::btnRed_clicked() {
  chooseColor(255, 0, 0, 255);
}
void DrawingSettingsBar::btnGreen_clicked() {
  chooseColor(0, 255, 0, 255);
}
void DrawingSettingsBar::btnBlue_clicked() {
  chooseColor(0, 0, 255, 255);
}
void DrawingSettingsBar::btnYellow_clicked() {
  chooseColor(255, 255, 0, 255);
}

void DrawingSettingsBar::chooseWidth(int width) {
  if (canvas_)
    canvas_->setShapeWidth(width);
  send(ANNO_WIDTH, width);
}

void DrawingSettingsBar::chooseColor(int r, int g, int b, int a) {
  if (canvas_)
    canvas_->setShapeColor(r, g, b, a);
  send(ANNO_COLOR, QJsonObject{{"r", r}, {"g", g}, {"b", b}, {"a", a}});
}

void DrawingSettingsBar::send(int typeId, const QJsonValue& content) {
  if (!canvas_)
    return;
  // Through the canvas: behind the strokes already on their way, and to the phone.
  canvas_->broadcast(
      QJsonObject{{KEY_TYPE_ID, typeId},
                  {KEY_SEND_USER_ID, double(classroom_ ? classroom_->ownUserId() : 0)},
                  {KEY_CONTENT, content}});
}

}  // namespace vw
