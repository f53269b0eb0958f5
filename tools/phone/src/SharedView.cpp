#include "SharedView.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QEvent>
#include <QPainter>
#include <QTransform>

#include "PhoneCanvasLink.h"
#include "RoomMessage.h"
#include "VWAnnoHandler.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

SharedView::SharedView(QWidget* parent)
    : QWidget(parent),
      link_(new PhoneCanvasLink(this, this)),
      canvas_(new vw::VWPaintWidget(this, link_)) {
  setObjectName(QStringLiteral("sharedView"));
  setMinimumHeight(200);
  canvas_->installEventFilter(this);
  boardTimer_.setSingleShot(true);
  boardTimer_.setInterval(0);
  connect(&boardTimer_, &QTimer::timeout, this, &SharedView::reportBoard);
  lastDigest_ = vw::VWShapeDigest::digest({});
  setDefaultPen();
  place();
}

SharedView::~SharedView() {
  // The canvas's send thread calls into the link: it ends before the link does.
  delete canvas_;
}

bool SharedView::showFile(const QByteArray& bytes) {
  QImage picture;
  if (!picture.loadFromData(bytes)) {
    qWarning() << "shared file of" << bytes.size() << "bytes is no picture; kept the one shown";
    return false;
  }
  original_ = picture;
  hash_ = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
  rotated_ = QImage();
  place();
  reportShown();
  return true;
}

void SharedView::setRotation(int angle) {
  if (angle != 0 && angle != 90 && angle != 180 && angle != 270)
    return;
  if (angle == rotation_)
    return;
  rotation_ = angle;
  rotated_ = QImage();
  place();
  reportShown();
}

void SharedView::applyBoardMessage(const QJsonObject& msg) {
  // The tool notice, with a string type, only names a tool the numeric one set.
  if (roommsg::hasStringTypeId(msg))
    return;
  // Every message from the PC is applied here; what is the PC's own business
  // (answering the board, the right, passing the phone's strokes on) is not
  // the canvas's and apply() passes over it.
  const vw::VWAnnoState state{0, true};
  for (const vw::VWAnnoAction& action : vw::handleAnnoMessage(state, msg))
    canvas_->apply(action);
  boardTimer_.start();
}

void SharedView::clearBoard() {
  canvas_->clearAllShape();
  boardTimer_.start();
}

void SharedView::reset() {
  original_ = QImage();
  rotated_ = QImage();
  hash_.clear();
  lastShown_.clear();
  rotation_ = 0;
  setDefaultPen();
  place();
  clearBoard();
}

void SharedView::setDefaultPen() {
  // The pen a member's toolbar starts with when the right to write begins,
  // which is what the PC draws the phone's strokes with until a pen arrives.
  canvas_->setShape(1, 2, 255, 0, 0, 255);
}

// ---- placing ----

void SharedView::place() {
  if (!original_.isNull() && rotated_.isNull())
    rotated_ = rotation_ == 0 ? original_
                              : original_.transformed(QTransform().rotate(rotation_),
                                                      Qt::SmoothTransformation);
  if (rotated_.isNull()) {
    // Nothing from the PC yet: the board covers the view.
    pictureRect_ = rect();
    shown_ = QPixmap();
  } else {
    const QSize fitted = rotated_.size().scaled(size(), Qt::KeepAspectRatio);
    pictureRect_ =
        QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    shown_ = fitted.isEmpty() ? QPixmap()
                              : QPixmap::fromImage(rotated_.scaled(fitted, Qt::IgnoreAspectRatio,
                                                                   Qt::SmoothTransformation));
  }
  canvas_->setGeometry(pictureRect_);
  canvas_->raise();
  update();
}

void SharedView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place();
}

void SharedView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x2b, 0x2f, 0x36));
  if (!shown_.isNull()) {
    painter.drawPixmap(pictureRect_.topLeft(), shown_);
    return;
  }
  painter.fillRect(pictureRect_, Qt::white);
  painter.setPen(QColor(0x99, 0x99, 0x99));
  painter.drawText(pictureRect_, Qt::AlignCenter, QStringLiteral("等待电脑共享画面…"));
}

// ---- reporting ----

void SharedView::reportShown() {
  if (hash_.isEmpty())
    return;
  const QByteArray now = hash_ + ' ' + QByteArray::number(rotation_);
  if (now == lastShown_)
    return;
  lastShown_ = now;
  emit shownChanged(hash_, rotation_);
}

bool SharedView::eventFilter(QObject* watched, QEvent* event) {
  // The canvas finishes a stroke of the user's own on release.
  if (watched == canvas_ && event->type() == QEvent::MouseButtonRelease)
    boardTimer_.start();
  return QWidget::eventFilter(watched, event);
}

void SharedView::reportBoard() {
  const auto shapes = canvas_->shapeList();
  const QByteArray digest = vw::VWShapeDigest::digest(shapes);
  if (shapes.size() == lastShapes_ && digest == lastDigest_)
    return;
  lastShapes_ = shapes.size();
  lastDigest_ = digest;
  emit boardChanged(shapes.size(), digest);
}
