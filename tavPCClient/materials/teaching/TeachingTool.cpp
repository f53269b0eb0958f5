#include "TeachingTool.h"

#include <QPushButton>
#include <QStyle>

#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "MediaEventBridge.h"
#include "shareApplicationItem.h"
#include "shareApplicationList.h"

namespace {

const char kButtonStyle[] = R"(
QPushButton#btnApplyShare { color: #ffffff; background: #1a73e8; border: none; border-radius: 4px;
  padding: 4px 12px; font-size: 13px; }
QPushButton#btnApplyShare[black="true"] { background: #202124; border: 1px solid #5f6368; }
QPushButton#btnApplyShare:disabled { color: #9aa0a6; }
)";

}  // namespace

TeachingTool::TeachingTool(ClassroomContext& context, QObject* parent)
    : QObject(parent), context_(context), right_(context.teachingToolRight()) {
  apply_ = new QPushButton;
  apply_->setObjectName(QStringLiteral("btnApplyShare"));
  apply_->setCursor(Qt::PointingHandCursor);
  apply_->setStyleSheet(QString::fromUtf8(kButtonStyle));
  connect(apply_, &QPushButton::clicked, this, &TeachingTool::btnApplyShare_clicked);
  openList_ = new QPushButton(QStringLiteral("教具申请"));
  openList_->setObjectName(QStringLiteral("btnOpenShareReqList"));
  openList_->setCursor(Qt::PointingHandCursor);
  connect(openList_, &QPushButton::clicked, this, &TeachingTool::btnOpenShareReqList_clicked);
  list_ = new shareApplicationList(context_.window());
  connect(list_, &shareApplicationList::countChanged, this, [this](int count) {
    openList_->setText(count > 0 ? QStringLiteral("教具申请(%1)").arg(count)
                                 : QStringLiteral("教具申请"));
  });

  RoomSession& session = context_.session();
  connect(&session, &RoomSession::rolesChanged, this, &TeachingTool::refresh);
  connect(&session, &RoomSession::classStateChanged, this, [this](bool running) {
    if (running) {
      // Who shares in a running class is asked when the class shows (a member
      // entering later hears no start of it).
      right_.askShareUsers();
    } else {
      list_->clear();
      if (state_ != Button::Apply)
        setButton(Button::Apply);
    }
    refresh();
  });
  setButton(Button::Apply);
  refresh();
}

TeachingTool::~TeachingTool() {
  // The buttons live in the window's layout once placed; the list is the window's child.
  if (apply_ && !apply_->parent())
    delete apply_.data();
  if (openList_ && !openList_->parent())
    delete openList_.data();
  delete list_.data();
}

void TeachingTool::listenTo(MediaEventBridge& bridge) {
  const auto q = Qt::QueuedConnection;
  connect(&bridge, &MediaEventBridge::_ss_application_share, this,
          &TeachingTool::ss_application_share, q);
  connect(&bridge, &MediaEventBridge::_application_share_ack, this,
          &TeachingTool::application_share_ack, q);
  connect(&bridge, &MediaEventBridge::_ss_cancel_application, this,
          &TeachingTool::ss_cancel_application, q);
  connect(&bridge, &MediaEventBridge::_cancel_application_ack, this,
          &TeachingTool::cancel_application_ack, q);
  connect(&bridge, &MediaEventBridge::_ss_reply_share, this, &TeachingTool::ss_reply_share, q);
  connect(&bridge, &MediaEventBridge::_reply_share_ack, this, &TeachingTool::reply_share_ack, q);
  connect(&bridge, &MediaEventBridge::_ss_cancel_share, this, &TeachingTool::ss_cancel_share, q);
  connect(&bridge, &MediaEventBridge::_get_share_users_ack, this,
          &TeachingTool::get_share_users_ack, q);
}

shareApplicationList* TeachingTool::requestList() const {
  return list_;
}

quint32 TeachingTool::ownId() const {
  return context_.ownUserId();
}

// ---- the student ----

void TeachingTool::setButton(Button state) {
  state_ = state;
  bool black = false;
  switch (state) {
    case Button::Apply:
      apply_->setText(QStringLiteral("申请教具"));
      break;
    case Button::Applying:
      apply_->setText(QStringLiteral("申请教具\n(发送中...)"));
      break;
    case Button::Applied:
      apply_->setText(QStringLiteral("取消申请"));
      black = true;
      break;
    case Button::Cancelling:
      apply_->setText(QStringLiteral("取消申请\n(发送中...)"));
      black = true;
      break;
    case Button::Holding:
      apply_->setText(QStringLiteral("结束教具"));
      break;
  }
  apply_->setCheckable(state == Button::Applied);
  apply_->setChecked(state == Button::Applied);
  apply_->setToolTip(state == Button::Holding ? QStringLiteral("学生只能结束自己的教具")
                                              : QString());
  // Nothing more to say while an answer is on its way.
  apply_->setEnabled(state != Button::Applying && state != Button::Cancelling);
  apply_->setProperty("black", black);
  apply_->style()->unpolish(apply_);
  apply_->style()->polish(apply_);
}

