#include "DrawingToolbar.h"

#include <QButtonGroup>
#include <QIcon>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "DrawingSettingsBar.h"
#include "EraserWidthBar.h"
#include "RoomMessageTypes.h"
#include "VWClassroomLink.h"
#include "VWPaintWidget.h"
#include "VWToolStyle.h"

namespace vw {

namespace {

// Tool codes of the canvas and of the tool messages.
constexpr int kPen = 1;
constexpr int kLine = 2;
constexpr int kRectangle = 3;
constexpr int kEllipse = 4;
constexpr int kArrow = 5;
constexpr int kEraser = 7;
constexpr int kUndo = 8;
constexpr int kClear = 10;

// Rows of 45 px below a 23 px grip: the settings bar for tool button id then
// lies at id * 45 + 23, level with the button.
constexpr int kGrip = 23;
constexpr int kButtonSize = 36;
constexpr int kRowPitch = 45;
constexpr int kSide = 8;
constexpr int kIconSize = 24;
constexpr int kBarGap = 6;  // between the toolbar and a bar beside it
constexpr int kEraserBarOffset = 220;
constexpr int kUndoPauseMs = 1000;  // one undo a second, so a double click undoes once

const QColor kIconColor(0xe8, 0xea, 0xed);

// Paints an icon at twice its size, for sharp lines on dense screens.
template <typename Draw>
QIcon paintedIcon(Draw draw) {
  QPixmap pixmap(kIconSize * 2, kIconSize * 2);
  pixmap.setDevicePixelRatio(2);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kIconColor, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  draw(p);
  p.end();
  return QIcon(pixmap);
}

QIcon penIcon() {
  return paintedIcon([](QPainter& p) {
    QPolygonF body;
    body << QPointF(15.5, 4.5) << QPointF(19.5, 8.5) << QPointF(9, 19) << QPointF(4.5, 19.5)
         << QPointF(5, 15);
    p.drawPolygon(body);
    p.drawLine(QPointF(13.5, 6.5), QPointF(17.5, 10.5));
  });
}

QIcon lineIcon() {
  return paintedIcon([](QPainter& p) { p.drawLine(QPointF(5, 19), QPointF(19, 5)); });
}

QIcon rectangleIcon() {
  return paintedIcon([](QPainter& p) { p.drawRect(QRectF(4.5, 6.5, 15, 11)); });
}

QIcon ellipseIcon() {
  return paintedIcon([](QPainter& p) { p.drawEllipse(QRectF(3.5, 6.5, 17, 11)); });
}

QIcon arrowIcon() {
  return paintedIcon([](QPainter& p) {
    p.drawLine(QPointF(5, 19), QPointF(18.5, 5.5));
    p.drawLine(QPointF(18.5, 5.5), QPointF(11.5, 6));
    p.drawLine(QPointF(18.5, 5.5), QPointF(18, 12.5));
  });
}

QIcon eraserIcon() {
  return paintedIcon([](QPainter& p) {
    QPolygonF body;
    body << QPointF(13, 4.5) << QPointF(20, 11.5) << QPointF(12, 19.5) << QPointF(8, 19.5)
         << QPointF(4, 15.5);
    p.drawPolygon(body);
    p.drawLine(QPointF(8.5, 11), QPointF(15.5, 18));
    p.drawLine(QPointF(12, 19.5), QPointF(20, 19.5));
  });
}

QIcon clearIcon() {
  return paintedIcon([](QPainter& p) {
    p.drawLine(QPointF(4.5, 7), QPointF(19.5, 7));
    p.drawLine(QPointF(9.5, 7), QPointF(10, 4.5));
    p.drawLine(QPointF(10, 4.5), QPointF(14, 4.5));
    p.drawLine(QPointF(14, 4.5), QPointF(14.5, 7));
    QPolygonF bin;
    bin << QPointF(6.5, 7) << QPointF(7.5, 19.5) << QPointF(16.5, 19.5) << QPointF(17.5, 7);
    p.drawPolyline(bin);
    p.drawLine(QPointF(10.5, 10.5), QPointF(10.5, 16.5));
    p.drawLine(QPointF(13.5, 10.5), QPointF(13.5, 16.5));
  });
}

QIcon undoIcon() {
  return paintedIcon([](QPainter& p) {
    QPainterPath path(QPointF(7, 10));
    path.lineTo(15, 10);
    path.cubicTo(QPointF(21, 10), QPointF(21, 19), QPointF(15, 19));
    path.lineTo(9, 19);
    p.drawPath(path);
    p.drawLine(QPointF(7, 10), QPointF(10.5, 6.5));
    p.drawLine(QPointF(7, 10), QPointF(10.5, 13.5));
  });
}

}  // namespace

DrawingToolbar::DrawingToolbar(VWPaintWidget* canvas, VWClassroomLink* classroom, QWidget* parent)
    : QFrame(parent), canvas_(canvas), classroom_(classroom), tools_(new QButtonGroup(this)) {
  setObjectName(QStringLiteral("drawingToolbar"));
  setStyleSheet(
      floatingBarStyle("drawingToolbar", "QToolButton:disabled { background: transparent; }\n"));
  setCursor(Qt::SizeAllCursor);  // the background is the handle to drag it by

  // The rows are measured from the outer edge: the frame's border counts in.
  ensurePolished();
  const int border = frameWidth();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kSide - border, kGrip - border, kSide - border, kSide - border);
  layout->setSpacing(kRowPitch - kButtonSize);

