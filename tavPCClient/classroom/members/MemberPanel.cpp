#include "MemberPanel.h"

#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>

#include "RoomMessageTypes.h"
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "MediaControl.h"
#include "MemberListWidget.h"
#include "RoomSession.h"
#include "UserItem.h"

namespace {

MemberListWidget::Group listGroup(RoomMember::Group group) {
  switch (group) {
    case RoomMember::kTeacherGroup:
      return MemberListWidget::Teacher;
    case RoomMember::kInspectorGroup:
      return MemberListWidget::Inspector;
    case RoomMember::kAssistantGroup:
      return MemberListWidget::Assistant;
    case RoomMember::kStudentGroup:
      return MemberListWidget::Student;
    case RoomMember::kParentGroup:
      return MemberListWidget::Parent;
    default:
      return MemberListWidget::Auditor;
  }
}

}  // namespace

MemberPanel::MemberPanel(ClassroomContext& context, MediaControl& control, QWidget* parent)
    : QWidget(parent), context_(context), session_(context.session()), control_(control) {
  setObjectName(QStringLiteral("memberPanel"));
  context_.provide<MemberMenu>(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  handCount_ = new QLabel(this);
  handCount_->setObjectName(QStringLiteral("handCount"));
  handCount_->setStyleSheet(QStringLiteral("color: #e8710a; padding: 2px 10px;"));
  handCount_->hide();
  layout->addWidget(handCount_);
  list_ = new MemberListWidget(this);
  list_->setObjectName(QStringLiteral("memberList"));
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(list_);
  layout->addWidget(scroll, 1);

  bulkButtons_ = new QWidget(this);
  bulkButtons_->setObjectName(QStringLiteral("bulkButtons"));
  bulkButtons_->setAttribute(Qt::WA_StyledBackground);
  auto* row = new QHBoxLayout(bulkButtons_);
  row->setContentsMargins(6, 6, 6, 6);
  row->setSpacing(6);
  openAllAudio_ = new QPushButton(QStringLiteral("开声音"), bulkButtons_);
  closeAllAudio_ = new QPushButton(QStringLiteral("关声音"), bulkButtons_);
  openAllVideo_ = new QPushButton(QStringLiteral("开视频"), bulkButtons_);
  closeAllVideo_ = new QPushButton(QStringLiteral("关视频"), bulkButtons_);
  openAllAudio_->setObjectName(QStringLiteral("btnOpenAllAudio"));
  closeAllAudio_->setObjectName(QStringLiteral("btnCloseAllAudio"));
  openAllVideo_->setObjectName(QStringLiteral("btnOpenAllVideo"));
  closeAllVideo_->setObjectName(QStringLiteral("btnCloseAllVideo"));
  for (QPushButton* b : {openAllAudio_, closeAllAudio_, openAllVideo_, closeAllVideo_}) {
    b->setCursor(Qt::PointingHandCursor);
    row->addWidget(b);
  }
  layout->addWidget(bulkButtons_);
  // A click disables the pair of buttons for a moment, so one click is one request.
  audioPause_ = new QTimer(this);
  videoPause_ = new QTimer(this);
  audioPause_->setObjectName(QStringLiteral("audioButtonPause"));
  videoPause_->setObjectName(QStringLiteral("videoButtonPause"));
  for (QTimer* t : {audioPause_, videoPause_}) {
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
    t->setInterval(kBulkButtonPauseMs);
  }
  connect(audioPause_, &QTimer::timeout, this, &MemberPanel::setAllAudioBtnEnabled);
  connect(videoPause_, &QTimer::timeout, this, &MemberPanel::setAllVideoBtnEnabled);

  connect(openAllAudio_, &QPushButton::clicked, this, &MemberPanel::btnOpenAllAudio_clicked);
  connect(closeAllAudio_, &QPushButton::clicked, this, &MemberPanel::btnCloseAllAudio_clicked);
  connect(openAllVideo_, &QPushButton::clicked, this, &MemberPanel::btnOpenAllVideo_clicked);
  connect(closeAllVideo_, &QPushButton::clicked, this, &MemberPanel::btnCloseAllVideo_clicked);
  connect(list_, &MemberListWidget::signalContextMenu, this, &MemberPanel::showMemberMenu);
  connect(list_, &MemberListWidget::signalVideoClicked, &control_, &MediaControl::onOperateVideo);
  connect(list_, &MemberListWidget::signalAudioClicked, &control_, &MediaControl::onOperateAudio);
  connect(list_, &MemberListWidget::signalHandClicked, this,
          &MemberPanel::userItem_mouseUserhandClick);
  connect(&session_, &RoomSession::handsChanged, this, [this](int raised) {
    handCount_->setText(QStringLiteral("举手（%1）").arg(raised));
    handCount_->setVisible(raised > 0);
  });

  connect(&session_, &RoomSession::memberAdded, this, &MemberPanel::showMember);
  connect(&session_, &RoomSession::memberChanged, this, &MemberPanel::showMember);
  connect(&session_, &RoomSession::memberRemoved, list_, &MemberListWidget::removeUser);
  connect(&session_, &RoomSession::mediaChanged, this, [this](quint32 userId, int kind, bool on) {
    UserItem* item = list_->findUser(userId);
    if (!item)
      return;
    if (kind == RoomSession::kVideo)
      item->setVideoOn(on);
    else if (kind == RoomSession::kAudio)
      item->setAudioOn(on);
  });
  connect(&session_, &RoomSession::rolesChanged, this, &MemberPanel::refreshRoles);
  for (const RoomMember& m : session_.members())
    showMember(m.userId);
  refreshRoles();
}

void MemberPanel::showMember(quint32 userId) {
  const RoomMember* member = session_.member(userId);
  if (!member)
    return;
  UserItem* item =
      list_->addUser(member->userId, member->nickName, member->roleCode, listGroup(member->group()));
  if (!item)
    return;
  item->setHasCamera(member->hasCamera);
  item->setHasMicrophone(member->hasMicrophone);
  item->setVideoOn(member->videoOn);
  item->setAudioOn(member->audioOn);
  item->setMuted(member->muted);
  item->setHandUp(member->handUp);
  item->setAssistant(member->isAssistant);
  item->setLevel(member->level);
  item->setMedal(member->medals);
}

void MemberPanel::refreshRoles() {
  const bool teacher = session_.hasTeacherRights();
  list_->setSelectable(teacher);
  bulkButtons_->setVisible(teacher);
}

void MemberPanel::userItem_mouseUserhandClick(quint32 userId) {
  const RoomMember* member = session_.member(userId);
  if (!member || !member->handUp || !session_.hasTeacherRights())
    return;
  // The member may speak: camera and microphone on where they exist, the hand down.
  if (member->hasCamera && !member->videoOn)
    control_.onOperateVideo(userId);
  if (member->hasMicrophone && !member->audioOn)
    control_.onOperateAudio(userId);
  QJsonObject msg = context_.ownMessage(MSG_HAND);
  msg.insert(QStringLiteral("handDownUserId"), QString::number(userId));
  msg.insert(QStringLiteral("content"), QStringLiteral("0"));
  if (context_.sendRoomMsg(msg, QStringLiteral("*")) == 0)
    session_.setHandUp(userId, false);
}

MemberPanel::~MemberPanel() { context_.withdraw<MemberMenu>(this); }

void MemberPanel::addMenuFiller(QObject* owner, Filler filler) {
  fillers_.append({owner, std::move(filler)});
}

void MemberPanel::addBulkButton(QPushButton* button) {
  button->setParent(bulkButtons_);
  bulkButtons_->layout()->addWidget(button);
}

void MemberPanel::showMemberMenu(quint32 userId, const QPoint& globalPos) {
  const RoomMember* member = session_.member(userId);
  if (!member)
    return;
  QMenu menu(this);
  if (session_.hasTeacherRights() || userId == context_.ownUserId()) {
    menu.addAction(member->videoOn ? QStringLiteral("关闭视频") : QStringLiteral("打开视频"), this,
                   [this, userId] { control_.onOperateVideo(userId); });
    menu.addAction(member->audioOn ? QStringLiteral("关闭声音") : QStringLiteral("打开声音"), this,
                   [this, userId] { control_.onOperateAudio(userId); });
  }
  for (const MenuFiller& filler : fillers_)
    if (filler.owner)
      filler.fill(menu, userId);
  if (!menu.isEmpty())
    menu.exec(globalPos);
}

QList<quint32> MemberPanel::tickedInListOrder() const {
  QList<quint32> ids;
  for (UserItem* item : list_->items())
    if (item->isChecked())
      ids.append(item->userId());
  return ids;
}

void MemberPanel::btnOpenAllAudio_clicked() {
  control_.openAllAudio(tickedInListOrder());
  pauseAudioButtons();
}

void MemberPanel::btnOpenAllVideo_clicked() {
  control_.openAllVideo(tickedInListOrder());
  pauseVideoButtons();
}

void MemberPanel::btnCloseAllAudio_clicked() {
  control_.closeAllAudio(tickedInListOrder());
  pauseAudioButtons();
}

void MemberPanel::btnCloseAllVideo_clicked() {
  control_.closeAllVideo(tickedInListOrder());
  pauseVideoButtons();
}

void MemberPanel::pauseAudioButtons() {
  openAllAudio_->setEnabled(false);
  closeAllAudio_->setEnabled(false);
  audioPause_->start();
}

void MemberPanel::pauseVideoButtons() {
  openAllVideo_->setEnabled(false);
  closeAllVideo_->setEnabled(false);
  videoPause_->start();
}

void MemberPanel::setAllAudioBtnEnabled() {
  openAllAudio_->setEnabled(true);
  closeAllAudio_->setEnabled(true);
}

void MemberPanel::setAllVideoBtnEnabled() {
  openAllVideo_->setEnabled(true);
  closeAllVideo_->setEnabled(true);
}
