#include "ModerationControl.h"

#include <QAction>
#include <QActionGroup>
#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>
#include <QMenu>
#include <QPushButton>

#include "ChatLines.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "MemberMenu.h"
#include "RoomMessageTypes.h"
#include "RoomSession.h"
#include "ServiceApi.h"

namespace {

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

QString messageOf(const QJsonObject& answer) {
  const QString msg = answer.value(QStringLiteral("msg")).toString();
  return msg.isEmpty() ? QStringLiteral("操作失败！请检查网络！") : msg;
}

quint32 idOf(const QJsonValue& value) {
  const qint64 id = value.isString() ? value.toString().toLongLong() : qint64(value.toDouble());
  return id > 0 && id <= 0xFFFFFFFFLL ? quint32(id) : 0;
}

constexpr int kMute = 1;
constexpr int kRemove = 2;

}  // namespace

ModerationControl::ModerationControl(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      session_(context.session()),
      medals_(new QActionGroup(this)) {
  medals_->setExclusive(true);

  context_.handleRoomMessages({MSG_MUTE, MSG_KICK_OUT, MSG_ASSISTANT, MSG_MEDAL}, this,
                              [this](const QJsonObject& msg) { onModerationMessage(msg); });
  if (MemberMenu* members = context_.find<MemberMenu>()) {
    members->addMenuFiller(this, [this](QMenu& menu, unsigned userId) { fillMenu(menu, userId); });
    auto* mute = new QPushButton(QStringLiteral("禁言"));
    mute->setObjectName(QStringLiteral("btnProhibitSpeak"));
    auto* restore = new QPushButton(QStringLiteral("解禁"));
    restore->setObjectName(QStringLiteral("btnRestoreSpeak"));
    restore->setToolTip(QStringLiteral("解除禁言"));
    connect(mute, &QPushButton::clicked, this, &ModerationControl::btnProhibitSpeak_clicked);
    connect(restore, &QPushButton::clicked, this, &ModerationControl::btnRestoreSpeak_clicked);
    members->addBulkButton(mute);
    members->addBulkButton(restore);
  }

  const QString medalsPath = QString::fromLatin1(ServiceApi::kMedalFindAll.path);
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [this, medalsPath](const QString& path, const QJsonObject& answer) {
            if (path == medalsPath)
              onGetMedalTypeList(answer);
          });
  if (!context_.startAnswer(medalsPath).isEmpty())
    onGetMedalTypeList(context_.startAnswer(medalsPath));
}

void ModerationControl::fillMenu(QMenu& menu, quint32 userId) {
  const RoomMember* member = session_.member(userId);
  if (!member || !session_.hasTeacherRights() || userId == context_.ownUserId())
    return;
  menu.addSeparator();
  menu.addAction(member->muted ? QStringLiteral("解除禁言") : QStringLiteral("禁言"), this,
                 [this, userId] { onProhibitSpeak(userId); });
  menu.addAction(QStringLiteral("请出教室"), this, [this, userId] { onKickedOutRoom(userId); });
  // The owner names assistants among the students and parents.
  const bool owner = context_.ownUserId() == context_.entry().ownerId;
  if (owner && (member->isAssistant || member->roleCode == RoomContext::kStudent ||
                member->roleCode == RoomContext::kParent)) {
    const bool grant = !member->isAssistant;
    menu.addAction(grant ? QStringLiteral("设为助教") : QStringLiteral("撤销助教"), this,
                   [this, userId, grant] { grantAssistant(userId, grant); });
  }
  if (!medals_->actions().isEmpty()) {
    QMenu* medalMenu = menu.addMenu(QStringLiteral("奖励勋章"));
    for (QAction* type : medals_->actions()) {
      const int medalId = type->data().toInt();
      const QString name = type->text();
      medalMenu->addAction(name, this,
                           [this, userId, medalId, name] { awardMedal(userId, medalId, name); });
    }
  }
}

// Muting and restoring.

void ModerationControl::btnProhibitSpeak_clicked() {
  MemberMenu* members = context_.find<MemberMenu>();
  int asked = 0;
  for (quint32 id : members ? members->tickedMembers() : QList<quint32>()) {
    const RoomMember* m = session_.member(id);
    if (m && !m->muted && id != context_.ownUserId()) {
      blacklist(id, kMute, true);
      ++asked;
    }
  }
  if (asked == 0)
    context_.dialogs().inform(QStringLiteral("没有符合条件的被禁言用户！"));
}