  // One row per group id, in id order, so that a row and its settings bar line up.
  const struct {
    const char* name;
    const char* tip;
    QIcon icon;
  } toolButtons[] = {
      {"btnPen", "画笔", penIcon()},      {"btnRectangle", "矩形", rectangleIcon()},
      {"btnOval", "椭圆", ellipseIcon()}, {"btnArrow", "箭头", arrowIcon()},
      {"btnLine", "直线", lineIcon()},
  };
  int id = 0;
  for (const auto& t : toolButtons) {
    QToolButton* button = addButton(t.name, QString::fromUtf8(t.tip), t.icon);
    button->setCheckable(true);
    tools_->addButton(button, id++);
  }
  tools_->setExclusive(true);
  connect(tools_, &QButtonGroup::idClicked, this, &DrawingToolbar::buttonGroup_clicked);
  connect(tools_, &QButtonGroup::idClicked, this, &DrawingToolbar::toggleSettingsBar);

  eraser_ = addButton("btnEraser", QStringLiteral("橡皮擦"), eraserIcon());
  eraser_->setCheckable(true);
  connect(eraser_, &QAbstractButton::clicked, this, &DrawingToolbar::btnEraser_clicked);
  connect(eraser_, &QAbstractButton::clicked, this, &DrawingToolbar::toggleEraserBar);

  QToolButton* brush = addButton("btnBrush", QStringLiteral("清空"), clearIcon());
  connect(brush, &QAbstractButton::clicked, this, [this] {
    // The member's own 清空 clears everybody's board, and nothing brings it
    // back: asked first (a clear for a new picture or page is not).
    if (!classroom_ || classroom_->confirm(QStringLiteral(
                           "清空后所有人的白板内容都将被擦除且无法恢复，确定要清空吗？")))
      btnBrush_clicked();
  });

  revoke_ = addButton("btnRevoke", QStringLiteral("撤销"), undoIcon());
  connect(revoke_, &QAbstractButton::clicked, this, &DrawingToolbar::btnRevoke_clicked);

  setFixedSize(sizeHint());

  // The bars float over the same area as the toolbar, not inside it.
  settingsBar_ = new DrawingSettingsBar(canvas, classroom, parent);
  eraserBar_ = new EraserWidthBar(parent);
  resetToDefaults();
}

DrawingToolbar::~DrawingToolbar() {
  delete settingsBar_.data();
  delete eraserBar_.data();
}

QToolButton* DrawingToolbar::addButton(const char* name, const QString& tip, const QIcon& icon) {
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(tip);
  button->setIcon(icon);
  button->setIconSize(QSize(kIconSize, kIconSize));
  button->setFixedSize(kButtonSize, kButtonSize);
  button->setCursor(Qt::PointingHandCursor);
  layout()->addWidget(button);
  return button;
}

void DrawingToolbar::resetToDefaults() {
  if (canvas_)
    canvas_->setShape(kPen, 2, 255, 0, 0, 255);
  tools_->button(0)->setChecked(true);
  showEraserChecked(false);
  settingsBar_->showDefaults();
  settingsBar_->hide();
  eraserBar_->hide();
  settingsFor_ = -1;
}

// ---- tools ----

void DrawingToolbar::buttonGroup_clicked(int id) {
  static constexpr int kCodes[] = {kPen, kRectangle, kEllipse, kArrow, kLine};
  if (id < 0 || id >= int(std::size(kCodes)))
    return;
  chooseTool(kCodes[id]);
}

void DrawingToolbar::btnEraser_clicked() {
  chooseTool(kEraser);
}
void DrawingToolbar::btnRectangle_clicked() {
  chooseTool(kRectangle);
}
void DrawingToolbar::btnOval_clicked() {
  chooseTool(kEllipse);
}
void DrawingToolbar::btnArrow_clicked() {
  chooseTool(kArrow);
}
void DrawingToolbar::btnLine_clicked() {
  chooseTool(kLine);
}

void DrawingToolbar::btnBrush_clicked() {
  if (canvas_)
    canvas_->clearAllShape();
  sendTool(kClear);
}