void TeachingTool::refresh() {
  const RoomSession& session = context_.session();
  const bool running = session.classInProgress();
  apply_->setVisible(running && !session.hasTeacherRights());
  openList_->setVisible(running && session.hasTeacherRights());
  if (!session.hasTeacherRights())
    list_->hide();
}

void TeachingTool::btnApplyShare_clicked() {
  switch (state_) {
    case Button::Apply:
      if (right_.applyForTool() == 0)
        setButton(Button::Applying);
      return;
    case Button::Applied:
      if (right_.cancelApplication() == 0)
        setButton(Button::Cancelling);
      else
        setButton(Button::Applied);  // a click unchecks it: the request still stands
      return;
    case Button::Holding:
      endOwnTool();
      return;
    default:
      return;
  }
}

void TeachingTool::endOwnTool() {
  RoomSession& session = context_.session();
  if (session.room().screenSharerId == qint64(ownId())) {
    context_.shareRight().stopShare(ownId());
    if (BoardCanvas* board = context_.find<BoardCanvas>())
      board->clearBoard();
  }
  // The media server forgets the holder too, and tells everybody.
  right_.takeBackTool(ownId());
  session.setToolHolder(-1);
  setButton(Button::Apply);
  emit ownToolEnded();
}

void TeachingTool::application_share_ack(int result) {
  if (state_ != Button::Applying)
    return;
  if (result != 0) {
    setButton(Button::Apply);
    return;
  }
  context_.toast(QStringLiteral("申请教具成功！请等待老师批准！"));
  setButton(Button::Applied);
}

void TeachingTool::cancel_application_ack(int) {
  if (state_ == Button::Cancelling)
    setButton(Button::Apply);
}

void TeachingTool::ss_reply_share(quint32 userId, int reply) {
  // Answered, by whoever of the teacher side: the request leaves every list.
  if (list_)
    list_->removeRequest(userId);
  RoomSession& session = context_.session();
  if (!session.classInProgress())
    return;
  const bool own = userId == ownId();
  if (reply == 1) {
    const bool hadIt = session.room().toolHolderId == qint64(ownId());
    session.setToolHolder(userId);
    if (own) {
      context_.toast(QStringLiteral("老师同意了你的教具请求！"));
      setButton(Button::Holding);
    } else if (!session.hasTeacherRights() && state_ != Button::Apply) {
      // Another student has it now: a request of this one is void, its tool gone.
      if (hadIt && session.room().screenSharerId == qint64(ownId()))
        context_.shareRight().stopShare(ownId());
      setButton(Button::Apply);
      if (hadIt)
        emit ownToolEnded();
    }
    return;
  }
  if (own) {
    context_.toast(QStringLiteral("老师拒绝了你的教具请求！"));
    setButton(Button::Apply);
  }
}

void TeachingTool::ss_cancel_share(quint32 userId) {
  RoomSession& session = context_.session();
  if (session.room().toolHolderId == qint64(userId))
    session.setToolHolder(-1);
  // The teacher side took the tool back from this member.
  if (userId == ownId() && state_ == Button::Holding) {
    setButton(Button::Apply);
    emit ownToolEnded();
  }
}

void TeachingTool::get_share_users_ack(int value, QVector<quint32> ids) {
  if (value != 0 || !context_.session().classInProgress())
    return;
  context_.session().setScreenSharer(ids.isEmpty() ? -1 : qint64(ids.front()));
}

// ---- the teacher side ----

void TeachingTool::btnOpenShareReqList_clicked() {
  list_->show();
  list_->raise();
  list_->activateWindow();
}

void TeachingTool::ss_application_share(quint32 userId) {
  if (!context_.session().hasTeacherRights() || userId == ownId())
    return;
  shareApplicationItem* item = list_->addRequest(userId, context_.session().nameOf(userId));
  if (!item)
    return;
  connect(item, &shareApplicationItem::sgnReplyApply, this, &TeachingTool::onReplyApply);
  connect(item, &shareApplicationItem::timeOut, this,
          [this] { context_.toast(QStringLiteral("网络不给力，请检查网络后重试！")); });
}

void TeachingTool::ss_cancel_application(quint32 userId) {
  list_->removeRequest(userId);
}

void TeachingTool::onReplyApply(shareApplicationItem* item, int reply) {
  if (!item)
    return;
  if (right_.replyToApplication(item->userId(), reply) != 0) {
    context_.toast(QStringLiteral("网络不给力，请检查网络后重试！"));
    return;
  }
  item->answerSent(reply);
}

void TeachingTool::reply_share_ack(quint32 userId, int) {
  list_->removeRequest(userId);
}

// ---- the class and the member ----

void TeachingTool::classStopping() {
  list_->clear();
  setButton(Button::Apply);
}

void TeachingTool::leaving() {
  // A tool held ends with the member (the media server forgets it at the leave too).
  if (state_ == Button::Holding)
    endOwnTool();
  else if (state_ == Button::Applied)
    right_.cancelApplication();
}
