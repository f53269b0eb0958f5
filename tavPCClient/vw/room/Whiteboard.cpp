#include "Whiteboard.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QJsonArray>
#include <QMutexLocker>
#include <QThread>
#include <QWidget>
#include <cstring>

#include "AnnotationControl.h"
#include "ClassroomContext.h"
#include "DrawingToolbar.h"
#include "PhoneLink.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "SharedAreaView.h"
#include "VWAnnoHandler.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"
#include "VWShapeObject.h"

namespace {

constexpr int kMarkWidth = 1920;
constexpr int kMarkHeight = 1080;
// How often the drawing layer is kept for the screen share while the own screen is shared.
constexpr int kMarkIntervalMs = 200;

}  // namespace

Whiteboard::Whiteboard(ClassroomContext& context, SharedAreaView& area, QObject* parent)
    : QObject(parent), context_(context), area_(area) {
  QWidget* shared = area_.sharedArea();
  sharedArea_ = shared;
  canvas_ = new vw::VWPaintWidget(shared, this);
  canvas_->setObjectName(QStringLiteral("whiteboardCanvas"));
  canvas_->setAttribute(Qt::WA_TranslucentBackground);
  canvas_->hide();
  shared->installEventFilter(this);
  placeCanvas();

  annotation_ = new AnnotationControl(context_, *this, this);

  context_.handleRoomMessages(
      {ANNO_POINT, ANNO_START, ANNO_STOP, ANNO_TOOL, ANNO_COLOR, ANNO_WIDTH, ANNO_APPLY,
       ANNO_APPLY_REPLY, ANNO_SYNC_REQUEST, ANNO_SHAPE, ANNO_PEN},
      this, [this](const QJsonObject& msg) { slot_AnnoMsgArrived(msg); });
  connect(this, &Whiteboard::signal_get_tag_data, this, &Whiteboard::slot_get_tag_data);

  context_.provide<BoardSync>(this);
  context_.provide<BoardCanvas>(this);
  context_.provide<PhoneBoard>(this);
  awaitTimer_ = new QTimer(this);
  awaitTimer_->setSingleShot(true);
  awaitTimer_->setInterval(kAwaitBoardMs);
  connect(awaitTimer_, &QTimer::timeout, this, [this] { awaitingBoard_ = false; });

  markTimer_ = new QTimer(this);
  markTimer_->setInterval(kMarkIntervalMs);
  connect(markTimer_, &QTimer::timeout, this, &Whiteboard::keepMarkLayer);
  connect(&context_.session(), &RoomSession::floorsChanged, this, [this] {
    placeCanvas();
    const bool sharing = context_.session().room().screenSharerId == qint64(ownUserId());
    if (sharing && !markTimer_->isActive()) {
      markTimer_->start();
    } else if (!sharing && markTimer_->isActive()) {
      markTimer_->stop();
      QMutexLocker lock(&markMutex_);
      markLayer_ = QImage();
    }
  });
}

Whiteboard::~Whiteboard() {
  context_.withdraw<BoardSync>(this);
  context_.withdraw<BoardCanvas>(this);
  context_.withdraw<PhoneBoard>(this);
  if (sharedArea_)
    sharedArea_->removeEventFilter(this);
  delete canvas_;  // its send thread stops before the link (this) goes
}

// ---- the link the canvas sees ----

quint32 Whiteboard::ownUserId() const {
  return context_.ownUserId();
}

bool Whiteboard::ownsAnnotation() const {
  return context_.session().room().annotatingId == qint64(context_.ownUserId());
}

int Whiteboard::sendRoomJson(const QJsonObject& msg, const QString& target) {
  // The messenger serialises sends and may be called from the canvas's thread.
  return context_.sendRoomJson(msg, target);
}

void Whiteboard::forwardToPhone(const QJsonObject& msg) {
  if (PhoneLink* phone = context_.find<PhoneLink>())
    phone->sendToPhone(msg);
}

bool Whiteboard::confirm(const QString& text) {
  return context_.dialogs().confirm(text);
}

QString Whiteboard::displayName(quint32 userId) const {
  return context_.session().nameOf(userId);
}

QPixmap Whiteboard::shownPixmap() const {
  return area_.shownPixmap();
}

quint32 Whiteboard::classOwnerId() const {
  const RoomContext& room = context_.session().room();
  if (room.classStarterId > 0)
    return quint32(room.classStarterId);
  return context_.entry().ownerId;
}

// ---- placing the canvas over the picture ----

bool Whiteboard::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sharedArea_ && event->type() == QEvent::Resize)
    placeCanvas();
  return QObject::eventFilter(watched, event);
}

void Whiteboard::placeCanvas() {
  if (!canvas_)
    return;
  // The area may lay the board over another widget now (the captured picture
  // of a program the own member shares and writes over): it moves there.
  QWidget* host = area_.sharedArea();
  if (host && canvas_->parentWidget() != host) {
    const bool shown = canvas_->isVisibleTo(canvas_->parentWidget());
    if (sharedArea_)
      sharedArea_->removeEventFilter(this);
    sharedArea_ = host;
    host->installEventFilter(this);
    canvas_->setParent(host);
    canvas_->setVisible(shown);
    canvas_->raise();
    if (annotation_ && annotation_->toolbar())
      annotation_->toolbar()->moveToArea(host);
  }
  const QRect place = area_.pictureRect();
  if (canvas_->geometry() != place)
    canvas_->setGeometry(place);
}