void DrawingToolbar::btnRevoke_clicked() {
  // A click that comes while the pause runs would undo a second shape.
  if (!revoke_->isEnabled())
    return;
  revoke_->setEnabled(false);
  if (canvas_)
    canvas_->undoShape();
  sendTool(kUndo);
  QTimer::singleShot(kUndoPauseMs, this, &DrawingToolbar::btnRevoke_Enabled);
}

void DrawingToolbar::btnRevoke_Enabled() {
  revoke_->setEnabled(true);
}

void DrawingToolbar::chooseTool(int code) {
  // setShape tells the others of the tool by itself, in its own form.
  if (canvas_)
    canvas_->setShape(code);
  sendTool(code);
  showEraserChecked(code == kEraser);
}

void DrawingToolbar::sendTool(int code) {
  if (!canvas_)
    return;
  // Through the canvas: behind the strokes already on their way, and to the phone.
  canvas_->broadcast(
      QJsonObject{{KEY_TYPE_ID, ANNO_TOOL},
                  {KEY_SEND_USER_ID, double(classroom_ ? classroom_->ownUserId() : 0)},
                  {KEY_CONTENT, code}});
}

// The eraser is no member of the tool group, yet only one tool is shown chosen.
void DrawingToolbar::showEraserChecked(bool checked) {
  eraser_->setChecked(checked);
  if (checked && tools_->checkedButton()) {
    tools_->setExclusive(false);
    tools_->checkedButton()->setChecked(false);
    tools_->setExclusive(true);
  }
}

// ---- the bars ----

QPoint DrawingToolbar::besideToolbar(int dy) const {
  return QPoint(x() + width() + kBarGap, y() + dy);
}

void DrawingToolbar::toggleSettingsBar(int id) {
  if (settingsBar_->isVisible() && id == settingsFor_) {
    settingsBar_->hide();
    return;
  }
  eraserBar_->hide();  // the two would overlap beside the lower rows
  settingsFor_ = id;
  settingsBar_->move(besideToolbar(id * kRowPitch + kGrip));
  settingsBar_->show();
  settingsBar_->raise();
}

void DrawingToolbar::toggleEraserBar() {
  if (eraserBar_->isVisible()) {
    eraserBar_->hide();
    return;
  }
  settingsBar_->hide();
  eraserBar_->move(besideToolbar(kEraserBarOffset));
  eraserBar_->show();
  eraserBar_->raise();
}

void DrawingToolbar::hideEvent(QHideEvent* event) {
  if (settingsBar_)
    settingsBar_->hide();
  if (eraserBar_)
    eraserBar_->hide();
  QFrame::hideEvent(event);
}

// ---- dragging ----

void DrawingToolbar::mousePressEvent(QMouseEvent* event) {
  // Presses on the buttons stay with the buttons; only the background drags.
  if (event->button() != Qt::LeftButton) {
    QFrame::mousePressEvent(event);
    return;
  }
  dragging_ = true;
  dragOffset_ = event->pos();
  raise();
  event->accept();
}

void DrawingToolbar::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) {
    QFrame::mouseMoveEvent(event);
    return;
  }
  moveAlong(mapToParent(event->pos()) - dragOffset_);
  event->accept();
}

void DrawingToolbar::mouseReleaseEvent(QMouseEvent* event) {
  if (dragging_ && event->button() == Qt::LeftButton) {
    dragging_ = false;
    event->accept();
    return;
  }
  QFrame::mouseReleaseEvent(event);
}

void DrawingToolbar::moveToArea(QWidget* area) {
  if (!area || area == parentWidget())
    return;
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(settingsBar_.data()),
                     static_cast<QWidget*>(eraserBar_.data())}) {
    if (!w)
      continue;
    const bool shown = w->isVisibleTo(w->parentWidget());
    w->setParent(area);
    w->setVisible(shown);
    w->raise();
  }
}

void DrawingToolbar::moveAlong(const QPoint& topLeft) {
  QPoint target = topLeft;
  if (QWidget* area = parentWidget()) {
    target.setX(std::clamp(target.x(), 0, std::max(0, area->width() - width())));
    target.setY(std::clamp(target.y(), 0, std::max(0, area->height() - height())));
  }
  const QPoint delta = target - pos();
  if (delta.isNull())
    return;
  move(target);
  settingsBar_->move(settingsBar_->pos() + delta);
  eraserBar_->move(eraserBar_->pos() + delta);
}

void DrawingToolbar::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  // The grip: a row of dots that says the toolbar can be dragged.
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x6b, 0x71, 0x78));
  const qreal cy = kGrip / 2.0;
  for (int i = -2; i <= 2; ++i)
    p.drawEllipse(QPointF(width() / 2.0 + i * 5, cy), 1.4, 1.4);
}

}  // namespace vw