void ModerationControl::btnRestoreSpeak_clicked() {
  MemberMenu* members = context_.find<MemberMenu>();
  int asked = 0;
  for (quint32 id : members ? members->tickedMembers() : QList<quint32>()) {
    const RoomMember* m = session_.member(id);
    if (m && m->muted) {
      blacklist(id, kMute, false);
      ++asked;
    }
  }
  if (asked == 0)
    context_.dialogs().inform(QStringLiteral("没有符合条件的被解除禁言用户！"));
}

void ModerationControl::onProhibitSpeak(quint32 userId) {
  const RoomMember* m = session_.member(userId);
  if (!m)
    return;
  blacklist(userId, kMute, !m->muted);
}

void ModerationControl::blacklist(quint32 userId, int type, bool add) {
  const ServiceEndpoint& endpoint = add ? ServiceApi::kAddRoomBlack : ServiceApi::kRemoveRoomBlack;
  const QString body = FormBody(endpoint.body)
                           .arg(userId)
                           .arg(context_.roomId())
                           .arg(type)
                           .arg(context_.entry().ownerId);
  context_.service().post(endpoint, body, this, [this, userId, type, add](QJsonObject answer) {
    if (type == kRemove)
      onKickedOut_back(answer, userId);
    else if (add)
      onProhibitSpeak_back(answer, userId);
    else
      onRestoreSpeak_back(answer, userId);
  });
}

void ModerationControl::sendAbout(int typeId, quint32 userId, const QString& content) {
  QJsonObject msg = context_.ownMessage(typeId);
  msg.insert(QStringLiteral("acceptUserId"), QString::number(userId));
  msg.insert(QStringLiteral("content"), content);
  context_.sendRoomMsg(msg, QStringLiteral("*"));
}

void ModerationControl::chatLine(const QString& text) {
  if (ChatLines* chat = context_.find<ChatLines>())
    chat->sendLine(text);
}

void ModerationControl::onProhibitSpeak_back(QJsonObject answer, quint32 userId) {
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  const RoomMember* m = session_.member(userId);
  const QString name = m ? m->nickName : QString::number(userId);
  session_.setMemberMuted(userId, true);
  context_.toast(QStringLiteral("禁言成功！"));
  sendAbout(MSG_MUTE, userId, QStringLiteral("Y"));
  chatLine(QStringLiteral("“%1”已被老师禁言").arg(name));
}

void ModerationControl::onRestoreSpeak_back(QJsonObject answer, quint32 userId) {
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  const RoomMember* m = session_.member(userId);
  const QString name = m ? m->nickName : QString::number(userId);
  session_.setMemberMuted(userId, false);
  context_.toast(QStringLiteral("解除禁言成功！"));
  sendAbout(MSG_MUTE, userId, QStringLiteral("N"));
  chatLine(QStringLiteral("“%1”已被老师解除禁言").arg(name));
}

// Removal.

void ModerationControl::onKickedOutRoom(quint32 userId) {
  if (userId == context_.ownUserId()) {
    context_.toast(QStringLiteral("不可以将自己请出教室！"));
    return;
  }
  if (!context_.dialogs().confirm(QStringLiteral("用户被请出教室后要等15分钟才可以进来!"), nullptr,
                                  QStringLiteral("请出")))
    return;
  blacklist(userId, kRemove, true);
}

void ModerationControl::onKickedOut_back(QJsonObject answer, quint32 userId) {
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  const RoomMember* m = session_.member(userId);
  const QString name = m ? m->nickName : QString::number(userId);
  context_.toast(QStringLiteral("请出教室成功！"));
  sendAbout(MSG_KICK_OUT, userId, QStringLiteral("“%1”已被老师请出教室").arg(name));
}

// Assistants.

void ModerationControl::grantAssistant(quint32 userId, bool grant) {
  if (grant) {
    context_.service().post(
        ServiceApi::kAddManage,
        FormBody(ServiceApi::kAddManage.body)
            .arg(context_.roomId())
            .arg(userId)
            .arg(context_.ownUserId()),
        this, [this, userId](QJsonObject answer) { onGrantAdminBack(answer, userId); });
  } else {
    context_.service().post(
        ServiceApi::kRemoveManagePC,
        FormBody(ServiceApi::kRemoveManagePC.body).arg(context_.roomId()).arg(userId), this,
        [this, userId](QJsonObject answer) { onRevokeAdminBack(answer, userId); });
  }
}

void ModerationControl::onGrantAdminBack(QJsonObject answer, quint32 userId) {
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  context_.toast(QStringLiteral("提为助教成功！"));
  // The member list moves the member to the assistants (and its counters with it).
  session_.setMemberAssistant(userId, true);
  sendAbout(MSG_ASSISTANT, userId, QStringLiteral("Y"));
}

