// What a part of the classroom may reach of the room it runs in: the entry
// values and the session, sending room messages on the room channel or the
// peer path, the message dispatch, service calls, the toast and the window
// for dialogs, the media library's operations, and the small interfaces one
// part offers another. The Classroom makes one and hands it to every part;
// nothing else of the window is visible to them. GUI thread only.
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <typeindex>
#include <unordered_map>

#include "ClassroomDialogs.h"
#include "ClassroomEntry.h"
#include "MediaLibraryRights.h"
#include "RoomDispatch.h"
#include "RoomSession.h"
#include "ServiceCalls.h"

class RoomMessenger;

class ClassroomContext : public QObject {
  Q_OBJECT

public:
  ClassroomContext(const ClassroomEntry& entry, RoomSession& session, RoomMessenger& messenger,
                   RoomDispatch& dispatch, QObject* parent = nullptr);
  ~ClassroomContext() override;

  const ClassroomEntry& entry() const { return entry_; }
  quint32 ownUserId() const { return entry_.ownUserId; }
  quint32 roomId() const { return entry_.roomId; }
  RoomSession& session() const { return session_; }
  RoomMessenger& messenger() const { return messenger_; }

  // Room send (the type decides the transport) and the peer path for board
  // messages; target "*" or a decimal user id. 0 sent, negative dropped.
  int sendRoomMsg(const QJsonObject& msg, const QString& target);
  // A room message of that type carrying the own member's sender fields (id,
  // display name, role, head picture, room, time).
  QJsonObject ownMessage(int typeId) const;
  int sendRoomJson(const QJsonObject& msg, const QString& target);
  // Room and board messages of these types go to handler while owner exists.
  void handleRoomMessages(std::initializer_list<int> typeIds, QObject* owner,
                          RoomDispatch::Handler handler) {
    dispatch_.handle(typeIds, owner, std::move(handler));
  }

  // A message handed to the parts as if it had come from the room (the
  // paired phone's room messages).
  void dispatchLocally(const QJsonObject& msg) { dispatch_.dispatch(msg); }

  // Calls to the service (JSON answers, pictures, file downloads).
  const ServiceCalls& service() const { return service_; }

  // The answers of the requests the classroom fires at start-up (gifts,
  // medals, counters, bulletins, notifications, follow state, balance, shared
  // documents), by endpoint path, for the parts that read them.
  void keepStartAnswer(const QString& path, const QJsonObject& answer);
  QJsonObject startAnswer(const QString& path) const { return startAnswers_.value(path); }
  void setOwnAvatar(const QPixmap& avatar) { ownAvatar_ = avatar; }
  QPixmap ownAvatar() const { return ownAvatar_; }

  // The window dialogs are shown over.
  void setWindow(QWidget* window) { window_ = window; }
  QWidget* window() const { return window_; }
  // A toast over the window the member looks at: the modal dialog open, else
  // the classroom's own window that is active (one of its dialogs), else the
  // classroom.
  void toast(const QString& text) const;
  QWidget* lookedAt() const;
  // The message boxes (shown over the window unless the caller names another).
  ClassroomDialogs& dialogs() const { return *dialogs_; }
  // Replaces them (tests; null restores the message boxes).
  void setDialogs(ClassroomDialogs* dialogs);

  // The media library while it exists (null before start-up and after
  // leaving), what the parts may ask of it, and whether it is logged in to
  // the media server.
  void setMedia(Libpavo* media) { rights_.setLibrary(media); }
  ClassFloor& classFloor() { return rights_; }
  ShareRight& shareRight() { return rights_; }
  TeachingToolRight& teachingToolRight() { return rights_; }
  ScreenShare& screenShare() { return rights_; }
  AnnotationRight& annotationRight() { return rights_; }
  FrameDelivery& frameDelivery() { return rights_; }
  MemberMedia& memberMedia() { return rights_; }
  MediaDevices& mediaDevices() { return rights_; }
  bool hasMedia() const { return rights_.library() != nullptr; }
  void setMcuConnected(bool connected);
  bool mcuConnected() const { return mcuConnected_; }

  // What one part offers the others (an interface of its own, declared in a
  // small header of this folder): provided once, found by anybody; null while
  // the providing part does not exist.
  template <typename Interface>
  void provide(Interface* implementation) {
    services_[std::type_index(typeid(Interface))] = implementation;
  }
  // The provider is going away (or no longer offers it).
  template <typename Interface>
  void withdraw(Interface* implementation) {
    const auto found = services_.find(std::type_index(typeid(Interface)));
    if (found != services_.end() && found->second == implementation)
      services_.erase(found);
  }
  template <typename Interface>
  Interface* find() const {
    const auto found = services_.find(std::type_index(typeid(Interface)));
    return found == services_.end() ? nullptr : static_cast<Interface*>(found->second);
  }

  // The room channel to the message server is up (each time it connects).
  void setRoomChannelUp(bool up);
  bool roomChannelUp() const { return roomChannelUp_; }

signals:
  void startAnswerArrived(const QString& path, const QJsonObject& answer);
  void roomChannelConnected();
  // The own member must leave the room (removed, or a right it entered with
  // was taken away): the window closes and says why.
  void leaveRequested(const QString& why, bool asBox);

private:
  const ClassroomEntry& entry_;
  RoomSession& session_;
  RoomMessenger& messenger_;
  RoomDispatch& dispatch_;
  ServiceCalls service_;
  QPointer<QWidget> window_;
  std::unique_ptr<ClassroomDialogs> boxes_;
  ClassroomDialogs* dialogs_;
  MediaLibraryRights rights_;
  bool mcuConnected_ = false;
  bool roomChannelUp_ = false;
  std::unordered_map<std::type_index, void*> services_;
  QHash<QString, QJsonObject> startAnswers_;
  QPixmap ownAvatar_;
};
