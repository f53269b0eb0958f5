#include "ClassroomContext.h"

#include <QApplication>

#include "LoginInfo.h"
#include "MessageBoxDialogs.h"
#include "Prompt.h"
#include "RoomMessage.h"
#include "RoomMessenger.h"

ClassroomContext::ClassroomContext(const ClassroomEntry& entry, RoomSession& session,
                                   RoomMessenger& messenger, RoomDispatch& dispatch,
                                   QObject* parent)
    : QObject(parent),
      entry_(entry),
      session_(session),
      messenger_(messenger),
      dispatch_(dispatch),
      boxes_(std::make_unique<MessageBoxDialogs>([this] { return window(); })),
      dialogs_(boxes_.get()) {
  setObjectName(QStringLiteral("classroomContext"));
}

ClassroomContext::~ClassroomContext() = default;

void ClassroomContext::setDialogs(ClassroomDialogs* dialogs) {
  dialogs_ = dialogs ? dialogs : boxes_.get();
}

int ClassroomContext::sendRoomMsg(const QJsonObject& msg, const QString& target) {
  return messenger_.sendRoomMsg(msg, target);
}

int ClassroomContext::sendRoomJson(const QJsonObject& msg, const QString& target) {
  return messenger_.sendRoomJson(msg, target);
}

void ClassroomContext::keepStartAnswer(const QString& path, const QJsonObject& answer) {
  startAnswers_.insert(path, answer);
  emit startAnswerArrived(path, answer);
}

QWidget* ClassroomContext::lookedAt() const {
  if (!window_)
    return nullptr;
  // The modal dialog that asked, or this classroom's window the member works
  // in (a dialog of its own), before the classroom itself.
  if (QWidget* modal = QApplication::activeModalWidget())
    return modal;
  QWidget* active = QApplication::activeWindow();
  for (QWidget* w = active; w; w = w->parentWidget())
    if (w == window_)
      return active;
  return window_;
}

void ClassroomContext::toast(const QString& text) const {
  if (QWidget* over = lookedAt())
    Prompt::instance()->showMessage(over, text);
}

void ClassroomContext::setMcuConnected(bool connected) {
  if (mcuConnected_ == connected)
    return;
  mcuConnected_ = connected;
  messenger_.setMediaConnected(connected);
}

QJsonObject ClassroomContext::ownMessage(int typeId) const {
  QJsonObject msg = roommsg::newMessage(typeId);
  roommsg::SenderFields sender;
  sender.userId = entry_.ownUserId;
  sender.userName = entry_.ownName.isEmpty() ? LoginInfo::current().displayName : entry_.ownName;
  sender.userImg = LoginInfo::current().avatarPath;
  sender.role = session_.room().ownRole;
  sender.roomId = entry_.roomId;
  roommsg::stampSender(msg, sender);
  return msg;
}

void ClassroomContext::setRoomChannelUp(bool up) {
  const bool connected = up && !roomChannelUp_;
  roomChannelUp_ = up;
  if (connected)
    emit roomChannelConnected();
}