void ModerationControl::onRevokeAdminBack(QJsonObject answer, quint32 userId) {
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  context_.toast(QStringLiteral("撤销助教成功！"));
  session_.setMemberAssistant(userId, false);
  sendAbout(MSG_ASSISTANT, userId, QStringLiteral("N"));
}

// Medals.

void ModerationControl::onGetMedalTypeList(QJsonObject answer) {
  if (answer.isEmpty()) {
    context_.dialogs().inform(QStringLiteral("onGetMedalTypeList Error!"));
    return;
  }
  if (!succeeded(answer) || !medals_->actions().isEmpty())
    return;
  for (const QJsonValue& value : answer.value(QStringLiteral("body")).toArray()) {
    const QJsonObject medal = value.toObject();
    const int id = medal.value(QStringLiteral("id")).toInt(-1);
    const QString name = medal.value(QStringLiteral("name")).toString();
    if (id < 0 || name.isEmpty())
      continue;
    QAction* action = medals_->addAction(name);
    action->setCheckable(true);
    action->setData(id);
  }
}

void ModerationControl::awardMedal(quint32 userId, int medalId, const QString& medalName) {
  context_.service().post(
      ServiceApi::kAddUserMedal,
      FormBody(ServiceApi::kAddUserMedal.body).arg(userId).arg(medalId).arg(context_.roomId()),
      this, [this, userId, medalName](QJsonObject answer) {
        onGrantMedalBack(answer, userId, medalName);
      });
}

void ModerationControl::onGrantMedalBack(QJsonObject answer, quint32 userId,
                                         const QString& medalName) {
  if (answer.isEmpty()) {
    context_.toast(QStringLiteral("奖励勋章失败！"));
    return;
  }
  if (!succeeded(answer)) {
    context_.toast(messageOf(answer));
    return;
  }
  const RoomMember* m = session_.member(userId);
  const QString name = m ? m->nickName : QString::number(userId);
  context_.toast(QStringLiteral("奖励勋章成功！"));
  session_.setMemberMedal(userId, medalName);
  sendAbout(MSG_MEDAL, userId, medalName);
  chatLine(QStringLiteral("“%1”被授予了“%2”勋章").arg(name, medalName));
  emit medalCountersOutdated();
}

// What the room says.

void ModerationControl::onModerationMessage(const QJsonObject& msg) {
  const int typeId = msg.value(QStringLiteral("typeId")).toVariant().toInt();
  const quint32 target = idOf(msg.value(QStringLiteral("acceptUserId")));
  const QString content = msg.value(QStringLiteral("content")).toString();
  if (!target)
    return;
  // Only the teacher's side moderates; the assistant right only the owner gives.
  const quint32 sender = idOf(msg.value(QStringLiteral("sendUserId")));
  const RoomMember* from = session_.member(sender);
  const bool byOwner = sender != 0 && sender == context_.entry().ownerId;
  const bool byTeacher =
      byOwner || (from && (from->roleCode == RoomContext::kTeacher || from->isAssistant));
  if (!byTeacher || (typeId == MSG_ASSISTANT && !byOwner)) {
    qWarning() << "moderation message ignored: sender" << sender << "may not, type" << typeId;
    return;
  }
  const bool own = target == context_.ownUserId();
  switch (typeId) {
    case MSG_MUTE:
      if (content != QLatin1String("Y") && content != QLatin1String("N"))
        return;
      // The chat follows the own record's flag (its controls and tooltip).
      session_.setMemberMuted(target, content == QLatin1String("Y"));
      return;
    case MSG_KICK_OUT:
      if (own)
        emit context_.leaveRequested(QStringLiteral("您已被老师请出教室！"), false);
      return;
    case MSG_ASSISTANT: {
      if (content != QLatin1String("Y") && content != QLatin1String("N"))
        return;
      const bool granted = content == QLatin1String("Y");
      session_.setMemberAssistant(target, granted);
      if (!own)
        return;
      session_.setAssistant(granted);
      const ClassroomEntry& entry = context_.entry();
      const bool enteredWithoutCode =
          entry.openStyle == 2 && entry.isAssistant && entry.ownUserId != entry.ownerId;
      if (!granted && enteredWithoutCode)
        emit context_.leaveRequested(
            QStringLiteral("您是通过‘助教免授权码'进入教室的，现您的助教被撤销，您需要输入授权码重"
                           "新进入教室！"),
            true);
      return;
    }
    case MSG_MEDAL:
      if (session_.member(target)) {
        session_.setMemberMedal(target, content);
        emit medalCountersOutdated();
      }
      return;
    default:
      return;
  }
}