void Whiteboard::clearBoard() {
  // What the toolbar's clear does: this board and, by its message, everybody's.
  if (annotation_ && annotation_->toolbar())
    annotation_->toolbar()->btnBrush_clicked();
  else if (canvas_)
    canvas_->clearAllShape();
}

bool Whiteboard::canvasShown() const {
  return canvas_ && canvas_->isVisible();
}

bool Whiteboard::hasShapes() const {
  return canvas_ && !canvas_->shapeList().isEmpty();
}

// ---- received board messages ----

void Whiteboard::slot_AnnoMsgArrived(const QJsonObject& msg) {
  const vw::VWAnnoState state{ownUserId(), context_.session().classInProgress()};
  for (const vw::VWAnnoAction& action : vw::handleAnnoMessage(state, msg))
    execute(action);
}

void Whiteboard::askForBoard(quint32 starterId) {
  if (!canvas_ || starterId == ownUserId())
    return;
  canvas_->clearAllShape();
  awaitingBoard_ = true;
  boardShapeSeen_ = false;
  awaitTimer_->start();
  QJsonObject sync = roommsg::newMessage(ANNO_SYNC_REQUEST);
  sync.insert(KEY_SEND_USER_ID, double(ownUserId()));
  sendRoomJson(sync, QString::number(starterId));
}

void Whiteboard::execute(const vw::VWAnnoAction& action) {
  using A = vw::VWAnnoAction;
  if (awaitingBoard_) {
    // Strokes drawn meanwhile are part of the board that is on its way.
    if (action.kind == A::BeginShape || action.kind == A::ContinueShape ||
        action.kind == A::FinishShape)
      return;
    // The answer ends with "-1", or with the pen after its shapes.
    const bool last =
        action.kind == A::NothingToShow || (action.kind == A::SetPen && boardShapeSeen_);
    if (action.kind == A::RenderShape || action.kind == A::ShowCanvas)
      boardShapeSeen_ = true;
    if (last) {
      awaitingBoard_ = false;
      awaitTimer_->stop();
    }
  }
  if (canvas_ && canvas_->apply(action))
    return;
  switch (action.kind) {
    case A::MirrorToPhone:
      forwardToPhone(action.object);
      return;
    case A::Rebroadcast:
      sendRoomJson(action.object, QStringLiteral("*"));
      return;
    case A::AnswerSync:
      answerSync(action.userId);
      return;
    case A::AnnoStart:
      annotation_->startTagHandling(action.userId);
      return;
    case A::AnnoStop:
      annotation_->annoStopReceived();
      return;
    case A::Apply:
      annotation_->applyReceived(action.userId, action.value);
      return;
    case A::ApplyReply:
      annotation_->applyReplyReceived(action.value);
      return;
    default:
      return;
  }
}

// The board for a member who asks: the pen, then every shape in drawing order,
// then the shape that was being drawn when the question came, then the pen
// again (each shape sets the pen it was drawn with).
void Whiteboard::answerSync(quint32 requester) {
  if (!canvas_ || requester == 0 || requester == ownUserId())
    return;
  const QString target = QString::number(requester);
  const bool nobodyWrites = context_.session().room().annotatingId < 0;
  if (nobodyWrites && canvas_->shapeList().isEmpty()) {
    QJsonObject nothing = roommsg::newMessage(ANNO_SHAPE);
    nothing.insert(KEY_SEND_USER_ID, double(classOwnerId()));
    nothing.insert(KEY_CONTENT, QStringLiteral("-1"));
    sendRoomJson(nothing, target);
    return;
  }
  auto penMessage = [this] {
    const VWShapeProperty& pen = canvas_->pen();
    QJsonObject msg = roommsg::newMessage(ANNO_PEN);
    msg.insert(KEY_SEND_USER_ID, double(ownUserId()));
    msg.insert("penShapeType", pen.shapeType);
    msg.insert("penWidth", pen.width);
    msg.insert("penColor",
               QJsonObject{{"r", pen.red}, {"g", pen.green}, {"b", pen.blue}, {"a", pen.alpha}});
    return msg;
  };
  auto shapeMessage = [this](const QJsonValue& shape) {
    QJsonObject msg = roommsg::newMessage(ANNO_SHAPE);
    msg.insert(KEY_SEND_USER_ID, double(ownUserId()));
    msg.insert(KEY_CONTENT, shape);
    return msg;
  };
  sendRoomJson(penMessage(), target);
  const auto sent = canvas_->shapeList();
  const QJsonArray shapes = canvas_->shapeObjects();
  if (shapes.isEmpty()) {
    QJsonObject empty = roommsg::newMessage(ANNO_SHAPE);
    empty.insert(KEY_SEND_USER_ID, double(classOwnerId()));
    empty.insert(KEY_CONTENT, QString());
    sendRoomJson(empty, target);
  }
  for (const QJsonValue& shape : shapes)
    sendRoomJson(shapeMessage(shape), target);
  // A stroke being replayed here finishes within its burst.
  QPointer<vw::VWPaintWidget> canvas = canvas_;
  while (canvas && canvas->isDrawing()) {
    QThread::msleep(5);
    QCoreApplication::processEvents();
  }
  if (!canvas)
    return;
  // The shape finished meanwhile is on the board but not in what was sent;
  // the last finished shape that stays current was sent already.
  const auto current = canvas->currentShape();
  if (current && canvas->shapeList().contains(current) && !sent.contains(current))
    sendRoomJson(shapeMessage(vw::toShapeObject(*current)), target);
  sendRoomJson(penMessage(), target);
  qDebug().noquote() << "board sent to" << requester << ":" << canvas->shapeList().size()
                     << "shapes, digest" << vw::VWShapeDigest::digest(canvas->shapeList());
}

