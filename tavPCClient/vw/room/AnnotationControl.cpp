#include "AnnotationControl.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QPushButton>
#include <QStyle>
#include <QWidget>

#include "AnnotationAppItem.h"
#include "AnnotationAppList.h"
#include "ClassroomContext.h"
#include "DrawingToolbar.h"
#include "FormBody.h"
#include "MediaEventBridge.h"
#include "PhoneLink.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "SharedAreaView.h"
#include "VWPaintWidget.h"
#include "Whiteboard.h"
#include "libpavo/libpavo.h"

namespace {

const char kApplyText[] = "申请板书";
const char kBarStyle[] = R"(
QPushButton { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c; border-radius: 4px;
  padding: 5px 14px; font-size: 13px; }
QPushButton:hover { background: #3a414a; }
QPushButton:disabled { color: #8a9097; }
QPushButton:checked { background: #1a73e8; border-color: #1a73e8; }
QPushButton[anno="apply"] { background: #1a73e8; border-color: #1a73e8; color: #ffffff; }
QPushButton[anno="cancel"] { background: #202124; border-color: #5f6368; color: #ffffff; }
QPushButton[anno="exit"] { background: #c5221f; border-color: #c5221f; color: #ffffff; }
)";

}  // namespace

AnnotationControl::AnnotationControl(ClassroomContext& context, Whiteboard& board, QObject* parent)
    : QObject(parent), context_(context), right_(context.annotationRight()), board_(board) {
  bar_ = new QWidget;
  bar_->setObjectName(QStringLiteral("annotationBar"));
  bar_->setStyleSheet(QString::fromUtf8(kBarStyle));
  auto* layout = new QHBoxLayout(bar_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  auto button = [this, layout](const char* name, const QString& text) {
    auto* b = new QPushButton(text, bar_);
    b->setObjectName(QString::fromLatin1(name));
    b->setCursor(Qt::PointingHandCursor);
    layout->addWidget(b);
    return b;
  };
  btnAnnotation_ = button("btnAnnotation", QStringLiteral("板书"));
  btnAnnotation_->setCheckable(true);
  btnAnnotation_->setToolTip(QStringLiteral("在白板上书写"));
  btnStopAnno_ = button("btnStopAnno", QStringLiteral("结束板书"));
  btnStopAnno_->hide();
  btnOpenAnnoAppList_ = button("btnOpenAnnoAppList", QStringLiteral("板书申请"));
  btnAnnoStu_ = button("btnAnno_stu", QString::fromUtf8(kApplyText));
  setRequestButton(QString::fromUtf8(kApplyText), true, "apply");

  connect(btnAnnotation_, &QPushButton::clicked, this, &AnnotationControl::btnAnnotation_clicked);
  connect(btnStopAnno_, &QPushButton::clicked, this, &AnnotationControl::btnStopAnno_clicked);
  connect(btnOpenAnnoAppList_, &QPushButton::clicked, this,
          &AnnotationControl::btnOpenAnnoAppList_clicked);
  connect(btnAnnoStu_, &QPushButton::clicked, this, &AnnotationControl::btnAnno_stu_Clicked);

  QWidget* area = board_.canvas()->parentWidget();
  toolbar_ = new vw::DrawingToolbar(board_.canvas(), &board_, area);
  toolbar_->setObjectName(QStringLiteral("drawingToolbar"));
  toolbar_->hide();
  requests_ = new vw::AnnotationAppList(context_.window());
  requests_->setObjectName(QStringLiteral("annotationAppList"));

  RoomSession& session = context_.session();
  connect(&session, &RoomSession::rolesChanged, this, &AnnotationControl::refreshButtons);
  // Writing on the board as an assistant ends with the right.
  connect(&session, &RoomSession::assistantRevoked, this, [this] {
    if (holder() == qint64(ownId()) && !context_.session().hasTeacherRights()) {
      btnAnnotation_->setChecked(false);
      btnAnnotation_clicked(false);
    }
  });
  connect(&session, &RoomSession::classStateChanged, this, [this](bool running) {
    refreshButtons();
    // Who holds the right in a running class is asked when the class shows.
    if (running)
      right_.askTagUsers();
  });
  refreshButtons();
}

AnnotationControl::~AnnotationControl() {
  delete requests_;
  delete bar_;
}

void AnnotationControl::listenTo(MediaEventBridge& bridge) {
  const auto q = Qt::QueuedConnection;
  MediaEventBridge* b = &bridge;
  connect(b, &MediaEventBridge::_ss_start_tag, this, &AnnotationControl::slot_ss_start_tag, q);
  connect(b, &MediaEventBridge::_ss_stop_tag, this, &AnnotationControl::slot_ss_stop_tag, q);
  connect(b, &MediaEventBridge::_start_tag_ack, this, &AnnotationControl::slot_start_tag_ack, q);
  connect(b, &MediaEventBridge::_stop_tag_ack, this, &AnnotationControl::slot_stop_tag_ack, q);
  connect(b, &MediaEventBridge::_get_tag_users_ack, this,
          &AnnotationControl::slot_get_tag_users_ack, q);
  connect(b, &MediaEventBridge::_p2p_msg_ack, this, &AnnotationControl::slot_p2p_msg_ack, q);
}

// ---- who is who ----

quint32 AnnotationControl::ownId() const {
  return context_.ownUserId();
}

qint64 AnnotationControl::holder() const {
  return context_.session().room().annotatingId;
}

bool AnnotationControl::inSession() const {
  return context_.session().classInProgress();
}

bool AnnotationControl::isClassOwner() const {
  return board_.classOwnerId() == ownId() || context_.session().hasTeacherRights();
}

void AnnotationControl::refreshButtons() {
  const bool teacher = context_.session().hasTeacherRights();
  const bool running = inSession();
  btnAnnotation_->setVisible(teacher && running);
  btnOpenAnnoAppList_->setVisible(teacher && running);
  btnStopAnno_->setVisible(teacher && running && context_.session().room().annoState == 2);
  const int role = context_.session().room().ownRole;
  btnAnnoStu_->setVisible(!teacher && running && role == RoomContext::kStudent);
}

void AnnotationControl::setRequestButton(const QString& text, bool enabled, const char* style) {
  btnAnnoStu_->setText(text);
  btnAnnoStu_->setEnabled(enabled);
  btnAnnoStu_->setProperty("anno", QString::fromLatin1(style));
  btnAnnoStu_->style()->unpolish(btnAnnoStu_);
  btnAnnoStu_->style()->polish(btnAnnoStu_);
}

int AnnotationControl::mediaTag(bool start, quint32 userId) {
  if (!context_.hasMedia())
    return -1;
  if (!start && userId == ownId())
    selfStopping_ = true;
  return start ? right_.startTag() : right_.stopTag(userId);
}

void AnnotationControl::hideToolbar() {
  if (toolbar_)
    toolbar_->hide();
}

void AnnotationControl::resetToolbar() {
  if (toolbar_)
    toolbar_->resetToDefaults();
}

void AnnotationControl::clearPhoneBoard() {
  if (PhoneLink* phone = context_.find<PhoneLink>())
    phone->sendToPhone(QJsonObject{{KEY_TYPE_ID, ANNO_TOOL}, {KEY_CONTENT, 10}});
}

void AnnotationControl::reportTag() {
  context_.service().post(ServiceApi::kAddHistory,
                          FormBody(ServiceApi::kAddHistory.body)
                              .arg(QStringLiteral("tag"))
                              .arg(context_.roomId())
                              .arg(ownId()),
                          this, &AnnotationControl::onReported);
}

void AnnotationControl::onReported(QJsonObject answer) {
  if (answer.isEmpty() || answer.value(QLatin1String("code")).toInt() != 0)
    qDebug() << "board-writing report not taken:" << answer;
}

bool AnnotationControl::refusesVideoEnlarging() const {
  return context_.session().room().screenSharerId == qint64(ownId()) && board_.canvas() &&
         !board_.canvas()->shapeList().isEmpty() && context_.find<SharedAreaView>() &&
         context_.find<SharedAreaView>()->screenShareMode();
}

// ---- the teacher ----

void AnnotationControl::btnAnnotation_clicked(bool checked) {
  QWidget* area = board_.canvas()->parentWidget();
  const qint64 current = holder();
  if (checked) {
    if (current < 0) {
      mediaTag(true);
      context_.session().setAnnotating(ownId());
      QJsonObject start = roommsg::newMessage(ANNO_START);
      start.insert(KEY_SEND_USER_ID, double(ownId()));
      board_.sendRoomJson(start, QStringLiteral("*"));
      board_.forwardToPhone(start);
    } else if (current != qint64(ownId())) {
      mediaTag(false, quint32(current));
      mediaTag(true);
    }
    if (area && !cursorSaved_) {
      savedCursor_ = area->cursor();
      cursorSaved_ = true;
      area->setCursor(Qt::ArrowCursor);
    }
    reportTag();
    return;
  }
  if (current >= 0)
    mediaTag(false, quint32(current));
  if (area && cursorSaved_) {
    area->setCursor(savedCursor_);
    cursorSaved_ = false;
  }
}

void AnnotationControl::btnStopAnno_clicked() {
  if (holder() >= 0)
    mediaTag(false, quint32(holder()));
  if (isClassOwner() && inSession()) {
    QJsonObject stop = roommsg::newMessage(ANNO_STOP);
    stop.insert(KEY_SEND_USER_ID, double(ownId()));
    board_.sendRoomJson(stop, QStringLiteral("*"));
    annoStopReceived();
  }
  btnStopAnno_->hide();
  clearPhoneBoard();
}

void AnnotationControl::btnOpenAnnoAppList_clicked() {
  requests_->show();
  requests_->raise();
  requests_->activateWindow();
}

void AnnotationControl::applyReceived(quint32 userId, int content) {
  if (!context_.session().hasTeacherRights() || userId == ownId())
    return;
  if (content == 1) {
    vw::AnnotationAppItem* item = requests_->addRequest(userId, board_.displayName(userId));
    if (!item)
      return;  // listed already
    connect(item, &vw::AnnotationAppItem::sgnReplyApply, this,
            &AnnotationControl::annoAppItem_btnClicked);
    requestsChanged();
    requests_->show();
    requests_->raise();
  } else {
    requests_->removeRequest(userId);
    requestsChanged();
  }
}

// The list button counts the requests; the list closes when the last one is answered.
void AnnotationControl::requestsChanged() {
  const int count = requests_->count();
  btnOpenAnnoAppList_->setText(count > 0 ? QStringLiteral("板书申请(%1)").arg(count)
                                         : QStringLiteral("板书申请"));
  if (count == 0)
    requests_->hide();
}

void AnnotationControl::annoAppItem_btnClicked(vw::AnnotationAppItem* item, int reply) {
  if (!item)
    return;
  if (reply == 1 && holder() >= 0)
    mediaTag(false, quint32(holder()));
  QJsonObject answer = roommsg::newMessage(ANNO_APPLY_REPLY);
  answer.insert(KEY_SEND_USER_ID, double(ownId()));
  answer.insert(KEY_CONTENT, reply);
  board_.sendRoomJson(answer, QString::number(item->userId()));
  item->setSending();
}

// ---- the student ----

void AnnotationControl::sendApply(int content) {
  QJsonObject apply = roommsg::newMessage(ANNO_APPLY);
  apply.insert(KEY_SEND_USER_ID, double(ownId()));
  apply.insert(KEY_CONTENT, content);
  board_.sendRoomJson(apply, QString::number(board_.classOwnerId()));
  if (content == 1)
    setRequestButton(QStringLiteral("申请板书\n(发送中...)"), false, "apply");
  else
    setRequestButton(QStringLiteral("取消申请\n(发送中...)"), false, "cancel");
}

void AnnotationControl::btnAnno_stu_Clicked() {
  const int state = context_.session().room().annoState;
  const bool selfHolds = holder() == qint64(ownId());
  if (state == 0 || (state == 2 && !selfHolds))
    sendApply(1);
  else if (state == 1)
    sendApply(2);
  else if (state == 2 && selfHolds)
    giveBack();
}

void AnnotationControl::giveBack() {
  hideToolbar();
  context_.session().setAnnotating(-1);
  context_.session().setAnnoState(0);
  setRequestButton(QString::fromUtf8(kApplyText), true, "apply");
  if (context_.mcuConnected())
    mediaTag(false, ownId());
}

void AnnotationControl::applyReplyReceived(int content) {
  if (context_.session().hasTeacherRights())
    return;
  if (content != 1) {
    context_.toast(QStringLiteral("老师已拒绝了您的板书申请！"));
    sendApply(2);
    return;
  }
  context_.toast(QStringLiteral("老师已同意您板书！"));
  const qint64 current = holder();
  if (current != qint64(ownId())) {
    if (current >= 0)
      mediaTag(false, quint32(current));
    mediaTag(true);
    QJsonObject start = roommsg::newMessage(ANNO_START);
    start.insert(KEY_SEND_USER_ID, double(ownId()));
    board_.sendRoomJson(start, QStringLiteral("*"));
  }
  reportTag();
}

void AnnotationControl::slot_p2p_msg_ack(quint32 id, QByteArray data) {
  // A long message's fragments are acknowledged without its text: no request or answer.
  if (data.isEmpty())
    return;
  const auto msg = roommsg::parseObject(data);
  if (!msg || roommsg::senderOf(*msg) != ownId())
    return;
  const auto type = roommsg::typeIdOf(*msg);
  if (!type || roommsg::hasStringTypeId(*msg))
    return;
  const QJsonValue content = msg->value(KEY_CONTENT);
  if (*type == ANNO_APPLY) {
    if (content.isDouble() && content.toInt() == 1) {
      context_.session().setAnnoState(1);
      setRequestButton(QStringLiteral("取消申请"), true, "cancel");
    } else {
      context_.session().setAnnotating(-1);
      context_.session().setAnnoState(0);
      setRequestButton(QString::fromUtf8(kApplyText), true, "apply");
      hideToolbar();
    }
  } else if (*type == ANNO_APPLY_REPLY) {
    // The reply reached the student the acknowledgement comes from.
    requests_->removeRequest(id);
    requestsChanged();
  }
}

// ---- the media server's tag events ----

void AnnotationControl::slot_ss_start_tag(quint32 userId) {
  startTagHandling(userId);
}

void AnnotationControl::startTagHandling(quint32 userId) {
  if (!inSession())
    return;
  const bool selfHeld = holder() == qint64(ownId());
  if (selfHeld && userId != ownId()) {
    if (isClassOwner()) {
      hideToolbar();
      btnAnnotation_->setChecked(false);
      context_.toast(QStringLiteral("学生接管了您的板书权限！"));
    } else {
      giveBack();
      context_.toast(QStringLiteral("老师收回了您的板书权限！"));
    }
  }
  context_.session().setAnnotating(userId);
  if (userId == ownId()) {
    if (!context_.session().hasTeacherRights())
      setRequestButton(QStringLiteral("退出板书"), true, "exit");
    if (toolbar_) {
      toolbar_->show();
      toolbar_->raise();
    }
  }
  resetToolbar();
  if (vw::VWPaintWidget* canvas = board_.canvas()) {
    canvas->show();
    canvas->raise();
    if (toolbar_ && toolbar_->isVisible())
      toolbar_->raise();
  }
  context_.session().setAnnoState(2);
  if (isClassOwner() && context_.session().hasTeacherRights())
    btnStopAnno_->show();
}

void AnnotationControl::slot_ss_stop_tag(quint32 userId) {
  if (userId != ownId()) {
    if (holder() == qint64(userId))
      context_.session().setAnnotating(-1);
    return;
  }
  // The media server ends the old holder's right before it gives it to the
  // next one, so a take-over shows here first: an end the own member did not
  // ask for was somebody else's doing.
  const bool takenOver = holder() == qint64(ownId()) && !selfStopping_ && inSession();
  selfStopping_ = false;
  stopTagHandlingForSelf();
  if (takenOver)
    context_.toast(context_.session().hasTeacherRights()
                       ? QStringLiteral("学生接管了您的板书权限！")
                       : QStringLiteral("老师收回了您的板书权限！"));
}

void AnnotationControl::stopTagHandlingForSelf() {
  const bool held = holder() == qint64(ownId());
  if (!context_.session().hasTeacherRights())
    setRequestButton(QString::fromUtf8(kApplyText), true, "apply");
  hideToolbar();
  resetToolbar();
  if (held && isClassOwner())
    btnAnnotation_->setChecked(false);
  context_.session().setAnnoState(0);
  context_.session().setAnnotating(-1);
  clearPhoneBoard();
}

void AnnotationControl::annoStopReceived() {
  if (vw::VWPaintWidget* canvas = board_.canvas()) {
    canvas->hide();
    canvas->clearAllShape();
  }
  stopTagHandlingForSelf();
  btnStopAnno_->hide();
}

void AnnotationControl::slot_start_tag_ack(int result) {
  if (result != 0) {
    qDebug() << "start_tag refused:" << result;
    return;
  }
  startTagHandling(ownId());
}

// A refused stop (the right had moved on already) changes nothing here.
void AnnotationControl::slot_stop_tag_ack(int result) {
  selfStopping_ = false;
  if (result != 0) {
    qDebug() << "stop_tag refused:" << result;
    return;
  }
  const bool held = holder() == qint64(ownId());
  context_.session().setAnnotating(-1);
  context_.session().setAnnoState(0);
  hideToolbar();
  resetToolbar();
  if (held) {
    if (isClassOwner() && context_.session().hasTeacherRights())
      btnAnnotation_->setChecked(false);
    else
      setRequestButton(QString::fromUtf8(kApplyText), true, "apply");
  }
}

void AnnotationControl::slot_get_tag_users_ack(int, QVector<quint32> ids) {
  if (!inSession() || ids.isEmpty())
    return;
  if (qint64(ids.first()) != holder())
    startTagHandling(ids.first());
}

// ---- the class and the member ----

void AnnotationControl::classStopping() {
  hideToolbar();
  resetToolbar();
  context_.session().setAnnotating(-1);
  context_.session().setAnnoState(0);
  btnAnnotation_->setChecked(false);
  btnStopAnno_->hide();
  setRequestButton(QString::fromUtf8(kApplyText), true, "apply");
}

void AnnotationControl::leaving() {
  if (holder() == qint64(ownId()) && context_.mcuConnected())
    mediaTag(false, ownId());
}
