// Who is in the room: members the media server announces are looked up in
// the service and added to the session; its user lists bring the device
// masks, drop members that are gone and name users the service did not list,
// who are looked up at once and then again every 30 s until they arrive.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>

#include "RoomSession.h"

class ClassroomContext;
class QTimer;

class MemberRoster : public QObject {
  Q_OBJECT

public:
  static constexpr int kSupplementMs = 30000;

  explicit MemberRoster(ClassroomContext& context, QObject* parent = nullptr);
  ~MemberRoster() override;

public slots:
  // A user entered the media server: look it up (user id and mask travel along).
  void slot_user_enter_room(MediaUser user);
  void onGetEnterUser(QJsonObject answer, void* userData);
  void slot_get_user_list(MediaUserList users);
  void timerSupplement_timeout();
  void slot_user_leave_from_room(quint32 userId);

private:
  ClassroomContext& context_;
  RoomSession& session_;
  QTimer* supplementTimer_;
  QList<MediaUser*> pending_;  // lookups on their way, freed with their answer or with this
};