// ---- the paired phone ----

void Whiteboard::boardMessageFromPhone(const QJsonObject& msg) {
  // The phone writes in the own member's name, so only with the own right;
  // whatever id it put in, the message goes out as the own member's.
  if (!ownsAnnotation()) {
    qDebug() << "board message from the phone dropped: the board-writing right is not ours";
    return;
  }
  QJsonObject unsigned_ = msg;
  unsigned_.remove(KEY_SEND_USER_ID);
  slot_AnnoMsgArrived(unsigned_);
}

QList<QJsonObject> Whiteboard::boardForPhone() {
  QList<QJsonObject> board;
  if (!canvas_ || (context_.session().room().annotatingId < 0 && canvas_->shapeList().isEmpty()))
    return board;
  const VWShapeProperty& pen = canvas_->pen();
  QJsonObject penMsg = roommsg::newMessage(ANNO_PEN);
  penMsg.insert("penShapeType", pen.shapeType);
  penMsg.insert("penColor",
                QJsonObject{{"r", pen.red}, {"g", pen.green}, {"b", pen.blue}, {"a", pen.alpha}});
  penMsg.insert("penWidth", pen.width);
  board.append(penMsg);
  auto shapeMessage = [](const QJsonValue& shape) {
    QJsonObject msg = roommsg::newMessage(ANNO_SHAPE);
    msg.insert(KEY_CONTENT, shape);
    return msg;
  };
  const auto sent = canvas_->shapeList();
  for (const QJsonValue& shape : canvas_->shapeObjects())
    board.append(shapeMessage(shape));
  // A stroke being replayed here finishes within its burst.
  QPointer<vw::VWPaintWidget> canvas = canvas_;
  while (canvas && canvas->isDrawing()) {
    QThread::msleep(5);
    QCoreApplication::processEvents();
  }
  if (!canvas)
    return board;
  // Only a shape finished meanwhile is missing from what was taken.
  const auto current = canvas->currentShape();
  if (current && canvas->shapeList().contains(current) && !sent.contains(current))
    board.append(shapeMessage(vw::toShapeObject(*current)));
  return board;
}

// ---- the drawing layer for the media library and the recorder ----

void Whiteboard::keepMarkLayer() {
  if (!canvas_)
    return;
  // Over a captured picture the board follows where the picture is drawn.
  placeCanvas();
  QImage layer;
  if (!canvas_->shapeList().isEmpty() || canvas_->currentShape()) {
    layer = QImage(kMarkWidth, kMarkHeight, QImage::Format_ARGB32_Premultiplied);
    int width = 0, height = 0, len = 0;
    canvas_->getMarkBit(layer.bits(), width, height, len);
    if (width != kMarkWidth || height != kMarkHeight || len != int(layer.sizeInBytes()))
      layer = QImage();
  }
  QMutexLocker lock(&markMutex_);
  markLayer_ = layer;
}

void Whiteboard::fillMarkBitmap(uint8_t* data, unsigned capacity, int& width, int& height,
                                int& len) {
  len = 0;
  QMutexLocker lock(&markMutex_);
  if (markLayer_.isNull() || !data)
    return;
  const auto bytes = size_t(markLayer_.sizeInBytes());
  if (bytes > capacity)
    return;
  std::memcpy(data, markLayer_.constBits(), bytes);
  width = markLayer_.width();
  height = markLayer_.height();
  len = int(bytes);
}

void Whiteboard::slot_get_tag_data(VWTagData* request) {
  if (!request || !canvas_)
    return;
  qDebug() << "00033";
  const QImage shown =
      canvas_->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  request->width = shown.width();
  request->height = shown.height();
  request->pixels =
      QByteArray(reinterpret_cast<const char*>(shown.constBits()), int(shown.sizeInBytes()));
  qDebug() << "00034";
}

// ---- the class and the member ----

void Whiteboard::classStopping() {
  annotation_->classStopping();
  if (canvas_) {
    canvas_->clearAllShape();
    canvas_->hide();
  }
}

void Whiteboard::leaving() {
  annotation_->leaving();
}
